#include "simulator/measurements/measure_x.h"

#include "base/internal_error.h"
#include "simulator/gates/gates.h"

namespace velkor {
namespace {

using Plan = XMeasurementPlan;

void add_gadget(Simulator& sim, const BitVec& key, int increment) {
  sim.add_phase_gadget(key.words(), static_cast<uint8_t>(increment & 7));
}

/// The couplings are a b^T + b a^T, so the quadratic part of the derivative is
/// parity(a . x) * parity(b . x) XOR parity((a AND b) . x), and the branch phase follows from
/// (-1)^(u XOR A*B) = 1 - u - (u XOR A) - (u XOR B) + (u XOR A XOR B) for parities u, A, B.
void apply_rank_two(Simulator& sim, const Plan::RankTwoPhase& plan, bool kappa) {
  int s = kappa ? 1 : -1;
  auto pair = rank_two_decomposition(plan.couplings, sim.num_vars());
  check_invariant(pair.has_value(), "compatible quadratic has rank at most two");
  auto& [a, b] = *pair;
  if (a.is_zero()) {
    add_gadget(sim, plan.parity, 2 * s);
    return;
  }
  BitVec base = plan.parity;
  BitVec both = a;
  for (size_t k = 0; k < both.num_words(); ++k) both.words()[k] &= b.words()[k];
  base.xor_with(both);
  BitVec with_a = base, with_b = base;
  with_a.xor_with(a);
  with_b.xor_with(b);
  BitVec with_ab = with_a;
  with_ab.xor_with(b);
  add_gadget(sim, base, s);
  add_gadget(sim, with_a, s);
  add_gadget(sim, with_b, s);
  add_gadget(sim, with_ab, -s);
}

/// Projects onto outcome `o` (true = -1 eigenvalue) as `plan` prescribes.
void apply_x_measurement(Simulator& sim, size_t q, const XMeasurementPlan& plan, bool o) {
  struct {
    Simulator& sim;
    size_t q;
    bool o;
    void operator()(const Plan::Deterministic&) const {}
    void operator()(const Plan::NewCoordinate&) const { sim.add_affine_coordinate(q, o); }
    void operator()(const Plan::AffineSplit& p) const {
      sim.restrict_affine(p.parity.words(), o != p.flip);
    }
    void operator()(const Plan::RankTwoPhase& p) const { apply_rank_two(sim, p, o != p.flip); }
    void operator()(const Plan::OddPhase& p) const { add_gadget(sim, p.mask, 4 * o - p.constant); }
  } update{sim, q, o};
  std::visit(update, plan.shape);
}

}  // namespace

Expected<MeasureResult, MeasurementError> measure_x_raw(Simulator& sim, size_t q) {
  sim.sync_columns();  // kept for the measurements that follow, rather than transposed for one
  auto plan = classify_x_measurement(sim, q);
  if (!plan) return unexpected(std::move(plan.error()));
  double p0 = plan->probability_zero();
  bool outcome;
  if (p0 == 1.0) {
    outcome = false;
  } else if (p0 == 0.0) {
    outcome = true;
  } else {
    outcome = !sim.rng().bernoulli(p0);
  }
  apply_x_measurement(sim, q, *plan, outcome);
  return MeasureResult{static_cast<int8_t>(outcome ? -1 : 1), outcome ? 1.0 - p0 : p0};
}

Expected<bool, MeasurementError> measure_x(Simulator& sim, size_t q) {
  sim.ensure_num_qubits(q + 1);
  auto result = measure_x_raw(sim, q);
  if (!result) return unexpected(std::move(result.error()));
  return result->sign < 0;
}

Expected<double, MeasurementError> peek_x_probability(const Simulator& sim, size_t q) {
  if (q >= sim.num_qubits()) return 0.5;
  auto plan = classify_x_measurement(sim, q);
  if (!plan) return unexpected(std::move(plan.error()));
  return 1.0 - plan->probability_zero();
}

void reset_x_raw(Simulator& sim, size_t q) {
  check_invariant(q < sim.num_qubits(), "reset qubit is outside the register");
  if (is_zero_words(sim.row(q))) {
    // A Z eigenstate: no draw, as for the measurement it stands for.
    if (sim.offset(q)) x(sim, q);
    sim.add_affine_coordinate(q, false);
    return;
  }
  bool outcome = sim.rng().fair_coin();
  sim.refresh_to_plus(q, outcome != sim.offset(q));
}

}  // namespace velkor
