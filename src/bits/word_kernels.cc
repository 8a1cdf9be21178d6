#include "bits/word_kernels.h"

#include <bit>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace velkor {
namespace {

uint64_t odd_overlaps_portable(const uint64_t* words, size_t count, uint64_t filter) {
  uint64_t odd = 0;
  for (size_t i = 0; i < count; ++i) {
    odd |= static_cast<uint64_t>(std::popcount(words[i] & filter) & 1) << i;
  }
  return odd;
}

void fold_portable(uint64_t* words, size_t count, uint64_t filter, uint64_t add) {
  for (size_t i = 0; i < count; ++i) {
    words[i] ^= add & (uint64_t{0} - static_cast<uint64_t>(std::popcount(words[i] & filter) & 1));
  }
}

uint64_t odd_overlaps2_portable(const uint64_t* rows, size_t count, const uint64_t* filter) {
  uint64_t odd = 0;
  for (size_t i = 0; i < count; ++i) {
    uint64_t both = (rows[2 * i] & filter[0]) ^ (rows[2 * i + 1] & filter[1]);
    odd |= static_cast<uint64_t>(std::popcount(both) & 1) << i;
  }
  return odd;
}

void fold2_portable(uint64_t* rows, size_t count, const uint64_t* filter, const uint64_t* add) {
  for (size_t i = 0; i < count; ++i) {
    uint64_t* row = rows + 2 * i;
    uint64_t both = (row[0] & filter[0]) ^ (row[1] & filter[1]);
    uint64_t mask = uint64_t{0} - static_cast<uint64_t>(std::popcount(both) & 1);
    row[0] ^= add[0] & mask;
    row[1] ^= add[1] & mask;
  }
}

/// Clears bit p in `count` rows of `stride` words: one contiguous pass for the common strides of
/// one and two words, which the compiler vectorises for the instruction set of its caller.
__attribute__((always_inline)) inline void clear_bit_body(uint64_t* words, size_t count,
                                                          size_t stride, size_t p) {
  const uint64_t keep = ~(uint64_t{1} << (p % 64));
  if (stride == 1) {
    for (size_t i = 0; i < count; ++i) words[i] &= keep;
  } else if (stride == 2) {
    const uint64_t mask[2] = {p < 64 ? keep : ~uint64_t{0}, p < 64 ? ~uint64_t{0} : keep};
    for (size_t i = 0; i < 2 * count; i += 2) {
      words[i] &= mask[0];
      words[i + 1] &= mask[1];
    }
  } else {
    for (size_t s = 0; s < count; ++s) words[s * stride + p / 64] &= keep;
  }
}

void clear_bit_portable(uint64_t* words, size_t count, size_t stride, size_t p) {
  clear_bit_body(words, count, stride, p);
}

#if defined(__x86_64__)
__attribute__((target("avx2"))) void clear_bit_avx2(uint64_t* words, size_t count, size_t stride,
                                                    size_t p) {
  clear_bit_body(words, count, stride, p);
}

__attribute__((target("avx512f,avx512bw"))) void clear_bit_avx512(uint64_t* words, size_t count,
                                                                  size_t stride, size_t p) {
  clear_bit_body(words, count, stride, p);
}

// Bit 0 of each 64-bit lane: the parity of that lane, from byte popcounts by nibble lookup
// summed per lane.
__attribute__((target("avx2"), always_inline)) inline __m256i lane_parity(__m256i x) {
  const __m256i nibbles = _mm256_set1_epi8(0x0F);
  const __m256i table = _mm256_setr_epi8(0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4, 0, 1, 1, 2,
                                         1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4);
  __m256i lo = _mm256_shuffle_epi8(table, _mm256_and_si256(x, nibbles));
  __m256i hi = _mm256_shuffle_epi8(table, _mm256_and_si256(_mm256_srli_epi16(x, 4), nibbles));
  __m256i sums = _mm256_sad_epu8(_mm256_add_epi8(lo, hi), _mm256_setzero_si256());
  return _mm256_and_si256(sums, _mm256_set1_epi64x(1));
}

__attribute__((target("avx2"), always_inline)) inline uint64_t lane_bits(__m256i ones) {
  return static_cast<unsigned>(
      _mm256_movemask_pd(_mm256_castsi256_pd(_mm256_slli_epi64(ones, 63))));
}

__attribute__((target("avx2"))) uint64_t odd_overlaps_avx2(const uint64_t* words, size_t count,
                                                           uint64_t filter) {
  const __m256i filters = _mm256_set1_epi64x(static_cast<int64_t>(filter));
  uint64_t odd = 0;
  size_t i = 0;
  for (; i + 4 <= count; i += 4) {
    __m256i w = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(words + i));
    odd |= lane_bits(lane_parity(_mm256_and_si256(w, filters))) << i;
  }
  // No shift by 64 when every row was taken.
  return i == count ? odd : odd | (odd_overlaps_portable(words + i, count - i, filter) << i);
}

__attribute__((target("avx2"))) void fold_avx2(uint64_t* words, size_t count, uint64_t filter,
                                               uint64_t add) {
  const __m256i filters = _mm256_set1_epi64x(static_cast<int64_t>(filter));
  const __m256i adds = _mm256_set1_epi64x(static_cast<int64_t>(add));
  size_t i = 0;
  for (; i + 4 <= count; i += 4) {
    __m256i w = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(words + i));
    __m256i odd = lane_parity(_mm256_and_si256(w, filters));
    w = _mm256_xor_si256(w, _mm256_and_si256(adds, _mm256_sub_epi64(_mm256_setzero_si256(), odd)));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(words + i), w);
  }
  fold_portable(words + i, count - i, filter, add);
}

// Two-word rows, two per vector: lanes (row i word 0, row i word 1, row i+1 word 0, ...).
// Both lanes of a row hold the XOR of the row's two lanes.
__attribute__((target("avx2"), always_inline)) inline __m256i row_xor2(__m256i x) {
  return _mm256_xor_si256(x, _mm256_shuffle_epi32(x, 0x4E));
}

__attribute__((target("avx2"), always_inline)) inline uint64_t row_bits2(__m256i ones) {
  uint64_t lanes = lane_bits(ones);
  return (lanes & 1) | ((lanes >> 1) & 2);
}

__attribute__((target("avx2"))) uint64_t odd_overlaps2_avx2(const uint64_t* rows, size_t count,
                                                            const uint64_t* filter) {
  const __m256i filters =
      _mm256_setr_epi64x(static_cast<int64_t>(filter[0]), static_cast<int64_t>(filter[1]),
                         static_cast<int64_t>(filter[0]), static_cast<int64_t>(filter[1]));
  uint64_t odd = 0;
  size_t i = 0;
  for (; i + 2 <= count; i += 2) {
    __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows + 2 * i));
    odd |= row_bits2(row_xor2(lane_parity(_mm256_and_si256(x, filters)))) << i;
  }
  // No shift by 64 when every row was taken.
  return i == count ? odd : odd | (odd_overlaps2_portable(rows + 2 * i, count - i, filter) << i);
}

__attribute__((target("avx2"))) void fold2_avx2(uint64_t* rows, size_t count,
                                                const uint64_t* filter, const uint64_t* add) {
  const __m256i filters =
      _mm256_setr_epi64x(static_cast<int64_t>(filter[0]), static_cast<int64_t>(filter[1]),
                         static_cast<int64_t>(filter[0]), static_cast<int64_t>(filter[1]));
  const __m256i adds =
      _mm256_setr_epi64x(static_cast<int64_t>(add[0]), static_cast<int64_t>(add[1]),
                         static_cast<int64_t>(add[0]), static_cast<int64_t>(add[1]));
  size_t i = 0;
  for (; i + 2 <= count; i += 2) {
    __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows + 2 * i));
    __m256i odd = row_xor2(lane_parity(_mm256_and_si256(x, filters)));
    x = _mm256_xor_si256(x, _mm256_and_si256(adds, _mm256_sub_epi64(_mm256_setzero_si256(), odd)));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(rows + 2 * i), x);
  }
  fold2_portable(rows + 2 * i, count - i, filter, add);
}

// GCC 12's AVX-512 intrinsics start from _mm512_undefined_epi32(), which its flow analysis
// reports as uninitialised although every lane is written.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
// AVX-512: eight one-word rows (or four two-word rows) per vector, with mask registers for the rows
// that overlap oddly, and masked loads and stores for the last rows.
__attribute__((target("avx512f,avx512bw"), always_inline)) inline __m512i lane_popcount512(
    __m512i x) {
  const __m512i nibbles = _mm512_set1_epi8(0x0F);
  const __m512i table =
      _mm512_broadcast_i32x4(_mm_setr_epi8(0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4));
  __m512i lo = _mm512_shuffle_epi8(table, _mm512_and_si512(x, nibbles));
  __m512i hi = _mm512_shuffle_epi8(table, _mm512_and_si512(_mm512_srli_epi16(x, 4), nibbles));
  return _mm512_sad_epu8(_mm512_add_epi8(lo, hi), _mm512_setzero_si512());
}

__attribute__((target("avx512f,avx512bw"), always_inline)) inline __mmask8 rows_left(size_t left) {
  return left >= 8 ? __mmask8{0xFF} : static_cast<__mmask8>((1u << left) - 1);
}

__attribute__((target("avx512f,avx512bw"))) uint64_t odd_overlaps_avx512(const uint64_t* words,
                                                                         size_t count,
                                                                         uint64_t filter) {
  const __m512i filters = _mm512_set1_epi64(static_cast<int64_t>(filter));
  const __m512i one = _mm512_set1_epi64(1);
  uint64_t odd = 0;
  for (size_t i = 0; i < count; i += 8) {
    __m512i w = _mm512_maskz_loadu_epi64(rows_left(count - i), words + i);
    __mmask8 lanes = _mm512_test_epi64_mask(lane_popcount512(_mm512_and_si512(w, filters)), one);
    odd |= uint64_t{lanes} << i;
  }
  return odd;
}

__attribute__((target("avx512f,avx512bw"))) void fold_avx512(uint64_t* words, size_t count,
                                                             uint64_t filter, uint64_t add) {
  const __m512i filters = _mm512_set1_epi64(static_cast<int64_t>(filter));
  const __m512i adds = _mm512_set1_epi64(static_cast<int64_t>(add));
  const __m512i one = _mm512_set1_epi64(1);
  for (size_t i = 0; i < count; i += 8) {
    __mmask8 valid = rows_left(count - i);
    __m512i w = _mm512_maskz_loadu_epi64(valid, words + i);
    __mmask8 odd = _mm512_test_epi64_mask(lane_popcount512(_mm512_and_si512(w, filters)), one);
    _mm512_mask_storeu_epi64(words + i, valid, _mm512_mask_xor_epi64(w, odd, w, adds));
  }
}

// Four two-word rows per vector, one row per 128-bit lane: the row masks take the even lanes
// (word 0) and are copied to the odd lanes (word 1) before a masked XOR.
__attribute__((target("avx512f,avx512bw"), always_inline)) inline __mmask8 row_lanes_left(
    size_t left) {
  return left >= 4 ? __mmask8{0xFF} : static_cast<__mmask8>((1u << (2 * left)) - 1);
}

/// Bits 0, 2, 4, 6 of a lane mask as bits 0 to 3.
inline uint64_t even_lane_bits(unsigned m) {
  return (m & 1) | ((m >> 1) & 2) | ((m >> 2) & 4) | ((m >> 3) & 8);
}

__attribute__((target("avx512f,avx512bw"), always_inline)) inline __m512i pair_vector(
    const uint64_t* two) {
  return _mm512_broadcast_i32x4(_mm_loadu_si128(reinterpret_cast<const __m128i*>(two)));
}

// Even lanes hold the parity of their row in bit 0.
__attribute__((target("avx512f,avx512bw"), always_inline)) inline __m512i row_popcount512(
    __m512i x, __m512i filters) {
  __m512i lanes = lane_popcount512(_mm512_and_si512(x, filters));
  return _mm512_add_epi64(lanes, _mm512_bsrli_epi128(lanes, 8));
}

__attribute__((target("avx512f,avx512bw"))) uint64_t odd_overlaps2_avx512(const uint64_t* rows,
                                                                          size_t count,
                                                                          const uint64_t* filter) {
  const __m512i filters = pair_vector(filter);
  const __m512i one = _mm512_set1_epi64(1);
  uint64_t odd = 0;
  for (size_t i = 0; i < count; i += 4) {
    __m512i x = _mm512_maskz_loadu_epi64(row_lanes_left(count - i), rows + 2 * i);
    unsigned even = _mm512_mask_test_epi64_mask(0x55, row_popcount512(x, filters), one);
    odd |= even_lane_bits(even) << i;
  }
  return odd;
}

__attribute__((target("avx512f,avx512bw"))) void fold2_avx512(uint64_t* rows, size_t count,
                                                              const uint64_t* filter,
                                                              const uint64_t* add) {
  const __m512i filters = pair_vector(filter);
  const __m512i adds = pair_vector(add);
  const __m512i one = _mm512_set1_epi64(1);
  for (size_t i = 0; i < count; i += 4) {
    __mmask8 valid = row_lanes_left(count - i);
    __m512i x = _mm512_maskz_loadu_epi64(valid, rows + 2 * i);
    unsigned even = _mm512_mask_test_epi64_mask(0x55, row_popcount512(x, filters), one);
    x = _mm512_mask_xor_epi64(x, static_cast<__mmask8>(even | (even << 1)), x, adds);
    _mm512_mask_storeu_epi64(rows + 2 * i, valid, x);
  }
}
#pragma GCC diagnostic pop
#endif

}  // namespace

std::vector<WordKernels> available_word_kernels() {
  std::vector<WordKernels> kernels{{odd_overlaps_portable, fold_portable, odd_overlaps2_portable,
                                    fold2_portable, clear_bit_portable}};
#if defined(__x86_64__)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2"))
    kernels.push_back(
        {odd_overlaps_avx2, fold_avx2, odd_overlaps2_avx2, fold2_avx2, clear_bit_avx2});
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw")) {
    kernels.push_back(
        {odd_overlaps_avx512, fold_avx512, odd_overlaps2_avx512, fold2_avx512, clear_bit_avx512});
  }
#endif
  return kernels;
}

const WordKernels& word_kernels() {
  static const WordKernels fastest = available_word_kernels().back();
  return fastest;
}

}  // namespace velkor
