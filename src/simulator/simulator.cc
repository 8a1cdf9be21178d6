#include "simulator/simulator.h"

#include <algorithm>
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
}

void Simulator::ensure_num_qubits(size_t m) {
  if (m <= num_qubits_) return;
  auto refuse = [&] {
    return CapacityError("cannot grow the register to " + std::to_string(m) + " qubits");
  };
  std::optional<size_t> row_words = checked_buffer_size<uint64_t>(m, stride_);
  std::optional<size_t> offset_words = checked_buffer_size<uint64_t>(words_for_bits(m));
  if (!row_words || !offset_words) throw refuse();
  try {
    rows_.resize(*row_words, 0);
    offset_.resize(*offset_words, 0);
    pivots_.grow_qubits(m);
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
  if (!row_words) throw refuse();
  std::vector<uint64_t> rows;
  try {
    rows.assign(*row_words, 0);
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
  flip_bit(mutable_row(q), n);
  pivots_.add_variable(rows(), num_qubits_, q);
  if (phase_bit) {
    scratch_.assign(var_words(), 0);
    flip_bit(scratch_, n);
    phase_.add(scratch_, 4);
  }
}

void Simulator::restrict_affine(std::span<const uint64_t> normal, bool value) {
  normal_.assign(normal.begin(), normal.end());
  std::optional<size_t> pivot = first_one_words(normal_);
  check_invariant(pivot.has_value(), "normal must be nonzero");
  size_t p = *pivot;
  pivots_.restrict(normal_, p, num_vars_);
  size_t old_words = var_words();
  size_t new_words = words_for_bits(num_vars_ - 1);
  std::span<const uint64_t> nw = normal_;
  if (old_words == 1) {
    // One word per row: substitute and drop bit p without branches, a few operations a row; the
    // offset flips of 64 qubits are gathered in a register and applied with one XOR.
    uint64_t low = (uint64_t{1} << p) - 1, n0 = nw[0];
    uint64_t* rows = rows_.data();
    const size_t stride = stride_, nq = num_qubits_;
    for (size_t base = 0; base < nq; base += 64) {
      size_t end = std::min(nq, base + 64);
      uint64_t flips = 0;
      for (size_t q = base; q < end; ++q) {
        uint64_t w = rows[q * stride];
        uint64_t has = (w >> p) & 1;
        flips |= has << (q - base);
        w ^= n0 & (uint64_t{0} - has);
        rows[q * stride] = (w & low) | ((w >> 1) & ~low);
      }
      if (value) offset_[base / 64] ^= flips;
    }
  } else {
    for (size_t q = 0; q < num_qubits_; ++q) {
      std::span<uint64_t> r = mutable_row(q);
      if (get_bit(r, p)) {
        if (value) flip_offset(q);
        xor_words(r, nw);
      }
      remove_bit_words(r, p, r.first(new_words));
      if (new_words < old_words) r[new_words] = 0;
    }
  }
  phase_.eliminate(nw, p, value, num_vars_);
  num_vars_ -= 1;
}

}  // namespace velkor
