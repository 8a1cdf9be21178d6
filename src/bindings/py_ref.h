#pragma once

#include <Python.h>

#include <utility>

namespace velkor::bindings {

/// Owns one strong reference to a Python object (or none) and drops it when destroyed.
class PyRef {
 public:
  PyRef() = default;
  /// Takes over a new reference; `object` may be null (a failed call).
  static PyRef steal(PyObject* object) { return PyRef(object); }
  /// Adds a reference to a borrowed object.
  static PyRef borrow(PyObject* object) {
    Py_XINCREF(object);
    return PyRef(object);
  }

  PyRef(PyRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  PyRef& operator=(PyRef&& other) noexcept {
    std::swap(object_, other.object_);
    return *this;
  }
  PyRef(const PyRef&) = delete;
  PyRef& operator=(const PyRef&) = delete;
  ~PyRef() { Py_XDECREF(object_); }

  PyObject* get() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }
  /// Hands the reference to the caller.
  PyObject* release() { return std::exchange(object_, nullptr); }

 private:
  explicit PyRef(PyObject* object) : object_(object) {}
  PyObject* object_ = nullptr;
};

}  // namespace velkor::bindings
