#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/expected.h"

namespace velkor {

/// A single-qubit Pauli factor, in code order.
enum class Pauli : uint8_t { X = 0, Y = 1, Z = 2 };

/// A signed product of single-qubit Paulis on distinct qubits.
struct PauliProduct {
  /// The non-identity factors in the order written; no qubit appears twice.
  std::vector<std::pair<uint64_t, Pauli>> factors;
  /// Number of qubits the product covers (identity positions of a compact text included).
  uint64_t span = 0;
  /// The product carries an overall minus sign.
  bool negated = false;

  bool operator==(const PauliProduct&) const = default;
};

/// Reads the compact form "+XIZ" / "-_Y": an optional sign, then one symbol per qubit
/// ("I" or "_" identity, "X", "Y", "Z"). Fails with the message of the first bad symbol.
Expected<PauliProduct, std::string> from_compact(std::string_view text);

}  // namespace velkor
