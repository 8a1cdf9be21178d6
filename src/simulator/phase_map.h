#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace velkor {

/// The phase polynomial: a map from non-zero parity keys over the path variables (all of one
/// length) to coefficients 1..7 (multiples of pi/4). Open addressing with linear probing; keys
/// live inline in one word array, so inserting a term never allocates on its own.
/// Iteration order is unspecified and nothing may depend on it.
class PhaseMap {
 public:
  PhaseMap() = default;
  /// An empty map whose keys have `key_words` words.
  explicit PhaseMap(size_t key_words) : key_words_(key_words) {}

  size_t key_words() const { return key_words_; }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }

  /// Adds `increment` (mod 8) to the coefficient of `key`; drops the term when it reaches 0.
  /// A zero key (a global phase) or a zero increment changes nothing.
  void add(std::span<const uint64_t> key, uint8_t increment);
  /// The coefficient of `key`, 0 when absent.
  uint8_t get(std::span<const uint64_t> key) const;
  void clear();
  /// Reserves room for `n` terms without rehashing.
  void reserve(size_t n);
  /// Re-lays every key out with `key_words` words (new words zero; dropped words must be zero).
  void set_key_words(size_t key_words);

  /// Calls f(key, coefficient) for every term.
  template <class F>
  void for_each(F&& f) const {
    for (size_t slot = 0; slot < coef_.size(); ++slot) {
      if (coef_[slot]) f(key_at(slot), coef_[slot]);
    }
  }

 private:
  std::span<const uint64_t> key_at(size_t slot) const {
    return {keys_.data() + slot * key_words_, key_words_};
  }
  std::span<uint64_t> key_at(size_t slot) { return {keys_.data() + slot * key_words_, key_words_}; }
  size_t hash(std::span<const uint64_t> key) const;
  /// The slot holding `key`, or the empty slot where it would go.
  size_t find_slot(std::span<const uint64_t> key) const;
  void erase_slot(size_t slot);
  void rehash(size_t capacity, size_t key_words);

  size_t key_words_ = 0;
  size_t size_ = 0;
  size_t mask_ = 0;  // capacity - 1; capacity is 0 or a power of two
  std::vector<uint64_t> keys_;
  std::vector<uint8_t> coef_;  // 0 marks an empty slot
};

}  // namespace velkor
