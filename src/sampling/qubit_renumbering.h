#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "base/interrupt.h"
#include "circuit/instruction.h"

namespace velkor {

/// Renumbers the qubits `instructions` name to 0, 1, ..., k - 1, keeping their order, so that a
/// shot's register holds only the qubits the circuit uses, however large their indices. Returns
/// the k original indices in increasing order: entry d is the qubit now numbered d. Pauli
/// products' spans shrink to match. Leaves the list as it is when it already names every qubit
/// below k. Steps `poll` once per instruction and pass. Cost: linear in the targets times log k;
/// memory proportional to k.
std::vector<uint64_t> renumber_qubits(std::vector<Instruction>& instructions, InterruptPoll& poll);

/// A measurement refusal (which names its qubit as "on qubit {d}") naming original[d] instead.
std::string with_original_qubit(std::string message, std::span<const uint64_t> original);

}  // namespace velkor
