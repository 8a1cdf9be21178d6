#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "bits/bitvec.h"

namespace velkor {

/// The function omega^constant * i^q(x) over n binary variables, with
/// q(x) = sum_j linear[j] * x_j + 2 * sum_{j<k} Q_jk * x_j * x_k (mod 4). `quadratic` holds the
/// coupling matrix Q as n rows of n bits: symmetric, zero diagonal, each pair stored in both rows.
struct QuadraticPhase {
  /// l_j in 0..3, units of pi/2.
  std::vector<uint8_t> linear;
  /// In 0..7, units of pi/4.
  uint8_t constant = 0;
  std::vector<BitVec> quadratic;
};

/// Adds coefficient * (bit XOR parity of the variables in `form`) to the form (mod 4): the
/// constant part goes to `acc`, the rest to `linear` and `quadratic`. An odd coefficient couples
/// every pair of members of `form`. `form` must not be a row of `quadratic`.
/// Cost O(|form| * n / 64).
void add_affine_to_quadratic(const BitVec& form, bool bit, uint8_t coefficient, uint8_t& acc,
                             std::span<uint8_t> linear, std::span<BitVec> quadratic);

/// Removes variable j from the coupling matrix of `rows` rows: clears bit j of every row coupled
/// to it, then zeroes row j. Cost O(degree + n / 64).
void clear_quadratic_variable(std::span<BitVec> quadratic, size_t rows, size_t j);

/// Toggles the coupling of every w in `a` with every t in `b` as word-parallel row operations;
/// a pair with w == t adds 2 to l_w instead. `a` and `b` must not be rows of `quadratic`.
/// Cost O((|a| + |b|) * n / 64).
void toggle_couplings(const BitVec& a, const BitVec& b, std::span<uint8_t> linear,
                      std::span<BitVec> quadratic);

}  // namespace velkor
