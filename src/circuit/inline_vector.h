#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <new>
#include <string>
#include <type_traits>

#include "base/capacity_error.h"

namespace velkor {

/// A vector of trivially copyable values that keeps up to N of them inside itself and more on
/// the heap, so that copying short lists (most instruction targets) allocates nothing. It is
/// filled with push_back and read like a std::vector. At most 2^32 - 1 elements.
template <class T, size_t N>
class InlineVector {
  static_assert(std::is_trivially_copyable_v<T> && N > 0);

 public:
  InlineVector() {}
  InlineVector(std::initializer_list<T> values) {
    reserve(values.size());
    for (const T& v : values) push_back(v);
  }
  InlineVector(const InlineVector& other) { assign(other); }
  InlineVector(InlineVector&& other) noexcept { take(other); }
  InlineVector& operator=(const InlineVector& other) {
    if (this != &other) {
      size_ = 0;
      assign(other);
    }
    return *this;
  }
  InlineVector& operator=(InlineVector&& other) noexcept {
    if (this != &other) {
      release();
      take(other);
    }
    return *this;
  }
  ~InlineVector() { release(); }

  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  T* data() { return on_heap() ? heap_ : inline_; }
  const T* data() const { return on_heap() ? heap_ : inline_; }
  T* begin() { return data(); }
  T* end() { return data() + size_; }
  const T* begin() const { return data(); }
  const T* end() const { return data() + size_; }
  T& operator[](size_t k) { return data()[k]; }
  const T& operator[](size_t k) const { return data()[k]; }

  /// Makes room for `n` elements in all. Throws CapacityError beyond 2^32 - 1 elements.
  void reserve(size_t n) {
    if (n <= capacity_) return;
    if (n > UINT32_MAX)
      throw CapacityError("a target list cannot hold " + std::to_string(n) + " values");
    T* grown = static_cast<T*>(std::malloc(n * sizeof(T)));
    if (!grown) throw std::bad_alloc();
    if (size_ > 0) std::memcpy(grown, data(), size_ * sizeof(T));
    release();
    heap_ = grown;
    capacity_ = static_cast<uint32_t>(n);
  }

  void push_back(const T& value) {
    if (size_ == capacity_) reserve(std::max<size_t>(2 * size_t{capacity_}, N + 1));
    data()[size_++] = value;
  }

  bool operator==(const InlineVector& other) const {
    return std::equal(begin(), end(), other.begin(), other.end());
  }

 private:
  bool on_heap() const { return capacity_ > N; }

  void release() {
    if (on_heap()) std::free(heap_);
    capacity_ = N;
  }

  // Copies `other` into this (empty or inline) vector.
  void assign(const InlineVector& other) {
    reserve(other.size_);
    if (other.size_ > 0) std::memcpy(data(), other.data(), other.size_ * sizeof(T));
    size_ = other.size_;
  }

  // Takes over `other`'s elements; this vector holds no heap block.
  void take(InlineVector& other) {
    size_ = other.size_;
    capacity_ = other.capacity_;
    if (other.on_heap()) {
      heap_ = other.heap_;
    } else if (size_ > 0) {
      std::memcpy(inline_, other.inline_, size_ * sizeof(T));
    }
    other.size_ = 0;
    other.capacity_ = N;
  }

  uint32_t size_ = 0;
  uint32_t capacity_ = N;
  union {
    T inline_[N];
    T* heap_;
  };
};

}  // namespace velkor
