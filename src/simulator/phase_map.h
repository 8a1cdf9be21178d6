#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "bits/words.h"

namespace velkor {

/// The phase polynomial over the path variables, in multiples of pi/4 (mod 8), up to a constant.
///
/// Terms with coefficient 4 are linear over GF(2): 4 * parity(a . x) + 4 * parity(b . x) is
/// 4 * parity((a XOR b) . x). They are kept summed in one linear key, so Pauli errors and |->
/// preparations add no entries and a restriction substitutes them with one word operation.
/// Every other term (coefficients 1, 2, 3, 5, 6, 7) is a keyed gadget in a hash map with open
/// addressing and linear probing; keys live inline in one word array, so inserting a term never
/// allocates on its own. Iteration order is unspecified and nothing may depend on it.
class PhaseMap {
 public:
  PhaseMap() = default;
  /// An empty map whose keys have `key_words` words.
  explicit PhaseMap(size_t key_words) : key_words_(key_words), linear_(key_words, 0) {}

  size_t key_words() const { return key_words_; }
  /// The number of terms for_each visits: the keyed gadgets, plus one for a non-zero linear key.
  size_t size() const { return size_ + !is_zero_words(linear_); }
  bool empty() const { return size() == 0; }
  /// The number of keyed gadgets (coefficients other than 4).
  size_t keyed_size() const { return size_; }
  /// The linear key l: the coefficient-4 terms sum to 4 * parity(l . x).
  std::span<const uint64_t> linear() const { return linear_; }

  /// Adds increment * parity(key . x) (mod 8). A zero key (a global phase) or a zero increment
  /// changes nothing; a gadget whose coefficient reaches 4 joins the linear key.
  void add(std::span<const uint64_t> key, uint8_t increment);
  /// The coefficient of the keyed gadget `key`, 0 when absent (the linear key is apart).
  uint8_t get(std::span<const uint64_t> key) const;
  void clear();
  /// Re-lays every key out with `key_words` words (new words zero; dropped words must be zero).
  void set_key_words(size_t key_words);
  /// Substitutes x_p = value XOR parity(normal . x without x_p), p any set bit of normal,
  /// keeping the key width: afterwards no term holds x_p. Only the gadgets holding x_p move.
  void substitute(std::span<const uint64_t> normal, size_t p, bool value);
  /// Renames variable `from` to `to`, which no term may hold. Only the gadgets holding it move.
  void move_variable(size_t from, size_t to);

  /// The same polynomial term for term.
  bool operator==(const PhaseMap& other) const;

  /// Calls f(key, coefficient) for every keyed gadget, then f(linear key, 4) when it is non-zero.
  /// A key may thus be visited twice; the polynomial is the sum of every visit.
  template <class F>
  void for_each(F&& f) const {
    for_each_keyed_slot([&](size_t slot) { f(key_at(slot), coef_[slot]); });
    if (!is_zero_words(linear_)) f(std::span<const uint64_t>(linear_), uint8_t{4});
  }

 private:
  /// Calls f(slot) for every slot holding a gadget, eight slots at a time, so that a sparse
  /// table costs one load per eight empty slots. f must not change the table.
  template <class F>
  void for_each_keyed_slot(F&& f) const {
    for (size_t base = 0; base < coef_.size(); base += 8) {
      uint64_t chunk;
      std::memcpy(&chunk, coef_.data() + base, 8);
      while (chunk) {
        int byte = std::countr_zero(chunk) / 8;
        f(base + byte);
        chunk &= ~(uint64_t{0xFF} << (8 * byte));
      }
    }
  }
  std::span<const uint64_t> key_at(size_t slot) const {
    return {keys_.data() + slot * key_words_, key_words_};
  }
  std::span<uint64_t> key_at(size_t slot) { return {keys_.data() + slot * key_words_, key_words_}; }
  size_t hash(std::span<const uint64_t> key) const;
  /// The slot holding `key`, or the empty slot where it would go.
  size_t find_slot(std::span<const uint64_t> key) const;
  void erase_slot(size_t slot);
  void rehash(size_t capacity, size_t key_words);

  /// Takes out every keyed gadget holding bit b, then adds each back as rekey(key, coefficient)
  /// makes it (rekey may change both; a key that becomes zero is a global phase and is dropped).
  template <class Rekey>
  void rekey_holding(size_t b, Rekey rekey);
  /// Adds `increment` to a keyed gadget, or to the linear key when the sum is 4.
  void add_keyed(std::span<const uint64_t> key, uint8_t increment);

  size_t key_words_ = 0;
  size_t size_ = 0;
  size_t mask_ = 0;  // capacity - 1; capacity is 0 or a power of two of at least 16
  std::vector<uint64_t> keys_;
  std::vector<uint8_t> coef_;         // 0 marks an empty slot; never 4
  std::vector<uint64_t> linear_;      // key_words_ words
  std::vector<uint64_t> moved_keys_;  // rekey_holding's reused copy of the gadgets it moves
  std::vector<uint8_t> moved_coefs_;
};

}  // namespace velkor
