#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "base/expected.h"

namespace velkor {

/// The rules of the circuit grammar, in the order failure reports list them.
enum class Rule : uint8_t {
  EOI,
  WHITESPACE,
  COMMENT,
  file,
  statement,
  repeat_block,
  instruction,
  arguments,
  target,
  identifier,
  unsigned_,  // written "unsigned"
  number,
  line_end,
};

/// The rule's name as failure reports write it ("EOI", "repeat_block", "unsigned", ...).
std::string_view rule_name(Rule rule);

/// Byte offsets [start, end) into the circuit text.
struct TextSpan {
  size_t start = 0;
  size_t end = 0;
  bool operator==(const TextSpan&) const = default;
};

/// Why a text does not match `file`: the furthest offset any rule failed at, and the rules
/// expected there in rule order without duplicates.
struct ParseFailure {
  size_t furthest_position = 0;
  std::vector<Rule> expected_rules;
  bool operator==(const ParseFailure&) const = default;
};

/// The nodes of one matched `instruction`: the node itself, its `identifier`, its optional
/// `arguments` node with the `number` nodes inside, and its `target` nodes.
struct InstructionMatch {
  TextSpan node;
  TextSpan identifier;
  std::optional<TextSpan> arguments;
  std::vector<TextSpan> numbers;
  std::vector<TextSpan> targets;
};

/// Receives the statements of a text in text order while it is matched. Block attempts that
/// turn out not to match are taken back with abandon_repeat.
class StatementSink {
 public:
  virtual ~StatementSink() = default;
  /// One `instruction` statement. `match` is only valid during the call.
  virtual void instruction(const InstructionMatch& match) = 0;
  /// A `repeat_block` may start at `start`, with the `unsigned` node `count`; the statements
  /// of its body follow until end_repeat or abandon_repeat.
  virtual void begin_repeat(size_t start, TextSpan count) = 0;
  /// The innermost begun block matched; its node ends at `end`.
  virtual void end_repeat(size_t end) = 0;
  /// The innermost begun block did not match: forget it and everything reported inside it.
  virtual void abandon_repeat() = 0;
  /// Forget everything reported so far; the statements are reported again from the start.
  virtual void restart() = 0;
};

/// Matches `text` (UTF-8) against the rule `file`, reporting its statements to `sink`, or
/// fails with the furthest failure. Cost: linear in the text; no recursion, so blocks may nest
/// to any depth.
Expected<Ok, ParseFailure> match_file(std::string_view text, StatementSink& sink);

}  // namespace velkor
