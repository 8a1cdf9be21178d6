#include "simulator/observables/pauli_product_expectation.h"

#include <gtest/gtest.h>

#include <random>

#include "simulator/gates/gates.h"
#include "simulator/measurements/measure_x.h"
#include "simulator/testing/dense_reference.h"

namespace velkor {
namespace {

TEST(PauliProductExpectation, AgreesWithTheDenseStateOnRandomStates) {
  std::mt19937_64 gen(23);
  int fractional = 0;
  for (int trial = 0; trial < 4000; ++trial) {
    size_t nq = 1 + gen() % 6;
    Simulator sim = reference::random_state(gen, nq, 1 + gen() % 30, trial, trial % 2);
    PauliProduct product{{}, 1 + gen() % (nq + 1), gen() % 2 == 0};
    for (size_t q = 0; q < product.span; ++q) {
      if (gen() % 3) product.factors.emplace_back(q, static_cast<Pauli>(gen() % 3));
    }
    Simulator grown = sim;
    grown.ensure_num_qubits(product.span);
    reference::Dense psi = reference::dense_state(grown);
    double want = reference::inner(psi, reference::apply_pauli(psi, product)).real();
    double got = pauli_product_expectation(sim, product);
    ASSERT_NEAR(got, want, 1e-9) << trial;
    fractional += std::abs(want) > 1e-9 && std::abs(want) < 1 - 1e-9;
  }
  EXPECT_GT(fractional, 50);
}

}  // namespace
}  // namespace velkor
