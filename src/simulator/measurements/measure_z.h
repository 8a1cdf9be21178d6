#pragma once

#include <cstddef>
#include <cstdint>

#include "simulator/simulator.h"

namespace velkor {

/// The eigenvalue sign of an outcome (+1 for 0, -1 for 1) and the probability of that outcome.
struct MeasureResult {
  int8_t sign;
  double probability;
};

/// Measures qubit q (already in the register) in the Z basis. Certain outcomes draw nothing;
/// otherwise one next_u64 decides (its top bit) and one path variable is eliminated.
MeasureResult measure_z_raw(Simulator& sim, size_t q);
/// Grows the register to q + 1, measures in Z; true for outcome 1.
bool measure(Simulator& sim, size_t q);
/// Measures q (already in the register) and flips it back to |0> when the outcome was 1.
void reset_z_raw(Simulator& sim, size_t q);
/// Probability that measuring q in Z gives 1; changes and draws nothing.
double peek_z_probability(const Simulator& sim, size_t q);

}  // namespace velkor
