#include "bindings/claims.h"

#include <Python.h>

namespace velkor::bindings {

bool Claims::acquire(Access access) {
  if (access == Access::kExclusive) {
    int64_t expected = 0;
    if (holders_.compare_exchange_strong(expected, kExclusive, std::memory_order_acquire)) {
      return true;
    }
    PyErr_SetString(PyExc_RuntimeError, "Already borrowed");
    return false;
  }
  int64_t current = holders_.load(std::memory_order_relaxed);
  while (current != kExclusive) {
    if (holders_.compare_exchange_weak(current, current + 1, std::memory_order_acquire)) {
      return true;
    }
  }
  PyErr_SetString(PyExc_RuntimeError, "Already mutably borrowed");
  return false;
}

void Claims::release(Access access) {
  if (access == Access::kExclusive) {
    holders_.store(0, std::memory_order_release);
  } else {
    holders_.fetch_sub(1, std::memory_order_release);
  }
}

}  // namespace velkor::bindings
