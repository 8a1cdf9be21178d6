#include "simulator/noise/noise_channels.h"

#include <gtest/gtest.h>

#include <array>
#include <random>

#include "base/internal_error.h"
#include "simulator/gates/gates.h"
#include "simulator/testing/dense_reference.h"

namespace velkor {
namespace {

using reference::same_record;

/// Three qubits in T|+>, so that X, Y and Z each change the record differently.
Simulator prepared(uint64_t seed) {
  Simulator sim = Simulator::new_with_optional_seed(seed);
  for (size_t q = 0; q < 3; ++q) {
    reference::plus_state(sim, q);
    t(sim, q);
  }
  return sim;
}

TEST(NoiseChannels, PauliChannelSpecialCasesDrawNothing) {
  Simulator sim = prepared(3);
  Simulator want = sim;
  pauli_channel1(sim, 0, std::array{0.0, 0.0, 1.0});
  z(want, 0);
  EXPECT_TRUE(same_record(sim, want));
  pauli_channel1(sim, 9, std::array{0.0, 0.0, 0.0});
  EXPECT_EQ(sim.num_qubits(), 3u);
  std::array<double, 15> xx{};
  xx[4] = 1.0;
  pauli_channel2(sim, 1, 2, xx);
  x(want, 1);
  x(want, 2);
  EXPECT_TRUE(same_record(sim, want));
  // Entry 0 is I on a and X on b: only b is touched, and only b grows the register.
  std::array<double, 15> ix{};
  ix[0] = 1.0;
  pauli_channel2(sim, 9, 4, ix);
  EXPECT_EQ(sim.num_qubits(), 5u);
  EXPECT_TRUE(sim.offset(4));
}

TEST(NoiseChannels, PauliChannelsSelectByTheRunningSum) {
  std::mt19937_64 gen(31);
  for (int trial_index = 0; trial_index < 400; ++trial_index) {
    bool two = trial_index % 2;
    std::vector<double> probs(two ? 15 : 3, 0.0);
    // Random tables summing to at most 1, some with a single entry, some below 1 in total.
    double budget = trial_index % 5 == 0 ? 0.5 : 1.0;
    for (double& p : probs) {
      if (gen() % 3 == 0) continue;
      p = budget * std::uniform_real_distribution<double>(0, 1)(gen) / probs.size();
    }
    if (trial_index % 7 == 0) {
      probs.assign(probs.size(), 0.0);
      probs[gen() % probs.size()] = 0.5;
    }
    Simulator sim = prepared(trial_index);
    Simulator want = sim;
    if (two) {
      pauli_channel2(sim, 2, 0, std::span<const double, 15>(probs.data(), 15));
    } else {
      pauli_channel1(sim, 1, std::span<const double, 3>(probs.data(), 3));
    }
    bool any = false;
    for (double p : probs) any = any || p > 0.0;
    if (any) {
      double u = static_cast<double>(want.rng().next_u64() >> 11) * 0x1p-53;
      double sum = 0.0;
      for (size_t i = 0; i < probs.size(); ++i) {
        sum = sum + probs[i];
        if (u < sum) {
          uint8_t code = static_cast<uint8_t>(i + 1);
          if (two) {
            apply_pauli_code(want, 2, code >> 2);
            apply_pauli_code(want, 0, code & 3);
          } else {
            apply_pauli_code(want, 1, code);
          }
          break;
        }
      }
    }
    ASSERT_TRUE(same_record(sim, want)) << trial_index;
  }
}

TEST(NoiseChannels, BrokenPreconditionsAreInternalErrors) {
  Simulator sim = Simulator::new_with_optional_seed(0);
  EXPECT_THROW(apply_pauli_code(sim, 0, 4), InternalError);
  EXPECT_THROW(depolarize2(sim, 1, 1, 0.5), InternalError);
  EXPECT_THROW(depolarize3(sim, 1, 2, 1, 0.5), InternalError);
  EXPECT_THROW(x_error(sim, 0, 1.5), InternalError);
  EXPECT_THROW(depolarize1(sim, 0, std::nan("")), InternalError);
  EXPECT_EQ(sim.num_qubits(), 0u);
}

}  // namespace
}  // namespace velkor
