#include "simulator/rng.h"

#include <sys/random.h>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "base/internal_error.h"
#include "text/plain_decimal.h"

namespace velkor {
namespace {

__extension__ typedef unsigned __int128 u128;

// The portable path runs four blocks side by side, one per vector lane: word k of every block
// is one vector, so each step of a quarter round is one vector instruction for all four blocks.
typedef uint32_t Lanes __attribute__((vector_size(16)));

inline Lanes rotl(Lanes v, int c) { return (v << c) | (v >> (32 - c)); }

inline void quarter_round(Lanes* x, int a, int b, int c, int d) {
  x[a] += x[b];
  x[d] = rotl(x[d] ^ x[a], 16);
  x[c] += x[d];
  x[b] = rotl(x[b] ^ x[c], 12);
  x[a] += x[b];
  x[d] = rotl(x[d] ^ x[a], 8);
  x[c] += x[d];
  x[b] = rotl(x[b] ^ x[c], 7);
}

/// Four consecutive blocks from `counter` into out[16 * block + word].
void four_blocks(const uint32_t* key, uint64_t counter, uint64_t stream, uint32_t* out) {
  Lanes input[16];
  const uint32_t constants[4] = {0x61707865u, 0x3320646eu, 0x79622d32u, 0x6b206574u};
  for (int k = 0; k < 4; ++k) input[k] = Lanes{} + constants[k];
  for (int k = 0; k < 8; ++k) input[4 + k] = Lanes{} + key[k];
  for (uint32_t block = 0; block < 4; ++block) {
    uint64_t ctr = counter + block;
    input[12][block] = static_cast<uint32_t>(ctr);
    input[13][block] = static_cast<uint32_t>(ctr >> 32);
  }
  input[14] = Lanes{} + static_cast<uint32_t>(stream);
  input[15] = Lanes{} + static_cast<uint32_t>(stream >> 32);
  Lanes x[16];
  std::memcpy(x, input, sizeof x);
  for (int round = 0; round < 4; ++round) {
    quarter_round(x, 0, 4, 8, 12);
    quarter_round(x, 1, 5, 9, 13);
    quarter_round(x, 2, 6, 10, 14);
    quarter_round(x, 3, 7, 11, 15);
    quarter_round(x, 0, 5, 10, 15);
    quarter_round(x, 1, 6, 11, 12);
    quarter_round(x, 2, 7, 8, 13);
    quarter_round(x, 3, 4, 9, 14);
  }
  for (int k = 0; k < 16; ++k) {
    Lanes word = x[k] + input[k];
    for (int block = 0; block < 4; ++block) out[block * 16 + k] = word[block];
  }
}

void eight_blocks_portable(const uint32_t* key, uint64_t counter, uint64_t stream, uint32_t* out) {
  four_blocks(key, counter, stream, out);
  four_blocks(key, counter + 4, stream, out + 64);
}

#if defined(__x86_64__)
__attribute__((target("avx2"),
               always_inline)) inline void quarter_round_avx2(__m256i* x, int a, int b, int c,
                                                              int d, __m256i rot16, __m256i rot8) {
  x[a] = _mm256_add_epi32(x[a], x[b]);
  x[d] = _mm256_shuffle_epi8(_mm256_xor_si256(x[d], x[a]), rot16);
  x[c] = _mm256_add_epi32(x[c], x[d]);
  __m256i t = _mm256_xor_si256(x[b], x[c]);
  x[b] = _mm256_or_si256(_mm256_slli_epi32(t, 12), _mm256_srli_epi32(t, 20));
  x[a] = _mm256_add_epi32(x[a], x[b]);
  x[d] = _mm256_shuffle_epi8(_mm256_xor_si256(x[d], x[a]), rot8);
  x[c] = _mm256_add_epi32(x[c], x[d]);
  t = _mm256_xor_si256(x[b], x[c]);
  x[b] = _mm256_or_si256(_mm256_slli_epi32(t, 7), _mm256_srli_epi32(t, 25));
}

// Eight blocks in the lanes of 256-bit vectors; rotations by 16 and 8 are byte shuffles, and
// the words are transposed back into block order eight at a time.
__attribute__((target("avx2"))) void eight_blocks_avx2(const uint32_t* key, uint64_t counter,
                                                       uint64_t stream, uint32_t* out) {
  const __m256i rot16 = _mm256_setr_epi8(2, 3, 0, 1, 6, 7, 4, 5, 10, 11, 8, 9, 14, 15, 12, 13, 2, 3,
                                         0, 1, 6, 7, 4, 5, 10, 11, 8, 9, 14, 15, 12, 13);
  const __m256i rot8 = _mm256_setr_epi8(3, 0, 1, 2, 7, 4, 5, 6, 11, 8, 9, 10, 15, 12, 13, 14, 3, 0,
                                        1, 2, 7, 4, 5, 6, 11, 8, 9, 10, 15, 12, 13, 14);
  alignas(32) uint32_t low[8], high[8];
  for (int block = 0; block < 8; ++block) {
    uint64_t ctr = counter + static_cast<uint64_t>(block);
    low[block] = static_cast<uint32_t>(ctr);
    high[block] = static_cast<uint32_t>(ctr >> 32);
  }
  // The input words, rebuilt for the final addition instead of kept beside the state.
  auto input = [&](int k) __attribute__((target("avx2"))) {
    static constexpr uint32_t kConstants[4] = {0x61707865u, 0x3320646eu, 0x79622d32u, 0x6b206574u};
    if (k == 12) return _mm256_load_si256(reinterpret_cast<const __m256i*>(low));
    if (k == 13) return _mm256_load_si256(reinterpret_cast<const __m256i*>(high));
    uint32_t word = k < 4    ? kConstants[k]
                    : k < 12 ? key[k - 4]
                             : static_cast<uint32_t>(stream >> (32 * (k - 14)));
    return _mm256_set1_epi32(static_cast<int>(word));
  };
  __m256i x[16];
  for (int k = 0; k < 16; ++k) x[k] = input(k);
#pragma GCC unroll 4
  for (int round = 0; round < 4; ++round) {
    quarter_round_avx2(x, 0, 4, 8, 12, rot16, rot8);
    quarter_round_avx2(x, 1, 5, 9, 13, rot16, rot8);
    quarter_round_avx2(x, 2, 6, 10, 14, rot16, rot8);
    quarter_round_avx2(x, 3, 7, 11, 15, rot16, rot8);
    quarter_round_avx2(x, 0, 5, 10, 15, rot16, rot8);
    quarter_round_avx2(x, 1, 6, 11, 12, rot16, rot8);
    quarter_round_avx2(x, 2, 7, 8, 13, rot16, rot8);
    quarter_round_avx2(x, 3, 4, 9, 14, rot16, rot8);
  }
  for (int k = 0; k < 16; ++k) x[k] = _mm256_add_epi32(x[k], input(k));
  for (int half = 0; half < 2; ++half) {
    const __m256i* r = x + 8 * half;
    __m256i t[8], u[8];
    for (int i = 0; i < 8; i += 2) {
      t[i] = _mm256_unpacklo_epi32(r[i], r[i + 1]);
      t[i + 1] = _mm256_unpackhi_epi32(r[i], r[i + 1]);
    }
    for (int i = 0; i < 8; i += 4) {
      u[i] = _mm256_unpacklo_epi64(t[i], t[i + 2]);
      u[i + 1] = _mm256_unpackhi_epi64(t[i], t[i + 2]);
      u[i + 2] = _mm256_unpacklo_epi64(t[i + 1], t[i + 3]);
      u[i + 3] = _mm256_unpackhi_epi64(t[i + 1], t[i + 3]);
    }
    // u[j] holds words 0-3 (of this half) of blocks j and j + 4; u[j + 4] words 4-7.
    for (int j = 0; j < 4; ++j) {
      auto* first = reinterpret_cast<__m256i*>(out + 16 * j + 8 * half);
      auto* second = reinterpret_cast<__m256i*>(out + 16 * (j + 4) + 8 * half);
      _mm256_storeu_si256(first, _mm256_permute2x128_si256(u[j], u[j + 4], 0x20));
      _mm256_storeu_si256(second, _mm256_permute2x128_si256(u[j], u[j + 4], 0x31));
    }
  }
}

// GCC 12's AVX-512 intrinsics pass an undefined vector as the unused merge source, which its
// own -Wuninitialized then reports; the values are never read.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
// Sixteen blocks in the lanes of 512-bit vectors: every rotation is one instruction, and the
// words are transposed back into block order by a four-stage 16 x 16 transpose.
__attribute__((target("avx512f"))) void sixteen_blocks_avx512(const uint32_t* key, uint64_t counter,
                                                              uint64_t stream, uint32_t* out) {
  alignas(64) uint32_t low[16], high[16];
  for (int block = 0; block < 16; ++block) {
    uint64_t ctr = counter + static_cast<uint64_t>(block);
    low[block] = static_cast<uint32_t>(ctr);
    high[block] = static_cast<uint32_t>(ctr >> 32);
  }
  auto input = [&](int k) __attribute__((target("avx512f"))) {
    static constexpr uint32_t kConstants[4] = {0x61707865u, 0x3320646eu, 0x79622d32u, 0x6b206574u};
    if (k == 12) return _mm512_load_si512(low);
    if (k == 13) return _mm512_load_si512(high);
    uint32_t word = k < 4    ? kConstants[k]
                    : k < 12 ? key[k - 4]
                             : static_cast<uint32_t>(stream >> (32 * (k - 14)));
    return _mm512_set1_epi32(static_cast<int>(word));
  };
  __m512i x[16];
  for (int k = 0; k < 16; ++k) x[k] = input(k);
  auto quarter_round = [&](int a, int b, int c, int d) __attribute__((target("avx512f"))) {
    x[a] = _mm512_add_epi32(x[a], x[b]);
    x[d] = _mm512_rol_epi32(_mm512_xor_si512(x[d], x[a]), 16);
    x[c] = _mm512_add_epi32(x[c], x[d]);
    x[b] = _mm512_rol_epi32(_mm512_xor_si512(x[b], x[c]), 12);
    x[a] = _mm512_add_epi32(x[a], x[b]);
    x[d] = _mm512_rol_epi32(_mm512_xor_si512(x[d], x[a]), 8);
    x[c] = _mm512_add_epi32(x[c], x[d]);
    x[b] = _mm512_rol_epi32(_mm512_xor_si512(x[b], x[c]), 7);
  };

#pragma GCC unroll 4
  for (int round = 0; round < 4; ++round) {
    quarter_round(0, 4, 8, 12);
    quarter_round(1, 5, 9, 13);
    quarter_round(2, 6, 10, 14);
    quarter_round(3, 7, 11, 15);
    quarter_round(0, 5, 10, 15);
    quarter_round(1, 6, 11, 12);
    quarter_round(2, 7, 8, 13);
    quarter_round(3, 4, 9, 14);
  }
  for (int k = 0; k < 16; ++k) x[k] = _mm512_add_epi32(x[k], input(k));
  __m512i t[16], u[16];
  for (int i = 0; i < 16; i += 2) {
    t[i] = _mm512_unpacklo_epi32(x[i], x[i + 1]);
    t[i + 1] = _mm512_unpackhi_epi32(x[i], x[i + 1]);
  }
  for (int i = 0; i < 16; i += 4) {
    u[i] = _mm512_unpacklo_epi64(t[i], t[i + 2]);
    u[i + 1] = _mm512_unpackhi_epi64(t[i], t[i + 2]);
    u[i + 2] = _mm512_unpacklo_epi64(t[i + 1], t[i + 3]);
    u[i + 3] = _mm512_unpackhi_epi64(t[i + 1], t[i + 3]);
  }
  // 128-bit lane L of u[4i + m] holds words 4i..4i+3 of block 4L + m.
  for (int m = 0; m < 4; ++m) {
    __m512i v0 = _mm512_shuffle_i32x4(u[m], u[4 + m], 0x44);
    __m512i v1 = _mm512_shuffle_i32x4(u[m], u[4 + m], 0xEE);
    __m512i v2 = _mm512_shuffle_i32x4(u[8 + m], u[12 + m], 0x44);
    __m512i v3 = _mm512_shuffle_i32x4(u[8 + m], u[12 + m], 0xEE);
    _mm512_storeu_si512(out + 16 * m, _mm512_shuffle_i32x4(v0, v2, 0x88));
    _mm512_storeu_si512(out + 16 * (4 + m), _mm512_shuffle_i32x4(v0, v2, 0xDD));
    _mm512_storeu_si512(out + 16 * (8 + m), _mm512_shuffle_i32x4(v1, v3, 0x88));
    _mm512_storeu_si512(out + 16 * (12 + m), _mm512_shuffle_i32x4(v1, v3, 0xDD));
  }
}
#pragma GCC diagnostic pop
#endif

/// Bit k set when the 64-bit draw in words 2k and 2k + 1 is below thresholds[k], for k < m <= 64.
uint64_t below_mask_portable(const uint32_t* words, const uint64_t* thresholds, size_t m) {
  uint64_t mask = 0;
  for (size_t k = 0; k < m; ++k) {
    uint64_t value;
    std::memcpy(&value, words + 2 * k, sizeof value);
    mask |= uint64_t{value < thresholds[k]} << k;
  }
  return mask;
}

#if defined(__x86_64__)
// Four draws per step: an unsigned comparison is a signed one after flipping the top bits.
__attribute__((target("avx2"))) uint64_t below_mask_avx2(const uint32_t* words,
                                                         const uint64_t* thresholds, size_t m) {
  const __m256i top = _mm256_set1_epi64x(INT64_MIN);
  uint64_t mask = 0;
  size_t k = 0;
  for (; k + 4 <= m; k += 4) {
    __m256i value = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(words + 2 * k));
    __m256i limit = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(thresholds + k));
    __m256i below = _mm256_cmpgt_epi64(_mm256_xor_si256(limit, top), _mm256_xor_si256(value, top));
    mask |= uint64_t(unsigned(_mm256_movemask_pd(_mm256_castsi256_pd(below)))) << k;
  }
  if (k == m) return mask;  // no tail; shifting it by k = 64 would be undefined
  return mask | (below_mask_portable(words + 2 * k, thresholds + k, m - k) << k);
}

// Eight draws per step with AVX-512's unsigned comparison; the last step loads only the lanes
// that remain, so nothing past either array is read.
__attribute__((target("avx512f"))) uint64_t below_mask_avx512(const uint32_t* words,
                                                              const uint64_t* thresholds,
                                                              size_t m) {
  uint64_t mask = 0;
  if (m == 64) {  // the common case of a long scan, unrolled without lane masks
    for (size_t k = 0; k < 64; k += 8) {
      __m512i value = _mm512_loadu_si512(words + 2 * k);
      __m512i limit = _mm512_loadu_si512(thresholds + k);
      mask |= uint64_t{_mm512_cmplt_epu64_mask(value, limit)} << k;
    }
    return mask;
  }
  for (size_t k = 0; k < m; k += 8) {
    __mmask8 valid = m - k >= 8 ? __mmask8{0xFF} : static_cast<__mmask8>((1u << (m - k)) - 1);
    __m512i value = _mm512_maskz_loadu_epi64(valid, words + 2 * k);
    __m512i limit = _mm512_maskz_loadu_epi64(valid, thresholds + k);
    mask |= uint64_t{_mm512_mask_cmplt_epu64_mask(valid, value, limit)} << k;
  }
  return mask;
}
#endif

// The fastest comparison this processor runs.
const BelowMaskKernel below_mask = available_below_mask_kernels().back();

using Blocks = void (*)(const uint32_t*, uint64_t, uint64_t, uint32_t*);

template <Blocks kEight>
void sixteen_blocks_from_eight(const uint32_t* key, uint64_t counter, uint64_t stream,
                               uint32_t* out) {
  kEight(key, counter, stream, out);
  kEight(key, counter + 8, stream, out + 128);
}

// The fastest kernel this processor runs.
const Blocks sixteen_blocks = available_chacha8_kernels().back();

}  // namespace

std::vector<BelowMaskKernel> available_below_mask_kernels() {
  std::vector<BelowMaskKernel> kernels{below_mask_portable};
#if defined(__x86_64__)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2")) kernels.push_back(below_mask_avx2);
  if (__builtin_cpu_supports("avx512f")) kernels.push_back(below_mask_avx512);
#endif
  return kernels;
}

std::vector<ChaCha8Kernel> available_chacha8_kernels() {
  std::vector<ChaCha8Kernel> kernels{sixteen_blocks_from_eight<eight_blocks_portable>};
#if defined(__x86_64__)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2")) {
    kernels.push_back(sixteen_blocks_from_eight<eight_blocks_avx2>);
  }
  if (__builtin_cpu_supports("avx512f")) kernels.push_back(sixteen_blocks_avx512);
#endif
  return kernels;
}

ChaCha8Rng ChaCha8Rng::from_key(const std::array<uint32_t, 8>& key) {
  ChaCha8Rng rng;
  rng.key_ = key;
  return rng;
}

ChaCha8Rng ChaCha8Rng::seed_from_u64(uint64_t seed) {
  std::array<uint32_t, 8> key;
  uint64_t s = seed;
  for (uint32_t& word : key) {
    s = s * 0x5851f42d4c957f2dull + 0xa17654e46fbe17f3ull;
    uint32_t x = static_cast<uint32_t>(((s >> 18) ^ s) >> 27);
    unsigned r = static_cast<unsigned>(s >> 59);
    word = (x >> r) | (x << ((32 - r) & 31));
  }
  return from_key(key);
}

ChaCha8Rng ChaCha8Rng::from_os_rng() {
  std::array<uint32_t, 8> key;
  auto* bytes = reinterpret_cast<unsigned char*>(key.data());
  size_t got = 0;
  while (got < sizeof key) {
    ssize_t n = getrandom(bytes + got, sizeof key - got, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw InternalError(std::string("from_os_rng failed: ") + std::strerror(errno));
    }
    got += static_cast<size_t>(n);
  }
  // The 32 bytes are the key, read as little-endian words (this platform's order).
  return from_key(key);
}

void ChaCha8Rng::refill() {
  sixteen_blocks(key_.data(), counter_, stream_, buffer_.data());
  counter_ += 16;
}

uint64_t ChaCha8Rng::peek_below(const uint64_t* thresholds, size_t n, size_t& count) {
  if (pos_ == kBufferWords) {
    refill();
    pos_ = 0;
  }
  count = std::min<size_t>({(kBufferWords - pos_) / 2, n, 64});
  return below_mask(buffer_.data() + pos_, thresholds, count);
}

uint64_t ChaCha8Rng::next_u64_across_refill() {
  if (pos_ == kBufferWords - 1) {
    uint64_t low = buffer_[kBufferWords - 1];
    refill();
    pos_ = 1;
    return low | (uint64_t{buffer_[0]} << 32);
  }
  refill();
  pos_ = 2;
  return buffer_[0] | (uint64_t{buffer_[1]} << 32);
}

uint8_t ChaCha8Rng::uniform_u8(uint8_t low, uint8_t high) {
  check_invariant(low < high, "empty range in uniform_u8");
  uint32_t range = static_cast<uint32_t>(high - low);
  uint64_t m = uint64_t{next_u32()} * range;
  uint32_t lo = static_cast<uint32_t>(m);
  uint32_t result = static_cast<uint32_t>(m >> 32);
  if (lo > static_cast<uint32_t>(0u - range)) {
    uint32_t y_hi = static_cast<uint32_t>((uint64_t{next_u32()} * range) >> 32);
    uint32_t sum;
    if (__builtin_add_overflow(lo, y_hi, &sum)) result += 1;
  }
  return static_cast<uint8_t>(low + result);
}

uint64_t ChaCha8Rng::uniform_inclusive(uint64_t low, uint64_t high) {
  check_invariant(low <= high, "empty range in uniform_inclusive");
  if (high <= 0xFFFFFFFFull) {
    uint32_t range = static_cast<uint32_t>(high - low + 1);
    if (range == 0) return next_u32();
    uint64_t m = uint64_t{next_u32()} * range;
    uint32_t lo = static_cast<uint32_t>(m);
    uint64_t result = m >> 32;
    if (lo > static_cast<uint32_t>(0u - range)) {
      uint32_t y_hi = static_cast<uint32_t>((uint64_t{next_u32()} * range) >> 32);
      uint32_t sum;
      if (__builtin_add_overflow(lo, y_hi, &sum)) result += 1;
    }
    return low + result;
  }
  uint64_t range = high - low + 1;
  if (range == 0) return next_u64();
  u128 m = static_cast<u128>(next_u64()) * range;
  uint64_t lo = static_cast<uint64_t>(m);
  uint64_t result = static_cast<uint64_t>(m >> 64);
  uint64_t tmp;
  if (__builtin_add_overflow(lo, range - 1, &tmp)) {
    uint64_t y_hi = static_cast<uint64_t>((static_cast<u128>(next_u64()) * range) >> 64);
    if (__builtin_add_overflow(lo, y_hi, &tmp)) result += 1;
  }
  return low + result;
}

void ChaCha8Rng::throw_outside_unit_range(double p) {
  throw InternalError("p=" + plain_decimal(p) + " is outside range [0.0, 1.0]");
}

double ChaCha8Rng::uniform_double() {
  return static_cast<double>(next_u64() >> 11) * 1.1102230246251565e-16;
}

}  // namespace velkor
