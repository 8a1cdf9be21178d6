#include "simulator/expvals/gauss_sum.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <random>

namespace velkor {
namespace {

std::vector<BitVec> couplings(size_t n, std::initializer_list<std::pair<size_t, size_t>> pairs) {
  std::vector<BitVec> rows(n, BitVec::zeros(n));
  for (auto [j, k] : pairs) {
    rows[j].flip(k);
    rows[k].flip(j);
  }
  return rows;
}

struct ExactCase {
  const char* name;
  uint8_t constant;
  std::vector<uint8_t> linear;
  std::vector<BitVec> quadratic;
  double re, im;
};

TEST(GaussSum, ExactSmallCases) {
  const double h = 0.7071067811865476;
  std::vector<ExactCase> cases = {
      {"empty", 0, {}, {}, 1, 0},
      {"empty, constant 3", 3, {}, {}, -h, h},
      {"empty, only low bits of the constant count", 9, {}, {}, h, h},
      {"single l=2 cancels", 0, {2}, couplings(1, {}), 0, 0},
      {"single l=1", 0, {1}, couplings(1, {}), 0.5, 0.5},
      {"single l=3", 0, {3}, couplings(1, {}), 0.5, -0.5},
      {"single l=0 drops", 5, {0}, couplings(1, {}), -h, -h},
      {"coupled pair", 0, {0, 0}, couplings(2, {{0, 1}}), 0.5, 0},
      {"coupled pair l=1,1", 0, {1, 1}, couplings(2, {{0, 1}}), 0.5, 0.5},
      {"coupled pair cancels", 0, {2, 0, 0}, couplings(3, {{0, 1}}), 0.5, 0},
      {"constraint kills", 0, {0, 2, 2}, couplings(3, {{0, 1}}), 0, 0},
  };
  for (ExactCase& c : cases) {
    std::complex<double> g =
        normalized_quadratic_gauss_sum(c.constant, std::move(c.linear), std::move(c.quadratic));
    EXPECT_EQ(g.real(), c.re) << c.name;
    EXPECT_EQ(g.imag(), c.im) << c.name;
  }
}

/// omega^constant * 2^-n * sum over all x of i^q(x), by enumeration.
std::complex<double> brute_force(uint8_t constant, const std::vector<uint8_t>& linear,
                                 const std::vector<BitVec>& quadratic) {
  size_t n = linear.size();
  std::complex<double> sum = 0;
  for (uint64_t x = 0; x < (uint64_t{1} << n); ++x) {
    unsigned q = 0;
    for (size_t j = 0; j < n; ++j) {
      if (!((x >> j) & 1)) continue;
      q += linear[j];
      q += 2 * std::popcount(quadratic[j].words()[0] & x & ~((uint64_t{2} << j) - 1));
    }
    sum += std::polar(1.0, M_PI / 2 * (q & 3));
  }
  return std::polar(1.0, M_PI / 4 * (constant & 7)) * sum / std::ldexp(1.0, int(n));
}

TEST(GaussSum, MatchesEnumerationOnRandomForms) {
  std::mt19937_64 gen(7);
  int nonzero = 0;
  for (int trial = 0; trial < 4000; ++trial) {
    size_t n = gen() % 11;
    // Sparse, medium and dense couplings, and linear terms biased to even values, so that every
    // branch of the elimination (free pair, phase ratio, parity constraint, zero) is met.
    unsigned density = 1 + gen() % 4;
    bool even = gen() % 3 == 0;
    std::vector<uint8_t> linear(n);
    std::vector<BitVec> quadratic(n, BitVec::zeros(n));
    for (size_t j = 0; j < n; ++j) {
      linear[j] = even ? (gen() & 2) : (gen() & 3);
      for (size_t k = j + 1; k < n; ++k) {
        if (gen() % 4 < density) {
          quadratic[j].flip(k);
          quadratic[k].flip(j);
        }
      }
    }
    uint8_t constant = gen() & 7;
    std::complex<double> want = brute_force(constant, linear, quadratic);
    std::complex<double> got = normalized_quadratic_gauss_sum(constant, linear, quadratic);
    ASSERT_NEAR(got.real(), want.real(), 1e-12) << "trial " << trial;
    ASSERT_NEAR(got.imag(), want.imag(), 1e-12) << "trial " << trial;
    nonzero += std::abs(want) > 1e-9;
  }
  EXPECT_GT(nonzero, 1000);
}

TEST(GaussSum, SpansSeveralWords) {
  // A chain of 150 couplings x_j x_(j+1) with no linear terms: each elimination of a pair leaves a
  // constraint, and the magnitude is that of a sum over a graph state, 2^(-75).
  size_t n = 150;
  std::vector<BitVec> rows(n, BitVec::zeros(n));
  for (size_t j = 0; j + 1 < n; ++j) {
    rows[j].flip(j + 1);
    rows[j + 1].flip(j);
  }
  std::complex<double> g = normalized_quadratic_gauss_sum(0, std::vector<uint8_t>(n), rows);
  EXPECT_EQ(std::abs(g), std::ldexp(1.0, -75));
}

}  // namespace
}  // namespace velkor
