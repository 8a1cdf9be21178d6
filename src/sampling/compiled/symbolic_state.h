#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <unordered_set>
#include <vector>

#include "bits/bitvec.h"
#include "simulator/observables/pauli_product.h"

namespace velkor {

/// An affine function over GF(2) of a shot's random bits, as `words` 64-bit words: bit 0 is the
/// constant term and bit v the coefficient of random bit v (v >= 1).
using AffineSpan = std::span<uint64_t>;
using ConstAffineSpan = std::span<const uint64_t>;

/// The state of a circuit without T, T_DAG or CCZ, run once for every shot at the same time.
///
/// Without odd phase coefficients, the affine rows, the number of path variables and the
/// coefficient-2 part of the phase polynomial evolve the same way whatever the faults and the
/// measurement outcomes; only the offset bits and a linear coefficient-4 phase part change, and
/// both are affine functions of the shot's random bits. The state is held as: `rows` (shared),
/// the set of keys whose coefficient is 2 modulo 4 (shared), an affine offset per qubit, and an
/// affine coefficient-4 bit per path variable (the phase is the sum of 2 * [k.x] over the keys
/// plus 4 * [lambda.x]). Every update mirrors the interpreter's, so offsets and outcomes agree
/// with it bit for bit.
class SymbolicState {
 public:
  /// A register of `num_qubits` qubits in |0>, over random bits 1 .. num_random_bits.
  SymbolicState(size_t num_qubits, size_t num_random_bits);

  size_t words() const { return words_; }

  /// Offset bit of qubit q XOR= condition: X (or the X part of a Pauli) when the condition holds.
  void flip_offset(size_t q, ConstAffineSpan condition);
  /// Z on qubit q when the condition holds: a coefficient-4 term on its row.
  void phase_flip(size_t q, ConstAffineSpan condition);
  /// The unconditional gates of the interpreter.
  void x(size_t q);
  void z(size_t q);
  void s(size_t q);
  void s_dag(size_t q);
  void cnot(size_t control, size_t target);
  void cz(size_t a, size_t b);
  void swap(size_t a, size_t b);

  /// Z-basis measurement: the outcome as an affine function written to `outcome`. When the
  /// outcome is random it is random bit `coin`, and the call returns true.
  bool measure_z(size_t q, size_t coin, AffineSpan outcome);
  /// X-basis measurement, as measure_z.
  bool measure_x(size_t q, size_t coin, AffineSpan outcome);
  /// Pauli-product measurement through the interpreter's basis changes; `outcome` is the
  /// recorded bit (the product's sign included). Returns whether random bit `coin` was used.
  bool measure_product(const PauliProduct& product, size_t coin, AffineSpan outcome);
  /// A fresh path variable on qubit q, which must be in |0>: the qubit is then in |+>.
  void add_coordinate(size_t q);

  /// The expectation value of `product` as a choice between two doubles computed by the
  /// interpreter's own Gauss sum: `values[sign(shot)]`, with the affine sign written to `sign`.
  void expectation(const PauliProduct& product, double values[2], AffineSpan sign);

 private:
  AffineSpan offset(size_t q) { return {offsets_.data() + q * words_, words_}; }
  AffineSpan lambda(size_t j) { return {lambda_.data() + j * words_, words_}; }
  /// lambda_j XOR= condition for every j in key.
  void add_quarter_turns(const BitVec& key, ConstAffineSpan condition);
  /// Adds 2 * [key.x] to the phase (merging 2 + 2 into a coefficient-4 term).
  void toggle_half_turn(std::unordered_set<BitVec, BitVecHash>& keys, const BitVec& key);
  /// The gadget +-2 on `key` whose qubit constant is `constant`: increment 2 when
  /// constant XOR negate is 0, else 6.
  void half_turn_gadget(const BitVec& key, ConstAffineSpan constant, bool negate);
  /// Keeps the paths with normal . x = value; value may not alias the state.
  void restrict(const BitVec& normal, ConstAffineSpan value);
  /// The direction d over the variables with rows * d = target, if any.
  std::optional<BitVec> basis_coordinates(const BitVec& target) const;
  /// For direction d: the count of half-turn keys k with k.d = 1 and their XOR.
  size_t derivative(const BitVec& d, BitVec& linear) const;
  /// lambda . d written to out.
  void lambda_dot(const BitVec& d, AffineSpan out);

  size_t num_qubits_;
  size_t num_vars_ = 0;
  size_t words_;
  std::vector<BitVec> rows_;
  std::vector<uint64_t> offsets_;
  std::vector<uint64_t> lambda_;
  std::unordered_set<BitVec, BitVecHash> half_turns_;
  std::vector<uint64_t> scratch_;
};

}  // namespace velkor
