#include "bindings/exceptions.h"

#include <atomic>
#include <new>
#include <stdexcept>

#include "base/capacity_error.h"
#include "base/interrupt.h"
#include "bindings/py_ref.h"

namespace velkor::bindings {
namespace {

std::atomic<PyObject*> measurement_error{nullptr};
std::atomic<PyObject*> panic_exception{nullptr};

// Publishes a new exception class in `slot` unless another thread got there first; the loser's
// class is dropped before anyone sees it, so every caller gets the same class.
PyObject* exception_type_once(std::atomic<PyObject*>& slot, const char* name, const char* doc,
                              PyObject* base) {
  if (PyObject* type = slot.load(std::memory_order_acquire)) return type;
  PyRef fresh = PyRef::steal(PyErr_NewExceptionWithDoc(name, doc, base, nullptr));
  if (!fresh) {
    PyErr_Clear();
    return raise_error(PyExc_RuntimeError, "Failed to initialize new exception type.");
  }
  PyObject* expected = nullptr;
  if (!slot.compare_exchange_strong(expected, fresh.get(), std::memory_order_acq_rel)) {
    return expected;
  }
  return fresh.release();  // the slot keeps this reference for the life of the process
}

// The exception being raised, normalised, with its traceback attached; clears the indicator.
PyRef take_exception() {
#if PY_VERSION_HEX >= 0x030C0000
  return PyRef::steal(PyErr_GetRaisedException());
#else
  PyObject *type, *value, *traceback;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  PyRef owned_type = PyRef::steal(type), owned_traceback = PyRef::steal(traceback);
  if (traceback != nullptr) PyException_SetTraceback(value, traceback);
  return PyRef::steal(value);
#endif
}

void restore_exception(PyRef exception) {
#if PY_VERSION_HEX >= 0x030C0000
  PyErr_SetRaisedException(exception.release());
#else
  PyObject* value = exception.release();
  PyErr_Restore(PyObject_Type(value), value, PyException_GetTraceback(value));
#endif
}

}  // namespace

PyObject* measurement_error_type() {
  return exception_type_once(measurement_error, "_core.PyMeasurementError", nullptr,
                             PyExc_Exception);
}

PyObject* panic_exception_type() {
  return exception_type_once(panic_exception, "velkor._core.PanicException",
                             "An internal invariant of velkor was broken: this is a bug.",
                             PyExc_BaseException);
}

PyObject* raise_error(PyObject* type, const std::string& message) {
  // By length, not as a C string: a message may quote a zero character from the circuit text.
  PyRef text = PyRef::steal(
      PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
  if (text) PyErr_SetObject(type, text.get());
  return nullptr;
}

PyObject* raise_cpp_exception(std::exception_ptr failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const Interrupted&) {
    // The signal handler that asked to stop has set its exception (KeyboardInterrupt).
  } catch (const CapacityError& error) {
    raise_error(PyExc_MemoryError, error.what());
  } catch (const std::bad_alloc&) {
    // The core names what did not fit wherever a size comes from the caller; this is the rest.
    raise_error(PyExc_MemoryError, "out of memory");
  } catch (const std::length_error&) {
    // A container asked for more than it can ever hold: a register too large for memory.
    raise_error(PyExc_MemoryError, "out of memory");
  } catch (const std::exception& error) {
    if (PyObject* panic = panic_exception_type()) raise_error(panic, error.what());
  } catch (...) {
    if (PyObject* panic = panic_exception_type()) raise_error(panic, "unknown C++ exception");
  }
  return nullptr;
}

void add_processing_note(const char* name) {
  PyRef exception = take_exception();
  PyRef note = PyRef::steal(PyUnicode_FromFormat("while processing '%s'", name));
  PyRef added;
  if (note) added = PyRef::steal(PyObject_CallMethod(exception.get(), "add_note", "O", note.get()));
  // Keep the conversion error itself when the note cannot be added.
  if (!added) PyErr_Clear();
  restore_exception(std::move(exception));
}

}  // namespace velkor::bindings
