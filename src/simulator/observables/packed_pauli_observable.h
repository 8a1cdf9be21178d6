#pragma once

#include <cstddef>

#include "bits/bitvec.h"
#include "simulator/observables/pauli_product.h"

namespace velkor {

/// (-1)^sign times the product over qubits q of i^(x_q z_q) X^x_q Z^z_q: X sets x, Z sets z and
/// Y sets both, with no extra sign for Y.
struct PackedPauliObservable {
  BitVec x;
  BitVec z;
  bool sign = false;
};

/// The packed form of `product` over n qubits; every factor must lie below n.
PackedPauliObservable from_product(const PauliProduct& product, size_t n);

/// P := CNOT(control, target) P CNOT(control, target).
void conjugate_cnot(PackedPauliObservable& p, size_t control, size_t target);

/// P := CZ(a, b) P CZ(a, b).
void conjugate_cz(PackedPauliObservable& p, size_t a, size_t b);

}  // namespace velkor
