#pragma once

#include <Python.h>

#include <cstddef>

#include "bindings/py_ref.h"

namespace velkor::bindings {

/// The four arrays of one sampling call.
struct SampleArrays {
  PyRef measurements;
  PyRef detectors;
  PyRef observables;
  PyRef exp_vals;
};

/// The Python class `SampleResult` ("velkor._core.SampleResult"), readied on first use; it has
/// no constructor. Null with a Python error set when it cannot be readied.
PyTypeObject* sample_result_type();

/// A new SampleResult that takes over the arrays. Null with a Python error set on failure.
PyObject* new_sample_result(SampleArrays arrays, size_t total_shots, size_t accepted_shots);

}  // namespace velkor::bindings
