#include "bindings/sample_array.h"

#include <numpy/arrayobject.h>

#include <bit>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "base/checked_size.h"
#include "bindings/exceptions.h"
#include "bindings/py_ref.h"

namespace velkor::bindings {
namespace {

constexpr const char* kBufferName = "velkor sample rows";

template <class T>
void free_rows(PyObject* capsule) {
  delete static_cast<std::vector<T>*>(PyCapsule_GetPointer(capsule, kBufferName));
}

// Raises ValueError unless `length` values make exactly `rows` rows of `width`.
bool check_shape(size_t length, size_t rows, size_t width) {
  std::optional<uint64_t> expected = checked_mul(rows, width);
  if (expected && *expected == length) return true;
  raise_error(PyExc_ValueError, "invalid sample shape: " + std::to_string(length) +
                                    " values cannot fill " + std::to_string(rows) + " rows of " +
                                    std::to_string(width));
  return false;
}

// A (rows, width) array of NumPy type `type_num` over the buffer of `values`, which a capsule
// set as the array's base takes over.
template <class T>
PyObject* adopt_rows(std::vector<T> values, size_t rows, size_t width, int type_num) {
  if (!check_shape(values.size(), rows, width) || PyArray_ImportNumPyAPI() < 0) return nullptr;
  static T empty_buffer{};  // an empty vector may have no buffer; no element is ever written
  auto owned = std::make_unique<std::vector<T>>(std::move(values));
  T* data = owned->empty() ? &empty_buffer : owned->data();
  PyRef owner = PyRef::steal(PyCapsule_New(owned.get(), kBufferName, free_rows<T>));
  if (!owner) return nullptr;
  owned.release();
  npy_intp dims[2] = {static_cast<npy_intp>(rows), static_cast<npy_intp>(width)};
  PyRef array = PyRef::steal(PyArray_NewFromDescr(&PyArray_Type, PyArray_DescrFromType(type_num), 2,
                                                  dims, nullptr, data, NPY_ARRAY_CARRAY, nullptr));
  if (!array) return nullptr;  // dropping the capsule frees the buffer
  if (PyArray_SetBaseObject(reinterpret_cast<PyArrayObject*>(array.get()), owner.release()) < 0) {
    return nullptr;
  }
  return array.release();
}

// Eight 0/1 bytes as one byte, the first in the lowest bit: each byte's bit lands in the top
// byte of the product at its own position.
uint8_t pack_eight(const uint8_t* bytes) {
  static_assert(std::endian::native == std::endian::little);
  uint64_t word;
  std::memcpy(&word, bytes, 8);
  return static_cast<uint8_t>((word * 0x0102040810204080ull) >> 56);
}

}  // namespace

PyObject* adopt_bool_rows(std::vector<uint8_t> bits, size_t rows, size_t width) {
  return adopt_rows(std::move(bits), rows, width, NPY_BOOL);
}

PyObject* adopt_float64_rows(std::vector<double> values, size_t rows, size_t width) {
  return adopt_rows(std::move(values), rows, width, NPY_FLOAT64);
}

PyObject* packed_rows(std::vector<uint8_t> bits, size_t rows, size_t width) {
  if (!check_shape(bits.size(), rows, width) || PyArray_ImportNumPyAPI() < 0) return nullptr;
  size_t row_bytes = (width + 7) / 8;
  npy_intp dims[2] = {static_cast<npy_intp>(rows), static_cast<npy_intp>(row_bytes)};
  PyRef array = PyRef::steal(PyArray_ZEROS(2, dims, NPY_UINT8, 0));
  if (!array) return nullptr;
  auto* out = static_cast<uint8_t*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(array.get())));
  for (size_t r = 0; r < rows; ++r) {
    const uint8_t* row = bits.data() + r * width;
    uint8_t* packed = out + r * row_bytes;
    size_t c = 0;
    for (; c + 8 <= width; c += 8) packed[c / 8] = pack_eight(row + c);
    for (; c < width; ++c) packed[c / 8] |= static_cast<uint8_t>(row[c] << (c % 8));
  }
  return array.release();
}

}  // namespace velkor::bindings
