#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/expected.h"
#include "circuit/ast_instruction.h"
#include "circuit/instruction.h"
#include "simulator/observables/pauli_product.h"

namespace velkor {

// Readers of target tokens. Each returns its value or the message of the first target that
// fails, in target order; messages quote target texts. Cost: linear in the targets' text.

/// `digits` as an unsigned 64-bit integer: one or more ASCII digits, leading zeros allowed.
/// Nothing for any other character, no digits, or a value beyond 64 bits.
std::optional<uint64_t> decimal_u64(std::string_view digits);

/// A qubit index, optionally "+"-signed; a leading "!" (inversion) only when `allow_inverted`.
Expected<MeasuredQubit, std::string> qubit_target(std::string_view text, bool allow_inverted);

/// Every target as a qubit, inversion not allowed.
Expected<Qubits, std::string> qubits(std::span<const std::string_view> targets);

/// Every target as a qubit, inversion allowed.
Expected<MeasuredQubits, std::string> measured_qubits(std::span<const std::string_view> targets);

/// The targets as consecutive pairs of different qubits.
Expected<QubitPairs, std::string> paired_qubits(const AstInstruction& instruction);

/// The targets as consecutive triples of three different qubits.
Expected<QubitTriples, std::string> tripled_qubits(const AstInstruction& instruction);

/// A product such as "X0*!Y1*Z2" of the instruction `name`; span is one more than the largest
/// qubit (saturating at the largest 64-bit value).
Expected<PauliProduct, std::string> pauli_product(std::string_view text, std::string_view name);

/// k of a record target "rec[-k]", k >= 1.
Expected<uint64_t, std::string> record_lookback(std::string_view text);

/// k of every record target.
Expected<Lookbacks, std::string> record_lookbacks(std::span<const std::string_view> targets);

}  // namespace velkor
