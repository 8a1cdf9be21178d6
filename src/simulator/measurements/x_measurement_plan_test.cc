#include "simulator/measurements/x_measurement_plan.h"

#include <gtest/gtest.h>

#include <random>

#include "simulator/gates/gates.h"
#include "simulator/testing/dense_reference.h"

namespace velkor {
namespace {

using Plan = XMeasurementPlan;
using reference::plus_state;

/// Adds increment on the parity of the listed variables (all below 64).
void gadget(Simulator& sim, std::initializer_list<size_t> vars, uint8_t increment) {
  BitVec key = BitVec::zeros(sim.num_vars());
  for (size_t j : vars) key.flip(j);
  sim.add_phase_gadget(key.words(), increment);
}

Simulator plus_register(size_t n) {
  Simulator sim = Simulator::new_with_optional_seed(0);
  for (size_t q = 0; q < n; ++q) plus_state(sim, q);
  return sim;
}

struct RefusalCase {
  const char* reason;
  void (*prepare)(Simulator&);
};

TEST(ClassifyXMeasurement, RefusalsNameTheQubitAndTheFirstFailingCheck) {
  std::vector<RefusalCase> cases = {
      {"mixed phase parity",
       [](Simulator& sim) {
         gadget(sim, {0}, 1);
         gadget(sim, {0, 1}, 1);
       }},
      {"non-affine zero set", [](Simulator& sim) { ccz(sim, 0, 1, 2); }},
      {"quadratic rank exceeds two",
       [](Simulator& sim) {
         s(sim, 0);
         ccz(sim, 0, 1, 2);
         ccz(sim, 0, 3, 4);
       }},
      {"odd phase is not two-valued",
       [](Simulator& sim) {
         t(sim, 0);
         gadget(sim, {0, 1}, 2);
       }},
      {"odd-phase cross terms are not rank one",
       [](Simulator& sim) {
         t(sim, 0);
         ccz(sim, 0, 1, 2);
       }},
  };
  for (const RefusalCase& c : cases) {
    Simulator sim = plus_register(5);
    c.prepare(sim);
    auto plan = classify_x_measurement(sim, 0);
    ASSERT_FALSE(plan.has_value()) << c.reason;
    EXPECT_EQ(plan.error().message,
              std::string("X measurement on qubit 0 is incompatible: ") + c.reason);
    EXPECT_FALSE(plan.error().shot || plan.error().measurement);
  }
  Simulator sim = plus_register(5);
  ccz(sim, 4, 1, 3);
  EXPECT_EQ(classify_x_measurement(sim, 3).error().message,
            "X measurement on qubit 3 is incompatible: non-affine zero set");
}

TEST(ClassifyXMeasurement, AcceptedShapes) {
  {
    Simulator sim = plus_register(1);
    sim.ensure_num_qubits(2);
    EXPECT_TRUE(std::holds_alternative<Plan::NewCoordinate>(classify_x_measurement(sim, 1)->shape));
    cnot(sim, 0, 1);  // Bell pair: flipping one half leaves the support
    EXPECT_TRUE(std::holds_alternative<Plan::NewCoordinate>(classify_x_measurement(sim, 0)->shape));
  }
  {
    Simulator sim = plus_register(1);
    auto plus = std::get<Plan::Deterministic>(classify_x_measurement(sim, 0)->shape);
    EXPECT_FALSE(plus.outcome);
    z(sim, 0);
    EXPECT_TRUE(std::get<Plan::Deterministic>(classify_x_measurement(sim, 0)->shape).outcome);
  }
  {
    Simulator sim = plus_register(2);
    cz(sim, 0, 1);
    auto split = std::get<Plan::AffineSplit>(classify_x_measurement(sim, 0)->shape);
    EXPECT_EQ(split.parity, BitVec::unit(2, 1));
    EXPECT_FALSE(split.flip);
  }
  {
    Simulator sim = plus_register(3);
    s(sim, 0);
    ccz(sim, 0, 1, 2);
    auto rank_two = std::get<Plan::RankTwoPhase>(classify_x_measurement(sim, 0)->shape);
    EXPECT_EQ(rank_two.parity, BitVec::unit(3, 0));
    EXPECT_FALSE(rank_two.flip);
  }
  {
    Simulator sim = plus_register(1);
    t(sim, 0);
    auto odd = std::get<Plan::OddPhase>(classify_x_measurement(sim, 0)->shape);
    EXPECT_EQ(odd.constant, 1);
    EXPECT_EQ(odd.mask, BitVec::unit(1, 0));
    EXPECT_EQ(odd.probability_zero, (std::cos(0.7853981633974483) + 1.0) * 0.5);
    EXPECT_NEAR(odd.probability_zero, 0.8535533905932737, 1e-16);
    t_dag(sim, 0);
    t_dag(sim, 0);
    t_dag(sim, 0);
    t_dag(sim, 0);
    EXPECT_NEAR(classify_x_measurement(sim, 0)->probability_zero(), 0.1464466094067262, 1e-16);
  }
}

TEST(RankTwoDecomposition, FindsAPairExactlyUpToRankTwo) {
  EXPECT_TRUE(rank_two_decomposition({}, 0).has_value());
  std::vector<BitVec> zero(3, BitVec::zeros(3));
  auto z = rank_two_decomposition(zero, 3);
  ASSERT_TRUE(z.has_value());
  EXPECT_TRUE(z->first.is_zero() && z->second.is_zero());

  std::mt19937_64 gen(5);
  for (int trial = 0; trial < 200; ++trial) {
    size_t n = 1 + gen() % 90;
    BitVec a = BitVec::zeros(n), b = BitVec::zeros(n);
    for (size_t k = 0; k < n; ++k) {
      a.set(k, gen() & 1);
      b.set(k, gen() & 1);
    }
    // a b^T + b a^T: rank two at most; the decomposition found may be a different pair.
    std::vector<BitVec> rows(n, BitVec::zeros(n));
    for (size_t r = 0; r < n; ++r) {
      for (size_t k = 0; k < n; ++k)
        rows[r].set(k, (a.get(r) && b.get(k)) != (b.get(r) && a.get(k)));
    }
    auto pair = rank_two_decomposition(rows, n);
    ASSERT_TRUE(pair.has_value());
    for (size_t r = 0; r < n; ++r) {
      for (size_t k = 0; k < n; ++k) {
        ASSERT_EQ(rows[r].get(k), (pair->first.get(r) && pair->second.get(k)) !=
                                      (pair->second.get(r) && pair->first.get(k)));
      }
    }
  }
  // Two disjoint couplings, (0, 1) and (2, 3), have rank four.
  std::vector<BitVec> rows(4, BitVec::zeros(4));
  for (auto [j, k] : {std::pair<size_t, size_t>{0, 1}, {2, 3}}) {
    rows[j].flip(k);
    rows[k].flip(j);
  }
  EXPECT_FALSE(rank_two_decomposition(rows, 4).has_value());
}

}  // namespace
}  // namespace velkor
