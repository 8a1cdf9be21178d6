#pragma once

#include <complex>
#include <cstdint>
#include <vector>

#include "bits/bitvec.h"

namespace velkor {

/// omega^constant * 2^(-n) * sum over x in {0,1}^n of i^q(x), for the form q of QuadraticPhase
/// (n = linear.size(); only the low three bits of `constant` count). Sums out coupled pairs of
/// variables two or three at a time, each elimination a few word-parallel row operations, so
/// O(n^3 / 64) in the worst case; never enumerates assignments. Takes the form over and
/// consumes it. Every complex product is formed as (ac - bd, bc + ad), each step rounded.
std::complex<double> normalized_quadratic_gauss_sum(uint8_t constant, std::vector<uint8_t> linear,
                                                    std::vector<BitVec> quadratic);

}  // namespace velkor
