#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "bits/words.h"

namespace velkor {

/// Qubit order of a basis-state index: little puts qubit 0 in the least significant bit.
enum class Endian { kLittle, kBig };

/// A vector over GF(2): `len` bits packed into ceil(len / 64) words, bits of the last word at or
/// above `len` always zero, so equality and hashing work word by word.
class BitVec {
 public:
  BitVec() = default;

  /// All-zero vector of `n` bits.
  static BitVec zeros(size_t n);
  /// Zero vector of `n` bits with bit `i` set (i < n).
  static BitVec unit(size_t n, size_t i);
  /// A vector of `len` bits copied from the first ceil(len / 64) words of `words`.
  static BitVec from_words(std::span<const uint64_t> words, size_t len);

  size_t len() const { return len_; }
  size_t num_words() const { return words_.size(); }
  std::span<const uint64_t> words() const { return words_; }
  std::span<uint64_t> words() { return words_; }

  bool get(size_t i) const { return get_bit(words_, i); }
  void flip(size_t i) { flip_bit(words_, i); }
  void set(size_t i, bool value) {
    uint64_t bit = uint64_t{1} << (i % 64);
    words_[i / 64] = value ? (words_[i / 64] | bit) : (words_[i / 64] & ~bit);
  }

  /// this ^= other over the words both have.
  void xor_with(const BitVec& other) { xor_words(words_, other.words_); }
  /// Parity of the AND over the words both have.
  bool dot(const BitVec& other) const { return dot_words(words_, other.words_); }
  bool is_zero() const { return is_zero_words(words_); }
  std::optional<size_t> first_one() const { return first_one_words(words_); }
  /// Calls f(i) for every set bit, ascending.
  template <class F>
  void for_each_one(F&& f) const {
    velkor::for_each_one(words_, len_, f);
  }
  /// The set positions, ascending.
  std::vector<size_t> ones() const;
  size_t count_ones() const;

  /// Becomes the all-zero vector of `n` bits, reusing the allocated words.
  void assign_zeros(size_t n) {
    words_.assign(words_for_bits(n), 0);
    len_ = n;
  }
  /// Grows to `m` >= len bits; new bits are zero.
  void resize(size_t m);
  /// A copy with bit `i` dropped and the bits above it moved down by one.
  BitVec remove_bit(size_t i) const;
  /// The bits as a basis-state index (len <= 64).
  uint64_t to_index(Endian order) const;

  bool operator==(const BitVec& other) const = default;
  size_t hash() const;

 private:
  std::vector<uint64_t> words_;
  size_t len_ = 0;
};

struct BitVecHash {
  size_t operator()(const BitVec& v) const { return v.hash(); }
};

}  // namespace velkor
