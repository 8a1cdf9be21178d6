#include "simulator/simulator.h"

#include <gtest/gtest.h>

#include <map>

#include "base/internal_error.h"
#include "simulator/gates/gates.h"

namespace velkor {
namespace {

// The phase polynomial as an ordered map from key bits to coefficient, for comparisons.
std::map<std::vector<size_t>, int> terms(const Simulator& sim) {
  std::map<std::vector<size_t>, int> out;
  sim.phase().for_each([&](std::span<const uint64_t> key, uint8_t c) {
    std::vector<size_t> bits;
    for_each_one(key, sim.num_vars(), [&](size_t j) { bits.push_back(j); });
    out[bits] = c;
  });
  return out;
}

Simulator plus_state(size_t n, uint64_t seed = 0) {
  Simulator sim = Simulator::new_with_optional_seed(seed);
  for (size_t q = 0; q < n; ++q) sim.add_affine_coordinate(q, false);
  return sim;
}

TEST(Simulator, PhaseGadgetsMergeAndCancel) {
  Simulator sim = plus_state(1);
  for (int k = 0; k < 8; ++k) t(sim, 0);
  EXPECT_TRUE(sim.phase().empty());
  t(sim, 0);
  t(sim, 0);
  EXPECT_EQ(terms(sim), (std::map<std::vector<size_t>, int>{{{0}, 2}}));
  s(sim, 0);
  EXPECT_EQ(terms(sim), (std::map<std::vector<size_t>, int>{{{0}, 4}}));
  z(sim, 0);
  EXPECT_TRUE(sim.phase().empty());
  // A set offset negates the increment; a zero row makes the gadget a global phase.
  x(sim, 0);
  t(sim, 0);
  EXPECT_EQ(terms(sim), (std::map<std::vector<size_t>, int>{{{0}, 7}}));
  t(sim, 3);
  x(sim, 4);
  t(sim, 4);
  EXPECT_EQ(terms(sim).size(), 1u);
}

TEST(Simulator, RestrictAffineSubstitutesThePivot) {
  // Rows x0 on qubit 0 and x0 ^ x1 on qubit 1, term {x0, x1} : 1; keep x0 == 1.
  Simulator sim = plus_state(2);
  cnot(sim, 0, 1);
  std::array<size_t, 1> q1{1};
  sim.apply_phase_gadget(q1, 1);
  BitVec normal = sim.row_vec(0);
  sim.restrict_affine(normal.words(), true);
  EXPECT_EQ(sim.num_vars(), 1u);
  EXPECT_TRUE(sim.offset(0));
  EXPECT_TRUE(is_zero_words(sim.row(0)));
  EXPECT_EQ(sim.row_vec(1), BitVec::unit(1, 0));
  EXPECT_EQ(terms(sim), (std::map<std::vector<size_t>, int>{{{0}, 7}}));
  EXPECT_THROW(sim.restrict_affine(BitVec::zeros(1).words(), false), InternalError);
  EXPECT_THROW(cnot(sim, 1, 1), InternalError);
}

TEST(Simulator, ManyVariablesCrossWordBoundaries) {
  Simulator sim = plus_state(130);
  for (size_t q = 0; q + 1 < 130; ++q) cnot(sim, q, q + 1);
  t(sim, 129);
  EXPECT_EQ(sim.num_vars(), 130u);
  EXPECT_EQ(sim.row_vec(129).count_ones(), 130u);
  // Eliminating x_0 through qubit 0 leaves 129 variables and keeps the term on the rest.
  BitVec normal = sim.row_vec(0);
  sim.restrict_affine(normal.words(), false);
  EXPECT_EQ(sim.num_vars(), 129u);
  EXPECT_EQ(sim.row_vec(129).count_ones(), 129u);
  EXPECT_EQ(terms(sim).size(), 1u);
  Simulator copy = sim.copied(true, std::nullopt);
  EXPECT_EQ(copy.rng(), sim.rng());
  EXPECT_EQ(terms(copy), terms(sim));
  EXPECT_NE(sim.copied(false, 5).rng(), sim.rng());
}

}  // namespace
}  // namespace velkor
