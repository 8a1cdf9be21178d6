#include "circuit/expansion.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <new>

#include "base/capacity_error.h"
#include "base/checked_size.h"

namespace velkor {
namespace {

// The machine's physical memory in bytes, or the largest value when it cannot be told.
uint64_t physical_memory_bytes() {
  long pages = sysconf(_SC_PHYS_PAGES), page_size = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || page_size <= 0) return UINT64_MAX;
  return checked_mul(static_cast<uint64_t>(pages), static_cast<uint64_t>(page_size))
      .value_or(UINT64_MAX);
}

// Bookkeeping bytes the allocator adds to every heap block.
constexpr uint64_t kBlockOverhead = 16;

template <class T, size_t N>
uint64_t heap_bytes(const InlineVector<T, N>& list) {
  return list.size() > N ? list.size() * sizeof(T) + kBlockOverhead : 0;
}

template <size_t N>
uint64_t heap_bytes(const std::array<double, N>&) {
  return 0;
}

uint64_t heap_bytes(const std::vector<double>& values) {
  return values.empty() ? 0 : values.size() * sizeof(double) + kBlockOverhead;
}

uint64_t heap_bytes(const std::vector<PauliProduct>& products) {
  if (products.empty()) return 0;
  uint64_t bytes = products.size() * sizeof(PauliProduct) + kBlockOverhead;
  for (const PauliProduct& product : products) {
    if (!product.factors.empty()) {
      bytes += product.factors.size() * sizeof(product.factors[0]) + kBlockOverhead;
    }
  }
  return bytes;
}

// Bytes one copy of `instruction` takes: the value and the heap blocks of its lists.
uint64_t instruction_bytes(const Instruction& instruction) {
  uint64_t bytes = sizeof(Instruction);
  auto add_lists = [&](const auto& op) {
    if constexpr (requires { op.targets; }) bytes += heap_bytes(op.targets);
    if constexpr (requires { op.products; }) bytes += heap_bytes(op.products);
    if constexpr (requires { op.lookbacks; }) bytes += heap_bytes(op.lookbacks);
    if constexpr (requires { op.probabilities; }) bytes += heap_bytes(op.probabilities);
  };
  std::visit(
      [&](const auto& op) {
        if constexpr (requires { op.channel; }) {
          std::visit(add_lists, op.channel);
        } else {
          add_lists(op);
        }
      },
      instruction);
  return bytes;
}

// Number of statements that follow `statement` as its body.
size_t body_size(const Statement& statement) {
  const Repeat* repeat = std::get_if<Repeat>(&statement);
  return repeat ? repeat->body_size : 0;
}

// Expanded size of every statement (nothing beyond 64 bits), children before parents, where an
// instruction run weighs weight(run).
template <class Weight>
std::vector<std::optional<uint64_t>> statement_sizes(const WrittenCircuit& circuit,
                                                     Weight&& weight) {
  const std::vector<Statement>& statements = circuit.statements;
  std::vector<std::optional<uint64_t>> sizes(statements.size());
  for (size_t i = statements.size(); i-- > 0;) {
    if (const auto* run = std::get_if<InstructionRun>(&statements[i])) {
      sizes[i] = weight(*run);
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

std::vector<std::optional<uint64_t>> instruction_counts(const WrittenCircuit& circuit) {
  return statement_sizes(circuit, [](const InstructionRun& run) -> std::optional<uint64_t> {
    return run.last - run.first;
  });
}

std::optional<uint64_t> total_size(const WrittenCircuit& circuit,
                                   const std::vector<std::optional<uint64_t>>& sizes) {
  std::optional<uint64_t> total = 0;
  for (size_t j = 0; j < circuit.statements.size(); j += 1 + body_size(circuit.statements[j])) {
    total = total && sizes[j] ? checked_add(*total, *sizes[j]) : std::nullopt;
  }
  return total;
}

std::string in_decimal(std::optional<uint64_t> size) {
  return size ? std::to_string(*size) : "more than 18446744073709551615";
}

// The refusal of an expansion to `count` instructions, or nothing when it fits.
std::optional<std::string> expansion_refusal(const WrittenCircuit& circuit,
                                             std::optional<uint64_t> count) {
  if (!count || *count > kMaxExpandedInstructions) {
    return "circuit is too large: it expands to " + in_decimal(count) +
           " instructions, and at most " + std::to_string(kMaxExpandedInstructions) +
           " are supported";
  }
  auto run_bytes = [&](const InstructionRun& run) -> std::optional<uint64_t> {
    std::optional<uint64_t> bytes = 0;
    for (size_t k = run.first; k < run.last && bytes; ++k) {
      bytes = checked_add(*bytes, instruction_bytes(circuit.instructions[k]));
    }
    return bytes;
  };
  std::optional<uint64_t> bytes = total_size(circuit, statement_sizes(circuit, run_bytes));
  if (!bytes || *bytes > kMaxExpandedBytes) {
    return "circuit is too large: its " + std::to_string(*count) + " expanded instructions take " +
           in_decimal(bytes) + " bytes, and at most " + std::to_string(kMaxExpandedBytes) +
           " are supported";
  }
  return std::nullopt;
}

}  // namespace

Expected<uint64_t, std::string> checked_expanded_size(const WrittenCircuit& circuit) {
  std::optional<uint64_t> count = total_size(circuit, instruction_counts(circuit));
  if (std::optional<std::string> refusal = expansion_refusal(circuit, count)) {
    return unexpected(std::move(*refusal));
  }
  return *count;
}

Expected<std::vector<Instruction>, std::string> expand(WrittenCircuit circuit,
                                                       InterruptPoll& poll) {
  std::vector<std::optional<uint64_t>> sizes = instruction_counts(circuit);
  std::optional<uint64_t> total = total_size(circuit, sizes);
  if (std::optional<std::string> refusal = expansion_refusal(circuit, total)) {
    return unexpected(std::move(*refusal));
  }
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
    // Where the kernel overcommits, a list larger than the machine's memory would be granted
    // and the process killed while filling it: refuse it as the allocator would.
    if (*total * sizeof(Instruction) > physical_memory_bytes()) throw std::bad_alloc();
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
        poll.step();
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
    throw CapacityError("circuit is too large: its " + std::to_string(*total) +
                        " expanded instructions do not fit in memory");
  }
  return out;
}

}  // namespace velkor
