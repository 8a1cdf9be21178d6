#pragma once

#include <cstdint>
#include <span>

#include "simulator/expvals/quadratic_phase.h"
#include "simulator/simulator.h"

namespace velkor {

/// The change of the phase polynomial under the shift x -> x XOR d of the path variables:
/// phi(x XOR d) - phi(x) = constant + 2 * q(x) (mod 8) for every x. `d` holds var_words() words.
/// Only terms whose key has odd overlap with d contribute; each costs one AND-popcount per word
/// plus, for odd coefficients, one row XOR per variable of its key. Changes nothing.
QuadraticPhase directional_derivative(const Simulator& sim, std::span<const uint64_t> d);

}  // namespace velkor
