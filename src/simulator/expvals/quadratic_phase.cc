#include "simulator/expvals/quadratic_phase.h"

#include <algorithm>
#include <bit>

namespace velkor {

void add_affine_to_quadratic(const BitVec& form, bool bit, uint8_t coefficient, uint8_t& acc,
                             std::span<uint8_t> linear, std::span<BitVec> quadratic) {
  // b XOR (sum of x_j) = b + (1 - 2b) * (sum x_j + 2 * sum over pairs x_j x_k)  (mod 4).
  acc = static_cast<uint8_t>((acc + (bit ? coefficient : 0)) & 3);
  auto s = static_cast<uint8_t>((bit ? -coefficient : coefficient) & 3);
  form.for_each_one([&](size_t j) { linear[j] = static_cast<uint8_t>((linear[j] + s) & 3); });
  if ((s & 1) == 0) return;
  // XORing the whole form into each member's row couples every pair once in both rows; the
  // member's own (diagonal) bit is flipped back.
  form.for_each_one([&](size_t j) {
    quadratic[j].xor_with(form);
    quadratic[j].flip(j);
  });
}

void clear_quadratic_variable(std::span<BitVec> quadratic, size_t rows, size_t j) {
  BitVec& row = quadratic[j];
  row.for_each_one([&](size_t k) { quadratic[k].set(j, false); });
  if (row.len() == rows) {
    std::ranges::fill(row.words(), 0);
  } else {
    row = BitVec::zeros(rows);
  }
}

void toggle_couplings(const BitVec& a, const BitVec& b, std::span<uint8_t> linear,
                      std::span<BitVec> quadratic) {
  // A pair (w, t) with both ends in a AND b is toggled twice, which cancels; so is each diagonal
  // bit of such a w. What remains of the w == t pairs is the 2 * x_w term.
  a.for_each_one([&](size_t w) { quadratic[w].xor_with(b); });
  b.for_each_one([&](size_t t) { quadratic[t].xor_with(a); });
  std::span<const uint64_t> aw = a.words(), bw = b.words();
  size_t words = std::min(aw.size(), bw.size());
  for (size_t k = 0; k < words; ++k) {
    uint64_t both = aw[k] & bw[k];
    while (both) {
      size_t w = k * 64 + static_cast<size_t>(std::countr_zero(both));
      linear[w] = static_cast<uint8_t>((linear[w] + 2) & 3);
      both &= both - 1;
    }
  }
}

}  // namespace velkor
