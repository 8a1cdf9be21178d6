#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <variant>
#include <vector>

#include "circuit/inline_vector.h"
#include "simulator/observables/pauli_product.h"

namespace velkor {

/// Basis of a single-qubit measurement or reset.
enum class Basis : uint8_t { Z, X };

/// Unitary gate kinds, in code order.
enum class GateKind : uint8_t { I, X, Y, Z, S, S_DAG, T, T_DAG, CX, CZ, CCZ, SWAP };

/// Number of qubits one application of `kind` acts on: 3 for CCZ, 2 for CX, CZ and SWAP, else 1.
constexpr size_t gate_arity(GateKind kind) {
  switch (kind) {
    case GateKind::CCZ:
      return 3;
    case GateKind::CX:
    case GateKind::CZ:
    case GateKind::SWAP:
      return 2;
    default:
      return 1;
  }
}

using QubitPair = std::array<uint64_t, 2>;
using QubitTriple = std::array<uint64_t, 3>;

struct MeasuredQubit {
  uint64_t qubit;
  bool inverted;
  bool operator==(const MeasuredQubit&) const = default;
};

// Target lists keep their first few values inline, so copying the instructions of a repeated
// block rarely allocates. They read like std::vector.
using Qubits = InlineVector<uint64_t, 2>;
using QubitPairs = InlineVector<QubitPair, 1>;
using QubitTriples = InlineVector<QubitTriple, 1>;
using MeasuredQubits = InlineVector<MeasuredQubit, 1>;
using Lookbacks = InlineVector<uint64_t, 2>;

/// A unitary gate applied to each group of gate_arity(kind) consecutive targets, in order.
/// CX and CZ always hold exactly one pair (control, target).
struct Gate {
  GateKind kind;
  Qubits targets;
  bool operator==(const Gate&) const = default;
};

/// Pauli `pauli` on `qubit`, applied when measurement result rec[-lookback] is 1.
struct Feedback {
  uint64_t lookback;  // >= 1
  uint64_t qubit;
  Pauli pauli;
  bool operator==(const Feedback&) const = default;
};

/// Single-qubit measurements, one result per target; `reset` puts each qubit back in the
/// outcome-0 state afterwards.
struct Measure {
  Basis basis;
  bool reset;
  std::optional<double> flip_probability;
  MeasuredQubits targets;
  bool operator==(const Measure&) const = default;
};

/// Pauli-product measurements, one result per product.
struct MeasureProducts {
  std::optional<double> flip_probability;
  std::vector<PauliProduct> products;
  bool operator==(const MeasureProducts&) const = default;
};

/// Expectation values of the products (never empty); adds nothing to the measurement record.
struct ExpVal {
  std::vector<PauliProduct> products;
  bool operator==(const ExpVal&) const = default;
};

struct Reset {
  Basis basis;
  Qubits targets;
  bool operator==(const Reset&) const = default;
};

/// X_ERROR, Y_ERROR or Z_ERROR.
struct PauliError {
  Pauli pauli;
  double probability;
  Qubits targets;
  bool operator==(const PauliError&) const = default;
};

struct Depolarize1 {
  double probability;
  Qubits targets;
  bool operator==(const Depolarize1&) const = default;
};

struct Depolarize2 {
  double probability;
  QubitPairs targets;
  bool operator==(const Depolarize2&) const = default;
};

struct Depolarize3 {
  double probability;
  QubitTriples targets;
  bool operator==(const Depolarize3&) const = default;
};

/// The three probabilities in written order.
struct PauliChannel1 {
  std::array<double, 3> probabilities;
  Qubits targets;
  bool operator==(const PauliChannel1&) const = default;
};

/// The fifteen probabilities in written order (held on the heap to keep Instruction small).
struct PauliChannel2 {
  std::vector<double> probabilities;
  QubitPairs targets;
  bool operator==(const PauliChannel2&) const = default;
};

using NoiseChannel =
    std::variant<PauliError, Depolarize1, Depolarize2, Depolarize3, PauliChannel1, PauliChannel2>;

struct Noise {
  NoiseChannel channel;
  bool operator==(const Noise&) const = default;
};

/// Lookbacks k >= 1 of the record targets rec[-k], in written order.
struct Detector {
  Lookbacks lookbacks;
  bool operator==(const Detector&) const = default;
};

struct ObservableInclude {
  uint64_t index;
  Lookbacks lookbacks;
  bool operator==(const ObservableInclude&) const = default;
};

/// One checked circuit instruction. The order of the alternatives is fixed: the sampler
/// dispatches on it.
using Instruction = std::variant<Gate, Feedback, Measure, MeasureProducts, ExpVal, Reset, Noise,
                                 Detector, ObservableInclude>;

}  // namespace velkor
