#pragma once

#include <Python.h>

#include <string>
#include <utility>
#include <vector>

#include "base/expected.h"
#include "bindings/exceptions.h"
#include "bindings/numpy_array.h"
#include "simulator/measurement_error.h"
#include "simulator/state_vector.h"

namespace velkor::bindings {

// Python objects for the results of core calls. Each to_python returns a new reference, or null
// with a Python error set; each raise_failure raises the exception an error value maps to.

/// An allocation the core could not make, with a message naming what was too large.
struct OutOfMemory {
  std::string message;
};

/// Measurement outcomes in call order (true for outcome 1).
using Outcomes = std::vector<bool>;

inline PyObject* to_python(bool value) { return PyBool_FromLong(value); }
inline PyObject* to_python(double value) { return PyFloat_FromDouble(value); }
inline PyObject* to_python(Amplitudes amplitudes) { return adopt_complex64(std::move(amplitudes)); }
/// A list of bools.
PyObject* to_python(const Outcomes& outcomes);

inline PyObject* raise_failure(const OutOfMemory& failure) {
  return raise_error(PyExc_MemoryError, failure.message);
}

/// A refused measurement: MeasurementError (PyMeasurementError) with the error's display form.
inline PyObject* raise_failure(const MeasurementError& failure) {
  PyObject* type = measurement_error_type();
  return type == nullptr ? nullptr : raise_error(type, failure.display());
}

template <class T, class E>
PyObject* to_python(Expected<T, E> result) {
  if (!result) return raise_failure(result.error());
  return to_python(std::move(result.value()));
}

}  // namespace velkor::bindings
