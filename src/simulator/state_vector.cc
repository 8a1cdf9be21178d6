#include "simulator/state_vector.h"

#include <array>
#include <bit>
#include <cmath>
#include <vector>

namespace velkor {
namespace {

constexpr float kHalfSqrt2 = 0.70710677f;
constexpr float kCos[8] = {1, kHalfSqrt2, 0, -kHalfSqrt2, -1, -kHalfSqrt2, 0, kHalfSqrt2};
constexpr float kSin[8] = {0, kHalfSqrt2, 1, kHalfSqrt2, 0, -kHalfSqrt2, -1, -kHalfSqrt2};

std::string too_large(size_t num_qubits) {
  return "cannot allocate a state vector of " + std::to_string(num_qubits) + " qubits (2^" +
         std::to_string(num_qubits) + " amplitudes)";
}

}  // namespace

Expected<Amplitudes, std::string> state_vector(const Simulator& sim, Endian order) {
  size_t nq = sim.num_qubits();
  size_t n = sim.num_vars();
  if (nq > kMaxStateVectorQubits) return unexpected(too_large(nq));
  size_t size = size_t{1} << nq;
  Amplitudes out;
  out.data.reset(static_cast<std::complex<float>*>(std::calloc(size, sizeof(std::complex<float>))));
  if (!out.data) return unexpected(too_large(nq));
  out.size = size;
  std::complex<float>* amp = out.data.get();

  auto bit_of = [&](size_t q) {
    return order == Endian::kLittle ? uint64_t{1} << q : uint64_t{1} << (nq - 1 - q);
  };
  // Index change caused by flipping each path variable, and the start index (x = 0).
  std::vector<uint64_t> delta(n, 0);
  uint64_t index = 0;
  for (size_t q = 0; q < nq; ++q) {
    if (sim.offset(q)) index |= bit_of(q);
    for_each_one(sim.row(q), n, [&](size_t j) { delta[j] ^= bit_of(q); });
  }
  // Walk the support along an echelon basis of these index changes, ordered by leading bit:
  // the most frequently flipped direction then moves the index least, so writes stay local.
  // dirs[i] is the path-variable change (a mask over the n <= 60 variables) of steps[i].
  std::vector<uint64_t> steps, dirs;
  {
    std::array<uint64_t, 64> basis_step{}, basis_dir{};
    for (size_t j = 0; j < n; ++j) {
      uint64_t v = delta[j], d = uint64_t{1} << j;
      while (true) {
        int lead = 63 - std::countl_zero(v);
        if (basis_step[lead] == 0) {
          basis_step[lead] = v;
          basis_dir[lead] = d;
          break;
        }
        v ^= basis_step[lead];
        d ^= basis_dir[lead];
      }
    }
    for (size_t lead = 0; lead < 64; ++lead) {
      if (basis_step[lead]) {
        steps.push_back(basis_step[lead]);
        dirs.push_back(basis_dir[lead]);
      }
    }
  }
  // Term parities as bitsets: masks[i] marks the terms whose parity flips along dirs[i], and
  // coefficient bit b of every term is in coef_bits[b]. The phase of a path is then
  // sum_b 2^b * popcount(parity & coef_bits[b]) mod 8, updated with one XOR per Gray step.
  size_t num_terms = sim.phase().size();
  size_t tw = words_for_bits(num_terms);
  std::vector<uint64_t> masks(n * tw, 0), coef_bits(3 * tw, 0), parity(tw, 0);
  {
    size_t t = 0;
    sim.phase().for_each([&](std::span<const uint64_t> key, uint8_t c) {
      uint64_t bit = uint64_t{1} << (t % 64);
      for (size_t i = 0; i < n; ++i) {
        if (std::popcount(key[0] & dirs[i]) & 1) masks[i * tw + t / 64] |= bit;
      }
      for (size_t b = 0; b < 3; ++b) {
        if ((c >> b) & 1) coef_bits[b * tw + t / 64] |= bit;
      }
      ++t;
    });
  }

  float a = std::exp2f(static_cast<float>(n) * -0.5f);
  std::complex<float> value[8];
  for (unsigned k = 0; k < 8; ++k) value[k] = {a * kCos[k], a * kSin[k]};
  amp[index] = value[0];
  uint64_t min_index = index;
  unsigned min_k = 0;
  uint64_t num_paths = uint64_t{1} << n;
  for (uint64_t i = 1; i < num_paths; ++i) {
    size_t j = static_cast<size_t>(std::countr_zero(i));
    index ^= steps[j];
    const uint64_t* mask = masks.data() + j * tw;
    unsigned k = 0;
    for (size_t w = 0; w < tw; ++w) {
      uint64_t p = parity[w] ^= mask[w];
      k += static_cast<unsigned>(std::popcount(p & coef_bits[w]) +
                                 2 * std::popcount(p & coef_bits[tw + w]) +
                                 4 * std::popcount(p & coef_bits[2 * tw + w]));
    }
    k &= 7;
    amp[index] = value[k];
    if (index < min_index) {
      min_index = index;
      min_k = k;
    }
  }
  // Rotate by omega^(-k_min) so that the first non-zero amplitude is real and positive.
  if (min_k != 0) {
    unsigned r = (8 - min_k) & 7;
    float c = kCos[r], s = kSin[r];
    for (size_t e = 0; e < size; ++e) {
      float re = amp[e].real(), im = amp[e].imag();
      float re_c = re * c, im_s = im * s, re_s = re * s, im_c = im * c;
      amp[e] = {re_c - im_s, re_s + im_c};
    }
  }
  amp[min_index] = {a, 0.0f};
  return out;
}

std::optional<BitVec> to_basis_coordinates(const Simulator& sim, const BitVec& target) {
  size_t nq = sim.num_qubits();
  size_t n = sim.num_vars();
  std::vector<BitVec> rows;
  rows.reserve(nq);
  for (size_t q = 0; q < nq; ++q) rows.push_back(sim.row_vec(q));
  std::vector<bool> rhs(nq);
  for (size_t q = 0; q < nq; ++q) rhs[q] = target.get(q);
  for (size_t j = 0; j < n; ++j) {
    size_t pick = j;
    while (pick < nq && !rows[pick].get(j)) ++pick;
    if (pick == nq) return std::nullopt;
    std::swap(rows[pick], rows[j]);
    std::vector<bool>::swap(rhs[pick], rhs[j]);
    for (size_t q = 0; q < nq; ++q) {
      if (q != j && rows[q].get(j)) {
        rows[q].xor_with(rows[j]);
        rhs[q] = rhs[q] != rhs[j];
      }
    }
  }
  for (size_t q = n; q < nq; ++q) {
    if (rhs[q] && rows[q].is_zero()) return std::nullopt;
  }
  BitVec x = BitVec::zeros(n);
  for (size_t j = 0; j < n; ++j) x.set(j, rhs[j]);
  return x;
}

}  // namespace velkor
