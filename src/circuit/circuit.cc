#include "circuit/circuit.h"

#include <algorithm>

#include "circuit/expansion.h"
#include "circuit/statements.h"

namespace velkor {
namespace {

// Offset of the first byte that does not belong to a well-formed UTF-8 sequence.
std::optional<size_t> first_invalid_utf8(std::string_view text) {
  size_t k = 0;
  while (k < text.size()) {
    unsigned char b = static_cast<unsigned char>(text[k]);
    if (b < 0x80) {
      ++k;
      continue;
    }
    size_t len = (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
    if (len == 0 || text.size() - k < len) return k;
    uint32_t c = b & (0x7F >> len);
    for (size_t j = 1; j < len; ++j) {
      unsigned char cont = static_cast<unsigned char>(text[k + j]);
      if ((cont & 0xC0) != 0x80) return k;
      c = (c << 6) | (cont & 0x3F);
    }
    static constexpr uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < kSmallest[len] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return k;
    k += len;
  }
  return std::nullopt;
}

// Every rec[-k] must reach a measurement made before it, in execution order.
std::optional<std::string> check_record_references(const std::vector<Instruction>& instructions) {
  uint64_t results = 0;
  std::optional<uint64_t> too_far;
  auto check = [&](uint64_t k) {
    if (!too_far && k > results) too_far = k;
  };
  for (const Instruction& instruction : instructions) {
    if (const auto* m = std::get_if<Measure>(&instruction)) {
      results += m->targets.size();
    } else if (const auto* mpp = std::get_if<MeasureProducts>(&instruction)) {
      results += mpp->products.size();
    } else if (const auto* feedback = std::get_if<Feedback>(&instruction)) {
      check(feedback->lookback);
    } else if (const auto* detector = std::get_if<Detector>(&instruction)) {
      for (uint64_t k : detector->lookbacks) check(k);
    } else if (const auto* observable = std::get_if<ObservableInclude>(&instruction)) {
      for (uint64_t k : observable->lookbacks) check(k);
    }
    if (too_far) {
      return "record target rec[-" + std::to_string(*too_far) +
             "] refers before the beginning of the measurement record";
    }
  }
  return std::nullopt;
}

// The largest qubit any instruction names, or nothing when none is named.
std::optional<uint64_t> largest_qubit(const std::vector<Instruction>& instructions) {
  std::optional<uint64_t> largest;
  auto see = [&](uint64_t q) { largest = largest ? std::max(*largest, q) : q; };
  auto see_products = [&](const std::vector<PauliProduct>& products) {
    for (const PauliProduct& p : products) {
      for (const auto& factor : p.factors) see(factor.first);
    }
  };
  auto see_groups = [&](const auto& groups) {
    for (const auto& group : groups) {
      for (uint64_t q : group) see(q);
    }
  };
  for (const Instruction& instruction : instructions) {
    std::visit(
        [&](const auto& op) {
          using T = std::decay_t<decltype(op)>;
          if constexpr (std::is_same_v<T, Gate> || std::is_same_v<T, Reset>) {
            for (uint64_t q : op.targets) see(q);
          } else if constexpr (std::is_same_v<T, Feedback>) {
            see(op.qubit);
          } else if constexpr (std::is_same_v<T, Measure>) {
            for (const MeasuredQubit& t : op.targets) see(t.qubit);
          } else if constexpr (std::is_same_v<T, MeasureProducts> || std::is_same_v<T, ExpVal>) {
            see_products(op.products);
          } else if constexpr (std::is_same_v<T, Noise>) {
            std::visit(
                [&](const auto& channel) {
                  using C = std::decay_t<decltype(channel)>;
                  if constexpr (std::is_same_v<C, Depolarize2> || std::is_same_v<C, Depolarize3> ||
                                std::is_same_v<C, PauliChannel2>) {
                    see_groups(channel.targets);
                  } else {
                    for (uint64_t q : channel.targets) see(q);
                  }
                },
                op.channel);
          }
        },
        instruction);
  }
  return largest;
}

}  // namespace

Expected<Circuit, std::string> Circuit::try_parse(std::string_view text) {
  if (std::optional<size_t> bad = first_invalid_utf8(text)) {
    return unexpected("circuit text is not valid UTF-8 (invalid byte at offset " +
                      std::to_string(*bad) + ")");
  }
  auto written = read_statements(text);
  if (!written) return unexpected(std::move(written.error()));
  auto instructions = expand(std::move(*written));
  if (!instructions) return unexpected(std::move(instructions.error()));
  if (auto message = check_record_references(*instructions)) {
    return unexpected(std::move(*message));
  }
  std::optional<uint64_t> largest = largest_qubit(*instructions);
  // A register one larger than the largest 64-bit index cannot be numbered.
  if (largest == UINT64_MAX)
    return unexpected("qubit index " + std::to_string(*largest) + " is too large");
  Circuit circuit;
  circuit.num_qubits = largest ? *largest + 1 : 0;
  circuit.instructions = std::move(*instructions);
  return circuit;
}

}  // namespace velkor
