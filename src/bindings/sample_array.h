#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace velkor::bindings {

// NumPy arrays over sampled rows. `values` holds `rows` rows of `width` entries, row after row;
// a length other than rows * width raises ValueError "invalid sample shape: {}". Each function
// returns a new reference, or null with a Python error set.

/// A writeable C-order bool array of shape (rows, width) that takes over the buffer of `bits`
/// (one byte 0 or 1 per entry) without copying; its base object frees the buffer.
PyObject* adopt_bool_rows(std::vector<uint8_t> bits, size_t rows, size_t width);

/// A writeable C-order float64 array of shape (rows, width) that takes over `values`.
PyObject* adopt_float64_rows(std::vector<double> values, size_t rows, size_t width);

/// A zero-filled uint8 array of shape (rows, ceil(width / 8)) with column c of a row in byte
/// c / 8 at bit c % 8 counted from the least significant bit (numpy.packbits with
/// bitorder="little" along the last axis). `bits` is released once packed. Cost: one pass over
/// the bits, eight at a time.
PyObject* packed_rows(std::vector<uint8_t> bits, size_t rows, size_t width);

}  // namespace velkor::bindings
