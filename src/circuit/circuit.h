#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "base/expected.h"
#include "base/interrupt.h"
#include "circuit/instruction.h"

namespace velkor {

/// A checked circuit with every REPEAT block expanded: what the sampler runs.
struct Circuit {
  /// The whole circuit in execution order; a block repeated n times appears as n copies.
  std::vector<Instruction> instructions;
  /// One more than the largest qubit index any instruction names; 0 when none is named.
  size_t num_qubits = 0;

  /// Reads a circuit text: parses it, checks every written instruction once in text order,
  /// checks every rec[-k] against the measurements before it in execution order and expands
  /// REPEAT blocks. Fails with the one message a user sees (raised as ValueError), in this
  /// order: bytes that are not UTF-8, a parse failure, a REPEAT count beyond 64 bits, the first
  /// failing instruction, an expansion beyond kMaxExpandedInstructions or kMaxExpandedBytes
  /// (circuit/expansion.h), the first record reference reaching too far, a qubit index of
  /// 2^64 - 1. Cost: linear in the text plus the expanded circuit; no recursion at any nesting
  /// depth. `interrupted` is asked every so many steps; when it says stop, throws Interrupted.
  /// Throws CapacityError, naming what did not fit, when memory runs out.
  static Expected<Circuit, std::string> try_parse(std::string_view text,
                                                  const InterruptCheck& interrupted = {});
};

}  // namespace velkor
