#include "circuit/circuit.h"

#include <algorithm>
#include <new>

#include "base/capacity_error.h"
#include "base/checked_size.h"
#include "circuit/expansion.h"
#include "circuit/instruction_qubits.h"
#include "circuit/statements.h"
#include "text/utf8.h"

namespace velkor {
namespace {

// Measurement results an instruction adds to the record.
uint64_t results_of(const Instruction& instruction) {
  if (const auto* m = std::get_if<Measure>(&instruction)) return m->targets.size();
  if (const auto* mpp = std::get_if<MeasureProducts>(&instruction)) return mpp->products.size();
  return 0;
}

// The first lookback of `instruction` that reaches before `results` results, if any.
std::optional<uint64_t> too_far(const Instruction& instruction, uint64_t results) {
  auto first_beyond = [&](const Lookbacks& ks) -> std::optional<uint64_t> {
    for (uint64_t k : ks) {
      if (k > results) return k;
    }
    return std::nullopt;
  };
  if (const auto* f = std::get_if<Feedback>(&instruction)) {
    if (f->lookback > results) return f->lookback;
  } else if (const auto* d = std::get_if<Detector>(&instruction)) {
    return first_beyond(d->lookbacks);
  } else if (const auto* o = std::get_if<ObservableInclude>(&instruction)) {
    return first_beyond(o->lookbacks);
  }
  return std::nullopt;
}

uint64_t saturating_add(uint64_t a, uint64_t b) { return checked_add(a, b).value_or(UINT64_MAX); }
uint64_t saturating_mul(uint64_t a, uint64_t b) { return checked_mul(a, b).value_or(UINT64_MAX); }

// Checks every rec[-k] against the results before it in execution order and finds the
// largest qubit, without expanding: each block body is walked once, as its first repetition,
// which sees the fewest earlier results; blocks repeated 0 times never run.
Expected<std::optional<uint64_t>, std::string> check_records_and_find_largest_qubit(
    const WrittenCircuit& circuit, InterruptPoll& poll) {
  const std::vector<Statement>& statements = circuit.statements;
  struct Open {
    size_t end;               // index after the block's body
    uint64_t count;           // repetitions
    uint64_t results_before;  // results before the block
  };
  std::vector<Open> open;
  uint64_t results = 0;
  std::optional<uint64_t> largest;
  auto see = [&](uint64_t q) { largest = largest ? std::max(*largest, q) : q; };
  for (size_t i = 0;;) {
    if (!open.empty() && i == open.back().end) {
      Open block = open.back();
      open.pop_back();
      results = saturating_add(block.results_before,
                               saturating_mul(results - block.results_before, block.count));
      continue;
    }
    if (i == statements.size()) break;
    if (const auto* run = std::get_if<InstructionRun>(&statements[i])) {
      for (size_t k = run->first; k < run->last; ++k) {
        poll.step();
        const Instruction& instruction = circuit.instructions[k];
        if (std::optional<uint64_t> k_too_far = too_far(instruction, results)) {
          return unexpected("record target rec[-" + std::to_string(*k_too_far) +
                            "] refers before the beginning of the measurement record");
        }
        results = saturating_add(results, results_of(instruction));
        for_each_qubit(instruction, see);
      }
      ++i;
      continue;
    }
    const Repeat& repeat = std::get<Repeat>(statements[i]);
    if (repeat.count == 0) {
      i += 1 + repeat.body_size;
    } else {
      open.push_back({i + 1 + repeat.body_size, repeat.count, results});
      ++i;
    }
  }
  return largest;
}

// Circuit::try_parse, short of turning exhausted memory into a message.
Expected<Circuit, std::string> read_circuit(std::string_view text, InterruptPoll& poll) {
  if (std::optional<size_t> bad = first_invalid_utf8(text)) {
    return unexpected("circuit text is not valid UTF-8 (invalid byte at offset " +
                      std::to_string(*bad) + ")");
  }
  auto written = read_statements(text, poll);
  if (!written) return unexpected(std::move(written.error()));
  // Refuse an oversized expansion before anything else is done with it.
  if (auto size = checked_expanded_size(*written); !size)
    return unexpected(std::move(size.error()));
  auto largest = check_records_and_find_largest_qubit(*written, poll);
  if (!largest) return unexpected(std::move(largest.error()));
  // A register one larger than the largest 64-bit index cannot be numbered.
  if (*largest == UINT64_MAX) {
    return unexpected("qubit index " + std::to_string(**largest) + " is too large");
  }
  auto instructions = expand(std::move(*written), poll);
  if (!instructions) return unexpected(std::move(instructions.error()));
  Circuit circuit;
  circuit.num_qubits = *largest ? **largest + 1 : 0;
  circuit.instructions = std::move(*instructions);
  return circuit;
}

}  // namespace

Expected<Circuit, std::string> Circuit::try_parse(std::string_view text,
                                                  const InterruptCheck& interrupted) {
  InterruptPoll poll(interrupted);
  try {
    return read_circuit(text, poll);
  } catch (const std::bad_alloc&) {
    throw CapacityError("cannot allocate the memory to read a circuit text of " +
                        std::to_string(text.size()) + " bytes");
  }
}

}  // namespace velkor
