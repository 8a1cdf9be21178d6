#include "simulator/measurements/measure_z.h"

#include "base/internal_error.h"

namespace velkor {

MeasureResult measure_z_raw(Simulator& sim, size_t q) {
  check_invariant(q < sim.num_qubits(), "measured qubit is outside the register");
  if (is_zero_words(sim.row(q))) {
    return {static_cast<int8_t>(sim.offset(q) ? -1 : 1), 1.0};
  }
  bool outcome = sim.rng().fair_coin();
  sim.restrict_affine(sim.row(q), outcome != sim.offset(q));
  return {static_cast<int8_t>(outcome ? -1 : 1), 0.5};
}

bool measure(Simulator& sim, size_t q) {
  sim.ensure_num_qubits(q + 1);
  return measure_z_raw(sim, q).sign < 0;
}

void reset_z_raw(Simulator& sim, size_t q) {
  if (measure_z_raw(sim, q).sign < 0) sim.flip_offset(q);
}

double peek_z_probability(const Simulator& sim, size_t q) {
  if (q >= sim.num_qubits()) return 0.0;
  if (!is_zero_words(sim.row(q))) return 0.5;
  return sim.offset(q) ? 1.0 : 0.0;
}

}  // namespace velkor
