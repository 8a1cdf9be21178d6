#pragma once

#include <cstddef>

#include "base/expected.h"
#include "simulator/measurement_error.h"
#include "simulator/measurements/measure_z.h"
#include "simulator/measurements/x_measurement_plan.h"
#include "simulator/simulator.h"

namespace velkor {

/// Measures qubit q (< num_qubits) in the X basis: classifies, draws the outcome (nothing when it
/// is certain, otherwise one Bernoulli draw with the probability of outcome 0, the fair coin at
/// 1/2) and updates the state. A refusal is returned before anything changes or is drawn.
Expected<MeasureResult, MeasurementError> measure_x_raw(Simulator& sim, size_t q);

/// Grows the register to q + 1 qubits, then measure_x_raw; true for the -1 eigenvalue. The
/// register stays grown when the measurement is refused.
Expected<bool, MeasurementError> measure_x(Simulator& sim, size_t q);

/// Probability that an X measurement of q gives 1 (the -1 eigenvalue); 0.5 beyond the register.
/// Changes and draws nothing; fails as measure_x_raw would.
Expected<double, MeasurementError> peek_x_probability(const Simulator& sim, size_t q);

/// Puts qubit q (< num_qubits) into |+>: a Z reset (one draw when the qubit is not in a basis
/// state), then a fresh variable on the qubit. Never fails.
void reset_x_raw(Simulator& sim, size_t q);

}  // namespace velkor
