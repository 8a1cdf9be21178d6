#include "simulator/expvals/directional_derivative.h"

#include <gtest/gtest.h>

#include <random>

#include "simulator/gates/gates.h"
#include "simulator/testing/dense_reference.h"

namespace velkor {
namespace {

using reference::phase_at;

TEST(DirectionalDerivative, EqualsThePhaseDifferenceOnRandomStates) {
  std::mt19937_64 gen(11);
  for (int trial = 0; trial < 400; ++trial) {
    Simulator sim = reference::random_state(gen, 2 + gen() % 7, 40, trial);
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

/// phi(x) mod 8 for an assignment of any length.
unsigned phase_of(const Simulator& sim, const BitVec& x) {
  unsigned phi = 0;
  sim.phase().for_each([&](std::span<const uint64_t> key, uint8_t c) {
    if (dot_words(key, x.words())) phi += c;
  });
  return phi & 7;
}

TEST(DirectionalDerivative, HoldsAtSampledPointsOfStatesSpanningSeveralWords) {
  // Many terms on keys of about half of 150 variables: the couplings are accumulated in groups
  // of keys, so group boundaries and multi-word rows are both exercised.
  std::mt19937_64 gen(13);
  size_t n = 150;
  Simulator sim = Simulator::new_with_optional_seed(0);
  for (size_t q = 0; q < n; ++q) reference::plus_state(sim, q);
  for (int round = 0; round < 6; ++round) {
    for (int i = 0; i < 2000; ++i) {
      size_t a = gen() % n, b = gen() % n;
      if (a != b) cnot(sim, a, b);
    }
    for (int i = 0; i < 40; ++i) t(sim, gen() % n);
    for (int i = 0; i < 10; ++i) s(sim, gen() % n);
    for (int i = 0; i < 10; ++i) {
      size_t a = gen() % n, b = gen() % n, c = gen() % n;
      if (a != b && a != c && b != c) ccz(sim, a, b, c);
    }
  }
  auto random_vector = [&] {
    BitVec v = BitVec::zeros(n);
    for (size_t j = 0; j < n; ++j) v.set(j, gen() & 1);
    return v;
  };
  for (int trial = 0; trial < 5; ++trial) {
    BitVec d = random_vector();
    QuadraticPhase form = directional_derivative(sim, d.words());
    for (int sample = 0; sample < 40; ++sample) {
      BitVec x = random_vector();
      BitVec shifted = x;
      shifted.xor_with(d);
      unsigned q = 0;
      x.for_each_one([&](size_t j) {
        q += form.linear[j];
        x.for_each_one([&](size_t k) { q += k > j && form.quadratic[j].get(k) ? 2 : 0; });
      });
      ASSERT_EQ((phase_of(sim, shifted) + 8 - phase_of(sim, x)) & 7, (form.constant + 2 * q) & 7);
    }
  }
}

}  // namespace
}  // namespace velkor
