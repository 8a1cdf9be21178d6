#include "circuit/expansion.h"

#include <algorithm>
#include <new>

#include "base/checked_size.h"

namespace velkor {
namespace {

// Number of statements that follow `statement` as its body.
size_t body_size(const Statement& statement) {
  const Repeat* repeat = std::get_if<Repeat>(&statement);
  return repeat ? repeat->body_size : 0;
}

// Expanded size of every statement (nothing beyond 64 bits), children before parents.
std::vector<std::optional<uint64_t>> statement_sizes(const WrittenCircuit& circuit) {
  const std::vector<Statement>& statements = circuit.statements;
  std::vector<std::optional<uint64_t>> sizes(statements.size());
  for (size_t i = statements.size(); i-- > 0;) {
    if (const auto* run = std::get_if<InstructionRun>(&statements[i])) {
      sizes[i] = run->last - run->first;
      continue;
    }
    const Repeat& repeat = std::get<Repeat>(statements[i]);
    std::optional<uint64_t> body = 0;
    for (size_t j = i + 1; j <= i + repeat.body_size; j += 1 + body_size(statements[j])) {
      body = body && sizes[j] ? checked_add(*body, *sizes[j]) : std::nullopt;
    }
    sizes[i] = repeat.count == 0 ? std::optional<uint64_t>(0)
               : body            ? checked_mul(*body, repeat.count)
                                 : std::nullopt;
  }
  return sizes;
}

std::optional<uint64_t> total_size(const WrittenCircuit& circuit,
                                   const std::vector<std::optional<uint64_t>>& sizes) {
  std::optional<uint64_t> total = 0;
  for (size_t j = 0; j < circuit.statements.size(); j += 1 + body_size(circuit.statements[j])) {
    total = total && sizes[j] ? checked_add(*total, *sizes[j]) : std::nullopt;
  }
  return total;
}

std::string too_large(std::optional<uint64_t> size) {
  std::string count = size ? std::to_string(*size) : "more than 18446744073709551615";
  return "circuit is too large: it expands to " + count + " instructions, and at most " +
         std::to_string(kMaxExpandedInstructions) + " are supported";
}

}  // namespace

Expected<uint64_t, std::string> checked_expanded_size(const WrittenCircuit& circuit) {
  std::optional<uint64_t> total = total_size(circuit, statement_sizes(circuit));
  if (!total || *total > kMaxExpandedInstructions) return unexpected(too_large(total));
  return *total;
}

Expected<std::vector<Instruction>, std::string> expand(WrittenCircuit circuit) {
  std::vector<std::optional<uint64_t>> sizes = statement_sizes(circuit);
  std::optional<uint64_t> total = total_size(circuit, sizes);
  if (!total || *total > kMaxExpandedInstructions) return unexpected(too_large(total));
  const std::vector<Statement>& statements = circuit.statements;
  auto is_repeat = [](const Statement& s) { return std::holds_alternative<Repeat>(s); };
  if (std::none_of(statements.begin(), statements.end(), is_repeat)) {
    return std::move(circuit.instructions);
  }
  struct Open {
    size_t repeat;       // index of the Repeat statement
    uint64_t remaining;  // copies of the body still to make, this one included
  };
  std::vector<Open> open;
  std::vector<Instruction> out;
  try {
    out.reserve(*total);
    size_t i = 0;
    for (;;) {
      size_t level_end = open.empty()
                             ? statements.size()
                             : open.back().repeat + 1 + body_size(statements[open.back().repeat]);
      if (i == level_end) {
        if (open.empty()) break;
        if (--open.back().remaining > 0) {
          i = open.back().repeat + 1;
        } else {
          open.pop_back();
        }
        continue;
      }
      if (const auto* run = std::get_if<InstructionRun>(&statements[i])) {
        auto first = circuit.instructions.begin() + static_cast<ptrdiff_t>(run->first);
        auto last = circuit.instructions.begin() + static_cast<ptrdiff_t>(run->last);
        if (open.empty()) {
          // Top-level runs are copied exactly once: move them.
          out.insert(out.end(), std::make_move_iterator(first), std::make_move_iterator(last));
        } else {
          out.insert(out.end(), first, last);
        }
        ++i;
      } else if (sizes[i] == 0) {
        i += 1 + body_size(statements[i]);
      } else {
        open.push_back({i, std::get<Repeat>(statements[i]).count});
        ++i;
      }
    }
  } catch (const std::bad_alloc&) {
    return unexpected("circuit is too large: its " + std::to_string(*total) +
                      " expanded instructions do not fit in memory");
  }
  return out;
}

}  // namespace velkor
