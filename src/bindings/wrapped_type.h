#pragma once

#include <Python.h>

#include <new>
#include <utility>

#include "bindings/method.h"

namespace velkor::bindings {

// The type object of a class whose instances own one core value (Wrapped<Cls::Core>): GC support
// that only delegates to the base class (instances hold no Python references), destruction of the
// core value, and construction through the class's vectorcall constructor.

/// A new object of `type` owning `core`, whose stream is keyed as `stream` says; null with a
/// Python error set when it cannot be allocated.
template <class Core>
PyObject* new_wrapped(PyTypeObject* type, Core core, StreamOrigin stream) {
  auto* self = PyObject_GC_New(Wrapped<Core>, type);
  if (self == nullptr) return nullptr;
  new (&self->claims) Claims();
  self->stream = stream;
  new (&self->core) Core(std::move(core));
  PyObject_GC_Track(self);
  return reinterpret_cast<PyObject*>(self);
}

template <class Cls>
void dealloc_wrapped(PyObject* self) {
  PyObject_GC_UnTrack(self);
  auto& object = wrapped<Cls>(self);
  using Core = typename Cls::Core;
  object.core.~Core();
  object.claims.~Claims();
  Py_TYPE(self)->tp_free(self);
}

inline int traverse_base(PyObject* self, visitproc visit, void* arg) {
  traverseproc base = Py_TYPE(self)->tp_base->tp_traverse;
  return base != nullptr ? base(self, visit, arg) : 0;
}

inline int clear_base(PyObject* self) {
  inquiry base = Py_TYPE(self)->tp_base->tp_clear;
  return base != nullptr ? base(self) : 0;
}

// Calls through the tuple-and-dict protocol (Cls.__new__(Cls, ...)) take the same path as
// ordinary calls, which go straight to tp_vectorcall.
inline PyObject* new_from_tuple(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return PyVectorcall_Call(reinterpret_cast<PyObject*>(type), args, kwargs);
}

/// The type "velkor._core.{Cls::kName}" with docstring `doc` (a text signature).
template <class Cls>
PyTypeObject wrapped_type(const char* qualified_name, const char* doc, reprfunc repr,
                          PyMethodDef* methods, PyGetSetDef* getset, vectorcallfunc vectorcall) {
  PyTypeObject type{};
  type.ob_base = PyVarObject{PyObject_HEAD_INIT(nullptr) 0};
  type.tp_name = qualified_name;
  type.tp_basicsize = sizeof(Wrapped<typename Cls::Core>);
  type.tp_dealloc = dealloc_wrapped<Cls>;
  type.tp_repr = repr;
  type.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC;
  type.tp_doc = doc;
  type.tp_traverse = traverse_base;
  type.tp_clear = clear_base;
  type.tp_methods = methods;
  type.tp_getset = getset;
  type.tp_new = new_from_tuple;
  type.tp_vectorcall = vectorcall;
  return type;
}

}  // namespace velkor::bindings
