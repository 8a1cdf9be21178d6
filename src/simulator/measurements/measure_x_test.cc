#include "simulator/measurements/measure_x.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

#include "simulator/gates/gates.h"
#include "simulator/testing/dense_reference.h"

namespace velkor {
namespace {

using reference::same_record;

PauliProduct x_on(size_t q) { return {{{q, Pauli::X}}, q + 1, false}; }

TEST(MeasureX, AgreesWithTheDenseProjectionOnRandomStates) {
  std::mt19937_64 gen(3);
  std::map<size_t, int> shapes;
  int refused = 0, coupled_rank_two = 0;
  for (int trial = 0; trial < 8000; ++trial) {
    size_t nq = 1 + gen() % 6;
    Simulator sim = reference::random_state(gen, nq, 1 + gen() % 30, trial, trial % 2);
    size_t q = gen() % nq;
    reference::Dense psi = reference::dense_state(sim);
    reference::Dense minus = reference::project(psi, x_on(q), -1);
    double p1 = std::abs(reference::inner(minus, minus));
    auto plan = classify_x_measurement(sim, q);
    auto peek = peek_x_probability(sim, q);
    Simulator before = sim;
    auto result = measure_x_raw(sim, q);
    ASSERT_EQ(peek.has_value(), result.has_value());
    if (!result) {
      ++refused;
      ASSERT_TRUE(same_record(sim, before)) << trial;
      continue;
    }
    ++shapes[plan->shape.index()];
    if (auto* rank_two = std::get_if<XMeasurementPlan::RankTwoPhase>(&plan->shape)) {
      bool coupled = false;
      for (const BitVec& row : rank_two->couplings) coupled = coupled || !row.is_zero();
      coupled_rank_two += coupled;
    }
    ASSERT_NEAR(*peek, p1, 1e-9) << trial;
    int sign = result->sign;
    ASSERT_NEAR(result->probability, sign < 0 ? p1 : 1.0 - p1, 1e-9) << trial;
    reference::Dense want = reference::project(psi, x_on(q), sign);
    double norm = std::sqrt(result->probability);
    for (auto& a : want) a /= norm;
    ASSERT_TRUE(reference::same_ray(want, reference::dense_state(sim), 1e-9)) << trial;
  }
  EXPECT_GT(refused, 20);
  EXPECT_GT(coupled_rank_two, 5);
  for (size_t shape = 0; shape < 5; ++shape) EXPECT_GT(shapes[shape], 20) << "shape " << shape;
}

}  // namespace
}  // namespace velkor
