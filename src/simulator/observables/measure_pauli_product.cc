#include "simulator/observables/measure_pauli_product.h"

#include <array>
#include <vector>

#include "base/internal_error.h"
#include "simulator/gates/gates.h"
#include "simulator/measurements/measure_x.h"
#include "simulator/observables/packed_pauli_observable.h"

namespace velkor {
namespace {

using Step = ObservableBasisStep;

/// CZ written with the opposite phase increments: the same operator (CZ is its own inverse), but
/// on unchanged rows it cancels the terms the forward CZ added, so an undone measurement leaves
/// the phase polynomial as it found it instead of adding terms that sum to zero. (A gadget that
/// the forward CZ brought to 4 has moved into the linear key; the undo then leaves a keyed 6
/// beside it, which is the same polynomial.)
void undo_cz(Simulator& sim, size_t a, size_t b) {
  std::array<size_t, 1> qa{a}, qb{b};
  std::array<size_t, 2> qab{a, b};
  sim.apply_phase_gadget(qa, 6);
  sim.apply_phase_gadget(qb, 6);
  sim.apply_phase_gadget(qab, 2);
}

/// Applies the basis changes that reduce `p` to X or Z on one pivot qubit, records them, and
/// measures the pivot.
Expected<MeasureResult, MeasurementError> measure_reduced(Simulator& sim, PackedPauliObservable& p,
                                                          std::vector<Step>& steps) {
  if (p.x.is_zero()) {
    std::optional<size_t> lowest = p.z.first_one();
    check_invariant(lowest.has_value(), "nonidentity observable has a Z");
    size_t pivot = *lowest;
    BitVec others = p.z;
    others.set(pivot, false);
    others.for_each_one([&](size_t q) {
      cnot(sim, q, pivot);
      conjugate_cnot(p, q, pivot);
      steps.push_back({Step::Cnot{q, pivot}});
    });
    return measure_z_raw(sim, *lowest);
  }
  size_t pivot = *p.x.first_one();
  BitVec others = p.x;
  others.set(pivot, false);
  others.for_each_one([&](size_t q) {
    cnot(sim, pivot, q);
    conjugate_cnot(p, pivot, q);
    steps.push_back({Step::Cnot{pivot, q}});
  });
  others = p.z;
  others.set(pivot, false);
  others.for_each_one([&](size_t q) {
    cz(sim, pivot, q);
    conjugate_cz(p, pivot, q);
    steps.push_back({Step::Cz{pivot, q}});
  });
  if (p.z.get(pivot)) {
    // A signed Y on the pivot: S_DAG turns it into X (the sign is unchanged).
    s_dag(sim, pivot);
    p.z.set(pivot, false);
    steps.push_back({Step::SDag{pivot}});
  }
  return measure_x_raw(sim, pivot);
}

}  // namespace

void undo_observable_basis(Simulator& sim, std::span<const ObservableBasisStep> steps) {
  for (auto it = steps.rbegin(); it != steps.rend(); ++it) {
    if (const auto* c = std::get_if<Step::Cnot>(&it->step)) {
      cnot(sim, c->control, c->target);
    } else if (const auto* c = std::get_if<Step::Cz>(&it->step)) {
      undo_cz(sim, c->first, c->second);
    } else {
      s(sim, std::get<Step::SDag>(it->step).qubit);
    }
  }
}

Expected<MeasureResult, MeasurementError> measure_pauli_product_raw(Simulator& sim,
                                                                    const PauliProduct& product) {
  PackedPauliObservable p = from_product(product, sim.num_qubits());
  if (p.x.is_zero() && p.z.is_zero()) {
    return MeasureResult{static_cast<int8_t>(p.sign ? -1 : 1), 1.0};
  }
  std::vector<Step> steps;
  auto result = measure_reduced(sim, p, steps);
  undo_observable_basis(sim, steps);
  if (!result) {
    return unexpected(
        MeasurementError{"Pauli observable measurement is incompatible: " + result.error().message,
                         std::nullopt, std::nullopt});
  }
  if (p.sign) result->sign = static_cast<int8_t>(-result->sign);
  return result;
}

Expected<MeasureResult, MeasurementError> measure_pauli_product(Simulator& sim,
                                                                const PauliProduct& product) {
  if (product.span <= sim.num_qubits()) return measure_pauli_product_raw(sim, product);
  bool may_refuse = false;
  for (auto [q, pauli] : product.factors) may_refuse = may_refuse || pauli != Pauli::Z;
  if (!may_refuse) {
    // Products of Z's are never refused, so the register can grow in place.
    sim.ensure_num_qubits(product.span);
    return measure_pauli_product_raw(sim, product);
  }
  Simulator copy = sim;
  copy.ensure_num_qubits(product.span);
  auto result = measure_pauli_product_raw(copy, product);
  if (result) sim = std::move(copy);
  return result;
}

Expected<bool, MeasurementError> measure_observable(Simulator& sim, const PauliProduct& product,
                                                    double flip_probability) {
  auto result = measure_pauli_product(sim, product);
  if (!result) return unexpected(std::move(result.error()));
  bool flip = sim.rng().bernoulli(flip_probability);
  return (result->sign < 0) != flip;
}

}  // namespace velkor
