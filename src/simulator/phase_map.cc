#include "simulator/phase_map.h"

#include <algorithm>
#include <cstring>

#include "bits/words.h"

namespace velkor {

size_t PhaseMap::hash(std::span<const uint64_t> key) const {
  uint64_t h = 0x243f6a8885a308d3ull;
  for (uint64_t w : key) {
    h = (h ^ w) * 0x9e3779b97f4a7c15ull;
    h ^= h >> 29;
  }
  return static_cast<size_t>(h ^ (h >> 32));
}

size_t PhaseMap::find_slot(std::span<const uint64_t> key) const {
  // Keys are one to a few words: an inline comparison beats a call to memcmp.
  auto differs = [&](size_t slot) {
    const uint64_t* stored = keys_.data() + slot * key_words_;
    uint64_t diff = 0;
    for (size_t k = 0; k < key_words_; ++k) diff |= stored[k] ^ key[k];
    return diff != 0;
  };
  size_t slot = hash(key) & mask_;
  while (coef_[slot] && differs(slot)) slot = (slot + 1) & mask_;
  return slot;
}

uint8_t PhaseMap::get(std::span<const uint64_t> key) const {
  if (size_ == 0) return 0;
  return coef_[find_slot(key)];
}

void PhaseMap::add(std::span<const uint64_t> key, uint8_t increment) {
  increment &= 7;
  if (increment == 0 || is_zero_words(key)) return;
  if (increment == 4 && size_ == 0) {
    xor_words(linear_, key);
    return;
  }
  add_keyed(key, increment);
}

void PhaseMap::add_keyed(std::span<const uint64_t> key, uint8_t increment) {
  if (2 * (size_ + 1) > coef_.size()) rehash(std::max<size_t>(16, 2 * coef_.size()), key_words_);
  size_t slot = find_slot(key);
  if (coef_[slot]) {
    auto sum = static_cast<uint8_t>((coef_[slot] + increment) & 7);
    if (sum == 0 || sum == 4) {
      erase_slot(slot);
      if (sum == 4) xor_words(linear_, key);
    } else {
      coef_[slot] = sum;
    }
    return;
  }
  if (increment == 4) {
    xor_words(linear_, key);
    return;
  }
  std::copy(key.begin(), key.end(), key_at(slot).begin());
  coef_[slot] = increment;
  ++size_;
}

template <class Rekey>
void PhaseMap::rekey_holding(size_t b, Rekey rekey) {
  if (size_ == 0) return;
  moved_keys_.clear();
  moved_coefs_.clear();
  for_each_keyed_slot([&](size_t slot) {
    if (!get_bit(key_at(slot), b)) return;
    moved_keys_.insert(moved_keys_.end(), key_at(slot).begin(), key_at(slot).end());
    moved_coefs_.push_back(coef_[slot]);
  });
  for (size_t t = 0; t < moved_coefs_.size(); ++t) {
    erase_slot(find_slot({moved_keys_.data() + t * key_words_, key_words_}));
  }
  for (size_t t = 0; t < moved_coefs_.size(); ++t) {
    std::span<uint64_t> key(moved_keys_.data() + t * key_words_, key_words_);
    uint8_t coefficient = rekey(key, moved_coefs_[t]);
    if (!is_zero_words(key)) add_keyed(key, coefficient);
  }
}

void PhaseMap::substitute(std::span<const uint64_t> normal, size_t p, bool value) {
  // c * parity(k . x) with x_p substituted is c * parity((k XOR normal) . x), negated (up to a
  // constant) when value is 1.
  if (get_bit(linear_, p)) xor_words(linear_, normal);
  rekey_holding(p, [&](std::span<uint64_t> key, uint8_t coefficient) {
    xor_words(key, normal);
    return value ? static_cast<uint8_t>(-coefficient & 7) : coefficient;
  });
}

void PhaseMap::move_variable(size_t from, size_t to) {
  auto move = [&](std::span<uint64_t> key) {
    flip_bit(key, from);
    flip_bit(key, to);
  };
  if (get_bit(linear_, from)) move(linear_);
  rekey_holding(from, [&](std::span<uint64_t> key, uint8_t coefficient) {
    move(key);
    return coefficient;
  });
}

bool PhaseMap::operator==(const PhaseMap& other) const {
  if (size_ != other.size_ || key_words_ != other.key_words_ || linear_ != other.linear_) {
    return false;
  }
  for (size_t slot = 0; slot < coef_.size(); ++slot) {
    if (coef_[slot] && other.get(key_at(slot)) != coef_[slot]) return false;
  }
  return true;
}

// Backward-shift deletion keeps every probe chain unbroken without tombstones.
void PhaseMap::erase_slot(size_t slot) {
  --size_;
  size_t hole = slot;
  size_t next = (hole + 1) & mask_;
  while (coef_[next]) {
    size_t home = hash(key_at(next)) & mask_;
    // Move the entry at `next` into the hole when its home is not in (hole, next].
    bool movable = hole <= next ? (home <= hole || home > next) : (home <= hole && home > next);
    if (movable) {
      std::copy_n(key_at(next).begin(), key_words_, key_at(hole).begin());
      coef_[hole] = coef_[next];
      hole = next;
    }
    next = (next + 1) & mask_;
  }
  coef_[hole] = 0;
}

void PhaseMap::clear() {
  std::fill(coef_.begin(), coef_.end(), 0);
  std::fill(linear_.begin(), linear_.end(), 0);
  size_ = 0;
}

void PhaseMap::set_key_words(size_t key_words) {
  if (key_words == key_words_) return;
  linear_.resize(key_words, 0);
  if (size_ == 0) {
    // Nothing to move: re-slice the key buffer in place, keeping its capacity.
    key_words_ = key_words;
    keys_.assign(coef_.size() * key_words, 0);
    return;
  }
  rehash(coef_.size(), key_words);
}

void PhaseMap::rehash(size_t capacity, size_t key_words) {
  std::vector<uint64_t> old_keys = std::move(keys_);
  std::vector<uint8_t> old_coef = std::move(coef_);
  size_t old_words = key_words_;
  key_words_ = key_words;
  keys_.assign(capacity * key_words, 0);
  coef_.assign(capacity, 0);
  mask_ = capacity ? capacity - 1 : 0;
  size_t copy_words = std::min(old_words, key_words);
  std::vector<uint64_t> key(key_words, 0);
  for (size_t slot = 0; slot < old_coef.size(); ++slot) {
    if (!old_coef[slot]) continue;
    const uint64_t* src = old_keys.data() + slot * old_words;
    std::copy_n(src, copy_words, key.begin());
    size_t dst = find_slot(key);
    std::copy(key.begin(), key.end(), key_at(dst).begin());
    coef_[dst] = old_coef[slot];
  }
}

}  // namespace velkor
