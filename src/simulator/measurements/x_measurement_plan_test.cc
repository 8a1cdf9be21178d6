#include "simulator/measurements/x_measurement_plan.h"

#include <gtest/gtest.h>

#include <random>

namespace velkor {
namespace {

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
