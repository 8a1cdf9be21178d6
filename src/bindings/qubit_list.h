#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace velkor::bindings {

/// The qubit indices of a `*targets` argument. Up to kInline indices live inside the object, so
/// the usual short call allocates nothing.
class QubitList {
 public:
  static constexpr size_t kInline = 16;

  // User-provided, so that the inline storage is left uninitialised rather than zeroed.
  QubitList() {}

  /// Converts every item to a signed 64-bit integer, in order. On failure the conversion error
  /// is raised and false returned.
  bool convert(std::span<PyObject* const> items);
  /// Checks that every value is non-negative (IndexError "qubit index {} must be non-negative"
  /// for the first negative one); afterwards the values are qubit indices.
  bool check_indices() const {
    for (size_t q : *this) {
      if (static_cast<int64_t>(q) < 0) return report_negative();
    }
    return true;
  }

  size_t size() const { return size_; }
  size_t operator[](size_t i) const { return data_[i]; }
  const size_t* begin() const { return data_; }
  const size_t* end() const { return data_ + size_; }
  /// One more than the largest index, 0 for an empty list: the register size the call needs.
  size_t extent() const {
    size_t extent = 0;
    for (size_t q : *this) extent = q >= extent ? q + 1 : extent;
    return extent;
  }

 private:
  bool report_negative() const;

  size_t inline_[kInline];
  std::unique_ptr<size_t[]> heap_;
  size_t* data_ = inline_;
  size_t size_ = 0;
};

/// Converts `object` to a signed 64-bit integer (as int.__index__ does). On failure the
/// conversion error is raised and false returned.
inline bool to_int64(PyObject* object, int64_t& value) {
  long long converted = PyLong_AsLongLong(object);
  if (converted == -1 && PyErr_Occurred()) return false;
  value = converted;
  return true;
}

/// The qubit index of `value`; IndexError "qubit index {} must be non-negative" when negative.
bool to_qubit_index(int64_t value, size_t& qubit);

}  // namespace velkor::bindings
