#include "simulator/observables/packed_pauli_observable.h"

#include <gtest/gtest.h>

#include "simulator/testing/dense_reference.h"

namespace velkor {
namespace {

using reference::Dense;

PauliProduct to_product(const PackedPauliObservable& p) {
  PauliProduct product{{}, p.x.len(), p.sign};
  for (size_t q = 0; q < p.x.len(); ++q) {
    if (p.x.get(q) || p.z.get(q)) {
      Pauli pauli = !p.z.get(q) ? Pauli::X : !p.x.get(q) ? Pauli::Z : Pauli::Y;
      product.factors.emplace_back(q, pauli);
    }
  }
  return product;
}

/// Column s of U P U for a two-qubit P and a basis permutation-with-signs U.
template <class U>
Dense conjugated_column(const PauliProduct& product, uint64_t s, U u) {
  Dense e(4);
  e[s] = 1;
  return u(reference::apply_pauli(u(e), product));
}

TEST(PackedPauliObservable, FromProductPacksXZAndY) {
  PackedPauliObservable p =
      from_product({{{0, Pauli::X}, {2, Pauli::Y}, {3, Pauli::Z}}, 4, true}, 5);
  EXPECT_EQ(p.x, BitVec::from_words(std::vector<uint64_t>{0b00101}, 5));
  EXPECT_EQ(p.z, BitVec::from_words(std::vector<uint64_t>{0b01100}, 5));
  EXPECT_TRUE(p.sign);
}

TEST(PackedPauliObservable, ConjugationMatchesDenseGates) {
  auto cnot_01 = [](const Dense& v) {
    Dense out(4);
    for (uint64_t s = 0; s < 4; ++s) out[s & 1 ? s ^ 2 : s] = v[s];
    return out;
  };
  auto cnot_10 = [](const Dense& v) {
    Dense out(4);
    for (uint64_t s = 0; s < 4; ++s) out[s & 2 ? s ^ 1 : s] = v[s];
    return out;
  };
  auto cz_01 = [](const Dense& v) {
    Dense out = v;
    out[3] = -out[3];
    return out;
  };
  for (uint64_t bits = 0; bits < 32; ++bits) {
    PackedPauliObservable p{BitVec::from_words(std::vector<uint64_t>{bits & 3}, 2),
                            BitVec::from_words(std::vector<uint64_t>{(bits >> 2) & 3}, 2),
                            ((bits >> 4) & 1) != 0};
    PackedPauliObservable by_cnot = p, by_reverse_cnot = p, by_cz = p, by_reverse_cz = p;
    conjugate_cnot(by_cnot, 0, 1);
    conjugate_cnot(by_reverse_cnot, 1, 0);
    conjugate_cz(by_cz, 0, 1);
    conjugate_cz(by_reverse_cz, 1, 0);
    for (uint64_t s = 0; s < 4; ++s) {
      Dense e(4);
      e[s] = 1;
      EXPECT_EQ(reference::apply_pauli(e, to_product(by_cnot)),
                conjugated_column(to_product(p), s, cnot_01))
          << bits;
      EXPECT_EQ(reference::apply_pauli(e, to_product(by_reverse_cnot)),
                conjugated_column(to_product(p), s, cnot_10))
          << bits;
      EXPECT_EQ(reference::apply_pauli(e, to_product(by_cz)),
                conjugated_column(to_product(p), s, cz_01))
          << bits;
      EXPECT_EQ(reference::apply_pauli(e, to_product(by_reverse_cz)),
                conjugated_column(to_product(p), s, cz_01))
          << bits;
    }
  }
}

}  // namespace
}  // namespace velkor
