#pragma once

#include <Python.h>

#include <cstddef>

#include "sampling/row_buffer.h"

namespace velkor::bindings {

// NumPy arrays that take over the sampled row buffers without copying: each is writeable,
// C-ordered, and frees its buffer through its base object. Each function returns a new
// reference, or null with a Python error set (the buffer is then freed).

/// `rows` rows of `width` bits: a bool array of shape (rows, width) over one byte per bit, or,
/// when `bit_packed`, a uint8 array of shape (rows, ceil(width / 8)) over bits packed as
/// numpy.packbits with bitorder="little" packs them.
PyObject* bit_rows(RowBuffer buffer, size_t rows, size_t width, bool bit_packed);

/// `rows` rows of `width` doubles: a float64 array of shape (rows, width).
PyObject* float64_rows(RowBuffer buffer, size_t rows, size_t width);

}  // namespace velkor::bindings
