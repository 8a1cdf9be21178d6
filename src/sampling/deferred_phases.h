#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "circuit/instruction.h"
#include "simulator/simulator.h"

namespace velkor {

/// Single-qubit phase gates (Z, S, S_DAG, T, T_DAG) held back per qubit until something reads or
/// changes that qubit's row, so that the phases of consecutive gates on a qubit merge into one
/// coefficient, and a gate followed by its inverse, Pauli errors between them included, never
/// reaches the phase map. Qubit q's held coefficient c stands for the term
/// c * (row(q) . x XOR offset(q)); an X on q flips the offset and negates c, which is what the
/// phase map does to a term added before the flip, up to a global phase. The state is therefore
/// the same function whenever the phases have been flushed.
class DeferredPhases {
 public:
  /// Holds nothing, for a register of `num_qubits` qubits.
  void reset(size_t num_qubits);
  /// Whether a gate of this kind only changes phases and offsets (I, X, Y, Z, S, S_DAG, T,
  /// T_DAG), so that apply can take it.
  static bool takes(GateKind kind) {
    static_assert(GateKind::T_DAG < GateKind::CX && GateKind::T_DAG < GateKind::CZ &&
                  GateKind::T_DAG < GateKind::CCZ && GateKind::T_DAG < GateKind::SWAP);
    return kind <= GateKind::T_DAG;
  }
  /// Applies a gate that takes() accepts, holding its phases.
  void apply(Simulator& sim, const Gate& gate);
  /// X, Y or Z on q for Pauli code 1, 2 or 3 (0 does nothing), as apply_pauli_code.
  void apply_pauli_code(Simulator& sim, size_t q, uint8_t code);
  /// Adds every held phase to the phase map. Inline: every other instruction asks, and usually
  /// nothing is held.
  void flush(Simulator& sim) {
    if (!touched_.empty()) flush_touched(sim);
  }

 private:
  void flush_touched(Simulator& sim);
  void add(size_t q, uint8_t increment) {
    if (held_[q] == 0) touched_.push_back(q);
    held_[q] = static_cast<uint8_t>((held_[q] + increment) & 7);
  }
  void flip(Simulator& sim, size_t q) {
    held_[q] = static_cast<uint8_t>(-held_[q] & 7);
    sim.flip_offset(q);
  }

  std::vector<uint8_t> held_;    // per qubit, mod 8
  std::vector<size_t> touched_;  // the qubits that may hold a phase
};

}  // namespace velkor
