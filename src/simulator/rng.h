#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace velkor {

/// ChaCha with 8 rounds used as a block generator: each refill computes sixteen consecutive
/// 64-byte blocks into a 256-word buffer (in 512-bit vectors where the processor has AVX-512,
/// else eight at a time in 256-bit vectors with AVX2, else four at a time); draws read the words
/// in stream order, so the buffer size never shows. Every draw of the simulator and the sampler
/// comes from here, so a seed fixes every outcome.
class ChaCha8Rng {
 public:
  /// Words produced by one refill: sixteen blocks of sixteen.
  static constexpr uint32_t kBufferWords = 256;

  /// Key from eight steps of a permuted congruential generator started at `seed`.
  static ChaCha8Rng seed_from_u64(uint64_t seed);
  /// Key of 32 bytes from the operating system's entropy source; throws InternalError
  /// "from_os_rng failed: {}" when the source fails.
  static ChaCha8Rng from_os_rng();
  /// Generator with the given eight key words, counter and stream 0.
  static ChaCha8Rng from_key(const std::array<uint32_t, 8>& key);

  uint32_t next_u32() {
    if (pos_ >= kBufferWords) [[unlikely]] {
      refill();
      pos_ = 0;
    }
    return buffer_[pos_++];
  }
  /// Low half first; a draw with one word left straddles the refill.
  uint64_t next_u64() {
    if (pos_ < kBufferWords - 1) [[likely]] {
      uint64_t v = buffer_[pos_] | (uint64_t{buffer_[pos_ + 1]} << 32);
      pos_ += 2;
      return v;
    }
    return next_u64_across_refill();
  }
  /// Compares the next min(n, 64) next_u64 draws with thresholds[0..] without making them,
  /// stopping early at the end of the buffer: `count` receives how many were compared (0 when
  /// the next draw straddles a refill; make it with next_u64), and bit j of the result is set
  /// when draw j would be below thresholds[j]. skip_u64 then makes them.
  uint64_t peek_below(const uint64_t* thresholds, size_t n, size_t& count);
  /// Makes `count` next_u64 draws that the last peek_below compared, without reading them.
  void skip_u64(size_t count) { pos_ += static_cast<uint32_t>(2 * count); }
  /// Uniform in [low, high) for 8-bit bounds, by widening multiplication with one retry draw.
  uint8_t uniform_u8(uint8_t low, uint8_t high);
  /// Uniform in the closed range [low, high].
  uint64_t uniform_inclusive(uint64_t low, uint64_t high);
  /// True with probability p (validated by the caller); p == 0 and p == 1 draw nothing.
  bool bernoulli(double p) {
    if (p == 0.0) return false;
    if (p == 1.0) return true;
    if (!(p > 0.0 && p < 1.0)) [[unlikely]]
      throw_outside_unit_range(p);
    return next_u64() < static_cast<uint64_t>(p * 18446744073709551616.0);
  }
  /// The top 53 bits of one next_u64, times 2^-53.
  double uniform_double();
  /// The most significant bit of one next_u64: the outcome of a random measurement.
  bool fair_coin() { return next_u64() >> 63; }

  const std::array<uint32_t, 8>& key() const { return key_; }
  bool operator==(const ChaCha8Rng&) const = default;

 private:
  void refill();
  uint64_t next_u64_across_refill();
  [[noreturn]] static void throw_outside_unit_range(double p);

  std::array<uint32_t, kBufferWords> buffer_{};
  std::array<uint32_t, 8> key_{};
  uint64_t counter_ = 0;
  uint64_t stream_ = 0;
  uint32_t pos_ = kBufferWords;
};

/// A refill kernel: sixteen consecutive blocks from `counter` into `out` (256 words).
using ChaCha8Kernel = void (*)(const uint32_t* key, uint64_t counter, uint64_t stream,
                               uint32_t* out);
/// Every refill kernel this processor can run (portable, then AVX2, then AVX-512), so that tests
/// can check that they all produce the same words as the one in use.
std::vector<ChaCha8Kernel> available_chacha8_kernels();

/// A comparison kernel: bit k set when the 64-bit draw in words 2k and 2k + 1 is below
/// thresholds[k], for k < m <= 64.
using BelowMaskKernel = uint64_t (*)(const uint32_t* words, const uint64_t* thresholds, size_t m);
/// Every comparison kernel this processor can run (portable, then AVX2, then AVX-512).
std::vector<BelowMaskKernel> available_below_mask_kernels();

}  // namespace velkor
