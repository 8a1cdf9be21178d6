#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "bits/bitvec.h"
#include "simulator/phase_map.h"
#include "simulator/pivot_basis.h"
#include "simulator/rng.h"

namespace velkor {

/// The state of a growing qubit register: 2^(-n/2) * sum over x in {0,1}^n of
/// omega^f(x) |A x XOR b>, with omega = e^(i pi/4), A the affine rows (one per qubit, over the n
/// path variables), b the offset bits and f the phase polynomial. The columns of A stay linearly
/// independent, so every basis state in the support has the same magnitude.
///
/// Rows live in one word array with a fixed stride per row, so a gate touches contiguous words.
/// Words of a row past its `num_vars` bits are always zero. A transposed copy (one column of
/// qubit bits per variable) lets measurements and resets find the rows that hold a variable
/// without passing over every row; gates leave it stale and the next measurement transposes.
class Simulator {
 public:
  /// An empty register owning `rng` unchanged.
  explicit Simulator(ChaCha8Rng rng);
  /// An empty register; generator from `seed`, or from the operating system without one.
  static Simulator new_with_optional_seed(std::optional<uint64_t> seed);

  size_t num_qubits() const { return num_qubits_; }
  size_t num_vars() const { return num_vars_; }
  /// Variable v's position among the variables in the order they were made (an eliminated
  /// variable leaves the order). Variables are stored in another order, so that a restriction
  /// or a reset moves no other; computations whose rounding depends on the order (Gauss sums)
  /// and the choice of the variable a restriction eliminates (the earliest made) use this one,
  /// so that every result is the same as with variables stored in that order.
  size_t creation_rank(size_t v) const { return rank_[v]; }
  /// Words per row and per phase key: ceil(num_vars / 64).
  size_t var_words() const { return words_for_bits(num_vars_); }

  bool offset(size_t q) const { return get_bit(offset_, q); }
  void flip_offset(size_t q) { flip_bit(offset_, q); }
  /// The offset bits b as a vector of num_qubits bits.
  BitVec offset_vec() const { return BitVec::from_words(offset_, num_qubits_); }

  /// Row q: var_words() words over the path variables.
  std::span<const uint64_t> row(size_t q) const {
    return {rows_.data() + q * stride_, var_words()};
  }
  BitVec row_vec(size_t q) const { return BitVec::from_words(row(q), num_vars_); }
  /// All rows, for solvers that read many of them.
  RowView rows() const { return {rows_.data(), stride_, var_words()}; }
  /// The same map by columns (bit q of column v is bit v of row q): the kept columns when they
  /// are current, else the rows transposed into `scratch`.
  ColumnView columns(std::vector<uint64_t>& scratch) const;
  /// Brings the kept columns up to date. Row changes from gates only mark them stale, since a
  /// transpose before the next measurement that needs them costs less than following every CNOT.
  void sync_columns();
  /// rows[dst] ^= rows[src].
  void xor_row(size_t dst, size_t src) {
    // Only pivot rows constrain the directions; the view is built only for them.
    if (pivots_.slot_of(dst) != PivotBasis::kNone) pivots_.xor_row(rows(), dst, src);
    const size_t words = var_words();
    const uint64_t* from = rows_.data() + src * stride_;
    uint64_t* to = rows_.data() + dst * stride_;
    for (size_t k = 0; k < words; ++k) to[k] ^= from[k];
    columns_current_ = false;
  }
  void swap_rows(size_t a, size_t b);
  /// The pivot qubits and their directions, kept in step with the rows.
  const PivotBasis& pivots() const { return pivots_; }

  const PhaseMap& phase() const { return phase_; }
  ChaCha8Rng& rng() { return rng_; }
  const ChaCha8Rng& rng() const { return rng_; }

  /// Grows the register to `m` qubits (new qubits in |0>); never shrinks. Throws CapacityError,
  /// changing nothing, when `m` qubits cannot be allocated.
  void ensure_num_qubits(size_t m) {
    if (m > num_qubits_) grow_qubits(m);
  }
  /// A copy whose generator is the exact copy (copy_rng), one seeded from `seed`, or one seeded
  /// from the operating system.
  Simulator copied(bool copy_rng, std::optional<uint64_t> seed) const;
  /// Hands back the generator, discarding the state.
  ChaCha8Rng into_rng() && { return rng_; }
  /// Returns to the empty register, keeping the generator and the allocated capacity.
  void clear_state();

  /// Adds `increment` (mod 8) to the coefficient of the parity `key` (var_words() words).
  void add_phase_gadget(std::span<const uint64_t> key, uint8_t increment) {
    phase_.add(key, increment);
  }
  /// Adds the phase increment * (value of the XOR of the listed qubits), 1 to 3 qubits.
  void apply_phase_gadget(std::span<const size_t> qubits, uint8_t increment);
  /// Introduces a fresh path variable x_n on qubit q (rows[q] gains bit n); with `phase_bit` the
  /// new variable carries a phase of pi, turning |0> into |-> instead of |+>. Grows the
  /// register to q + 1 qubits first. Throws CapacityError, adding no variable, when the longer
  /// rows cannot be allocated.
  void add_affine_coordinate(size_t q, bool phase_bit);
  /// Keeps only the paths with normal . x == value, eliminating the earliest made variable of the
  /// normal; the last stored variable takes its place. `normal` has var_words() words, is
  /// non-zero, and may be one of the rows. Changes only the rows holding either variable.
  void restrict_affine(std::span<const uint64_t> normal, bool value);
  /// Keeps only the paths with rows[q] . x == value (rows[q] non-zero), then puts qubit q in |+>:
  /// the state of restrict_affine(row(q), value), a cleared offset q and
  /// add_affine_coordinate(q, false). When q is a pivot, the eliminated variable is stored again
  /// as q's fresh one, so no row or phase key is re-laid out and only the rows holding it
  /// change.
  void refresh_to_plus(size_t q, bool value);

 private:
  /// ensure_num_qubits for m > num_qubits().
  void grow_qubits(size_t m);
  /// Makes rows hold at least `words` words each, re-laying them out when the stride is short.
  /// Throws CapacityError, changing nothing, when the new layout cannot be allocated.
  void ensure_row_words(size_t words);
  std::span<uint64_t> mutable_row(size_t q) { return {rows_.data() + q * stride_, var_words()}; }
  std::span<uint64_t> mutable_column(size_t v) {
    return {cols_.data() + v * col_stride_, words_for_bits(num_qubits_)};
  }
  /// The set bit of normal_ whose variable was made earliest: the one a restriction eliminates.
  size_t earliest_variable() const;
  /// Removes the eliminated variable p from the creation order; variable p is stored again as
  /// `rank`'s variable (num_vars() - 1: a fresh one; or that of the moved last variable).
  void forget_rank(size_t p);
  /// Substitutes x_p = value XOR parity(normal_ . x without x_p), p a set bit of normal_,
  /// in the rows holding x_p, which column p lists, and in the phase polynomial, keeping the
  /// column: afterwards nothing holds x_p. The columns must be current.
  void substitute_variable(size_t p, bool value);

  size_t num_qubits_ = 0;
  size_t num_vars_ = 0;
  size_t stride_ = 0;
  std::vector<uint64_t> offset_;
  std::vector<uint64_t> rows_;
  std::vector<uint64_t> cols_;  // 64 * stride_ columns of col_stride_ words
  size_t col_stride_ = 0;
  bool columns_current_ = true;  // when false, cols_ holds nothing of use
  std::vector<uint32_t> rank_;   // per stored variable: creation_rank; 64 * stride_ entries
  PhaseMap phase_;
  PivotBasis pivots_;
  ChaCha8Rng rng_;
  std::vector<uint64_t> scratch_;  // reused key buffer of the gadget updates
  std::vector<uint64_t> normal_;   // copy of the restriction normal, which may alias a row
};

}  // namespace velkor
