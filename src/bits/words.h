#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace velkor {

/// Operations on packed bit rows given as word spans: bit i is bit i % 64 of word i / 64.
/// BitVec and the simulator's row matrix and phase map all share these inner loops.

/// Words that hold `bits` bits: ceil(bits / 64), exact for every count (no wrap near 2^64).
inline size_t words_for_bits(size_t bits) { return bits / 64 + (bits % 64 != 0); }

/// dst ^= src over the words both spans have.
inline void xor_words(std::span<uint64_t> dst, std::span<const uint64_t> src) {
  size_t n = dst.size() < src.size() ? dst.size() : src.size();
  for (size_t k = 0; k < n; ++k) dst[k] ^= src[k];
}

/// Parity of popcount(a & b) over the words both spans have.
inline bool dot_words(std::span<const uint64_t> a, std::span<const uint64_t> b) {
  size_t n = a.size() < b.size() ? a.size() : b.size();
  uint64_t acc = 0;
  for (size_t k = 0; k < n; ++k) acc ^= a[k] & b[k];
  return std::popcount(acc) & 1;
}

inline bool is_zero_words(std::span<const uint64_t> a) {
  uint64_t acc = 0;
  for (uint64_t w : a) acc |= w;
  return acc == 0;
}

/// Position of the lowest set bit, or nothing when all words are zero.
inline std::optional<size_t> first_one_words(std::span<const uint64_t> a) {
  for (size_t k = 0; k < a.size(); ++k) {
    if (a[k]) return k * 64 + static_cast<size_t>(std::countr_zero(a[k]));
  }
  return std::nullopt;
}

/// The 64 bits of `w` in reverse order.
inline uint64_t reverse_bits(uint64_t w) {
  w = ((w >> 1) & 0x5555555555555555ull) | ((w & 0x5555555555555555ull) << 1);
  w = ((w >> 2) & 0x3333333333333333ull) | ((w & 0x3333333333333333ull) << 2);
  w = ((w >> 4) & 0x0F0F0F0F0F0F0F0Full) | ((w & 0x0F0F0F0F0F0F0F0Full) << 4);
  return __builtin_bswap64(w);
}

inline bool get_bit(std::span<const uint64_t> a, size_t i) { return (a[i / 64] >> (i % 64)) & 1; }
inline void flip_bit(std::span<uint64_t> a, size_t i) { a[i / 64] ^= uint64_t{1} << (i % 64); }

/// Calls f(i) for every set bit i < len, in increasing order.
template <class F>
void for_each_one(std::span<const uint64_t> a, size_t len, F&& f) {
  for (size_t k = 0; k < a.size(); ++k) {
    uint64_t w = a[k];
    while (w) {
      size_t i = k * 64 + static_cast<size_t>(std::countr_zero(w));
      if (i >= len) return;
      f(i);
      w &= w - 1;
    }
  }
}

/// Writes `src` (of `len` bits) with bit i dropped into `dst` (ceil((len - 1) / 64) words):
/// bits below i keep their place, bits above move down by one. dst may be src itself.
inline void remove_bit_words(std::span<const uint64_t> src, size_t i, std::span<uint64_t> dst) {
  size_t wi = i / 64;
  uint64_t low_mask = (uint64_t{1} << (i % 64)) - 1;
  size_t n = dst.size();
  // Words below bit i's word keep their place: nothing to do when writing in place.
  if (dst.data() != src.data()) {
    for (size_t k = 0; k < wi && k < n; ++k) dst[k] = src[k];
  }
  for (size_t k = wi; k < n; ++k) {
    uint64_t w = k < src.size() ? src[k] : 0;
    uint64_t next = k + 1 < src.size() ? src[k + 1] : 0;
    uint64_t shifted = (w >> 1) | (next << 63);
    dst[k] = k == wi ? (w & low_mask) | (shifted & ~low_mask) : shifted;
  }
}

}  // namespace velkor
