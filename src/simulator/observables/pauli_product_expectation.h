#pragma once

#include "simulator/observables/pauli_product.h"
#include "simulator/simulator.h"

namespace velkor {

/// <psi|P|psi> for the product P, exactly, clamped to [-1, 1]. A factor on a qubit beyond the
/// register sees |0>: X or Y there gives 0.0, Z there is ignored. Products of Z's cost
/// O(|product| * num_vars / 64); others one solve of the affine map, one directional derivative
/// and one Gauss sum, O(n^3 / 64) at worst. Changes and draws nothing.
double pauli_product_expectation(const Simulator& sim, const PauliProduct& product);

}  // namespace velkor
