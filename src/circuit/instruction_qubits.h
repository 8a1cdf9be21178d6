#pragma once

#include <cstdint>
#include <type_traits>
#include <variant>

#include "circuit/instruction.h"

namespace velkor {

/// Calls see(q) for every qubit index `instruction` names, in order: gate, measurement, reset and
/// noise targets (every member of pairs and triples), the Feedback qubit and the factor qubits of
/// Pauli products (not their span). Record references name no qubit. With a non-const
/// instruction, `see` receives each index by reference and may change it.
template <class InstructionRef, class F>
void for_each_qubit(InstructionRef&& instruction, F&& see) {
  auto see_all = [&](auto& targets) {
    for (auto& t : targets) {
      using T = std::decay_t<decltype(t)>;
      if constexpr (std::is_same_v<T, uint64_t>) {
        see(t);
      } else if constexpr (std::is_same_v<T, MeasuredQubit>) {
        see(t.qubit);
      } else if constexpr (std::is_same_v<T, PauliProduct>) {
        for (auto& factor : t.factors) see(factor.first);
      } else {
        for (auto& q : t) see(q);
      }
    }
  };
  std::visit(
      [&](auto& op) {
        using T = std::decay_t<decltype(op)>;
        if constexpr (std::is_same_v<T, Feedback>) {
          see(op.qubit);
        } else if constexpr (std::is_same_v<T, MeasureProducts> || std::is_same_v<T, ExpVal>) {
          see_all(op.products);
        } else if constexpr (std::is_same_v<T, Noise>) {
          std::visit([&](auto& channel) { see_all(channel.targets); }, op.channel);
        } else if constexpr (!std::is_same_v<T, Detector> &&
                             !std::is_same_v<T, ObservableInclude>) {
          see_all(op.targets);
        }
      },
      instruction);
}

}  // namespace velkor
