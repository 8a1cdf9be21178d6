#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "simulator/expvals/quadratic_phase.h"
#include "simulator/simulator.h"

namespace velkor {

/// Buffers that directional_derivative_into reuses from call to call.
struct DerivativeWorkspace {
  std::vector<uint64_t> table;        // XORs of every subset of a group of odd keys
  std::vector<uint8_t> index;         // per variable: the subset of the group's keys holding it
  std::vector<uint64_t> low, high;    // bit-sliced linear coefficients
  std::vector<uint64_t> odd_members;  // union of the contributing odd keys
  std::vector<BitVec> spare_rows;     // coupling rows kept while the form has fewer variables
};

/// The change of the phase polynomial under the shift x -> x XOR d of the path variables:
/// phi(x XOR d) - phi(x) = constant + 2 * q(x) (mod 8) for every x. `d` holds var_words() words.
/// Only terms whose key has odd overlap with d contribute; each costs one AND-popcount per word
/// plus, for odd coefficients, one row XOR per variable of its key. Changes nothing.
QuadraticPhase directional_derivative(const Simulator& sim, std::span<const uint64_t> d);

/// The derivative along `d` when it is a constant: no term other than the coefficient-4 ones
/// (which are linear) has odd overlap with d. Nothing otherwise. One AND-popcount per word of
/// every term; builds no form.
std::optional<uint8_t> constant_derivative(const Simulator& sim, std::span<const uint64_t> d);

/// directional_derivative written into `form`, whose vectors and rows are reused, with the
/// scratch buffers of `workspace`: allocates nothing once the buffers have grown to the size.
void directional_derivative_into(const Simulator& sim, std::span<const uint64_t> d,
                                 QuadraticPhase& form, DerivativeWorkspace& workspace);

}  // namespace velkor
