#include "simulator/noise/noise_channels.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "base/internal_error.h"
#include "simulator/gates/gates.h"

namespace velkor {
namespace {

void check_probability(double p) {
  check_invariant(std::isfinite(p) && p >= 0.0 && p <= 1.0,
                  "probability must be finite and between 0 and 1");
}

/// The flip channel of one Pauli code: grow, then one trial.
void pauli_error(Simulator& sim, size_t q, double p, uint8_t code) {
  check_probability(p);
  sim.ensure_num_qubits(q + 1);
  if (sim.rng().bernoulli(p)) apply_pauli_code(sim, q, code);
}

/// The code selected by a Pauli channel table, or nothing; draws as pauli_channel1 states.
std::optional<uint8_t> select_code(ChaCha8Rng& rng, std::span<const double> probabilities) {
  size_t positive = 0, last = 0;
  for (size_t i = 0; i < probabilities.size(); ++i) {
    if (probabilities[i] > 0.0) {
      ++positive;
      last = i;
    }
  }
  if (positive == 0) return std::nullopt;
  if (positive == 1 && probabilities[last] == 1.0) return static_cast<uint8_t>(last + 1);
  double u = rng.uniform_double();
  double sum = 0.0;
  for (size_t i = 0; i < probabilities.size(); ++i) {
    sum += probabilities[i];
    if (u < sum) return static_cast<uint8_t>(i + 1);
  }
  return std::nullopt;
}

}  // namespace

void apply_pauli_code(Simulator& sim, size_t q, uint8_t code) {
  switch (code) {
    case 0:
      return;
    case 1:
      x(sim, q);
      return;
    case 2:
      y(sim, q);
      return;
    case 3:
      z(sim, q);
      return;
    default:
      throw InternalError("internal error: entered unreachable code: a Pauli code has two bits");
  }
}

void x_error(Simulator& sim, size_t q, double p) { pauli_error(sim, q, p, 1); }
void y_error(Simulator& sim, size_t q, double p) { pauli_error(sim, q, p, 2); }
void z_error(Simulator& sim, size_t q, double p) { pauli_error(sim, q, p, 3); }

void depolarize1(Simulator& sim, size_t q, double p) {
  check_probability(p);
  sim.ensure_num_qubits(q + 1);
  if (!sim.rng().bernoulli(p)) return;
  apply_pauli_code(sim, q, sim.rng().uniform_u8(1, 4));
}

void depolarize2(Simulator& sim, size_t a, size_t b, double p) {
  check_invariant(a != b, "depolarize2 endpoints must be distinct");
  check_probability(p);
  sim.ensure_num_qubits(std::max(a, b) + 1);
  if (!sim.rng().bernoulli(p)) return;
  uint8_t code = sim.rng().uniform_u8(1, 16);
  apply_pauli_code(sim, a, code >> 2);
  apply_pauli_code(sim, b, code & 3);
}

void depolarize3(Simulator& sim, size_t a, size_t b, size_t c, double p) {
  check_invariant(a != b && a != c && b != c, "depolarize3 endpoints must be distinct");
  check_probability(p);
  sim.ensure_num_qubits(std::max({a, b, c}) + 1);
  if (!sim.rng().bernoulli(p)) return;
  uint8_t code = sim.rng().uniform_u8(1, 64);
  apply_pauli_code(sim, a, code >> 4);
  apply_pauli_code(sim, b, (code >> 2) & 3);
  apply_pauli_code(sim, c, code & 3);
}

void pauli_channel1(Simulator& sim, size_t q, std::span<const double, 3> probabilities) {
  if (auto code = select_code(sim.rng(), probabilities)) apply_pauli_code(sim, q, *code);
}

void pauli_channel2(Simulator& sim, size_t a, size_t b, std::span<const double, 15> probabilities) {
  if (auto code = select_code(sim.rng(), probabilities)) {
    apply_pauli_code(sim, a, *code >> 2);
    apply_pauli_code(sim, b, *code & 3);
  }
}

}  // namespace velkor
