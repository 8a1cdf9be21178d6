#include "sampling/deferred_phases.h"

#include <array>

#include "base/internal_error.h"

namespace velkor {

void DeferredPhases::reset(size_t num_qubits) {
  for (size_t q : touched_) held_[q] = 0;
  touched_.clear();
  held_.resize(num_qubits, 0);
}

void DeferredPhases::apply(Simulator& sim, const Gate& gate) {
  uint8_t increment = 0;
  switch (gate.kind) {
    case GateKind::I:
      return;
    case GateKind::X:
      for (uint64_t q : gate.targets) flip(sim, q);
      return;
    case GateKind::Y:
      for (uint64_t q : gate.targets) apply_pauli_code(sim, q, 2);
      return;
    case GateKind::Z:
      increment = 4;
      break;
    case GateKind::S:
      increment = 2;
      break;
    case GateKind::S_DAG:
      increment = 6;
      break;
    case GateKind::T:
      increment = 1;
      break;
    case GateKind::T_DAG:
      increment = 7;
      break;
    default:
      throw InternalError("internal error: entered unreachable code: a gate that changes rows");
  }
  for (uint64_t q : gate.targets) add(q, increment);
}

void DeferredPhases::apply_pauli_code(Simulator& sim, size_t q, uint8_t code) {
  check_invariant(code < 4, "a Pauli code has two bits");
  // Y is X followed by a phase of 4 on the flipped qubit, as the gate does.
  if (code == 1 || code == 2) flip(sim, q);
  if (code >= 2) add(q, 4);
}

void DeferredPhases::flush_touched(Simulator& sim) {
  for (size_t q : touched_) {
    if (held_[q] == 0) continue;
    std::array<size_t, 1> qubit{q};
    sim.apply_phase_gadget(qubit, held_[q]);
    held_[q] = 0;
  }
  touched_.clear();
}

}  // namespace velkor
