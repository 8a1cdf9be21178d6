#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/expected.h"
#include "circuit/ast_instruction.h"

namespace velkor {

// Readers of an instruction's numeric arguments, returning a value or the first failure's
// message. Cost: linear in the number of arguments.

/// Exactly `count` probabilities of the instruction `name`, each finite and in [0, 1], whose
/// left-to-right sum is at most 1.
Expected<std::vector<double>, std::string> probabilities(std::span<const double> arguments,
                                                         size_t count, std::string_view name);

/// The optional readout-flip probability of a measurement: none without arguments.
Expected<std::optional<double>, std::string> measurement_probability(
    const AstInstruction& instruction);

/// The index of OBSERVABLE_INCLUDE: one non-negative integral argument that converts to an
/// unsigned 64-bit integer and back unchanged.
Expected<uint64_t, std::string> observable_index(std::span<const double> arguments);

}  // namespace velkor
