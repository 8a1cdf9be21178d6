#include "sampling/compiled/symbolic_state.h"

#include <algorithm>
#include <complex>
#include <tuple>
#include <utility>

#include "bits/words.h"
#include "simulator/expvals/gauss_sum.h"
#include "simulator/observables/packed_pauli_observable.h"

namespace velkor {
namespace {

void set_constant(AffineSpan f, bool value) {
  std::fill(f.begin(), f.end(), 0);
  f[0] = value;
}

}  // namespace

SymbolicState::SymbolicState(size_t num_qubits, size_t num_random_bits)
    : num_qubits_(num_qubits),
      words_(words_for_bits(num_random_bits + 1)),
      rows_(num_qubits),
      offsets_(num_qubits * words_),
      scratch_(3 * words_) {}

void SymbolicState::flip_offset(size_t q, ConstAffineSpan condition) {
  xor_words(offset(q), condition);
}

void SymbolicState::add_quarter_turns(const BitVec& key, ConstAffineSpan condition) {
  key.for_each_one([&](size_t j) { xor_words(lambda(j), condition); });
}

void SymbolicState::phase_flip(size_t q, ConstAffineSpan condition) {
  add_quarter_turns(rows_[q], condition);
}

void SymbolicState::x(size_t q) { offset(q)[0] ^= 1; }

void SymbolicState::z(size_t q) {
  rows_[q].for_each_one([&](size_t j) { lambda(j)[0] ^= 1; });
}

void SymbolicState::toggle_half_turn(std::unordered_set<BitVec, BitVecHash>& keys,
                                     const BitVec& key) {
  if (key.is_zero()) return;
  auto found = keys.find(key);
  if (found == keys.end()) {
    keys.insert(key);
    return;
  }
  keys.erase(found);
  key.for_each_one([&](size_t j) { lambda(j)[0] ^= 1; });
}

void SymbolicState::half_turn_gadget(const BitVec& key, ConstAffineSpan constant, bool negate) {
  toggle_half_turn(half_turns_, key);
  AffineSpan six{scratch_.data() + 2 * words_, words_};
  std::copy(constant.begin(), constant.end(), six.begin());
  six[0] ^= negate;
  add_quarter_turns(key, six);
}

void SymbolicState::s(size_t q) { half_turn_gadget(rows_[q], offset(q), false); }

void SymbolicState::s_dag(size_t q) { half_turn_gadget(rows_[q], offset(q), true); }

void SymbolicState::cnot(size_t control, size_t target) {
  xor_words(offset(target), offset(control));
  rows_[target].xor_with(rows_[control]);
}

void SymbolicState::cz(size_t a, size_t b) {
  s(a);
  s(b);
  BitVec key = rows_[a];
  key.xor_with(rows_[b]);
  AffineSpan constant{scratch_.data() + words_, words_};
  std::copy(offset(a).begin(), offset(a).end(), constant.begin());
  xor_words(constant, offset(b));
  half_turn_gadget(key, constant, true);
}

void SymbolicState::swap(size_t a, size_t b) {
  std::swap_ranges(offset(a).begin(), offset(a).end(), offset(b).begin());
  std::swap(rows_[a], rows_[b]);
}

void SymbolicState::restrict(const BitVec& normal, ConstAffineSpan value) {
  size_t p = *normal.first_one();
  for (size_t q = 0; q < num_qubits_; ++q) {
    if (rows_[q].get(p)) {
      xor_words(offset(q), value);
      rows_[q].xor_with(normal);
    }
    rows_[q] = rows_[q].remove_bit(p);
  }
  // 4 [lambda.x] with x_p = value + (normal without p).x: lambda_p moves onto the normal.
  normal.for_each_one([&](size_t j) {
    if (j != p) xor_words(lambda(j), lambda(p));
  });
  // A half-turn key containing x_p is rewritten on key + normal and negated when value is 1:
  // -2 = 2 + 4, a coefficient-4 term on the rewritten key.
  std::vector<BitVec> rewritten;
  rewritten.reserve(half_turns_.size());
  for (const BitVec& key : half_turns_) {
    BitVec k = key;
    if (k.get(p)) {
      k.xor_with(normal);
      add_quarter_turns(k, value);
    }
    rewritten.push_back(std::move(k));
  }
  lambda_.erase(lambda_.begin() + static_cast<std::ptrdiff_t>(p * words_),
                lambda_.begin() + static_cast<std::ptrdiff_t>((p + 1) * words_));
  --num_vars_;
  half_turns_.clear();
  for (const BitVec& k : rewritten) toggle_half_turn(half_turns_, k.remove_bit(p));
}

bool SymbolicState::measure_z(size_t q, size_t coin, AffineSpan outcome) {
  if (rows_[q].is_zero()) {
    std::copy(offset(q).begin(), offset(q).end(), outcome.begin());
    return false;
  }
  set_constant(outcome, false);
  flip_bit(outcome, coin);
  AffineSpan value{scratch_.data(), words_};
  std::copy(outcome.begin(), outcome.end(), value.begin());
  xor_words(value, offset(q));
  BitVec normal = rows_[q];
  restrict(normal, value);
  return true;
}

void SymbolicState::add_coordinate(size_t q) {
  for (BitVec& row : rows_) row.resize(num_vars_ + 1);
  rows_[q].set(num_vars_, true);
  std::unordered_set<BitVec, BitVecHash> keys;
  for (const BitVec& key : half_turns_) {
    BitVec k = key;
    k.resize(num_vars_ + 1);
    keys.insert(std::move(k));
  }
  half_turns_ = std::move(keys);
  lambda_.resize(lambda_.size() + words_, 0);
  ++num_vars_;
}

std::optional<BitVec> SymbolicState::basis_coordinates(const BitVec& target) const {
  // One equation rows[q] . d = target_q per qubit; the right side is bit num_vars.
  std::vector<BitVec> equations;
  equations.reserve(num_qubits_);
  for (size_t q = 0; q < num_qubits_; ++q) {
    BitVec e = rows_[q];
    e.resize(num_vars_ + 1);
    e.set(num_vars_, target.get(q));
    equations.push_back(std::move(e));
  }
  std::vector<size_t> pivot_row(num_vars_);
  size_t rank = 0;
  for (size_t j = 0; j < num_vars_; ++j) {
    size_t r = rank;
    while (r < equations.size() && !equations[r].get(j)) ++r;
    if (r == equations.size()) continue;
    std::swap(equations[r], equations[rank]);
    for (size_t other = 0; other < equations.size(); ++other) {
      if (other != rank && equations[other].get(j)) equations[other].xor_with(equations[rank]);
    }
    pivot_row[j] = rank++;
  }
  for (size_t r = rank; r < equations.size(); ++r) {
    if (equations[r].get(num_vars_)) return std::nullopt;
  }
  // The columns are independent, so every variable has a pivot row.
  BitVec d = BitVec::zeros(num_vars_);
  for (size_t j = 0; j < num_vars_; ++j) d.set(j, equations[pivot_row[j]].get(num_vars_));
  return d;
}

size_t SymbolicState::derivative(const BitVec& d, BitVec& linear) const {
  linear = BitVec::zeros(num_vars_);
  size_t count = 0;
  for (const BitVec& key : half_turns_) {
    if (key.dot(d)) {
      ++count;
      linear.xor_with(key);
    }
  }
  return count;
}

void SymbolicState::lambda_dot(const BitVec& d, AffineSpan out) {
  set_constant(out, false);
  d.for_each_one([&](size_t j) { xor_words(out, lambda(j)); });
}

bool SymbolicState::measure_x(size_t q, size_t coin, AffineSpan outcome) {
  std::optional<BitVec> d = basis_coordinates(BitVec::unit(num_qubits_, q));
  set_constant(outcome, false);
  if (!d) {
    // The flip leaves the support: a fresh variable, with a coefficient-4 term when the coin is 1.
    flip_bit(outcome, coin);
    add_coordinate(q);
    xor_words(lambda(num_vars_ - 1), outcome);
    return true;
  }
  // The derivative along d is c + 4 [linear.x] with c = 2 count + 4 (lambda . d).
  BitVec linear;
  size_t count = derivative(*d, linear);
  AffineSpan flip{scratch_.data(), words_};
  lambda_dot(*d, flip);
  if (count % 2 == 0) {
    flip[0] ^= (count / 2) & 1;  // c == 4
    if (linear.is_zero()) {
      std::copy(flip.begin(), flip.end(), outcome.begin());
      return false;
    }
    flip_bit(outcome, coin);
    xor_words(flip, outcome);
    restrict(linear, flip);
    return true;
  }
  // c is 2 or 6: the gadget 2 s on `linear`, s = +1 when coin XOR (c == 6) is 1, else -1.
  flip[0] ^= (count / 2) & 1;  // c == 6
  flip_bit(outcome, coin);
  xor_words(flip, outcome);
  flip[0] ^= 1;
  toggle_half_turn(half_turns_, linear);
  add_quarter_turns(linear, flip);
  return true;
}

bool SymbolicState::measure_product(const PauliProduct& product, size_t coin, AffineSpan outcome) {
  PackedPauliObservable p = from_product(product, num_qubits_);
  if (p.x.is_zero() && p.z.is_zero()) {
    set_constant(outcome, p.sign);
    return false;
  }
  // The basis changes that reduce the product to X or Z on the pivot, undone afterwards.
  enum class Step : uint8_t { kCnot, kCz, kSDag };
  std::vector<std::tuple<Step, size_t, size_t>> steps;
  bool random;
  if (p.x.is_zero()) {
    size_t pivot = *p.z.first_one();
    BitVec others = p.z;
    others.set(pivot, false);
    others.for_each_one([&](size_t q) {
      cnot(q, pivot);
      conjugate_cnot(p, q, pivot);
      steps.emplace_back(Step::kCnot, q, pivot);
    });
    random = measure_z(pivot, coin, outcome);
  } else {
    size_t pivot = *p.x.first_one();
    BitVec others = p.x;
    others.set(pivot, false);
    others.for_each_one([&](size_t q) {
      cnot(pivot, q);
      conjugate_cnot(p, pivot, q);
      steps.emplace_back(Step::kCnot, pivot, q);
    });
    others = p.z;
    others.set(pivot, false);
    others.for_each_one([&](size_t q) {
      cz(pivot, q);
      conjugate_cz(p, pivot, q);
      steps.emplace_back(Step::kCz, pivot, q);
    });
    if (p.z.get(pivot)) {
      s_dag(pivot);
      steps.emplace_back(Step::kSDag, pivot, pivot);
    }
    random = measure_x(pivot, coin, outcome);
  }
  for (auto it = steps.rbegin(); it != steps.rend(); ++it) {
    auto [step, a, b] = *it;
    if (step == Step::kCnot) {
      cnot(a, b);
    } else if (step == Step::kCz) {
      cz(a, b);
    } else {
      s(a);
    }
  }
  outcome[0] ^= p.sign;
  return random;
}

void SymbolicState::expectation(const PauliProduct& product, double values[2], AffineSpan sign) {
  BitVec x_mask = BitVec::zeros(num_qubits_);
  BitVec z_row = BitVec::zeros(num_vars_);
  set_constant(sign, product.negated);
  unsigned y = 0;
  for (auto [q, pauli] : product.factors) {
    if (pauli != Pauli::Z) x_mask.set(q, true);
    if (pauli != Pauli::X) {
      z_row.xor_with(rows_[q]);
      xor_words(sign, offset(q));
    }
    y += pauli == Pauli::Y;
  }
  values[0] = values[1] = 0.0;
  if (x_mask.is_zero()) {
    if (z_row.is_zero()) values[0] = 1.0, values[1] = -1.0;
    return;
  }
  std::optional<BitVec> d = basis_coordinates(x_mask);
  if (!d) return;
  // The interpreter's form: linear 2 (z_row + L), constant 4 s + 2 y - c with
  // c = 2 count + 4 (lambda . d); the shot decides only s + lambda . d.
  BitVec linear;
  size_t count = derivative(*d, linear);
  linear.xor_with(z_row);
  AffineSpan lambda_d{scratch_.data(), words_};
  lambda_dot(*d, lambda_d);
  xor_words(sign, lambda_d);
  for (int bit = 0; bit < 2; ++bit) {
    auto constant = static_cast<uint8_t>((4 * bit + 2 * y + 8 - 2 * (count % 4)) & 7);
    std::vector<uint8_t> form(num_vars_);
    for (size_t j = 0; j < num_vars_; ++j) form[j] = linear.get(j) ? 2 : 0;
    std::complex<double> g = normalized_quadratic_gauss_sum(
        constant, std::move(form), std::vector<BitVec>(num_vars_, BitVec::zeros(num_vars_)));
    values[bit] = std::clamp(g.real(), -1.0, 1.0);
  }
}

}  // namespace velkor
