#include "simulator/expvals/directional_derivative.h"

#include <gtest/gtest.h>

#include <random>

#include "simulator/testing/dense_reference.h"

namespace velkor {
namespace {

using testing::phase_at;

TEST(DirectionalDerivative, EqualsThePhaseDifferenceOnRandomStates) {
  std::mt19937_64 gen(11);
  for (int trial = 0; trial < 400; ++trial) {
    Simulator sim = testing::random_state(gen, 2 + gen() % 7, 40, trial);
    size_t n = sim.num_vars();
    for (uint64_t d = 0; d < (uint64_t{1} << n); d += 1 + gen() % 3) {
      QuadraticPhase form = directional_derivative(sim, std::span<const uint64_t>(&d, n ? 1 : 0));
      ASSERT_EQ(form.linear.size(), n);
      for (size_t j = 0; j < n; ++j) {
        ASSERT_LT(form.linear[j], 4);
        ASSERT_FALSE(form.quadratic[j].get(j));
        for (size_t k = 0; k < n; ++k)
          ASSERT_EQ(form.quadratic[j].get(k), form.quadratic[k].get(j));
      }
      for (uint64_t x = 0; x < (uint64_t{1} << n); ++x) {
        unsigned q = 0;
        for (size_t j = 0; j < n; ++j) {
          if (!((x >> j) & 1)) continue;
          q += form.linear[j];
          for (size_t k = j + 1; k < n; ++k)
            q += ((x >> k) & 1) && form.quadratic[j].get(k) ? 2 : 0;
        }
        ASSERT_EQ((phase_at(sim, x ^ d) + 8 - phase_at(sim, x)) & 7, (form.constant + 2 * q) & 7)
            << "trial " << trial << " d " << d << " x " << x;
      }
    }
  }
}

TEST(DirectionalDerivative, OnlyOddOverlapsContribute) {
  Simulator sim = Simulator::new_with_optional_seed(0);
  for (size_t q = 0; q < 3; ++q) testing::plus_state(sim, q);
  uint64_t both = 0b011, first = 0b001;
  sim.add_phase_gadget(std::span<const uint64_t>(&both, 1), 1);   // even overlap with d = x0 ^ x1
  sim.add_phase_gadget(std::span<const uint64_t>(&first, 1), 2);  // odd overlap, even coefficient
  uint64_t d = 0b011;
  QuadraticPhase form = directional_derivative(sim, std::span<const uint64_t>(&d, 1));
  EXPECT_EQ(form.constant, 2);
  EXPECT_EQ(form.linear, (std::vector<uint8_t>{2, 0, 0}));
  for (const BitVec& row : form.quadratic) EXPECT_TRUE(row.is_zero());

  uint64_t zero = 0;
  QuadraticPhase none = directional_derivative(sim, std::span<const uint64_t>(&zero, 1));
  EXPECT_EQ(none.constant, 0);
  EXPECT_EQ(none.linear, (std::vector<uint8_t>{0, 0, 0}));
  for (const BitVec& row : none.quadratic) EXPECT_TRUE(row.is_zero());
}

}  // namespace
}  // namespace velkor
