#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <utility>

#include "bits/word_kernels.h"

namespace velkor {

/// Branch-free passes over a block of rows, row i being `words` words at data + i * stride.
/// Each pass is a template on the word count W (0 for a count known only at run time), so that
/// the common widths of one to four words compile to straight-line code per row. One-word rows
/// or two-word rows laid out contiguously go to the vector kernels of word_kernels().

/// Calls f(std::integral_constant<size_t, W>{}) with W = words for 1 to 4 words, W = 0 otherwise.
template <class F>
decltype(auto) with_row_width(size_t words, F&& f) {
  switch (words) {
    case 1:
      return f(std::integral_constant<size_t, 1>{});
    case 2:
      return f(std::integral_constant<size_t, 2>{});
    case 3:
      return f(std::integral_constant<size_t, 3>{});
    case 4:
      return f(std::integral_constant<size_t, 4>{});
    default:
      return f(std::integral_constant<size_t, 0>{});
  }
}

/// parity(row . filter) of up to 64 rows, as the bits of the result (row i at bit i).
template <size_t W>
uint64_t odd_overlaps(const uint64_t* data, size_t stride, size_t words, size_t count,
                      const uint64_t* filter) {
  if (W == 1 && stride == 1) return word_kernels().odd_overlaps(data, count, filter[0]);
  if (W == 2 && stride == 2) return word_kernels().odd_overlaps2(data, count, filter);
  const size_t width = W ? W : words;
  uint64_t odd = 0;
  for (size_t i = 0; i < count; ++i) {
    const uint64_t* row = data + i * stride;
    uint64_t acc = 0;
    for (size_t k = 0; k < width; ++k) acc ^= row[k] & filter[k];
    odd |= static_cast<uint64_t>(std::popcount(acc) & 1) << i;
  }
  return odd;
}

/// Row r ^= add for every row with parity(r . filter) odd, row `skip` excepted.
template <size_t W>
void fold_rows(uint64_t* data, size_t stride, size_t words, size_t count, const uint64_t* filter,
               const uint64_t* add, size_t skip) {
  if (W == 1 && stride == 1) {
    uint64_t kept = skip < count ? data[skip] : 0;
    word_kernels().fold(data, count, filter[0], add[0]);
    if (skip < count) data[skip] = kept;
    return;
  }
  if (W == 2 && stride == 2) {
    uint64_t kept[2] = {skip < count ? data[2 * skip] : 0, skip < count ? data[2 * skip + 1] : 0};
    // `add` may be row `skip` itself, which the pass changes: take its words first.
    const uint64_t f[2] = {filter[0], filter[1]}, a[2] = {add[0], add[1]};
    word_kernels().fold2(data, count, f, a);
    if (skip < count) std::copy_n(kept, 2, data + 2 * skip);
    return;
  }
  const size_t width = W ? W : words;
  for (size_t i = 0; i < count; ++i) {
    uint64_t* row = data + i * stride;
    uint64_t acc = 0;
    for (size_t k = 0; k < width; ++k) acc ^= row[k] & filter[k];
    uint64_t odd = static_cast<uint64_t>(std::popcount(acc) & 1) & (i != skip);
    uint64_t mask = uint64_t{0} - odd;
    for (size_t k = 0; k < width; ++k) row[k] ^= add[k] & mask;
  }
}

}  // namespace velkor
