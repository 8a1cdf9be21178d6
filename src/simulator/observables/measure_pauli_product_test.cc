#include "simulator/observables/measure_pauli_product.h"

#include <gtest/gtest.h>

#include <random>

#include "simulator/gates/gates.h"
#include "simulator/measurements/measure_x.h"
#include "simulator/testing/dense_reference.h"

namespace velkor {
namespace {

using reference::same_record;

PauliProduct compact(const char* text) { return *from_compact(text); }

Simulator bell_pair(uint64_t seed) {
  Simulator sim = Simulator::new_with_optional_seed(seed);
  sim.ensure_num_qubits(2);
  reset_x_raw(sim, 0);
  cnot(sim, 0, 1);
  return sim;
}

TEST(MeasureObservable, FlipDrawFollowsTheMeasurement) {
  Simulator sim = bell_pair(8);
  ChaCha8Rng ref = sim.rng();
  EXPECT_EQ(*measure_observable(sim, compact("XX"), 1.0), true);
  EXPECT_EQ(*measure_observable(sim, compact("XX"), 0.0), false);
  EXPECT_EQ(sim.rng(), ref);
  uint64_t u = ref.next_u64();
  EXPECT_EQ(*measure_observable(sim, compact("ZZ"), 0.25),
            u < static_cast<uint64_t>(0.25 * 18446744073709551616.0));
  EXPECT_EQ(sim.rng(), ref);
  // A random outcome draws first, the flip second.
  bool outcome = ref.next_u64() >> 63;
  EXPECT_EQ(*measure_observable(sim, compact("IZ"), 1.0), !outcome);
  EXPECT_EQ(sim.rng(), ref);
}

TEST(MeasurePauliProduct, AgreesWithTheDenseProjectionOnRandomStates) {
  std::mt19937_64 gen(17);
  int refused = 0, random = 0;
  for (int trial = 0; trial < 4000; ++trial) {
    size_t nq = 1 + gen() % 5;
    Simulator sim = reference::random_state(gen, nq, 1 + gen() % 25, trial, trial % 2);
    PauliProduct product{{}, 1 + gen() % (nq + 1), gen() % 2 == 0};
    for (size_t q = 0; q < product.span; ++q) {
      if (gen() % 4) product.factors.emplace_back(q, static_cast<Pauli>(gen() % 3));
    }
    Simulator before = sim;
    auto r = measure_pauli_product(sim, product);
    if (!r) {
      ++refused;
      ASSERT_TRUE(same_record(sim, before)) << trial;
      continue;
    }
    ASSERT_EQ(sim.num_qubits(), std::max<size_t>(nq, product.span));
    before.ensure_num_qubits(product.span);
    reference::Dense want = reference::project(reference::dense_state(before), product, r->sign);
    double p = std::abs(reference::inner(want, want));
    ASSERT_NEAR(r->probability, p, 1e-9) << trial;
    random += r->probability != 1.0;
    for (auto& a : want) a /= std::sqrt(p);
    ASSERT_TRUE(reference::same_ray(want, reference::dense_state(sim), 1e-9)) << trial;
  }
  EXPECT_GT(refused, 20);
  EXPECT_GT(random, 1000);
}

}  // namespace
}  // namespace velkor
