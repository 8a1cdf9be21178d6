#include "bindings/results.h"

#include "bindings/py_ref.h"

namespace velkor::bindings {

PyObject* to_python(const Outcomes& outcomes) {
  PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(outcomes.size())));
  if (!list) return nullptr;
  for (size_t i = 0; i < outcomes.size(); ++i) {
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i),
                    Py_NewRef(outcomes[i] ? Py_True : Py_False));
  }
  return list.release();
}

}  // namespace velkor::bindings
