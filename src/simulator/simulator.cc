#include "simulator/simulator.h"

#include <algorithm>
#include <bit>
#include <string>

#include "base/capacity_error.h"
#include "base/checked_size.h"
#include "base/internal_error.h"

namespace velkor {

Simulator::Simulator(ChaCha8Rng rng) : rng_(rng) {}

Simulator Simulator::new_with_optional_seed(std::optional<uint64_t> seed) {
  return Simulator(seed ? ChaCha8Rng::seed_from_u64(*seed) : ChaCha8Rng::from_os_rng());
}

void Simulator::swap_rows(size_t a, size_t b) {
  std::swap_ranges(mutable_row(a).begin(), mutable_row(a).end(), mutable_row(b).begin());
  pivots_.swap_rows(a, b);
  columns_current_ = false;
}

void Simulator::grow_qubits(size_t m) {
  auto refuse = [&] {
    return CapacityError("cannot grow the register to " + std::to_string(m) + " qubits");
  };
  std::optional<size_t> row_words = checked_buffer_size<uint64_t>(m, stride_);
  std::optional<size_t> offset_words = checked_buffer_size<uint64_t>(words_for_bits(m));
  size_t col_stride =
      words_for_bits(m) > col_stride_ ? std::max(words_for_bits(m), 2 * col_stride_) : col_stride_;
  std::optional<size_t> col_words = checked_buffer_size<uint64_t>(64 * stride_, col_stride);
  if (!row_words || !offset_words || !col_words) throw refuse();
  try {
    std::vector<uint64_t> cols;
    if (col_stride != col_stride_) {
      cols.assign(*col_words, 0);
      for (size_t v = 0; v < num_vars_; ++v) {
        std::copy_n(cols_.data() + v * col_stride_, col_stride_, cols.data() + v * col_stride);
      }
    }
    rows_.resize(*row_words, 0);
    offset_.resize(*offset_words, 0);
    pivots_.grow_qubits(m);
    if (col_stride != col_stride_) {
      cols_ = std::move(cols);
      col_stride_ = col_stride;
    }
  } catch (const std::bad_alloc&) {
    // Extra zero words beyond num_qubits_ leave the state as it was.
    throw refuse();
  }
  num_qubits_ = m;
}

Simulator Simulator::copied(bool copy_rng, std::optional<uint64_t> seed) const {
  Simulator copy = *this;
  if (!copy_rng) {
    copy.rng_ = seed ? ChaCha8Rng::seed_from_u64(*seed) : ChaCha8Rng::from_os_rng();
  }
  return copy;
}

void Simulator::clear_state() {
  columns_current_ = false;
  num_qubits_ = 0;
  num_vars_ = 0;
  offset_.clear();
  rows_.clear();
  phase_.clear();
  phase_.set_key_words(0);
  pivots_.clear();
}

void Simulator::ensure_row_words(size_t words) {
  if (words <= stride_) return;
  size_t stride = std::max(words, 2 * stride_);
  auto refuse = [&] {
    return CapacityError("cannot give the register of " + std::to_string(num_qubits_) +
                         " qubits rows of " + std::to_string(stride) + " words");
  };
  std::optional<size_t> row_words = checked_buffer_size<uint64_t>(num_qubits_, stride);
  std::optional<size_t> col_words = checked_buffer_size<uint64_t>(64 * stride, col_stride_);
  if (!row_words || !col_words) throw refuse();
  std::vector<uint64_t> rows;
  try {
    rows.assign(*row_words, 0);
    cols_.resize(*col_words, 0);  // room for the new variables' columns, at the end
    rank_.resize(64 * stride, 0);
  } catch (const std::bad_alloc&) {
    throw refuse();
  }
  for (size_t q = 0; q < num_qubits_; ++q) {
    std::copy_n(rows_.data() + q * stride_, stride_, rows.data() + q * stride);
  }
  rows_ = std::move(rows);
  stride_ = stride;
}

void Simulator::apply_phase_gadget(std::span<const size_t> qubits, uint8_t increment) {
  check_invariant(!qubits.empty() && qubits.size() <= 3, "a phase gadget spans 1 to 3 qubits");
  bool constant = false;
  if (qubits.size() == 1) {
    constant = offset(qubits[0]);
    phase_.add(row(qubits[0]), constant ? static_cast<uint8_t>(-increment) : increment);
    return;
  }
  size_t words = var_words();
  scratch_.assign(words, 0);
  for (size_t q : qubits) {
    xor_words(scratch_, row(q));
    constant ^= offset(q);
  }
  phase_.add(scratch_, constant ? static_cast<uint8_t>(-increment) : increment);
}

void Simulator::add_affine_coordinate(size_t q, bool phase_bit) {
  ensure_num_qubits(q + 1);
  size_t n = num_vars_;
  ensure_row_words(words_for_bits(n + 1));
  // Existing keys have a zero bit n already; only their word count may change.
  phase_.set_key_words(words_for_bits(n + 1));
  num_vars_ = n + 1;
  rank_[n] = static_cast<uint32_t>(n);
  flip_bit(mutable_row(q), n);
  if (columns_current_) flip_bit(mutable_column(n), q);
  pivots_.add_variable(rows(), num_qubits_, q);
  if (phase_bit) {
    scratch_.assign(var_words(), 0);
    flip_bit(scratch_, n);
    phase_.add(scratch_, 4);
  }
}

void Simulator::restrict_affine(std::span<const uint64_t> normal, bool value) {
  normal_.assign(normal.begin(), normal.end());
  check_invariant(!is_zero_words(normal_), "normal must be nonzero");
  size_t p = earliest_variable();
  size_t last = num_vars_ - 1;
  sync_columns();
  pivots_.restrict(normal_, p, num_vars_);
  substitute_variable(p, value);
  forget_rank(p);
  // The last variable takes x_p's place, so that no other row or key moves.
  if (last != p) {
    rank_[p] = rank_[last];
    std::span<uint64_t> moved = mutable_column(last);
    for_each_one(moved, num_qubits_, [&](size_t r) {
      flip_bit(mutable_row(r), last);
      flip_bit(mutable_row(r), p);
    });
    std::copy(moved.begin(), moved.end(), mutable_column(p).begin());
    std::fill(moved.begin(), moved.end(), 0);
    phase_.move_variable(last, p);
  }
  phase_.set_key_words(words_for_bits(last));
  num_vars_ = last;
}

namespace {

/// Writes bit q of column v (at cols + v * col_stride) for bit v of every row q; the columns
/// must start out zero.
void transpose_rows(const RowView& rows, size_t num_qubits, uint64_t* cols, size_t col_stride) {
  for (size_t q = 0; q < num_qubits; ++q) {
    std::span<const uint64_t> row = rows.row(q);
    for (size_t k = 0; k < row.size(); ++k) {
      for (uint64_t w = row[k]; w; w &= w - 1) {
        cols[(k * 64 + static_cast<size_t>(std::countr_zero(w))) * col_stride + q / 64] |=
            uint64_t{1} << (q % 64);
      }
    }
  }
}

}  // namespace

ColumnView Simulator::columns(std::vector<uint64_t>& scratch) const {
  size_t words = words_for_bits(num_qubits_);
  if (columns_current_) return {cols_.data(), col_stride_, words};
  scratch.assign(num_vars_ * words, 0);
  transpose_rows(rows(), num_qubits_, scratch.data(), words);
  return {scratch.data(), words, words};
}

void Simulator::sync_columns() {
  if (columns_current_) return;
  // Columns past num_vars_ may hold stale bits too, and must be zero for new variables.
  std::fill(cols_.begin(), cols_.end(), 0);
  transpose_rows(rows(), num_qubits_, cols_.data(), col_stride_);
  columns_current_ = true;
}

size_t Simulator::earliest_variable() const {
  size_t earliest = 0;
  uint32_t best = UINT32_MAX;
  for_each_one(normal_, num_vars_, [&](size_t v) {
    if (rank_[v] < best) {
      best = rank_[v];
      earliest = v;
    }
  });
  return earliest;
}

void Simulator::forget_rank(size_t p) {
  const uint32_t gone = rank_[p];
  for (size_t v = 0; v < num_vars_; ++v) rank_[v] -= rank_[v] > gone;
}

void Simulator::substitute_variable(size_t p, bool value) {
  std::span<uint64_t> held = mutable_column(p);
  // The rows holding x_p take the normal: every other variable of the normal flips in them.
  for_each_one(normal_, num_vars_, [&](size_t u) {
    if (u != p) xor_words(mutable_column(u), held);
  });
  for_each_one(held, num_qubits_, [&](size_t r) { xor_words(mutable_row(r), normal_); });
  if (value) xor_words(std::span<uint64_t>(offset_).first(held.size()), held);
  std::fill(held.begin(), held.end(), 0);
  phase_.substitute(normal_, p, value);
}

void Simulator::refresh_to_plus(size_t q, bool value) {
  size_t slot = pivots_.slot_of(q);
  if (slot == PivotBasis::kNone) {
    restrict_affine(row(q), value);
    offset_[q / 64] &= ~(uint64_t{1} << (q % 64));
    add_affine_coordinate(q, false);
    return;
  }
  normal_.assign(row(q).begin(), row(q).end());
  check_invariant(!is_zero_words(normal_), "a refreshed qubit has a non-zero row");
  size_t p = earliest_variable();
  sync_columns();
  // x_p is substituted away, and is then free to be qubit q's fresh variable, the latest made.
  substitute_variable(p, value);
  forget_rank(p);
  rank_[p] = static_cast<uint32_t>(num_vars_ - 1);
  flip_bit(mutable_column(p), q);
  flip_bit(mutable_row(q), p);
  offset_[q / 64] &= ~(uint64_t{1} << (q % 64));
  pivots_.reuse_variable(slot, p);
}

}  // namespace velkor
