#include "simulator/observables/packed_pauli_observable.h"

#include <gtest/gtest.h>

#include "simulator/observables/pauli_product.h"

namespace velkor {
namespace {

// Products that the product measurements never hand to the CZ conjugation, which they apply
// only with an X part on the first qubit and none on the second: CZ (P ⊗ Q) CZ by the Pauli
// algebra.
TEST(PackedPauliObservable, CzConjugationOfOtherProducts) {
  for (auto [before, after] :
       {std::pair{"XX", "YY"}, {"YY", "XX"}, {"YX", "-XY"}, {"XY", "-YX"}, {"ZX", "IX"}}) {
    PackedPauliObservable p = from_product(*from_compact(before), 2);
    PackedPauliObservable want = from_product(*from_compact(after), 2);
    conjugate_cz(p, 0, 1);
    EXPECT_EQ(p.x, want.x) << before;
    EXPECT_EQ(p.z, want.z) << before;
    EXPECT_EQ(p.sign, want.sign) << before;
  }
}

}  // namespace
}  // namespace velkor
