#pragma once

#include <Python.h>

namespace velkor::bindings {

/// The Python class `Simulator` ("velkor._core.Simulator"), readied on first use. Null with a
/// Python error set when it cannot be readied.
PyTypeObject* simulator_type();

}  // namespace velkor::bindings
