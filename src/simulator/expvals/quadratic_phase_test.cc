#include "simulator/expvals/quadratic_phase.h"

#include <gtest/gtest.h>

#include <random>

namespace velkor {
namespace {

/// q(x) mod 4 for the form (linear, quadratic) at the assignment with bit j = x_j.
unsigned evaluate(const std::vector<uint8_t>& linear, const std::vector<BitVec>& quadratic,
                  uint64_t x) {
  unsigned q = 0;
  for (size_t j = 0; j < linear.size(); ++j) {
    if (!((x >> j) & 1)) continue;
    q += linear[j];
    for (size_t k = j + 1; k < linear.size(); ++k) {
      if (((x >> k) & 1) && quadratic[j].get(k)) q += 2;
    }
  }
  return q & 3;
}

void expect_symmetric_zero_diagonal(const std::vector<BitVec>& quadratic) {
  for (size_t j = 0; j < quadratic.size(); ++j) {
    EXPECT_FALSE(quadratic[j].get(j)) << j;
    for (size_t k = 0; k < quadratic.size(); ++k) {
      EXPECT_EQ(quadratic[j].get(k), quadratic[k].get(j)) << j << "," << k;
    }
  }
}

struct RandomForm {
  std::vector<uint8_t> linear;
  std::vector<BitVec> quadratic;
};

RandomForm random_form(std::mt19937_64& gen, size_t n) {
  RandomForm f{std::vector<uint8_t>(n), std::vector<BitVec>(n, BitVec::zeros(n))};
  for (size_t j = 0; j < n; ++j) {
    f.linear[j] = gen() & 3;
    for (size_t k = j + 1; k < n; ++k) {
      if (gen() & 1) {
        f.quadratic[j].flip(k);
        f.quadratic[k].flip(j);
      }
    }
  }
  return f;
}

BitVec random_set(std::mt19937_64& gen, size_t n) {
  BitVec s = BitVec::zeros(n);
  for (size_t j = 0; j < n; ++j) s.set(j, gen() & 1);
  return s;
}

TEST(QuadraticPhase, AddAffineAddsTheParityTimesTheCoefficient) {
  std::mt19937_64 gen(1);
  for (int trial = 0; trial < 300; ++trial) {
    size_t n = 1 + gen() % 7;
    RandomForm f = random_form(gen, n);
    RandomForm before = f;
    BitVec form = random_set(gen, n);
    bool bit = gen() & 1;
    uint8_t c = gen() & 3, acc = gen() & 3, acc_before = acc;
    add_affine_to_quadratic(form, bit, c, acc, f.linear, f.quadratic);
    expect_symmetric_zero_diagonal(f.quadratic);
    for (uint64_t x = 0; x < (uint64_t{1} << n); ++x) {
      unsigned parity = bit ^ (std::popcount(form.words()[0] & x) & 1);
      EXPECT_EQ((evaluate(f.linear, f.quadratic, x) + acc) & 3,
                (evaluate(before.linear, before.quadratic, x) + acc_before + c * parity) & 3);
    }
  }
}

TEST(QuadraticPhase, ToggleCouplingsAddsTwiceEveryCrossProduct) {
  std::mt19937_64 gen(2);
  for (int trial = 0; trial < 300; ++trial) {
    size_t n = 1 + gen() % 7;
    RandomForm f = random_form(gen, n);
    RandomForm before = f;
    BitVec a = random_set(gen, n), b = random_set(gen, n);
    toggle_couplings(a, b, f.linear, f.quadratic);
    expect_symmetric_zero_diagonal(f.quadratic);
    for (uint64_t x = 0; x < (uint64_t{1} << n); ++x) {
      unsigned pa = std::popcount(a.words()[0] & x), pb = std::popcount(b.words()[0] & x);
      EXPECT_EQ(evaluate(f.linear, f.quadratic, x),
                (evaluate(before.linear, before.quadratic, x) + 2 * pa * pb) & 3);
    }
  }
}

TEST(QuadraticPhase, ClearVariableRemovesItFromBothSides) {
  std::mt19937_64 gen(3);
  RandomForm f = random_form(gen, 70);
  f.quadratic[5].set(66, true);
  f.quadratic[66].set(5, true);
  clear_quadratic_variable(f.quadratic, 70, 66);
  EXPECT_TRUE(f.quadratic[66].is_zero());
  for (size_t k = 0; k < 70; ++k) EXPECT_FALSE(f.quadratic[k].get(66));
  expect_symmetric_zero_diagonal(f.quadratic);
}

}  // namespace
}  // namespace velkor
