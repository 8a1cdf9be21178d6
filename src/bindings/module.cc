// The extension module velkor._core: multi-phase initialisation whose execution slot adds the
// classes and the exception type, each to `__all__` and as an attribute, in a fixed order.

#include <Python.h>

#include "bindings/exceptions.h"
#include "bindings/forks.h"
#include "bindings/numpy_array.h"
#include "bindings/py_ref.h"
#include "bindings/sample_result_type.h"
#include "bindings/sampler_type.h"
#include "bindings/simulator_type.h"

namespace velkor::bindings {
namespace {

struct Export {
  const char* name;
  PyObject* (*get)();  // borrowed reference, or null with a Python error set
};

PyObject* simulator_class() { return reinterpret_cast<PyObject*>(simulator_type()); }
PyObject* circuit_sampler_class() { return reinterpret_cast<PyObject*>(circuit_sampler_type()); }
PyObject* sample_result_class() { return reinterpret_cast<PyObject*>(sample_result_type()); }

// The module's contents, in `__all__` order.
constexpr Export kExports[] = {
    {"Simulator", simulator_class},
    {"CircuitSampler", circuit_sampler_class},
    {"SampleResult", sample_result_class},
    {"MeasurementError", measurement_error_type},
};

// Appends `name` to the module's `__all__`, creating the list when the module has none.
bool append_to_all(PyObject* module, const char* name) {
  PyObject* dict = PyModule_GetDict(module);
  PyObject* all = PyDict_GetItemString(dict, "__all__");
  PyRef created;
  if (all == nullptr) {
    created = PyRef::steal(PyList_New(0));
    if (!created || PyDict_SetItemString(dict, "__all__", created.get()) < 0) return false;
    all = created.get();
  }
  PyRef text = PyRef::steal(PyUnicode_FromString(name));
  if (!text || !PyList_Check(all) || PyList_Append(all, text.get()) < 0) {
    PyErr_Clear();
    raise_error(PyExc_RuntimeError, "could not append __name__ to __all__");
    return false;
  }
  return true;
}

int exec_module(PyObject* module) {
  if (!import_numpy()) return -1;
  watch_forks();
  for (const Export& item : kExports) {
    PyObject* object = item.get();
    if (object == nullptr || !append_to_all(module, item.name)) return -1;
    if (PyModule_AddObjectRef(module, item.name, object) < 0) return -1;
  }
  return 0;
}

PyModuleDef_Slot slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
#ifdef Py_mod_gil
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
#endif
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "_core",  // m_name
    "",       // m_doc
    0,        // m_size
    nullptr,  // m_methods
    slots,
    nullptr,  // m_traverse
    nullptr,  // m_clear
    nullptr,  // m_free
};

}  // namespace
}  // namespace velkor::bindings

PyMODINIT_FUNC PyInit__core() { return PyModuleDef_Init(&velkor::bindings::module_def); }
