#include "simulator/observables/pauli_product_expectation.h"

#include <gtest/gtest.h>

#include <random>

#include "simulator/gates/gates.h"
#include "simulator/measurements/measure_x.h"
#include "simulator/testing/dense_reference.h"

namespace velkor {
namespace {

double expectation(const Simulator& sim, const char* text) {
  return pauli_product_expectation(sim, *from_compact(text));
}

TEST(PauliProductExpectation, SingleQubitStates) {
  Simulator sim = Simulator::new_with_optional_seed(0);
  sim.ensure_num_qubits(1);
  reset_x_raw(sim, 0);
  EXPECT_EQ(expectation(sim, "X"), 1.0);
  EXPECT_EQ(expectation(sim, "-X"), -1.0);
  EXPECT_EQ(expectation(sim, "Y"), 0.0);
  EXPECT_EQ(expectation(sim, "Z"), 0.0);
  s(sim, 0);
  EXPECT_EQ(expectation(sim, "Y"), 1.0);
  EXPECT_EQ(expectation(sim, "X"), 0.0);
  s_dag(sim, 0);
  t(sim, 0);
  EXPECT_NEAR(expectation(sim, "X"), 0.7071067811865476, 1e-15);
  EXPECT_NEAR(expectation(sim, "Y"), 0.7071067811865476, 1e-15);
  x(sim, 0);  // X T |+>: <X> unchanged, <Y> negated
  EXPECT_NEAR(expectation(sim, "Y"), -0.7071067811865476, 1e-15);
}

TEST(PauliProductExpectation, QubitsBeyondTheRegisterAreZero) {
  Simulator sim = Simulator::new_with_optional_seed(0);
  sim.ensure_num_qubits(1);
  x(sim, 0);
  EXPECT_EQ(expectation(sim, "ZZ"), -1.0);
  EXPECT_EQ(expectation(sim, "-ZIZ"), 1.0);
  EXPECT_EQ(expectation(sim, "ZX"), 0.0);
  EXPECT_EQ(expectation(sim, "ZIIY"), 0.0);
  EXPECT_EQ(sim.num_qubits(), 1u);
}

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
