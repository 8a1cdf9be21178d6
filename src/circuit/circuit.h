#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "base/expected.h"
#include "circuit/instruction.h"

namespace velkor {

/// A checked circuit with every REPEAT block expanded: what the sampler runs.
struct Circuit {
  /// The whole circuit in execution order; a block repeated n times appears as n copies.
  std::vector<Instruction> instructions;
  /// One more than the largest qubit index any instruction names; 0 when none is named.
  size_t num_qubits = 0;

  /// Reads a circuit text (UTF-8): parses it, checks every written instruction once in text
  /// order, expands REPEAT blocks and checks every rec[-k] against the measurements before it.
  /// Fails with the one message a user sees (raised as ValueError). Cost: linear in the text
  /// plus the expanded circuit.
  static Expected<Circuit, std::string> try_parse(std::string_view text);
};

}  // namespace velkor
