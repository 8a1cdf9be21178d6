#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>

namespace velkor {

/// Rows of a fixed byte size in one block from std::malloc, made with room for a number of rows
/// up front and handed over whole: the binding layer gives the block to a NumPy array, which
/// frees it with std::free. Pages of a large block take memory only once written, so room for
/// rows that are never written costs nothing.
class RowBuffer {
 public:
  RowBuffer() = default;
  /// Room for `rows` rows of `row_bytes` bytes; rows * row_bytes must have been checked. Throws
  /// std::bad_alloc when the block cannot be allocated.
  RowBuffer(size_t rows, size_t row_bytes);

  /// The first byte of row `r`.
  uint8_t* row(size_t r) { return data_.get() + r * row_bytes_; }
  /// Every byte of the rows kept.
  std::span<const uint8_t> bytes() const { return {data_.get(), rows_ * row_bytes_}; }

  /// Keeps the first `rows` rows (at most as many as there is room for) and returns the rest of
  /// the block to the allocator, in place.
  void shrink_to(size_t rows);

  /// The block, from now on the caller's to std::free; null when it holds no bytes.
  uint8_t* release() { return data_.release(); }

 private:
  struct Free {
    void operator()(uint8_t* p) const { std::free(p); }
  };
  std::unique_ptr<uint8_t, Free> data_;
  size_t row_bytes_ = 0;
  size_t rows_ = 0;
};

}  // namespace velkor
