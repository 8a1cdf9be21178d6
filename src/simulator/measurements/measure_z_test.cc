#include "simulator/measurements/measure_z.h"

#include <gtest/gtest.h>

#include "simulator/gates/gates.h"

namespace velkor {
namespace {

TEST(MeasureZ, CertainOutcomesDrawNothing) {
  Simulator sim = Simulator::new_with_optional_seed(0);
  ChaCha8Rng before = sim.rng();
  EXPECT_FALSE(measure(sim, 7));
  EXPECT_EQ(sim.num_qubits(), 8u);
  x(sim, 2);
  EXPECT_TRUE(measure(sim, 2));
  EXPECT_EQ(sim.rng(), before);
  EXPECT_EQ(peek_z_probability(sim, 2), 1.0);
  EXPECT_EQ(peek_z_probability(sim, 100), 0.0);
  EXPECT_EQ(sim.num_qubits(), 8u);
}

TEST(MeasureZ, SeededOutcomes) {
  for (auto [seed, expected] : {std::pair<uint64_t, std::vector<bool>>{0, {1, 0, 1, 0, 1, 1, 1, 1}},
                                {42, {1, 1, 0, 1, 0, 0, 0, 1}}}) {
    Simulator sim = Simulator::new_with_optional_seed(seed);
    for (size_t q = 0; q < 8; ++q) sim.add_affine_coordinate(q, false);
    EXPECT_EQ(peek_z_probability(sim, 3), 0.5);
    std::vector<bool> got;
    for (size_t q = 0; q < 8; ++q) got.push_back(measure(sim, q));
    EXPECT_EQ(got, expected);
    EXPECT_EQ(sim.num_vars(), 0u);
  }
}

TEST(MeasureZ, BellPairCorrelatesAndResetClears) {
  for (uint64_t seed = 0; seed < 16; ++seed) {
    Simulator sim = Simulator::new_with_optional_seed(seed);
    sim.add_affine_coordinate(0, false);
    cnot(sim, 0, 1);
    bool first = measure(sim, 0);
    ChaCha8Rng after_first = sim.rng();
    EXPECT_EQ(measure(sim, 1), first);
    EXPECT_EQ(sim.rng(), after_first);
    reset_z_raw(sim, 1);
    EXPECT_FALSE(sim.offset(1));
  }
}

}  // namespace
}  // namespace velkor
