#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <vector>

#include "bits/bitvec.h"

namespace velkor {

/// Read access to the affine rows: row q is `words` words at data + q * stride.
struct RowView {
  const uint64_t* data;
  size_t stride;
  size_t words;
  std::span<const uint64_t> row(size_t q) const { return {data + q * stride, words}; }
};

/// Read access to the affine columns: column v is `words` words, bit q set when rows[q] holds x_v.
struct ColumnView {
  const uint64_t* data;
  size_t stride;
  size_t words;
  std::span<const uint64_t> column(size_t v) const { return {data + v * stride, words}; }
};

/// An inverse of the affine map kept up to date through every row and variable change, so that
/// solving A d = target costs one pass over the rows instead of an elimination.
///
/// The map has n independent columns, so some n qubits (the pivots) have independent rows. Each
/// pivot owns a slot s holding the direction d_s over the variables with rows[p] . d_s = 1 for
/// its own pivot p and 0 for every other pivot. A solution of A d = target, if there is one, is
/// then the XOR of d_s over the pivots set in target, and checking it takes one dot product per
/// row. Each update below costs at most one dot product and one XOR per slot, O(n^2 / 64).
class PivotBasis {
 public:
  static constexpr size_t kNone = std::numeric_limits<size_t>::max();

  /// The slot of qubit q, or kNone when q is not a pivot.
  size_t slot_of(size_t q) const { return slot_of_[q]; }
  /// The direction of slot s (words() words).
  std::span<const uint64_t> direction(size_t s) const {
    return {dirs_.data() + s * stride_, words_};
  }

  /// Forgets every pivot and variable, keeping the allocated capacity.
  void clear();
  /// Makes room for `m` qubits (new qubits are no pivots); never shrinks.
  void grow_qubits(size_t m) {
    if (m > slot_of_.size()) slot_of_.resize(m, kNone);
    if (words_for_bits(m) > pivot_bits_.size()) pivot_bits_.resize(words_for_bits(m), 0);
  }

  /// Follows rows[dst] ^= rows[src]; `rows` may be taken before or after the change.
  void xor_row(const RowView& rows, size_t dst, size_t src) {
    if (slot_of_[dst] != kNone) xor_pivot_row(rows, dst, src);  // only pivot rows constrain d
  }
  /// Follows the exchange of rows a and b.
  void swap_rows(size_t a, size_t b);
  /// Follows a fresh variable x_n entering rows[q] (n = the old variable count); `rows` is taken
  /// after the change and has n + 1 variables. The map must stay one-to-one.
  void add_variable(const RowView& rows, size_t num_qubits, size_t q);
  /// Follows the restriction to normal . x == value that eliminates the variable `pivot`, a set
  /// bit of normal, the last variable taking its place; `normal` is over the old variables.
  void restrict(std::span<const uint64_t> normal, size_t pivot, size_t old_vars);
  /// Follows a restriction that substitutes x_p away from every row, keeping the column, where
  /// the normal is the row of the pivot of `slot`; that pivot's row then becomes e_p. Every other
  /// direction just forgets bit p, and the slot's direction is e_p.
  void reuse_variable(size_t slot, size_t p);

  /// The unique d with rows[q] . d == target[q] for every qubit, or nothing when none exists.
  /// Costs one XOR of a column per variable of the candidate d.
  std::optional<BitVec> solve(const ColumnView& columns, size_t num_qubits, size_t num_vars,
                              const BitVec& target) const;
  /// The d of solve for the target that is 1 on qubit q alone (the direction that flips q only),
  /// written into `d` reusing its words; false when there is none.
  bool solve_flip_into(const ColumnView& columns, size_t num_qubits, size_t num_vars, size_t q,
                       BitVec& d) const;

 private:
  /// Whether A d, the XOR of the columns d selects, agrees with the target (target_word(k) is
  /// its word k) on every non-pivot qubit; pivot rows hold by construction.
  template <class TargetWord>
  bool image_matches(const ColumnView& columns, size_t num_qubits, size_t num_vars, const BitVec& d,
                     TargetWord target_word) const;
  /// xor_row for a pivot dst.
  void xor_pivot_row(const RowView& rows, size_t dst, size_t src);
  std::span<uint64_t> dir(size_t s) { return {dirs_.data() + s * stride_, words_}; }
  /// Sets the words per direction to `words`, re-laying the slots out when the stride is short.
  void set_words(size_t words);
  /// Makes q the pivot of slot s (kNone: no pivot), keeping pivot_bits_ in step.
  void set_slot(size_t q, size_t s);
  /// For every slot s other than `skip` with filter . d_s odd, d_s ^= add. `add` is not a
  /// direction other than d_skip.
  void fold_into(std::span<const uint64_t> filter, std::span<const uint64_t> add, size_t skip);

  std::vector<size_t> slot_of_;       // per qubit
  std::vector<uint64_t> pivot_bits_;  // bit q set when qubit q is a pivot
  std::vector<size_t> owner_;         // per slot: its pivot qubit
  std::vector<uint64_t> dirs_;        // per slot: stride_ words, the first words_ in use
  size_t words_ = 0;
  size_t stride_ = 0;
  std::vector<uint64_t> scratch_;
};

}  // namespace velkor
