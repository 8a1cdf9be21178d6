#include "simulator/expvals/directional_derivative.h"

#include <algorithm>
#include <array>
#include <bit>
#include <vector>

namespace velkor {
namespace {

/// Adds k k^T to the coupling rows for up to kGroup odd keys k at a time (the "four Russians"
/// method): a table of the XORs of every subset of the group, then one table row per variable,
/// instead of one row XOR per (key, member) pair.
class CouplingAccumulator {
 public:
  static constexpr size_t kGroup = 8;

  CouplingAccumulator(size_t n, std::vector<BitVec>& rows, DerivativeWorkspace& workspace)
      : n_(n),
        words_(words_for_bits(n)),
        rows_(rows),
        table_(workspace.table),
        index_(workspace.index) {
    // Entry 0 (the empty subset) stays zero; flush writes every other entry before reading it.
    table_.resize((1u << kGroup) * words_);
    std::fill_n(table_.begin(), words_, 0);
    index_.assign(n, 0);
  }

  void add(std::span<const uint64_t> key) {
    keys_[count_++] = key;
    if (count_ == kGroup) flush();
  }

  void flush() {
    if (count_ == 0) return;
    // table[m] = XOR of the keys in subset m, each entry one XOR from a smaller subset.
    size_t subsets = size_t{1} << count_;
    for (size_t m = 1; m < subsets; ++m) {
      uint64_t* dst = &table_[m * words_];
      const uint64_t* smaller = &table_[(m & (m - 1)) * words_];
      std::span<const uint64_t> key = keys_[std::countr_zero(m)];
      for (size_t w = 0; w < words_; ++w) dst[w] = smaller[w] ^ key[w];
    }
    for (size_t i = 0; i < count_; ++i) {
      for_each_one(keys_[i], n_, [&](size_t j) { index_[j] |= static_cast<uint8_t>(1u << i); });
    }
    for (size_t j = 0; j < n_; ++j) {
      if (index_[j] == 0) continue;
      xor_words(rows_[j].words(), std::span<const uint64_t>(&table_[index_[j] * words_], words_));
      index_[j] = 0;
    }
    count_ = 0;
  }

 private:
  size_t n_;
  size_t words_;
  std::vector<BitVec>& rows_;
  std::vector<uint64_t>& table_;
  std::vector<uint8_t>& index_;
  std::array<std::span<const uint64_t>, kGroup> keys_;
  size_t count_ = 0;
};

}  // namespace

QuadraticPhase directional_derivative(const Simulator& sim, std::span<const uint64_t> d) {
  QuadraticPhase form;
  DerivativeWorkspace workspace;
  directional_derivative_into(sim, d, form, workspace);
  return form;
}

std::optional<uint8_t> constant_derivative(const Simulator& sim, std::span<const uint64_t> d) {
  // 4 * parity(k . x) changes by the constant 4 * parity(k . d); any other coefficient on a key
  // with odd overlap makes the change depend on x.
  uint8_t constant = 0;
  bool varies = false;
  sim.phase().for_each([&](std::span<const uint64_t> key, uint8_t c) {
    if (!dot_words(key, d)) return;
    if (c == 4) {
      constant ^= 4;
    } else {
      varies = true;
    }
  });
  if (varies) return std::nullopt;
  return constant;
}

void directional_derivative_into(const Simulator& sim, std::span<const uint64_t> d,
                                 QuadraticPhase& form, DerivativeWorkspace& workspace) {
  size_t n = sim.num_vars();
  size_t words = words_for_bits(n);
  form.linear.assign(n, 0);
  form.constant = 0;
  std::vector<BitVec>& rows = form.quadratic;
  std::vector<BitVec>& spare = workspace.spare_rows;
  for (; rows.size() > n; rows.pop_back()) spare.push_back(std::move(rows.back()));
  for (; rows.size() < n; spare.pop_back()) {
    if (spare.empty()) spare.emplace_back();
    rows.push_back(std::move(spare.back()));
  }
  for (BitVec& row : rows) {
    // Rows left zero by the last call (no odd key touched them) need no clearing.
    if (row.len() != n) {
      row.assign_zeros(n);
    } else if (!row.is_zero()) {
      std::fill(row.words().begin(), row.words().end(), 0);
    }
  }
  // The linear coefficients as a bit-sliced counter mod 4 (bit j of `low` and `high`), so that
  // adding to every member of a key is a few word operations.
  std::vector<uint64_t>& low = workspace.low;
  std::vector<uint64_t>& high = workspace.high;
  std::vector<uint64_t>& odd_members = workspace.odd_members;
  low.assign(words, 0);
  high.assign(words, 0);
  odd_members.assign(words, 0);
  CouplingAccumulator couplings(n, form.quadratic, workspace);
  // A term c * parity(k . x) with odd k . d changes by c * (1 - 2 * parity(k . x)), and modulo 4
  // a parity is the sum of its bits plus twice the sum of their pairwise products.
  sim.phase().for_each([&](std::span<const uint64_t> key, uint8_t c) {
    if (!dot_words(key, d)) return;
    form.constant = static_cast<uint8_t>((form.constant + c) & 7);
    unsigned minus_c = (4 - c) & 3;
    for (size_t w = 0; w < words; ++w) {
      if (minus_c & 1) {
        high[w] ^= low[w] & key[w];
        low[w] ^= key[w];
      }
      if (minus_c & 2) high[w] ^= key[w];
    }
    if (c & 1) {
      couplings.add(key);
      for (size_t w = 0; w < words; ++w) odd_members[w] |= key[w];
    }
  });
  couplings.flush();
  for (size_t w = 0; w < words; ++w) {
    for (uint64_t bits = low[w] | high[w]; bits; bits &= bits - 1) {
      size_t j = w * 64 + static_cast<size_t>(std::countr_zero(bits));
      form.linear[j] = static_cast<uint8_t>(get_bit(low, j) + 2 * get_bit(high, j));
    }
  }
  // Each odd key toggled the diagonal of its own members; those bits are not couplings.
  for_each_one(odd_members, n, [&](size_t j) { form.quadratic[j].set(j, false); });
}

}  // namespace velkor
