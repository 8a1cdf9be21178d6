#pragma once

#include <cstddef>
#include <span>
#include <variant>

#include "base/expected.h"
#include "simulator/measurement_error.h"
#include "simulator/measurements/measure_z.h"
#include "simulator/observables/pauli_product.h"
#include "simulator/simulator.h"

namespace velkor {

/// One basis change applied to the state while a product is measured; each is its own undo up to
/// S_DAG, which S undoes.
struct ObservableBasisStep {
  struct Cnot {
    size_t control;
    size_t target;
  };
  struct Cz {
    size_t first;
    size_t second;
  };
  struct SDag {
    size_t qubit;
  };

  std::variant<Cnot, Cz, SDag> step;
};

/// Measures the product on a register that already spans it: CNOT, CZ and S_DAG gates turn it
/// into X or Z on its lowest qubit, which is measured (drawing as measure_x_raw or measure_z_raw
/// does) before the gates are undone. An identity product gives its sign with probability 1.0
/// and no draw. An X-measurement refusal comes back as "Pauli observable measurement is
/// incompatible: {refusal}" with the state restored. Cost: one X or Z measurement plus
/// O(|product| * num_vars / 64) for the gates.
Expected<MeasureResult, MeasurementError> measure_pauli_product_raw(Simulator& sim,
                                                                    const PauliProduct& product);

/// Undoes `steps`, last first.
void undo_observable_basis(Simulator& sim, std::span<const ObservableBasisStep> steps);

/// measure_pauli_product_raw on a register grown to the product's span. When it must grow and the
/// measurement may be refused, it runs on a copy, so that a refusal leaves the state, the
/// register size and the generator exactly as they were.
Expected<MeasureResult, MeasurementError> measure_pauli_product(Simulator& sim,
                                                                const PauliProduct& product);

/// measure_pauli_product, then the reported outcome (true = -1 eigenvalue) is flipped by a
/// Bernoulli draw with `flip_probability` in [0, 1] (no draw at 0 or 1). The state keeps the
/// unflipped result. Returns the refusal unchanged, with no flip drawn.
Expected<bool, MeasurementError> measure_observable(Simulator& sim, const PauliProduct& product,
                                                    double flip_probability);

}  // namespace velkor
