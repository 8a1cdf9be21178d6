#include "bindings/qubit_list.h"

namespace velkor::bindings {

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

bool QubitList::report_negative() const {
  size_t unused;
  for (size_t q : *this) {
    if (!to_qubit_index(static_cast<int64_t>(q), unused)) return false;
  }
  return true;
}

}  // namespace velkor::bindings
