#include "bindings/numpy_array.h"

#include <numpy/arrayobject.h>
#include <numpy/arrayscalars.h>

#include <cstdlib>

#include "bindings/py_ref.h"

namespace velkor::bindings {
namespace {

constexpr const char* kBufferName = "velkor amplitudes";

void free_buffer(PyObject* capsule) { std::free(PyCapsule_GetPointer(capsule, kBufferName)); }

}  // namespace

bool import_numpy() { return PyArray_ImportNumPyAPI() == 0; }

bool is_numpy_bool(PyObject* object) { return PyArray_IsScalar(object, Bool); }

PyObject* adopt_complex64(Amplitudes amplitudes) {
  static_assert(sizeof(std::complex<float>) == 2 * sizeof(npy_float32));
  void* data = amplitudes.data.get();
  PyRef owner = PyRef::steal(PyCapsule_New(data, kBufferName, free_buffer));
  if (!owner) return nullptr;  // the buffer is still ours and is freed on return
  amplitudes.data.release();
  npy_intp size = static_cast<npy_intp>(amplitudes.size);
  PyRef array = PyRef::steal(PyArray_SimpleNewFromData(1, &size, NPY_COMPLEX64, data));
  if (!array) return nullptr;  // dropping the capsule frees the buffer
  if (PyArray_SetBaseObject(reinterpret_cast<PyArrayObject*>(array.get()), owner.release()) < 0) {
    return nullptr;
  }
  return array.release();
}

}  // namespace velkor::bindings
