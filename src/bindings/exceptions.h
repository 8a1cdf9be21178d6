#pragma once

#include <Python.h>

#include <exception>
#include <string>

namespace velkor::bindings {

/// The exception class exported as `MeasurementError`: "_core.PyMeasurementError", base
/// Exception, no docstring. Created once, on first use, safely under concurrent first use.
/// Borrowed reference (kept for the life of the process), or null with a Python error set.
PyObject* measurement_error_type();

/// The exception raised when an internal invariant of the core breaks:
/// "velkor._core.PanicException", base BaseException, so that ordinary `except Exception` handlers
/// do not swallow a bug. Borrowed reference, or null with a Python error set.
PyObject* panic_exception_type();

/// Raises `type` with `message` as its single argument; returns null for the caller to return.
PyObject* raise_error(PyObject* type, const std::string& message);

/// Raises the Python exception for a C++ exception thrown by the core: Interrupted leaves the
/// exception its signal handler set, CapacityError becomes
/// MemoryError with its message, exhausted memory MemoryError, InternalError (and any other
/// exception) PanicException with its message.
/// Returns null.
PyObject* raise_cpp_exception(std::exception_ptr failure);

/// Adds the note "while processing '{name}'" to the exception being raised.
void add_processing_note(const char* name);

}  // namespace velkor::bindings
