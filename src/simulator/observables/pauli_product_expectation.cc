#include "simulator/observables/pauli_product_expectation.h"

#include <algorithm>

#include "simulator/expvals/directional_derivative.h"
#include "simulator/expvals/gauss_sum.h"
#include "simulator/state_vector.h"

namespace velkor {
namespace {

/// Renumbers the form's variables by creation rank, in place. The Gauss sum eliminates variables
/// in index order, and the sign of a zero it returns depends on that order: it must see the
/// order in which the variables were made, whatever order the simulator stores them in.
void to_creation_order(const Simulator& sim, QuadraticPhase& form) {
  size_t n = form.linear.size();
  bool stored_in_order = true;
  for (size_t j = 0; j < n; ++j) stored_in_order &= sim.creation_rank(j) == j;
  if (stored_in_order) return;
  std::vector<uint8_t> linear(n);
  std::vector<BitVec> quadratic(n);
  BitVec row;  // takes over each read row's words for the next one
  for (size_t j = 0; j < n; ++j) {
    size_t rank = sim.creation_rank(j);
    linear[rank] = form.linear[j];
    row.assign_zeros(n);
    form.quadratic[j].for_each_one([&](size_t k) { row.set(sim.creation_rank(k), true); });
    quadratic[rank] = std::move(row);
    row = std::move(form.quadratic[j]);
  }
  form.linear = std::move(linear);
  form.quadratic = std::move(quadratic);
}

}  // namespace

double pauli_product_expectation(const Simulator& sim, const PauliProduct& product) {
  size_t nq = sim.num_qubits();
  size_t n = sim.num_vars();
  BitVec x_mask = BitVec::zeros(nq);
  // L: the parity of the path variables that the Z parts read; o: their constant part.
  BitVec z_row = BitVec::zeros(n);
  bool o = false;
  unsigned y = 0;
  for (auto [q, pauli] : product.factors) {
    if (q >= nq) {
      if (pauli == Pauli::Z) continue;
      return 0.0;
    }
    if (pauli != Pauli::Z) x_mask.set(q, true);
    if (pauli != Pauli::X) {
      xor_words(z_row.words(), sim.row(q));
      o ^= sim.offset(q);
    }
    y += pauli == Pauli::Y;
  }
  bool s = o != product.negated;
  if (x_mask.is_zero()) {
    if (!z_row.is_zero()) return 0.0;
    return s ? -1.0 : 1.0;
  }
  std::optional<BitVec> d = to_basis_coordinates(sim, x_mask);
  if (!d) return 0.0;  // the X part moves the state off its own support
  // <psi|P|psi> = 2^-n sum_x omega^(-D(x)) i^y (-1)^(s + L.x) with D the derivative along d.
  QuadraticPhase form = directional_derivative(sim, d->words());
  for (size_t j = 0; j < n; ++j) {
    form.linear[j] = static_cast<uint8_t>((2 * z_row.get(j) - form.linear[j]) & 3);
  }
  to_creation_order(sim, form);
  auto constant = static_cast<uint8_t>((4 * s + 2 * y - form.constant) & 7);
  std::complex<double> g =
      normalized_quadratic_gauss_sum(constant, std::move(form.linear), std::move(form.quadratic));
  return std::clamp(g.real(), -1.0, 1.0);
}

}  // namespace velkor
