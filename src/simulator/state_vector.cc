#include "simulator/state_vector.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace velkor {
namespace {

constexpr float kHalfSqrt2 = 0.70710677f;
constexpr float kCos[8] = {1, kHalfSqrt2, 0, -kHalfSqrt2, -1, -kHalfSqrt2, 0, kHalfSqrt2};
constexpr float kSin[8] = {0, kHalfSqrt2, 1, kHalfSqrt2, 0, -kHalfSqrt2, -1, -kHalfSqrt2};

std::string too_large(size_t num_qubits) {
  return "cannot allocate a state vector of " + std::to_string(num_qubits) + " qubits (2^" +
         std::to_string(num_qubits) + " amplitudes)";
}

/// Asks the kernel to back a large fresh buffer with huge pages, as NumPy does for its arrays:
/// the first touch of each page then costs one fault per 2 MiB instead of per 4 KiB.
void advise_huge_pages(void* data, size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  constexpr size_t kPage = 4096;
  if (bytes < (size_t{1} << 22)) return;
  auto begin = (reinterpret_cast<uintptr_t>(data) + kPage - 1) & ~uintptr_t{kPage - 1};
  auto end = (reinterpret_cast<uintptr_t>(data) + bytes) & ~uintptr_t{kPage - 1};
  madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
  (void)data;
  (void)bytes;
#endif
}

bool parity(uint64_t w) { return std::popcount(w) & 1; }

/// Sixteen byte lanes, one per block of paths; byte arithmetic wraps modulo 256.
using Lanes = uint8_t __attribute__((vector_size(16)));
constexpr size_t kLaneBits = 4;
constexpr size_t kLanes = size_t{1} << kLaneBits;
/// Directions enumerated inside a block: at least 2^8 rows of lanes, more when there are many
/// terms so that the pass over the terms stays small beside the block, at most 2^12 (64 KiB).
size_t inner_bits(size_t num_terms) {
  return std::clamp<size_t>(std::bit_width(num_terms), 9, 13) - 1;
}

/// The walk's coordinates: one direction per path variable, the reduced echelon basis of the
/// index changes ordered by leading bit. steps[i] is the index change of direction i and dirs[i]
/// its path-variable change (a mask over the n <= 60 variables). Low directions then move the
/// index least, and a combination of directions is read off its leading bits.
struct SupportBasis {
  std::vector<uint64_t> steps, dirs;
};

SupportBasis support_basis(const std::vector<uint64_t>& delta) {
  std::array<uint64_t, 64> step{}, dir{};
  for (size_t j = 0; j < delta.size(); ++j) {
    uint64_t v = delta[j], d = uint64_t{1} << j;
    while (true) {
      int lead = 63 - std::countl_zero(v);
      if (step[lead] == 0) {
        step[lead] = v;
        dir[lead] = d;
        break;
      }
      v ^= step[lead];
      d ^= dir[lead];
    }
  }
  SupportBasis basis;
  for (size_t lead = 0; lead < 64; ++lead) {
    if (step[lead] == 0) continue;
    for (size_t higher = lead + 1; higher < 64; ++higher) {
      if ((step[higher] >> lead) & 1) {
        step[higher] ^= step[lead];
        dir[higher] ^= dir[lead];
      }
    }
    basis.steps.push_back(step[lead]);
    basis.dirs.push_back(dir[lead]);
  }
  return basis;
}

/// In-place Walsh-Hadamard transform over the 2^bits rows, lane by lane, modulo 256.
void walsh_hadamard(Lanes* rows, size_t bits) {
  size_t size = size_t{1} << bits;
  for (size_t h = 1; h < size; h <<= 1) {
    for (size_t i = 0; i < size; i += 2 * h) {
      for (size_t j = i; j < i + h; ++j) {
        Lanes a = rows[j], b = rows[j + h];
        rows[j] = a + b;
        rows[j + h] = a - b;
      }
    }
  }
}

/// Writes value[phase(y)] at the index start XOR (sum of steps[i] over y_i = 1) for every
/// coordinate vector y, where phase(y) = sum_t coefs[t] * (masks[t] . y) mod 8.
///
/// The coordinates split into lane ones (16 blocks side by side), inner ones (the rows of a
/// block) and outer ones (walked in Gray order). With s_t the parity a term takes on the lane and
/// outer coordinates and l_t its inner mask, phase(u) = sum_t c_t * (s_t XOR l_t . u), and
/// 2 * phase(u) = sum_t c_t - W(u) with W the Walsh-Hadamard transform of the rows
/// T[l] = sum over terms with l_t = l of (-1)^s_t c_t. So a block costs one transform of byte
/// additions plus one pass over the terms, whatever the number of terms per row.
void write_support(std::complex<float>* amp, const std::array<std::complex<float>, 8>& value,
                   const std::vector<uint64_t>& steps, uint64_t start,
                   const std::vector<uint64_t>& masks, const std::vector<uint8_t>& coefs) {
  size_t n = steps.size();
  size_t lane_bits = std::min(kLaneBits, n);
  size_t inner = std::min(inner_bits(masks.size()), n - lane_bits);
  size_t outer = n - lane_bits - inner;
  std::array<uint64_t, kLanes> lane_index{};
  for (size_t g = 1; g < (size_t{1} << lane_bits); ++g) {
    lane_index[g] = lane_index[g & (g - 1)] ^ steps[std::countr_zero(g)];
  }
  std::vector<uint64_t> inner_index(size_t{1} << inner, 0);
  for (size_t u = 1; u < (size_t{1} << inner); ++u) {
    inner_index[u] = inner_index[u & (u - 1)] ^ steps[lane_bits + std::countr_zero(u)];
  }
  // When the lane directions are the four lowest index bits, lane g takes the lane coordinates
  // g XOR (the start's low bits) and so lands at index bits g: a row is 16 adjacent entries.
  bool adjacent = lane_bits == kLaneBits;
  for (size_t i = 0; i < lane_bits; ++i) adjacent = adjacent && steps[i] == uint64_t{1} << i;
  uint64_t lane_flip = adjacent ? start & (kLanes - 1) : 0;

  // Per term: its row, its outer mask and its row contribution -(-1)^s_t c_t in each lane for
  // outer parity 0 (plus) and 1 (minus). Rows hold sum_t c_t at row 0 minus T, so that their
  // transform is 2 * phase.
  size_t num_terms = masks.size();
  std::vector<uint32_t> term_row(num_terms);
  std::vector<uint64_t> term_outer(num_terms);
  std::vector<Lanes> plus(num_terms), minus(num_terms);
  uint8_t coef_sum = 0;
  for (size_t t = 0; t < num_terms; ++t) {
    uint64_t m = masks[t];
    uint64_t lane_mask = m & ((uint64_t{1} << lane_bits) - 1);
    term_row[t] = static_cast<uint32_t>((m >> lane_bits) & ((uint64_t{1} << inner) - 1));
    term_outer[t] = m >> (lane_bits + inner);
    for (size_t g = 0; g < kLanes; ++g) {
      bool odd = parity(lane_mask & (g ^ lane_flip));
      auto c = static_cast<uint8_t>(odd ? coefs[t] : -coefs[t]);
      plus[t][g] = c;
      minus[t][g] = static_cast<uint8_t>(-c);
    }
    coef_sum = static_cast<uint8_t>(coef_sum + coefs[t]);
  }

  // Amplitudes move as 8-byte words, and adjacent ones as 16-byte pairs indexed by k0 + 8 k1.
  std::array<uint64_t, 8> words;
  for (size_t k = 0; k < 8; ++k) words[k] = std::bit_cast<uint64_t>(value[k]);
  std::array<std::array<uint64_t, 2>, 64> pairs;
  for (size_t k = 0; k < 64; ++k) pairs[k] = {words[k & 7], words[k >> 3]};
  std::vector<Lanes> rows(size_t{1} << inner);
  const auto* phases = reinterpret_cast<const uint8_t*>(rows.data());
  uint64_t base = start, outer_coords = 0;
  for (uint64_t i = 0; i < (uint64_t{1} << outer); ++i) {
    if (i != 0) {
      size_t j = static_cast<size_t>(std::countr_zero(i));
      base ^= steps[lane_bits + inner + j];
      outer_coords ^= uint64_t{1} << j;
    }
    std::fill(rows.begin(), rows.end(), Lanes{});
    rows[0] += coef_sum;
    for (size_t t = 0; t < num_terms; ++t) {
      rows[term_row[t]] += parity(term_outer[t] & outer_coords) ? minus[t] : plus[t];
    }
    walsh_hadamard(rows.data(), inner);
    for (Lanes& row : rows) row = (row >> 1) & 7;
    if (adjacent) {
      for (size_t u = 0; u < rows.size(); ++u) {
        std::complex<float>* dst = amp + ((base ^ inner_index[u]) & ~uint64_t{kLanes - 1});
        const uint8_t* row = phases + u * kLanes;
        for (size_t g = 0; g < kLanes; g += 2) {
          std::memcpy(static_cast<void*>(dst + g), &pairs[row[g] | row[g + 1] << 3], 16);
        }
      }
      continue;
    }
    for (size_t g = 0; g < (size_t{1} << lane_bits); ++g) {
      uint64_t lane_base = base ^ lane_index[g];
      for (size_t u = 0; u < rows.size(); ++u) {
        std::memcpy(static_cast<void*>(amp + (lane_base ^ inner_index[u])),
                    &words[phases[u * kLanes + g]], 8);
      }
    }
  }
}

}  // namespace

Expected<Amplitudes, std::string> state_vector(const Simulator& sim, Endian order) {
  size_t nq = sim.num_qubits();
  size_t n = sim.num_vars();
  if (nq > kMaxStateVectorQubits) return unexpected(too_large(nq));
  size_t size = size_t{1} << nq;

  auto bit_of = [&](size_t q) {
    return order == Endian::kLittle ? uint64_t{1} << q : uint64_t{1} << (nq - 1 - q);
  };
  // Index change caused by flipping each path variable, and the start index (x = 0).
  std::vector<uint64_t> delta(n, 0);
  uint64_t start = 0;
  for (size_t q = 0; q < nq; ++q) {
    if (sim.offset(q)) start |= bit_of(q);
    for_each_one(sim.row(q), n, [&](size_t j) { delta[j] ^= bit_of(q); });
  }
  SupportBasis basis = support_basis(delta);
  // Phase terms as masks over the walk's coordinates: bit i is the parity of the key on dirs[i].
  std::vector<uint64_t> masks;
  std::vector<uint8_t> coefs;
  masks.reserve(sim.phase().size());
  coefs.reserve(sim.phase().size());
  sim.phase().for_each([&](std::span<const uint64_t> key, uint8_t c) {
    uint64_t m = 0;
    for (size_t i = 0; i < n; ++i) m |= uint64_t{parity(key[0] & basis.dirs[i])} << i;
    masks.push_back(m);
    coefs.push_back(c);
  });
  // The smallest written index clears every leading bit of the start index, and its phase
  // k_min fixes the global phase: every entry, zeros included, is rotated by omega^(-k_min).
  uint64_t min_index = start, min_coords = 0;
  for (size_t i = 0; i < n; ++i) {
    if ((min_index >> (63 - std::countl_zero(basis.steps[i]))) & 1) {
      min_index ^= basis.steps[i];
      min_coords |= uint64_t{1} << i;
    }
  }
  unsigned min_k = 0;
  for (size_t t = 0; t < masks.size(); ++t) min_k += parity(masks[t] & min_coords) * coefs[t];
  min_k &= 7;
  float a = std::exp2f(static_cast<float>(n) * -0.5f);
  std::array<std::complex<float>, 8> value;
  for (unsigned k = 0; k < 8; ++k) value[k] = {a * kCos[k], a * kSin[k]};
  std::complex<float> zero = {0.0f, 0.0f};
  if (min_k != 0) {
    unsigned r = (8 - min_k) & 7;
    float c = kCos[r], s = kSin[r];
    auto rotate = [&](std::complex<float> v) {
      float re = v.real(), im = v.imag();
      float re_c = re * c, im_s = im * s, re_s = re * s, im_c = im * c;
      return std::complex<float>{re_c - im_s, re_s + im_c};
    };
    for (auto& v : value) v = rotate(v);
    zero = rotate(zero);
  }

  // Entries outside the support keep the (rotated) zero; a full support overwrites them all.
  Amplitudes out;
  bool full = n == nq;
  bool plain_zero = std::bit_cast<uint64_t>(zero) == 0;
  size_t bytes = size * sizeof(std::complex<float>);
  out.data.reset(static_cast<std::complex<float>*>(
      full || !plain_zero ? std::malloc(bytes) : std::calloc(size, sizeof(std::complex<float>))));
  if (!out.data) return unexpected(too_large(nq));
  advise_huge_pages(out.data.get(), bytes);
  out.size = size;
  std::complex<float>* amp = out.data.get();
  if (!full && !plain_zero) std::fill(amp, amp + size, zero);
  write_support(amp, value, basis.steps, start, masks, coefs);
  amp[min_index] = {a, 0.0f};
  return out;
}

std::optional<BitVec> to_basis_coordinates(const Simulator& sim, const BitVec& target) {
  std::vector<uint64_t> scratch;
  return sim.pivots().solve(sim.columns(scratch), sim.num_qubits(), sim.num_vars(), target);
}

}  // namespace velkor
