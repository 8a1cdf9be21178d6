#include "circuit/statements.h"

#include <optional>

#include "circuit/ast_instruction.h"
#include "circuit/failure_report.h"
#include "circuit/grammar.h"
#include "circuit/push_instruction.h"
#include "circuit/target_readers.h"

namespace velkor {
namespace {

// The first error of one kind, with the statement position it was found at, so that giving
// up a block attempt can forget errors found inside it.
struct FirstError {
  std::optional<std::string> message;
  size_t at = 0;

  void note(size_t position, std::string text) {
    if (message) return;
    message = std::move(text);
    at = position;
  }
  void forget_from(size_t position) {
    if (message && at >= position) message.reset();
  }
};

// Builds the written circuit from the statements the matcher reports. Once an instruction has
// failed, later ones are no longer converted: only an earlier failure could still win.
class StatementReader : public StatementSink {
 public:
  StatementReader(std::string_view text, WrittenCircuit& out, InterruptPoll& poll)
      : text_(text), out_(out), poll_(poll) {}

  void instruction(const InstructionMatch& match) override {
    poll_.step();
    size_t position = position_++;
    if (instruction_error.message) return;
    parse_instruction(text_, match, ast_);
    size_t first = out_.instructions.size();
    auto pushed = push_instruction(ast_, out_.instructions);
    if (!pushed) {
      instruction_error.note(position, std::move(pushed.error()));
      return;
    }
    size_t last = out_.instructions.size();
    if (last == first) return;
    if (open_run_) {
      std::get<InstructionRun>(out_.statements.back()).last = last;
    } else {
      out_.statements.push_back(InstructionRun{first, last});
      open_run_ = true;
    }
  }

  void begin_repeat(size_t, TextSpan count) override {
    size_t position = position_++;
    std::optional<uint64_t> value = decimal_u64(text_.substr(count.start, count.end - count.start));
    if (!value) count_error.note(position, "REPEAT count does not fit in usize");
    open_.push_back({out_.statements.size(), out_.instructions.size(), position});
    out_.statements.push_back(Repeat{value.value_or(0), 0});
    open_run_ = false;
  }

  void end_repeat(size_t) override {
    size_t index = open_.back().statement;
    std::get<Repeat>(out_.statements[index]).body_size = out_.statements.size() - index - 1;
    open_.pop_back();
    open_run_ = false;
  }

  void abandon_repeat() override {
    Open block = open_.back();
    open_.pop_back();
    out_.statements.resize(block.statement);
    out_.instructions.erase(out_.instructions.begin() + static_cast<ptrdiff_t>(block.instructions),
                            out_.instructions.end());
    position_ = block.position;
    count_error.forget_from(position_);
    instruction_error.forget_from(position_);
    open_run_ = false;
  }

  void restart() override {
    out_ = WrittenCircuit{};
    open_.clear();
    position_ = 0;
    open_run_ = false;
    count_error = {};
    instruction_error = {};
  }

  FirstError count_error;
  FirstError instruction_error;

 private:
  struct Open {
    size_t statement;     // index of the Repeat
    size_t instructions;  // instruction count when the block began
    size_t position;      // statement position of the block
  };

  std::string_view text_;
  WrittenCircuit& out_;
  InterruptPoll& poll_;
  AstInstruction ast_;
  std::vector<Open> open_;
  size_t position_ = 0;
  bool open_run_ = false;
};

}  // namespace

Expected<WrittenCircuit, std::string> read_statements(std::string_view text, InterruptPoll& poll) {
  WrittenCircuit circuit;
  StatementReader reader(text, circuit, poll);
  auto matched = match_file(text, reader);
  if (!matched) return unexpected("invalid Stim circuit: " + format_failure(text, matched.error()));
  if (reader.count_error.message) return unexpected(std::move(*reader.count_error.message));
  if (reader.instruction_error.message) {
    return unexpected(std::move(*reader.instruction_error.message));
  }
  return circuit;
}

}  // namespace velkor
