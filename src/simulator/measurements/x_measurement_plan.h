#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <variant>
#include <vector>

#include "base/expected.h"
#include "bits/bitvec.h"
#include "simulator/measurement_error.h"
#include "simulator/simulator.h"

namespace velkor {

/// How an X measurement of one qubit acts on the state, decided from the derivative D of the
/// phase polynomial along the qubit's flip. Outcome 0 is the +1 eigenvalue of X.
struct XMeasurementPlan {
  /// The state is an X eigenstate (D is the constant 0 or 4).
  struct Deterministic {
    bool outcome;
  };
  /// Flipping the qubit leaves the support; both outcomes 1/2, a fresh variable enters.
  struct NewCoordinate {};
  /// D = 4 * flip + 4 * parity(parity . x): each outcome keeps one half of the support.
  struct AffineSplit {
    BitVec parity;
    bool flip;
  };
  /// D takes only the values 2 and 6; each outcome adds phase gadgets.
  struct RankTwoPhase {
    BitVec parity;
    std::vector<BitVec> couplings;
    bool flip;
  };
  /// D takes the values constant and -constant, split by parity(mask . x); unequal outcomes.
  struct OddPhase {
    BitVec mask;
    double probability_zero;
    uint8_t constant;
  };

  std::variant<Deterministic, NewCoordinate, AffineSplit, RankTwoPhase, OddPhase> shape;

  /// Probability of outcome 0.
  double probability_zero() const;
};

/// Classifies an X measurement of qubit q (< num_qubits) without changing anything, or refuses it
/// with "X measurement on qubit {q} is incompatible: ..." when the outcome would leave the
/// representable family. Cost: one pass over the rows to find the flip direction, one
/// directional derivative and O(n^2 / 64) word checks; reuses per-thread buffers.
Expected<XMeasurementPlan, MeasurementError> classify_x_measurement(const Simulator& sim, size_t q);

/// Vectors (a, b) of n bits with bit k of rows[r] == (a_r AND b_k) XOR (b_r AND a_k) for all r, k,
/// or nothing when the symmetric matrix `rows` (n rows of n bits) has rank above two.
/// O(n^2 / 64).
std::optional<std::pair<BitVec, BitVec>> rank_two_decomposition(std::span<const BitVec> rows,
                                                                size_t n);

}  // namespace velkor
