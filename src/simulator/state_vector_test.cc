#include "simulator/state_vector.h"

#include <gtest/gtest.h>

#include "simulator/gates/gates.h"

namespace velkor {
namespace {

using Amp = std::complex<float>;

std::vector<Amp> vec(const Simulator& sim, Endian order = Endian::kLittle) {
  auto out = state_vector(sim, order);
  EXPECT_TRUE(out.has_value());
  return {out->data.get(), out->data.get() + out->size};
}

constexpr float kH = 0.70710677f;

TEST(StateVector, BasisStatesInBothOrders) {
  Simulator sim = Simulator::new_with_optional_seed(0);
  EXPECT_EQ(vec(sim), std::vector<Amp>{Amp(1, 0)});
  z(sim, 2);
  std::vector<Amp> zero(8);
  zero[0] = 1;
  EXPECT_EQ(vec(sim), zero);
  EXPECT_EQ(vec(sim, Endian::kBig), zero);
  Simulator two = Simulator::new_with_optional_seed(0);
  x(two, 0);
  two.ensure_num_qubits(2);
  EXPECT_EQ(vec(two), (std::vector<Amp>{0, 1, 0, 0}));
  EXPECT_EQ(vec(two, Endian::kBig), (std::vector<Amp>{0, 0, 1, 0}));
}

TEST(StateVector, PhasesAndGlobalPhaseRule) {
  Simulator minus = Simulator::new_with_optional_seed(0);
  minus.add_affine_coordinate(0, true);
  EXPECT_EQ(vec(minus), (std::vector<Amp>{Amp(kH, 0), Amp(-kH, 0)}));

  Simulator tee = Simulator::new_with_optional_seed(0);
  tee.add_affine_coordinate(0, false);
  t(tee, 0);
  EXPECT_EQ(vec(tee), (std::vector<Amp>{Amp(kH, 0), Amp(kH * kH, kH * kH)}));

  Simulator sdx = Simulator::new_with_optional_seed(0);
  sdx.add_affine_coordinate(0, false);
  s_dag(sdx, 0);
  x(sdx, 0);
  EXPECT_EQ(vec(sdx), (std::vector<Amp>{Amp(kH, 0), Amp(0, kH)}));
}

TEST(StateVector, RefusesImpossibleSizes) {
  Simulator sim = Simulator::new_with_optional_seed(0);
  sim.ensure_num_qubits(61);
  auto out = state_vector(sim, Endian::kLittle);
  ASSERT_FALSE(out.has_value());
  EXPECT_NE(out.error().find("61 qubits"), std::string::npos);
}

TEST(ToBasisCoordinates, SolvesOrRefuses) {
  Simulator sim = Simulator::new_with_optional_seed(0);
  sim.add_affine_coordinate(0, false);
  sim.add_affine_coordinate(1, false);
  cnot(sim, 0, 2);
  cnot(sim, 1, 2);
  // Qubit 2 carries x0 ^ x1: the pattern 1,1,0 is reached by x = (1, 1).
  BitVec target = BitVec::zeros(3);
  target.set(0, true);
  target.set(1, true);
  auto x = to_basis_coordinates(sim, target);
  ASSERT_TRUE(x.has_value());
  EXPECT_EQ(x->ones(), (std::vector<size_t>{0, 1}));
  target.set(2, true);
  EXPECT_FALSE(to_basis_coordinates(sim, target).has_value());
  EXPECT_EQ(to_basis_coordinates(sim, BitVec::zeros(3)), BitVec::zeros(2));
}

}  // namespace
}  // namespace velkor
