#pragma once

#include <cstddef>

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
/// Requires control != target.
void cnot(Simulator& sim, size_t control, size_t target);
/// Requires a != b.
void cz(Simulator& sim, size_t a, size_t b);
/// Requires three distinct qubits.
void ccz(Simulator& sim, size_t a, size_t b, size_t c);
/// Requires a != b.
void swap(Simulator& sim, size_t a, size_t b);

}  // namespace velkor
