#pragma once

#include <algorithm>
#include <cstddef>

#include "base/internal_error.h"
#include "simulator/simulator.h"

namespace velkor {

/// The unitary gates. Each grows the register to its largest qubit plus one, then costs
/// O(num_vars / 64) word operations and at most seven phase-map updates.
void x(Simulator& sim, size_t q);
void y(Simulator& sim, size_t q);
void z(Simulator& sim, size_t q);
void s(Simulator& sim, size_t q);
void s_dag(Simulator& sim, size_t q);
void t(Simulator& sim, size_t q);
void t_dag(Simulator& sim, size_t q);
/// Requires control != target. Inline: surface-code circuits are mostly CNOTs.
inline void cnot(Simulator& sim, size_t control, size_t target) {
  check_invariant(control != target, "CNOT endpoints must be distinct");
  sim.ensure_num_qubits(std::max(control, target) + 1);
  if (sim.offset(control)) sim.flip_offset(target);
  sim.xor_row(target, control);
}
/// Requires a != b.
void cz(Simulator& sim, size_t a, size_t b);
/// Requires three distinct qubits.
void ccz(Simulator& sim, size_t a, size_t b, size_t c);
/// Requires a != b.
void swap(Simulator& sim, size_t a, size_t b);

}  // namespace velkor
