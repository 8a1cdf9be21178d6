#pragma once

#include <complex>
#include <cstddef>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "base/expected.h"
#include "bits/bitvec.h"
#include "simulator/simulator.h"

namespace velkor {

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};

/// A malloc'ed array of single-precision amplitudes; free() releases it, so it can be handed
/// to an owner that knows nothing of C++.
struct Amplitudes {
  std::unique_ptr<std::complex<float>[], FreeDeleter> data;
  size_t size = 0;
};

/// Largest register whose dense vector can be indexed at all.
inline constexpr size_t kMaxStateVectorQubits = 60;

/// The dense state over 2^num_qubits basis states in the given qubit order, its global phase
/// fixed so that the first non-zero amplitude is real and positive. Fills the support in blocks
/// of at least 2^12 paths, each block's phases coming from one Walsh-Hadamard transform of byte
/// sums over the phase terms: about one store per amplitude plus one pass over the terms per
/// block. Fails with a message naming the register size when the vector cannot be allocated.
Expected<Amplitudes, std::string> state_vector(const Simulator& sim, Endian order);

/// The unique path vector x with rows[q] . x == target[q] for every qubit, or nothing when no
/// x exists. `target` has num_qubits bits; for a basis state s pass s XOR offset. Reads the
/// simulator's pivot basis instead of eliminating: O(num_qubits * num_vars / 64).
std::optional<BitVec> to_basis_coordinates(const Simulator& sim, const BitVec& target);

}  // namespace velkor
