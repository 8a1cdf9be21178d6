#include "sampling/qubit_renumbering.h"

#include <algorithm>
#include <charconv>
#include <iterator>

#include "circuit/instruction_qubits.h"

namespace velkor {
namespace {

// The distinct qubits of the list in increasing order, gathered in batches merged into the
// result, so that memory stays proportional to the distinct qubits rather than to the targets.
std::vector<uint64_t> qubits_named(const std::vector<Instruction>& instructions,
                                   InterruptPoll& poll) {
  std::vector<uint64_t> named, batch, merged;
  auto merge = [&] {
    std::sort(batch.begin(), batch.end());
    batch.erase(std::unique(batch.begin(), batch.end()), batch.end());
    merged.clear();
    std::set_union(named.begin(), named.end(), batch.begin(), batch.end(),
                   std::back_inserter(merged));
    named.swap(merged);
    batch.clear();
  };
  uint64_t last = UINT64_MAX;
  for (const Instruction& instruction : instructions) {
    poll.step();
    for_each_qubit(instruction, [&](uint64_t q) {
      if (q == last) return;
      last = q;
      batch.push_back(q);
      if (batch.size() >= std::max<size_t>(4096, named.size())) merge();
    });
  }
  merge();
  return named;
}

}  // namespace

std::vector<uint64_t> renumber_qubits(std::vector<Instruction>& instructions, InterruptPoll& poll) {
  std::vector<uint64_t> original = qubits_named(instructions, poll);
  if (original.empty() || original.back() == original.size() - 1) return original;
  auto dense = [&](uint64_t& q) {
    q = static_cast<uint64_t>(std::lower_bound(original.begin(), original.end(), q) -
                              original.begin());
  };
  for (Instruction& instruction : instructions) {
    poll.step();
    for_each_qubit(instruction, dense);
    auto shrink_spans = [](std::vector<PauliProduct>& products) {
      for (PauliProduct& product : products) {
        product.span = 0;
        for (const auto& factor : product.factors) {
          product.span = std::max(product.span, factor.first + 1);
        }
      }
    };
    if (auto* m = std::get_if<MeasureProducts>(&instruction)) shrink_spans(m->products);
    if (auto* e = std::get_if<ExpVal>(&instruction)) shrink_spans(e->products);
  }
  return original;
}

std::string with_original_qubit(std::string message, std::span<const uint64_t> original) {
  static constexpr std::string_view kQubit = "on qubit ";
  size_t start = message.find(kQubit);
  if (start == std::string::npos) return message;
  start += kQubit.size();
  uint64_t d = 0;
  auto [end, error] = std::from_chars(message.data() + start, message.data() + message.size(), d);
  if (error != std::errc() || d >= original.size()) return message;
  message.replace(start, static_cast<size_t>(end - (message.data() + start)),
                  std::to_string(original[d]));
  return message;
}

}  // namespace velkor
