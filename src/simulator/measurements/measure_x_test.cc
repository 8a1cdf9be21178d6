#include "simulator/measurements/measure_x.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

#include "simulator/gates/gates.h"
#include "simulator/testing/dense_reference.h"

namespace velkor {
namespace {

using reference::plus_state;
using reference::same_record;

PauliProduct x_on(size_t q) { return {{{q, Pauli::X}}, q + 1, false}; }

TEST(MeasureX, FreshQubitIsAFairCoinThenRepeats) {
  for (uint64_t seed : {0, 42}) {
    Simulator sim = Simulator::new_with_optional_seed(seed);
    ChaCha8Rng ref = ChaCha8Rng::seed_from_u64(seed);
    EXPECT_EQ(*peek_x_probability(sim, 3), 0.5);
    EXPECT_EQ(sim.num_qubits(), 0u);
    bool top = ref.next_u64() >> 63;
    EXPECT_EQ(*measure_x(sim, 3), top);
    EXPECT_EQ(sim.num_qubits(), 4u);
    EXPECT_EQ(sim.num_vars(), 1u);
    EXPECT_EQ(sim.rng(), ref);
    auto again = measure_x_raw(sim, 3);
    EXPECT_EQ(again->sign, top ? -1 : 1);
    EXPECT_EQ(again->probability, 1.0);
    EXPECT_EQ(sim.rng(), ref);
    EXPECT_EQ(*peek_x_probability(sim, 3), top ? 1.0 : 0.0);
  }
}

TEST(MeasureX, ResetAndZGiveCertainOutcomes) {
  Simulator sim = Simulator::new_with_optional_seed(1);
  x(sim, 0);
  reset_x_raw(sim, 0);  // |1> is a basis state: no draw
  EXPECT_EQ(sim.rng(), ChaCha8Rng::seed_from_u64(1));
  EXPECT_EQ(*peek_x_probability(sim, 0), 0.0);
  EXPECT_EQ(*measure_x(sim, 0), false);
  z(sim, 0);
  auto r = measure_x_raw(sim, 0);
  EXPECT_EQ(r->sign, -1);
  EXPECT_EQ(r->probability, 1.0);
  EXPECT_EQ(sim.rng(), ChaCha8Rng::seed_from_u64(1));
}

TEST(MeasureX, ResetXSeedsTheSameOutcomesAsTheFreshVariables) {
  for (auto [seed, bits] : {std::pair<uint64_t, std::array<int, 8>>{0, {1, 0, 1, 0, 1, 1, 1, 1}},
                            {42, {1, 1, 0, 1, 0, 0, 0, 1}}}) {
    Simulator sim = Simulator::new_with_optional_seed(seed);
    sim.ensure_num_qubits(8);
    for (size_t q = 0; q < 8; ++q) reset_x_raw(sim, q);
    for (size_t q = 0; q < 8; ++q) EXPECT_EQ(measure(sim, q), bits[q] == 1) << seed << " " << q;
  }
}

TEST(MeasureX, TStateDrawsOnceWithUnequalProbabilities) {
  int zeros = 0;
  for (uint64_t seed = 0; seed < 64; ++seed) {
    Simulator sim = Simulator::new_with_optional_seed(seed);
    sim.ensure_num_qubits(1);
    reset_x_raw(sim, 0);
    t(sim, 0);
    double p0 = (std::cos(0.7853981633974483) + 1.0) * 0.5;
    EXPECT_EQ(*peek_x_probability(sim, 0), 1.0 - p0);
    ChaCha8Rng ref = sim.rng();
    bool want = !(ref.next_u64() < static_cast<uint64_t>(p0 * 18446744073709551616.0));
    auto r = measure_x_raw(sim, 0);
    EXPECT_EQ(sim.rng(), ref);
    EXPECT_EQ(r->sign < 0, want);
    EXPECT_EQ(r->probability, want ? 1.0 - p0 : p0);
    // The outcome's gadget leaves an X eigenstate: outcome 0 undoes the T exactly.
    EXPECT_EQ(*peek_x_probability(sim, 0), want ? 1.0 : 0.0);
    if (!want) {
      EXPECT_TRUE(sim.phase().empty());
    }
    zeros += !want;
  }
  EXPECT_GT(zeros, 40);
  EXPECT_LT(zeros, 64);
}

TEST(MeasureX, CczRefusalChangesNothing) {
  Simulator sim = Simulator::new_with_optional_seed(9);
  sim.ensure_num_qubits(3);
  for (size_t q = 0; q < 3; ++q) reset_x_raw(sim, q);
  ccz(sim, 0, 1, 2);
  Simulator before = sim;
  const char* message = "X measurement on qubit 1 is incompatible: non-affine zero set";
  EXPECT_EQ(measure_x(sim, 1).error().message, message);
  EXPECT_TRUE(same_record(sim, before));
  EXPECT_EQ(peek_x_probability(sim, 1).error().message, message);
}

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
