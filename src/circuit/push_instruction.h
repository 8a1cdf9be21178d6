#pragma once

#include <string>
#include <vector>

#include "base/expected.h"
#include "circuit/ast_instruction.h"
#include "circuit/instruction.h"

namespace velkor {

/// Checks one written instruction and appends the Instruction values it stands for to `out`
/// (none for TICK, QUBIT_COORDS and SHIFT_COORDS, one per pair for CX, CNOT, CY and CZ, else
/// one). Fails with the message of the first failing check, in the order fixed per name; `out`
/// may then hold values appended for earlier pairs. Cost: linear in the instruction's text.
Expected<Ok, std::string> push_instruction(const AstInstruction& instruction,
                                           std::vector<Instruction>& out);

}  // namespace velkor
