#pragma once

// Test-only reference: evaluates small simulator records densely, straight from the definition
// of the state, as an oracle for the measurement and expectation code. Header only; no part of
// the core library.

#include <bit>
#include <cmath>
#include <complex>
#include <cstdint>
#include <random>
#include <vector>

#include "simulator/gates/gates.h"
#include "simulator/measurements/measure_z.h"
#include "simulator/observables/pauli_product.h"
#include "simulator/simulator.h"

namespace velkor::reference {

using Dense = std::vector<std::complex<double>>;

/// The low word of a row or key (records in these tests have at most 64 variables).
inline uint64_t low_word(std::span<const uint64_t> words) { return words.empty() ? 0 : words[0]; }

/// phi(x) mod 8 for the assignment whose bit j is x_j.
inline unsigned phase_at(const Simulator& sim, uint64_t x) {
  unsigned phi = 0;
  sim.phase().for_each([&](std::span<const uint64_t> key, uint8_t c) {
    if (std::popcount(low_word(key) & x) & 1) phi += c;
  });
  return phi & 7;
}

/// The basis-state index (qubit q at bit q) of path x.
inline uint64_t basis_index(const Simulator& sim, uint64_t x) {
  uint64_t index = 0;
  for (size_t q = 0; q < sim.num_qubits(); ++q) {
    bool bit = (std::popcount(low_word(sim.row(q)) & x) & 1) != sim.offset(q);
    index |= uint64_t{bit} << q;
  }
  return index;
}

/// The normalised dense state, little-endian, in double precision; no global phase is fixed.
inline Dense dense_state(const Simulator& sim) {
  Dense psi(size_t{1} << sim.num_qubits());
  double a = std::pow(2.0, -0.5 * static_cast<double>(sim.num_vars()));
  for (uint64_t x = 0; x < (uint64_t{1} << sim.num_vars()); ++x) {
    psi[basis_index(sim, x)] = std::polar(a, M_PI / 4 * phase_at(sim, x));
  }
  return psi;
}

/// P psi for the product P on a register of log2(psi.size()) qubits (Y = iXZ).
inline Dense apply_pauli(const Dense& psi, const PauliProduct& product) {
  Dense out(psi.size());
  uint64_t flips = 0;
  for (auto [q, p] : product.factors) {
    if (p != Pauli::Z) flips |= uint64_t{1} << q;
  }
  for (uint64_t s = 0; s < psi.size(); ++s) {
    std::complex<double> f = product.negated ? -1.0 : 1.0;
    for (auto [q, p] : product.factors) {
      bool bit = (s >> q) & 1;
      if (p == Pauli::Z && bit) f = -f;
      if (p == Pauli::Y) f *= bit ? std::complex<double>(0, -1) : std::complex<double>(0, 1);
    }
    out[s ^ flips] += f * psi[s];
  }
  return out;
}

inline std::complex<double> inner(const Dense& a, const Dense& b) {
  std::complex<double> sum = 0;
  for (size_t k = 0; k < a.size(); ++k) sum += std::conj(a[k]) * b[k];
  return sum;
}

/// (psi + sign * P psi) / 2, the projection onto the eigenvalue `sign` of P.
inline Dense project(const Dense& psi, const PauliProduct& product, int sign) {
  Dense moved = apply_pauli(psi, product);
  Dense out(psi.size());
  for (size_t k = 0; k < psi.size(); ++k) out[k] = (psi[k] + double(sign) * moved[k]) * 0.5;
  return out;
}

/// |<a|b>| == |a| |b| within tol: the same ray.
inline bool same_ray(const Dense& a, const Dense& b, double tol) {
  double na = std::sqrt(std::abs(inner(a, a))), nb = std::sqrt(std::abs(inner(b, b)));
  return std::abs(std::abs(inner(a, b)) - na * nb) < tol && std::abs(na - nb) < tol;
}

/// Every field of the two records is equal, the generator included.
inline bool same_record(const Simulator& a, const Simulator& b) {
  if (a.num_qubits() != b.num_qubits() || a.num_vars() != b.num_vars()) return false;
  if (!(a.rng() == b.rng()) || !(a.phase() == b.phase())) return false;
  for (size_t q = 0; q < a.num_qubits(); ++q) {
    if (a.offset(q) != b.offset(q) || a.row_vec(q) != b.row_vec(q)) return false;
  }
  return true;
}

/// A single-qubit |+> from |0> (or |1>): measure in Z, undo a 1, add a fresh variable.
inline void plus_state(Simulator& sim, size_t q) {
  sim.ensure_num_qubits(q + 1);
  if (measure_z_raw(sim, q).sign < 0) sim.flip_offset(q);
  sim.add_affine_coordinate(q, false);
}

/// A random state on `num_qubits` qubits: X resets, Clifford gates, CCZ, Z measurements and,
/// with `allow_t`, T gates, chosen by `gen`; the record's generator decides the measurements.
/// Without T the phases stay even often enough to reach the rank-two measurement updates.
inline Simulator random_state(std::mt19937_64& gen, size_t num_qubits, size_t ops, uint64_t seed,
                              bool allow_t = true) {
  Simulator sim = Simulator::new_with_optional_seed(seed);
  sim.ensure_num_qubits(num_qubits);
  auto qubit = [&] { return static_cast<size_t>(gen() % num_qubits); };
  for (size_t i = 0; i < ops; ++i) {
    size_t a = qubit(), b = qubit(), c = qubit();
    switch (gen() % 12) {
      case 0:
      case 1:
        plus_state(sim, a);
        break;
      case 2:
        allow_t ? t(sim, a) : s(sim, a);
        break;
      case 3:
        s(sim, a);
        break;
      case 4:
        x(sim, a);
        break;
      case 5:
        y(sim, a);
        break;
      case 6:
        allow_t ? t_dag(sim, a) : s_dag(sim, a);
        break;
      case 7:
      case 8:
        if (a != b) cnot(sim, a, b);
        break;
      case 9:
        if (a != b) cz(sim, a, b);
        break;
      case 10:
        if (a != b && a != c && b != c) ccz(sim, a, b, c);
        break;
      default:
        if (gen() % 3 == 0) measure_z_raw(sim, a);
        break;
    }
  }
  return sim;
}

}  // namespace velkor::reference
