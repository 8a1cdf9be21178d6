#include "bindings/qubit_list.h"

namespace velkor::bindings {

bool to_int64(PyObject* object, int64_t& value) {
  long long converted = PyLong_AsLongLong(object);
  if (converted == -1 && PyErr_Occurred()) return false;
  value = converted;
  return true;
}

bool to_qubit_index(int64_t value, size_t& qubit) {
  if (value < 0) {
    PyErr_Format(PyExc_IndexError, "qubit index %lld must be non-negative",
                 static_cast<long long>(value));
    return false;
  }
  qubit = static_cast<size_t>(value);
  return true;
}

bool QubitList::convert(std::span<PyObject* const> items) {
  if (items.size() > kInline) {
    heap_ = std::make_unique_for_overwrite<size_t[]>(items.size());
    data_ = heap_.get();
  }
  size_ = items.size();
  for (size_t i = 0; i < size_; ++i) {
    int64_t value;
    if (!to_int64(items[i], value)) return false;
    // Kept as the two's-complement bits until check_indices() has seen the sign.
    data_[i] = static_cast<size_t>(value);
  }
  return true;
}

bool QubitList::check_indices() const {
  size_t unused;
  for (size_t i = 0; i < size_; ++i) {
    if (!to_qubit_index(static_cast<int64_t>(data_[i]), unused)) return false;
  }
  return true;
}

size_t QubitList::extent() const {
  size_t extent = 0;
  for (size_t q : *this) extent = q + 1 > extent ? q + 1 : extent;
  return extent;
}

}  // namespace velkor::bindings
