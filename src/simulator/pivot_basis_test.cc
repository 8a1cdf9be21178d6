#include "simulator/pivot_basis.h"

#include <gtest/gtest.h>

#include <random>

#include "simulator/gates/gates.h"
#include "simulator/measurements/measure_x.h"
#include "simulator/measurements/measure_z.h"
#include "simulator/state_vector.h"

namespace velkor {
namespace {

// The solution of A d == e_q by trying every d, or nothing.
std::optional<BitVec> brute_force_flip(const Simulator& sim, size_t q) {
  size_t n = sim.num_vars();
  for (uint64_t x = 0; x < (uint64_t{1} << n); ++x) {
    BitVec d = BitVec::zeros(n);
    if (n) d.words()[0] = x;
    bool ok = true;
    for (size_t r = 0; r < sim.num_qubits() && ok; ++r) {
      ok = dot_words(sim.row(r), d.words()) == (r == q);
    }
    if (ok) return d;
  }
  return std::nullopt;
}

// Random gates, X and Z resets and measurements move every kind of row change through the
// basis (pivot and non-pivot CNOT ends, slot take-overs, fresh variables on pivots and on zero
// rows, restrictions); after each step the columns are the rows transposed and every
// single-qubit flip is solved as brute force does.
TEST(PivotBasis, SolvesEveryFlipAfterRandomSteps) {
  std::mt19937_64 gen(5);
  for (int circuit = 0; circuit < 300; ++circuit) {
    Simulator sim = Simulator::new_with_optional_seed(circuit);
    size_t nq = 2 + gen() % 6;
    sim.ensure_num_qubits(nq);
    for (int step = 0; step < 30; ++step) {
      size_t a = gen() % nq, b = (a + 1 + gen() % (nq - 1)) % nq;
      switch (gen() % 7) {
        case 0:
        case 1:
          cnot(sim, a, b);
          break;
        case 2:
          swap(sim, a, b);
          break;
        case 3:
          reset_x_raw(sim, a);
          break;
        case 4:
          measure_z_raw(sim, a);
          break;
        case 5:
          s(sim, a);
          break;
        case 6:
          ASSERT_TRUE(measure_x_raw(sim, a).has_value());
          break;
      }
      std::vector<uint64_t> scratch;
      ColumnView columns = sim.columns(scratch);
      for (size_t q = 0; q < nq; ++q) {
        for (size_t v = 0; v < sim.num_vars(); ++v) {
          ASSERT_EQ(get_bit(columns.column(v), q), get_bit(sim.row(q), v)) << q << " " << v;
        }
        ASSERT_EQ(to_basis_coordinates(sim, BitVec::unit(nq, q)), brute_force_flip(sim, q))
            << "circuit " << circuit << " step " << step << " qubit " << q;
      }
    }
  }
}

}  // namespace
}  // namespace velkor
