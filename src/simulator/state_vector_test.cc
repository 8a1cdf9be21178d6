#include "simulator/state_vector.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <unordered_map>

#include "simulator/gates/gates.h"
#include "simulator/measurements/measure_z.h"
#include "simulator/testing/dense_reference.h"

namespace velkor {
namespace {

using Amp = std::complex<float>;

constexpr float kH = 0.70710677f;
constexpr float kCos[8] = {1, kH, 0, -kH, -1, -kH, 0, kH};
constexpr float kSin[8] = {0, kH, 1, kH, 0, -kH, -1, -kH};

struct ReferenceVector {
  std::vector<Amp> amps;
  unsigned min_k = 0;  // phase of the smallest written index, undone by the global rotation
};

// Straight from the definition: every path's phase evaluated on its own, written at its basis
// index, then every entry rotated by omega^(-k_min) and the smallest written index set to (a, 0).
ReferenceVector reference_vector(const Simulator& sim, Endian order) {
  size_t nq = sim.num_qubits(), n = sim.num_vars();
  float a = std::exp2f(static_cast<float>(n) * -0.5f);
  ReferenceVector ref{std::vector<Amp>(size_t{1} << nq)};
  uint64_t min_index = ~uint64_t{0};
  for (uint64_t x = 0; x < (uint64_t{1} << n); ++x) {
    uint64_t little = reference::basis_index(sim, x), index = little;
    if (order == Endian::kBig) {
      index = 0;
      for (size_t q = 0; q < nq; ++q) index |= ((little >> q) & 1) << (nq - 1 - q);
    }
    unsigned k = reference::phase_at(sim, x);
    ref.amps[index] = {a * kCos[k], a * kSin[k]};
    if (index < min_index) {
      min_index = index;
      ref.min_k = k;
    }
  }
  if (ref.min_k != 0) {
    float c = kCos[8 - ref.min_k], s = kSin[8 - ref.min_k];
    for (Amp& v : ref.amps) {
      float re = v.real(), im = v.imag();
      float re_c = re * c, im_s = im * s, re_s = re * s, im_c = im * c;
      v = {re_c - im_s, re_s + im_c};
    }
  }
  ref.amps[min_index] = {a, 0};
  return ref;
}

// By seed: random gates, fresh variables and measurements; or a fresh variable on every qubit,
// then CNOT mixing and phases, so that the support is the whole register; or such a state with
// one of its low qubits measured, so that the support skips an index bit.
Simulator random_state(std::mt19937_64& gen, size_t nq, uint64_t seed) {
  if (nq == 0) return Simulator::new_with_optional_seed(seed);
  if (seed % 3 == 0) return reference::random_state(gen, nq, 6 * nq, seed);
  Simulator sim = Simulator::new_with_optional_seed(seed);
  for (size_t q = 0; q < nq; ++q) sim.add_affine_coordinate(q, gen() & 1);
  for (size_t i = 0; i < 3 * nq; ++i) {
    size_t a = gen() % nq, b = gen() % nq, c = gen() % nq;
    if (a != b) cnot(sim, a, b);
    gen() % 2 ? t(sim, b) : t_dag(sim, a);
    if (a != b && b != c && a != c && gen() % 4 == 0) ccz(sim, a, b, c);
  }
  if (seed % 3 == 2) measure_z_raw(sim, gen() % std::min<size_t>(nq, 4));
  return sim;
}

TEST(StateVector, MatchesPathByPathEvaluationBitForBit) {
  std::mt19937_64 gen(11);
  size_t rotated = 0, partial = 0, large_full = 0, large_partial = 0;
  // Beyond 12 variables the walk has outer directions; a few larger states cover them.
  for (size_t nq = 0; nq <= 15; ++nq) {
    for (uint64_t seed = 0; seed < (nq <= 12 ? 40u : 6u); ++seed) {
      Simulator sim = random_state(gen, nq, seed);
      for (Endian order : {Endian::kLittle, Endian::kBig}) {
        auto fast = state_vector(sim, order);
        ASSERT_TRUE(fast.has_value());
        ReferenceVector slow = reference_vector(sim, order);
        ASSERT_EQ(fast->size, slow.amps.size());
        EXPECT_EQ(std::memcmp(fast->data.get(), slow.amps.data(), fast->size * sizeof(Amp)), 0)
            << nq << " qubits, " << sim.num_vars() << " variables, " << sim.phase().size()
            << " terms, seed " << seed << ", k_min " << slow.min_k;
        rotated += slow.min_k != 0;
      }
      partial += sim.num_vars() < nq;
      large_full += nq > 12 && sim.num_vars() == nq;
      large_partial += nq > 12 && sim.num_vars() == nq - 1;
    }
  }
  // The cases that matter did occur.
  EXPECT_GT(rotated, 50u);
  EXPECT_GT(partial, 50u);
  EXPECT_GE(large_full, 6u);
  EXPECT_GE(large_partial, 6u);
}

// Every target of every small random state: the solution is the unique path that reaches it, and
// there is none exactly when no path does.
TEST(ToBasisCoordinates, AgreesWithExhaustiveSearch) {
  std::mt19937_64 gen(5);
  for (size_t nq = 1; nq <= 9; ++nq) {
    for (uint64_t seed = 0; seed < 12; ++seed) {
      Simulator sim = random_state(gen, nq, seed);
      std::unordered_map<uint64_t, uint64_t> path_of;  // A x -> x
      uint64_t b = reference::basis_index(sim, 0);
      for (uint64_t x = 0; x < (uint64_t{1} << sim.num_vars()); ++x) {
        path_of[reference::basis_index(sim, x) ^ b] = x;
      }
      for (uint64_t t = 0; t < (uint64_t{1} << nq); ++t) {
        std::optional<BitVec> x = to_basis_coordinates(sim, BitVec::from_words({&t, 1}, nq));
        auto it = path_of.find(t);
        ASSERT_EQ(x.has_value(), it != path_of.end()) << nq << " qubits, target " << t;
        if (x) {
          EXPECT_EQ(x->len(), sim.num_vars());
          EXPECT_EQ(reference::low_word(x->words()), it->second);
        }
      }
    }
  }
}

// Many variables, rows mixed by CNOTs: A x gives back x on every word layout, and a target that
// sets an untouched qubit has no solution.
TEST(ToBasisCoordinates, RecoversPathsAcrossWordBoundaries) {
  std::mt19937_64 gen(9);
  for (size_t n : {63, 64, 65, 128, 190}) {
    Simulator sim = Simulator::new_with_optional_seed(n);
    size_t nq = n + 20, untouched = nq + 1;
    for (size_t q = 0; q < n; ++q) sim.add_affine_coordinate(q, false);
    for (size_t i = 0; i < 8 * nq; ++i) {
      size_t a = gen() % nq, b = gen() % nq;
      if (a != b) cnot(sim, a, b);
    }
    sim.ensure_num_qubits(untouched + 1);
    for (int rep = 0; rep < 10; ++rep) {
      BitVec x = BitVec::zeros(n);
      for (size_t j = 0; j < n; ++j) x.set(j, gen() & 1);
      BitVec target = BitVec::zeros(sim.num_qubits());
      for (size_t q = 0; q < sim.num_qubits(); ++q) {
        target.set(q, dot_words(sim.row(q), x.words()));
      }
      EXPECT_EQ(to_basis_coordinates(sim, target), x) << n << " variables";
      target.flip(untouched);
      EXPECT_FALSE(to_basis_coordinates(sim, target).has_value()) << n << " variables";
    }
  }
}

}  // namespace
}  // namespace velkor
