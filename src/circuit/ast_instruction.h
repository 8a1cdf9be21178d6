#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "circuit/grammar.h"

namespace velkor {

/// One instruction as written, not yet checked.
struct AstInstruction {
  /// The identifier with ASCII letters upper-cased, so names compare case-insensitively.
  std::string name;
  /// The numbers of the argument list, in order; empty without a list or for "()".
  std::vector<double> arguments;
  /// The target tokens exactly as written (views into the circuit text).
  std::vector<std::string_view> targets;
};

/// Fills `out` from the matched instruction `match` of `text`, reusing out's buffers.
/// Never fails on a match the grammar produced. Cost: linear in the instruction's text.
void parse_instruction(std::string_view text, const InstructionMatch& match, AstInstruction& out);

/// The double nearest to the `number` text (sign, digits, point, exponent); values beyond
/// the double range become infinities or zeros of the same sign.
double number_value(std::string_view text);

}  // namespace velkor
