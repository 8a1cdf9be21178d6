#include "simulator/pivot_basis.h"

#include <algorithm>
#include <bit>

#include "base/internal_error.h"
#include "bits/row_passes.h"

namespace velkor {

void PivotBasis::clear() {
  slot_of_.clear();
  pivot_bits_.clear();
  owner_.clear();
  dirs_.clear();
  words_ = 0;
}

void PivotBasis::set_words(size_t words) {
  if (words > stride_) {
    size_t stride = std::max(words, 2 * stride_);
    std::vector<uint64_t> dirs(owner_.size() * stride, 0);
    for (size_t s = 0; s < owner_.size(); ++s) {
      std::copy_n(dirs_.data() + s * stride_, stride_, dirs.data() + s * stride);
    }
    dirs_ = std::move(dirs);
    stride_ = stride;
  }
  words_ = words;
}

void PivotBasis::fold_into(std::span<const uint64_t> filter, std::span<const uint64_t> add,
                           size_t skip) {
  with_row_width(words_, [&](auto width) {
    fold_rows<decltype(width)::value>(dirs_.data(), stride_, words_, owner_.size(), filter.data(),
                                      add.data(), skip);
  });
}

void PivotBasis::set_slot(size_t q, size_t s) {
  slot_of_[q] = s;
  uint64_t bit = uint64_t{1} << (q % 64);
  pivot_bits_[q / 64] = s == kNone ? pivot_bits_[q / 64] & ~bit : pivot_bits_[q / 64] | bit;
}

void PivotBasis::xor_pivot_row(const RowView& rows, size_t dst, size_t src) {
  size_t v = slot_of_[dst];
  size_t u = slot_of_[src];
  if (u != kNone) {
    // Pivot dst now reads x . (rows[dst] ^ rows[src]): d_u flips it too unless d_v is added.
    xor_words(dir(u), dir(v));
    return;
  }
  // Every direction that the new row term flips gets d_v added back. When rows[src] . d_v is
  // odd, rows[dst] ^ rows[src] would depend on the other pivots; src takes the slot over
  // instead, and the same update makes the directions right for it.
  std::span<const uint64_t> r = rows.row(src);
  bool takes_over = dot_words(r, dir(v));
  fold_into(r, dir(v), v);
  if (takes_over) {
    set_slot(src, v);
    owner_[v] = src;
    set_slot(dst, kNone);
  }
}

void PivotBasis::swap_rows(size_t a, size_t b) {
  size_t sa = slot_of_[a], sb = slot_of_[b];
  set_slot(a, sb);
  set_slot(b, sa);
  if (sb != kNone) owner_[sb] = a;
  if (sa != kNone) owner_[sa] = b;
}

void PivotBasis::add_variable(const RowView& rows, size_t num_qubits, size_t q) {
  size_t n = owner_.size();
  set_words(words_for_bits(n + 1));
  dirs_.resize(std::max(dirs_.size(), (n + 1) * stride_));
  std::fill_n(dirs_.data() + n * stride_, stride_, 0);
  owner_.push_back(kNone);
  scratch_.assign(words_, 0);
  size_t u = slot_of_[q];
  if (u == kNone) {
    // q becomes the pivot of x_n, whose direction is e_n; the others must stop flipping q.
    flip_bit(scratch_, n);
    fold_into(rows.row(q), scratch_, n);
    std::copy(scratch_.begin(), scratch_.end(), dir(n).begin());
    owner_[n] = q;
    set_slot(q, n);
    return;
  }
  // q keeps its slot with direction e_n. Some non-pivot row r is flipped by the old d_u (else
  // d_u would already solve for q alone and x_n would duplicate a column); r takes the new slot
  // with d_u ^ e_n, which flips neither q nor any other pivot.
  std::span<const uint64_t> old_u = dir(u);
  size_t r = 0;
  while (r < num_qubits && (slot_of_[r] != kNone || !dot_words(rows.row(r), old_u))) ++r;
  check_invariant(r < num_qubits, "a fresh variable keeps the affine map one-to-one");
  std::copy(old_u.begin(), old_u.end(), scratch_.begin());
  flip_bit(scratch_, n);
  fold_into(rows.row(r), scratch_, u);
  std::copy(scratch_.begin(), scratch_.end(), dir(n).begin());
  owner_[n] = r;
  set_slot(r, n);
  std::fill(dir(u).begin(), dir(u).end(), 0);
  flip_bit(dir(u), n);
}

void PivotBasis::restrict(std::span<const uint64_t> normal, size_t pivot, size_t old_vars) {
  size_t n = owner_.size();
  check_invariant(n == old_vars, "one pivot per variable");
  // Some slot i has normal . d_i odd (the directions are a basis). Directions with odd overlap
  // take d_i, after which all lie in the hyperplane normal . d == 0 and, without bit `pivot`, are
  // the directions of the restricted map, where the last variable takes x_pivot's place; slot
  // i's pivot is no longer needed.
  size_t i = n;
  with_row_width(words_, [&](auto width) {
    for (size_t base = 0; base < n && i == n; base += 64) {
      uint64_t odd =
          odd_overlaps<decltype(width)::value>(dirs_.data() + base * stride_, stride_, words_,
                                               std::min<size_t>(64, n - base), normal.data());
      if (odd) i = base + static_cast<size_t>(std::countr_zero(odd));
    }
  });
  check_invariant(i < n, "a restriction normal overlaps some pivot direction");
  scratch_.assign(dir(i).begin(), dir(i).end());
  fold_into(normal, scratch_, n);
  const size_t last = n - 1;
  for (size_t s = 0; s < n; ++s) {
    std::span<uint64_t> d = dir(s);
    uint64_t moved = pivot == last ? 0 : get_bit(d, last);  // x_pivot itself just goes
    d[last / 64] &= ~(uint64_t{1} << (last % 64));
    d[pivot / 64] = (d[pivot / 64] & ~(uint64_t{1} << (pivot % 64))) | (moved << (pivot % 64));
  }
  words_ = words_for_bits(n - 1);
  // Slot i's pivot is no longer needed; the last slot takes its place.
  set_slot(owner_[i], kNone);
  if (i + 1 < n) {
    std::copy_n(dirs_.data() + (n - 1) * stride_, stride_, dirs_.data() + i * stride_);
    owner_[i] = owner_[n - 1];
    slot_of_[owner_[i]] = i;
  }
  owner_.pop_back();
}

void PivotBasis::reuse_variable(size_t slot, size_t p) {
  // A direction d keeps every other pivot's parity once bit p is gone, since those rows no longer
  // hold x_p; the refreshed row is e_p, which only the slot's own direction e_p may flip.
  word_kernels().clear_bit(dirs_.data(), owner_.size(), stride_, p);
  std::fill(dir(slot).begin(), dir(slot).end(), 0);
  flip_bit(dir(slot), p);
}

template <class TargetWord>
bool PivotBasis::image_matches(const ColumnView& columns, size_t num_qubits, size_t num_vars,
                               const BitVec& d, TargetWord target_word) const {
  // Eight words of A d at a time, each over the few columns d selects (directions are sparse).
  constexpr size_t kChunk = 8;
  const size_t words = words_for_bits(num_qubits);
  for (size_t base = 0; base < words; base += kChunk) {
    const size_t count = std::min(kChunk, words - base);
    uint64_t image[kChunk] = {};
    for_each_one(d.words(), num_vars, [&](size_t v) {
      const uint64_t* column = columns.data + v * columns.stride + base;
      for (size_t k = 0; k < count; ++k) image[k] ^= column[k];
    });
    for (size_t k = 0; k < count; ++k) {
      if ((image[k] ^ target_word(base + k)) & ~pivot_bits_[base + k]) return false;
    }
  }
  return true;
}

std::optional<BitVec> PivotBasis::solve(const ColumnView& columns, size_t num_qubits,
                                        size_t num_vars, const BitVec& target) const {
  BitVec d = BitVec::zeros(num_vars);
  target.for_each_one([&](size_t q) {
    if (slot_of_[q] != kNone) xor_words(d.words(), direction(slot_of_[q]));
  });
  if (!image_matches(columns, num_qubits, num_vars, d,
                     [&](size_t k) { return target.words()[k]; })) {
    return std::nullopt;
  }
  return d;
}

bool PivotBasis::solve_flip_into(const ColumnView& columns, size_t num_qubits, size_t num_vars,
                                 size_t q, BitVec& d) const {
  d.assign_zeros(num_vars);
  // Without a pivot, q's row depends on the pivot rows, which d must leave alone.
  if (slot_of_[q] == kNone) return false;
  xor_words(d.words(), direction(slot_of_[q]));
  return image_matches(columns, num_qubits, num_vars, d, [&](size_t k) {
    return k == q / 64 ? uint64_t{1} << (q % 64) : uint64_t{0};
  });
}

}  // namespace velkor
