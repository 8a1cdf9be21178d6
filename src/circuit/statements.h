#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/expected.h"
#include "base/interrupt.h"
#include "circuit/instruction.h"

namespace velkor {

/// Consecutive written instructions of one block level, already checked and converted:
/// WrittenCircuit::instructions[first, last).
struct InstructionRun {
  size_t first;
  size_t last;
  bool operator==(const InstructionRun&) const = default;
};

/// A REPEAT block: its body is the `body_size` statements that follow it.
struct Repeat {
  uint64_t count;
  size_t body_size;
  bool operator==(const Repeat&) const = default;
};

using Statement = std::variant<InstructionRun, Repeat>;

/// A circuit as written: every instruction checked and converted once, in text order, and the
/// statements in pre-order, flat so that no depth of nesting needs recursion.
struct WrittenCircuit {
  std::vector<Instruction> instructions;
  std::vector<Statement> statements;
};

/// Parses `text` (valid UTF-8) and checks its statements: a parse failure first ("invalid Stim
/// circuit: " and the report), then the first REPEAT count beyond 64 bits, then the first
/// instruction in text order that fails its checks. Steps `poll` once per instruction. Cost:
/// linear in the text.
Expected<WrittenCircuit, std::string> read_statements(std::string_view text, InterruptPoll& poll);

}  // namespace velkor
