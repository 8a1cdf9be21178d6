#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/expected.h"
#include "circuit/instruction.h"
#include "circuit/statements.h"

namespace velkor {

/// The most instructions an expanded circuit may hold (at some 100 bytes each, more would
/// not fit in the memory of most machines).
constexpr uint64_t kMaxExpandedInstructions = uint64_t{1} << 27;

/// Number of instructions `circuit` expands to, or nothing beyond 64 bits. A block repeated
/// 0 times counts 0 whatever its body. Cost: linear in the statements.
std::optional<uint64_t> expanded_size(const WrittenCircuit& circuit);

/// The instructions in execution order, every block's body copied `count` times in a row;
/// blocks that expand to nothing cost nothing. Fails at once, naming the size, when the
/// expansion exceeds kMaxExpandedInstructions or cannot be allocated. Cost: linear in the
/// expanded circuit.
Expected<std::vector<Instruction>, std::string> expand(WrittenCircuit circuit);

}  // namespace velkor
