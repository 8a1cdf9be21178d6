#include "bindings/sample_result_type.h"

#include <new>

#include "bindings/claims.h"

namespace velkor::bindings {
namespace {

// The arrays never change after creation; Python code may change their contents, and every
// access returns the same array object.
struct PySampleResult {
  PyObject_HEAD Claims claims;
  PyObject* measurements;
  PyObject* detectors;
  PyObject* observables;
  PyObject* exp_vals;
  size_t total_shots;
  size_t accepted_shots;
};

PySampleResult& result(PyObject* self) { return *reinterpret_cast<PySampleResult*>(self); }

// Runs `read(object)` under a shared claim.
template <class Read>
PyObject* shared(PyObject* self, Read&& read) {
  PySampleResult& object = result(self);
  ClaimGuard claim(object.claims, Access::kShared);
  if (!claim) return nullptr;
  return read(object);
}

template <PyObject* PySampleResult::*kArray>
PyObject* array(PyObject* self, void*) {
  return shared(self, [](PySampleResult& object) { return Py_NewRef(object.*kArray); });
}

PyObject* total_shots(PyObject* self, void*) {
  return shared(self, [](PySampleResult& object) { return PyLong_FromSize_t(object.total_shots); });
}

PyObject* accepted_shots(PyObject* self, void*) {
  return shared(self,
                [](PySampleResult& object) { return PyLong_FromSize_t(object.accepted_shots); });
}

PyObject* discards(PyObject* self, void*) {
  return shared(self, [](PySampleResult& object) {
    return PyLong_FromSize_t(object.total_shots - object.accepted_shots);
  });
}

PyObject* repr(PyObject* self) {
  return shared(self, [](PySampleResult& object) {
    return PyUnicode_FromFormat("SampleResult(total_shots=%zu, accepted_shots=%zu)",
                                object.total_shots, object.accepted_shots);
  });
}

void dealloc(PyObject* self) {
  PySampleResult& object = result(self);
  Py_XDECREF(object.measurements);
  Py_XDECREF(object.detectors);
  Py_XDECREF(object.observables);
  Py_XDECREF(object.exp_vals);
  object.claims.~Claims();
  Py_TYPE(self)->tp_free(self);
}

PyGetSetDef getset[] = {
    {"measurements", array<&PySampleResult::measurements>, nullptr,
     "Measurement records: one row per accepted shot, one column per measurement.", nullptr},
    {"detectors", array<&PySampleResult::detectors>, nullptr,
     "Detector bits relative to the noiseless reference: one row per accepted shot.", nullptr},
    {"observables", array<&PySampleResult::observables>, nullptr,
     "Observable bits relative to the noiseless reference: one row per accepted shot.", nullptr},
    {"exp_vals", array<&PySampleResult::exp_vals>, nullptr,
     "EXP_VAL values (float64): one row per accepted shot, one column per product.", nullptr},
    {"total_shots", total_shots, nullptr, "The number of shots requested.", nullptr},
    {"accepted_shots", accepted_shots, nullptr, "The number of shots kept by postselection.",
     nullptr},
    {"discards", discards, nullptr, "total_shots minus accepted_shots.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyTypeObject make_type() {
  PyTypeObject type{};
  type.ob_base = PyVarObject{PyObject_HEAD_INIT(nullptr) 0};
  type.tp_name = "velkor._core.SampleResult";
  type.tp_basicsize = sizeof(PySampleResult);
  type.tp_dealloc = dealloc;
  type.tp_repr = repr;
  // Made only by CircuitSampler.sample: calling the class raises the interpreter's TypeError.
  type.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION;
  type.tp_doc = "";
  type.tp_getset = getset;
  return type;
}

PyTypeObject type_object = make_type();

}  // namespace

PyTypeObject* sample_result_type() {
  if (PyType_Ready(&type_object) < 0) return nullptr;
  return &type_object;
}

PyObject* new_sample_result(SampleArrays arrays, size_t total_shots, size_t accepted_shots) {
  PyTypeObject* type = sample_result_type();
  if (type == nullptr) return nullptr;
  PySampleResult* self = PyObject_New(PySampleResult, type);
  if (self == nullptr) return nullptr;
  new (&self->claims) Claims();
  self->measurements = arrays.measurements.release();
  self->detectors = arrays.detectors.release();
  self->observables = arrays.observables.release();
  self->exp_vals = arrays.exp_vals.release();
  self->total_shots = total_shots;
  self->accepted_shots = accepted_shots;
  return reinterpret_cast<PyObject*>(self);
}

}  // namespace velkor::bindings
