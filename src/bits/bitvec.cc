#include "bits/bitvec.h"

#include <bit>

#include "base/internal_error.h"

namespace velkor {

BitVec BitVec::zeros(size_t n) {
  BitVec v;
  v.words_.assign(words_for_bits(n), 0);
  v.len_ = n;
  return v;
}

BitVec BitVec::unit(size_t n, size_t i) {
  check_invariant(i < n, "unit index out of range");
  BitVec v = zeros(n);
  v.flip(i);
  return v;
}

BitVec BitVec::from_words(std::span<const uint64_t> words, size_t len) {
  BitVec v = zeros(len);
  for (size_t k = 0; k < v.words_.size() && k < words.size(); ++k) v.words_[k] = words[k];
  if (len % 64 && !v.words_.empty()) v.words_.back() &= (uint64_t{1} << (len % 64)) - 1;
  return v;
}

std::vector<size_t> BitVec::ones() const {
  std::vector<size_t> out;
  for_each_one([&](size_t i) { out.push_back(i); });
  return out;
}

size_t BitVec::count_ones() const {
  size_t n = 0;
  for (uint64_t w : words_) n += static_cast<size_t>(std::popcount(w));
  return n;
}

void BitVec::resize(size_t m) {
  check_invariant(m >= len_, "BitVec::resize cannot shrink");
  words_.resize(words_for_bits(m), 0);
  len_ = m;
  if (m % 64) words_.back() &= (uint64_t{1} << (m % 64)) - 1;
}

BitVec BitVec::remove_bit(size_t i) const {
  check_invariant(len_ >= 1 && i < len_, "remove_bit index out of range");
  BitVec out = zeros(len_ - 1);
  remove_bit_words(words_, i, out.words_);
  return out;
}

uint64_t BitVec::to_index(Endian order) const {
  check_invariant(len_ <= 64, "to_index needs at most 64 bits");
  uint64_t w = words_.empty() ? 0 : words_[0];
  if (order == Endian::kLittle || len_ == 0) return w;
  return reverse_bits(w) >> (64 - len_);
}

size_t BitVec::hash() const {
  uint64_t h = 0x9e3779b97f4a7c15ull ^ len_;
  for (uint64_t w : words_) {
    h ^= w + 0x9e3779b97f4a7c15ull + (h << 6) + (h >> 2);
  }
  return static_cast<size_t>(h);
}

}  // namespace velkor
