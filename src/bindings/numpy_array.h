#pragma once

#include <Python.h>

#include "simulator/state_vector.h"

namespace velkor::bindings {

/// Loads NumPy's C API; call once from module execution. False with a Python error set when
/// NumPy cannot be imported.
bool import_numpy();

/// Whether `object` is a NumPy bool scalar.
bool is_numpy_bool(PyObject* object);

/// A writeable one-dimensional complex64 array that takes over `amplitudes` without copying;
/// its base object frees the buffer when the array goes away. Null with a Python error set on
/// failure (the buffer is then freed).
PyObject* adopt_complex64(Amplitudes amplitudes);

}  // namespace velkor::bindings
