#include "bindings/sample_array.h"

#include <numpy/arrayobject.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "base/checked_size.h"
#include "bindings/exceptions.h"
#include "bindings/py_ref.h"

namespace velkor::bindings {
namespace {

constexpr const char* kBufferName = "velkor sample rows";

void free_rows(PyObject* capsule) { std::free(PyCapsule_GetPointer(capsule, kBufferName)); }

// Raises ValueError unless `length` values make exactly `rows` rows of `width`.
bool check_shape(size_t length, size_t rows, size_t width) {
  std::optional<uint64_t> expected = checked_mul(rows, width);
  if (expected && *expected == length) return true;
  raise_error(PyExc_ValueError, "invalid sample shape: " + std::to_string(length) +
                                    " values cannot fill " + std::to_string(rows) + " rows of " +
                                    std::to_string(width));
  return false;
}

// A (rows, columns) array of NumPy type `type_num` over the buffer, which a capsule set as the
// array's base takes over. An empty buffer has no block: the array then lies over a static byte
// that is never written, so every array owns its data the same way.
PyObject* adopt_rows(RowBuffer buffer, size_t rows, size_t columns, int type_num,
                     size_t item_size) {
  if (!check_shape(buffer.bytes().size() / item_size, rows, columns) ||
      PyArray_ImportNumPyAPI() < 0) {
    return nullptr;
  }
  alignas(double) static uint8_t empty_block[1];
  uint8_t* data = buffer.release();
  PyRef owner = PyRef::steal(data ? PyCapsule_New(data, kBufferName, free_rows)
                                  : PyCapsule_New(empty_block, kBufferName, nullptr));
  if (!owner) {
    std::free(data);
    return nullptr;
  }
  if (!data) data = empty_block;
  npy_intp dims[2] = {static_cast<npy_intp>(rows), static_cast<npy_intp>(columns)};
  PyRef array = PyRef::steal(PyArray_NewFromDescr(&PyArray_Type, PyArray_DescrFromType(type_num), 2,
                                                  dims, nullptr, data, NPY_ARRAY_CARRAY, nullptr));
  if (!array) return nullptr;  // dropping the capsule frees the buffer
  if (PyArray_SetBaseObject(reinterpret_cast<PyArrayObject*>(array.get()), owner.release()) < 0) {
    return nullptr;
  }
  return array.release();
}

}  // namespace

PyObject* bit_rows(RowBuffer buffer, size_t rows, size_t width, bool bit_packed) {
  if (bit_packed) return adopt_rows(std::move(buffer), rows, (width + 7) / 8, NPY_UINT8, 1);
  return adopt_rows(std::move(buffer), rows, width, NPY_BOOL, 1);
}

PyObject* float64_rows(RowBuffer buffer, size_t rows, size_t width) {
  return adopt_rows(std::move(buffer), rows, width, NPY_FLOAT64, sizeof(double));
}

}  // namespace velkor::bindings
