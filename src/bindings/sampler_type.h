#pragma once

#include <Python.h>

namespace velkor::bindings {

/// The Python class `CircuitSampler` ("velkor._core.CircuitSampler"), readied on first use. Null
/// with a Python error set when it cannot be readied.
PyTypeObject* circuit_sampler_type();

}  // namespace velkor::bindings
