#include "sampling/row_buffer.h"

#include <new>

namespace velkor {

RowBuffer::RowBuffer(size_t rows, size_t row_bytes) : row_bytes_(row_bytes), rows_(rows) {
  size_t bytes = rows * row_bytes;
  if (bytes == 0) return;
  data_.reset(static_cast<uint8_t*>(std::malloc(bytes)));
  if (!data_) throw std::bad_alloc();
}

void RowBuffer::shrink_to(size_t rows) {
  if (rows >= rows_) return;
  rows_ = rows;
  size_t bytes = rows * row_bytes_;
  if (bytes == 0) {
    data_.reset();
    return;
  }
  // glibc shrinks in place (a large block is remapped), so the kept rows are not copied and the
  // peak does not grow; should realloc fail, the larger block simply stays.
  if (void* kept = std::realloc(data_.get(), bytes)) {
    data_.release();
    data_.reset(static_cast<uint8_t*>(kept));
  }
}

}  // namespace velkor
