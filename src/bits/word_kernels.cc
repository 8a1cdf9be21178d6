#include "bits/word_kernels.h"

#include <bit>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace velkor {
namespace {

uint64_t low_mask(size_t p) { return p >= 64 ? ~uint64_t{0} : (uint64_t{1} << p) - 1; }

uint64_t substitute_portable(uint64_t* words, size_t count, uint64_t add, size_t p) {
  uint64_t low = low_mask(p), held = 0;
  for (size_t i = 0; i < count; ++i) {
    uint64_t w = words[i];
    uint64_t has = (w >> p) & 1;
    held |= has << i;
    w ^= add & (uint64_t{0} - has);
    words[i] = (w & low) | ((w >> 1) & ~low);
  }
  return held;
}

uint64_t odd_overlaps_portable(const uint64_t* words, size_t count, uint64_t filter) {
  uint64_t odd = 0;
  for (size_t i = 0; i < count; ++i) {
    odd |= static_cast<uint64_t>(std::popcount(words[i] & filter) & 1) << i;
  }
  return odd;
}

void fold_portable(uint64_t* words, size_t count, uint64_t filter, uint64_t add, size_t p) {
  uint64_t low = low_mask(p);
  for (size_t i = 0; i < count; ++i) {
    uint64_t w = words[i];
    w ^= add & (uint64_t{0} - static_cast<uint64_t>(std::popcount(w & filter) & 1));
    words[i] = (w & low) | ((w >> 1) & ~low);
  }
}

#if defined(__x86_64__)
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

__attribute__((target("avx2"))) uint64_t substitute_avx2(uint64_t* words, size_t count,
                                                         uint64_t add, size_t p) {
  const __m256i adds = _mm256_set1_epi64x(static_cast<int64_t>(add));
  const __m256i low = _mm256_set1_epi64x(static_cast<int64_t>(low_mask(p)));
  const __m256i one = _mm256_set1_epi64x(1);
  const __m128i shift = _mm_cvtsi64_si128(static_cast<int64_t>(p));
  uint64_t held = 0;
  size_t i = 0;
  for (; i + 4 <= count; i += 4) {
    __m256i w = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(words + i));
    __m256i has = _mm256_and_si256(_mm256_srl_epi64(w, shift), one);
    held |= lane_bits(has) << i;
    w = _mm256_xor_si256(w, _mm256_and_si256(adds, _mm256_sub_epi64(_mm256_setzero_si256(), has)));
    w = _mm256_or_si256(_mm256_and_si256(w, low),
                        _mm256_andnot_si256(low, _mm256_srli_epi64(w, 1)));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(words + i), w);
  }
  return held | (substitute_portable(words + i, count - i, add, p) << i);
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
  return odd | (odd_overlaps_portable(words + i, count - i, filter) << i);
}

__attribute__((target("avx2"))) void fold_avx2(uint64_t* words, size_t count, uint64_t filter,
                                               uint64_t add, size_t p) {
  const __m256i filters = _mm256_set1_epi64x(static_cast<int64_t>(filter));
  const __m256i adds = _mm256_set1_epi64x(static_cast<int64_t>(add));
  const __m256i low = _mm256_set1_epi64x(static_cast<int64_t>(low_mask(p)));
  size_t i = 0;
  for (; i + 4 <= count; i += 4) {
    __m256i w = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(words + i));
    __m256i odd = lane_parity(_mm256_and_si256(w, filters));
    w = _mm256_xor_si256(w, _mm256_and_si256(adds, _mm256_sub_epi64(_mm256_setzero_si256(), odd)));
    w = _mm256_or_si256(_mm256_and_si256(w, low),
                        _mm256_andnot_si256(low, _mm256_srli_epi64(w, 1)));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(words + i), w);
  }
  fold_portable(words + i, count - i, filter, add, p);
}
#endif

}  // namespace

std::vector<WordKernels> available_word_kernels() {
  std::vector<WordKernels> kernels{{substitute_portable, odd_overlaps_portable, fold_portable}};
#if defined(__x86_64__)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2"))
    kernels.push_back({substitute_avx2, odd_overlaps_avx2, fold_avx2});
#endif
  return kernels;
}

const WordKernels& word_kernels() {
  static const WordKernels fastest = available_word_kernels().back();
  return fastest;
}

}  // namespace velkor
