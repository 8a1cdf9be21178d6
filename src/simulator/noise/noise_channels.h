#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "simulator/simulator.h"

namespace velkor {

/// Applies the Pauli of a two-bit code (0 identity, 1 X, 2 Y, 3 Z) to qubit q, growing the
/// register only for a non-identity code. No draw.
void apply_pauli_code(Simulator& sim, size_t q, uint8_t code);

/// Grow the register to q + 1, then apply X (Y, Z) with probability p in [0, 1]: one next_u64
/// when 0 < p < 1, no draw at p = 0 or 1.
void x_error(Simulator& sim, size_t q, double p);
void y_error(Simulator& sim, size_t q, double p);
void z_error(Simulator& sim, size_t q, double p);

/// With probability p, a uniformly chosen non-identity Pauli on the one, two or three qubits
/// (distinct): the trial draws as x_error does, and only a firing trial draws the uniform code in
/// [1, 4^k) (one next_u32, rarely two). The register grows to the largest qubit + 1 first.
void depolarize1(Simulator& sim, size_t q, double p);
void depolarize2(Simulator& sim, size_t a, size_t b, double p);
void depolarize3(Simulator& sim, size_t a, size_t b, size_t c, double p);

/// Applies code i + 1 with probability probabilities[i] (X, Y, Z). Nothing is drawn when all are
/// zero or one of them alone is 1.0; otherwise one uniform double selects the code. Does not
/// grow the register unless a Pauli is applied.
void pauli_channel1(Simulator& sim, size_t q, std::span<const double, 3> probabilities);

/// As pauli_channel1 over the fifteen two-qubit codes 1..15, code >> 2 acting on a and
/// code & 3 on b.
void pauli_channel2(Simulator& sim, size_t a, size_t b, std::span<const double, 15> probabilities);

}  // namespace velkor
