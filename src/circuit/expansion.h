#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/expected.h"
#include "base/interrupt.h"
#include "circuit/instruction.h"
#include "circuit/statements.h"

namespace velkor {

/// The most instructions an expanded circuit may hold (at some 100 bytes each, more would
/// not fit in the memory of most machines).
constexpr uint64_t kMaxExpandedInstructions = uint64_t{1} << 27;
/// The most bytes an expanded circuit may take, its instructions' target lists and Pauli
/// products included: what kMaxExpandedInstructions instructions without such lists take.
constexpr uint64_t kMaxExpandedBytes = kMaxExpandedInstructions * sizeof(Instruction);

/// Number of instructions `circuit` expands to (a block repeated 0 times counts 0 whatever
/// its body), or the message refusing it: beyond kMaxExpandedInstructions, then beyond
/// kMaxExpandedBytes, each also when the count does not fit in 64 bits. Cost: linear in the
/// statements and their targets.
Expected<uint64_t, std::string> checked_expanded_size(const WrittenCircuit& circuit);

/// The instructions in execution order, every block's body copied `count` times in a row;
/// blocks that expand to nothing cost nothing. Fails at once like checked_expanded_size; throws
/// CapacityError when the expansion cannot be allocated. Steps `poll` once per copied run of
/// instructions. Cost: linear in the expanded circuit.
Expected<std::vector<Instruction>, std::string> expand(WrittenCircuit circuit, InterruptPoll& poll);

}  // namespace velkor
