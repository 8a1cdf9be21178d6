#include "bindings/sampler_type.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "bindings/circuit_file.h"
#include "bindings/method.h"
#include "bindings/parameters.h"
#include "bindings/sample_array.h"
#include "bindings/sample_result_type.h"
#include "bindings/wrapped_type.h"
#include "bindings/writable_rows.h"
#include "circuit/circuit.h"
#include "sampling/circuit_sampler.h"

namespace velkor::bindings {
namespace {

struct SamplerClass {
  static constexpr const char* kName = "CircuitSampler";
  using Core = CircuitSampler;
};
using PyCircuitSampler = Wrapped<CircuitSampler>;

// ---- Parameters.

/// `circuit`: the circuit text, a str, read as UTF-8 in place.
struct CircuitText {
  static constexpr Param kParam{"circuit", ParamKind::kPositional, true};
  std::string_view text;

  bool convert(PyObject* argument) {
    if (!PyUnicode_Check(argument)) {
      PyErr_Format(PyExc_TypeError, "must be str, not %s", Py_TYPE(argument)->tp_name);
      return false;
    }
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(argument, &size);
    if (data == nullptr) return false;
    text = std::string_view(data, static_cast<size_t>(size));
    return true;
  }
  std::string_view value() const { return text; }
};

/// The postselection list: None (no entries) or a sequence of integers, borrowed from the call.
/// Items are converted twice, never stored in bulk: once before the circuit is read, for the
/// conversion errors, and once after, checking each against the detectors, so that a huge
/// sequence is refused at its first bad entry without being copied.
class Postselect {
 public:
  /// Converts every item (a range only at its ends, since it holds integers in order).
  bool convert(PyObject* argument) {
    if (argument == nullptr || argument == Py_None) return true;
    if (PyUnicode_Check(argument)) {
      PyErr_SetString(PyExc_TypeError, "Can't extract `str` to `Vec`");
      return false;
    }
    if (!PySequence_Check(argument)) {
      PyErr_Format(PyExc_TypeError, "must be a sequence of int, not %s",
                   Py_TYPE(argument)->tp_name);
      return false;
    }
    length_ = PySequence_Size(argument);
    if (length_ < 0) return false;
    sequence_ = argument;
    int64_t entry;
    if (PyRange_Check(argument)) {
      return length_ == 0 || (item(0, entry) && item(length_ - 1, entry));
    }
    for (Py_ssize_t i = 0; i < length_; ++i) {
      if (!item(i, entry)) return false;
    }
    return true;
  }

  /// The entries as detector indices below `num_detectors`, or false with the ValueError of the
  /// first bad entry in order: negative, out of range, repeated. Reads at most num_detectors + 1
  /// items.
  bool entries(size_t num_detectors, std::vector<uint64_t>& out) const {
    std::vector<bool> seen(num_detectors);
    for (Py_ssize_t i = 0; i < length_; ++i) {
      int64_t entry;
      if (!item(i, entry)) {
        add_processing_note("postselect");
        return false;
      }
      if (entry < 0) return refuse("postselected detector indices must be non-negative");
      auto index = static_cast<uint64_t>(entry);
      std::string where = "postselected detector index " + std::to_string(entry);
      if (index >= num_detectors) return refuse(where + " is out of range");
      if (seen[index]) return refuse(where + " appears more than once");
      seen[index] = true;
      out.push_back(index);
    }
    return true;
  }

 private:
  bool item(Py_ssize_t i, int64_t& entry) const {
    PyRef value = PyRef::steal(PySequence_GetItem(sequence_, i));
    return value && to_int64(value.get(), entry);
  }
  static bool refuse(const std::string& message) {
    raise_error(PyExc_ValueError, message);
    return false;
  }

  PyObject* sequence_ = nullptr;
  Py_ssize_t length_ = 0;
};

/// `*, postselect=None`.
struct PostselectOption {
  static constexpr Param kParam{"postselect", ParamKind::kKeywordOnly, false};
  Postselect postselect;

  bool convert(PyObject* argument) { return postselect.convert(argument); }
  const Postselect& value() const { return postselect; }
};

/// `shots`: a non-negative integer.
struct Shots {
  static constexpr Param kParam{"shots", ParamKind::kPositional, true};
  int64_t count = 0;

  bool convert(PyObject* argument) { return to_int64(argument, count); }
  bool resolve() const {
    if (count >= 0) return true;
    raise_error(PyExc_ValueError, "shots must be non-negative");
    return false;
  }
  uint64_t value() const { return static_cast<uint64_t>(count); }
};

/// `*, num_faults=None`: None or a non-negative integer.
struct NumFaultsOption {
  static constexpr Param kParam{"num_faults", ParamKind::kKeywordOnly, false};
  std::optional<int64_t> count;

  bool convert(PyObject* argument) {
    if (argument == nullptr || argument == Py_None) return true;
    return to_int64(argument, count.emplace());
  }
  bool resolve() const {
    if (!count || *count >= 0) return true;
    raise_error(PyExc_ValueError, "num_faults must be non-negative");
    return false;
  }
  std::optional<uint64_t> value() const {
    if (!count) return std::nullopt;
    return static_cast<uint64_t>(*count);
  }
};

// ---- Core work with the interpreter released.

/// The calling thread detached from the interpreter for the life of the object.
class Detached {
 public:
  Detached() : state_(PyEval_SaveThread()) {}
  ~Detached() { PyEval_RestoreThread(state_); }
  Detached(const Detached&) = delete;
  Detached& operator=(const Detached&) = delete;

  /// At most every 20 ms, re-attaches briefly to run the handlers of pending signals (Ctrl-C).
  /// True when a handler raised; its exception stays set for when the call returns. The core
  /// asks this every thousand or so steps, so between looks it only reads the clock.
  bool signal_raised() {
    auto now = std::chrono::steady_clock::now();
    if (now - last_look_ < std::chrono::milliseconds(20)) return false;
    last_look_ = now;
    PyEval_RestoreThread(state_);
    bool raised = PyErr_CheckSignals() < 0;
    state_ = PyEval_SaveThread();
    return raised;
  }

  /// signal_raised as the core's interrupt check.
  InterruptCheck interrupt_check() {
    return [this] { return signal_raised(); };
  }

 private:
  PyThreadState* state_;
  std::chrono::steady_clock::time_point last_look_ = std::chrono::steady_clock::now();
};

/// Runs `work(detached)` detached and returns its result, or nothing with a Python error set
/// when it threw.
template <class Work>
auto call_detached(Work&& work) -> std::optional<std::invoke_result_t<Work&, Detached&>> {
  std::optional<std::invoke_result_t<Work&, Detached&>> result;
  std::exception_ptr failure;
  {
    Detached detached;
    try {
      result.emplace(work(detached));
    } catch (...) {
      failure = std::current_exception();
    }
  }
  if (failure) raise_cpp_exception(failure);
  return result;
}

PyObject* raise_measurement_error(const MeasurementError& error) {
  PyObject* type = measurement_error_type();
  return type == nullptr ? nullptr : raise_error(type, error.display());
}

// ---- Members.

/// A circuit read from its text, with its number of detectors (what postselection is checked
/// against).
struct ReadCircuit {
  Expected<Circuit, std::string> circuit;
  size_t num_detectors = 0;
};

ReadCircuit read_circuit(std::string_view text, const InterruptCheck& interrupted) {
  ReadCircuit read{Circuit::try_parse(text, interrupted)};
  if (!read.circuit) return read;
  InterruptPoll poll(interrupted);
  for (const Instruction& instruction : read.circuit->instructions) {
    poll.step();
    read.num_detectors += std::holds_alternative<Detector>(instruction);
  }
  return read;
}

PyObject* construct(PyTypeObject* type, std::string_view text, std::optional<uint64_t> seed,
                    const Postselect& postselect) {
  auto read = call_detached(
      [&](Detached& detached) { return read_circuit(text, detached.interrupt_check()); });
  if (!read) return nullptr;
  if (!read->circuit) return raise_error(PyExc_ValueError, read->circuit.error());
  std::vector<uint64_t> entries;
  if (!postselect.entries(read->num_detectors, entries)) return nullptr;
  auto built = call_detached([&](Detached& detached) {
    return CircuitSampler::from_circuit_with_options(std::move(*read->circuit), seed, entries,
                                                     detached.interrupt_check());
  });
  if (!built) return nullptr;
  if (!*built) return raise_measurement_error(built->error());
  return new_wrapped(type, std::move(built->value()), StreamOrigin::of_seed(seed));
}

// The arrays of one call, R = accepted_shots rows each.
PyObject* sample_result(CircuitSamples samples) {
  size_t rows = samples.accepted_shots;
  auto bits = [&](RowBuffer& buffer, size_t width) {
    return PyRef::steal(bit_rows(std::move(buffer), rows, width, samples.bit_packed));
  };
  SampleArrays arrays;
  if (!(arrays.measurements = bits(samples.measurements, samples.shape.measurements)) ||
      !(arrays.detectors = bits(samples.detectors, samples.shape.detectors)) ||
      !(arrays.observables = bits(samples.observables, samples.shape.observables)) ||
      !(arrays.exp_vals = PyRef::steal(
            float64_rows(std::move(samples.exp_vals), rows, samples.shape.exp_vals)))) {
    return nullptr;
  }
  return new_sample_result(std::move(arrays), samples.total_shots, samples.accepted_shots);
}

// One sampling call in `format`; the sampler's own checks come first.
PyObject* sample_in(PyCircuitSampler& self, uint64_t shots, std::optional<uint64_t> num_faults,
                    SampleFormat format) {
  if (num_faults) {
    if (std::optional<std::string> refusal = self.core.fixed_fault_error(*num_faults)) {
      return raise_error(PyExc_ValueError, *refusal);
    }
  }
  auto drawn = call_detached([&](Detached& detached) {
    return self.core.sample_with(shots, num_faults, format, detached.interrupt_check());
  });
  if (!drawn) return nullptr;
  if (!*drawn) return raise_measurement_error(drawn->error());
  return sample_result(std::move(drawn->value()));
}

PyObject* sample(PyCircuitSampler& self, uint64_t shots, bool bit_packed,
                 std::optional<uint64_t> num_faults) {
  return sample_in(self, shots, num_faults, {.bit_packed = bit_packed, .measurements = true});
}

PyObject* sample_detectors(PyCircuitSampler& self, uint64_t shots, bool bit_packed,
                           std::optional<uint64_t> num_faults) {
  return sample_in(self, shots, num_faults, {.bit_packed = bit_packed, .measurements = false});
}

using MeasurementRows = RowsParam<"measurements", true>;
using DetectorRows = RowsParam<"detectors">;
using ObservableRows = RowsParam<"observables">;
using ExpValRows = RowsParam<"exp_vals">;

// Samples as many shots as the arrays have rows into them; returns the number of accepted shots.
PyObject* sample_into(PyCircuitSampler& self, const WritableRows& measurements,
                      const WritableRows& detectors, const WritableRows& observables,
                      const WritableRows& exp_vals, bool bit_packed,
                      std::optional<uint64_t> num_faults) {
  const CircuitSampler& core = self.core;
  const char* bits = bit_packed ? "B" : "?";
  const char* bit_item = bit_packed ? "uint8" : "bool";
  size_t shots = detectors.rows();
  bool record = measurements.given();
  if ((record && !measurements.check("measurements", bits, bit_item,
                                     bit_row_bytes(core.num_measurements(), bit_packed))) ||
      !detectors.check("detectors", bits, bit_item,
                       bit_row_bytes(core.num_detectors(), bit_packed)) ||
      !observables.check("observables", bits, bit_item,
                         bit_row_bytes(core.num_observables(), bit_packed)) ||
      !exp_vals.check("exp_vals", "d", "float64", core.num_exp_vals())) {
    return nullptr;
  }
  if ((record && measurements.rows() != shots) || observables.rows() != shots ||
      exp_vals.rows() != shots) {
    return raise_error(PyExc_ValueError, "the arrays must have the same number of rows");
  }
  if (num_faults) {
    if (std::optional<std::string> refusal = core.fixed_fault_error(*num_faults)) {
      return raise_error(PyExc_ValueError, *refusal);
    }
  }
  SampleTarget target{record ? measurements.data() : nullptr, detectors.data(), observables.data(),
                      exp_vals.data(), shots};
  auto drawn = call_detached([&](Detached& detached) {
    return self.core.sample_into(shots, num_faults,
                                 {.bit_packed = bit_packed, .measurements = record}, target,
                                 detached.interrupt_check());
  });
  if (!drawn) return nullptr;
  if (!*drawn) return raise_measurement_error(drawn->error());
  return PyLong_FromUnsignedLongLong(drawn->value());
}

/// `seed`: None or an integer that fits in 64 unsigned bits, positional or keyword.
struct StreamSeed : SeedOption {
  static constexpr Param kParam{"seed", ParamKind::kPositional, true};
};

PyObject* with_seed(PyCircuitSampler& self, std::optional<uint64_t> seed) {
  auto copy = call_detached([&](Detached&) { return std::as_const(self.core).with_seed(seed); });
  if (!copy) return nullptr;
  return new_wrapped(Py_TYPE(reinterpret_cast<PyObject*>(&self)), std::move(*copy),
                     StreamOrigin::of_seed(seed));
}

PyMethodDef with_seed_method() {
  PyMethodDef entry =
      attached<SamplerClass, "with_seed($self, seed)", Access::kShared, with_seed, StreamSeed>();
  entry.ml_doc =
      "with_seed($self, seed)\n--\n\n"
      "An independent copy of this sampler whose random stream starts afresh from `seed` (None: "
      "from the operating system), exactly as if it had been built from the same circuit and "
      "postselection with that seed. Reuses the parsed circuit and the reference sample; this "
      "sampler's own stream is untouched.";
  return entry;
}

void use_general_path(CircuitSampler& core) { core.use_general_path(); }

// Runs `read(core)` under a shared claim.
template <class Read>
PyObject* shared(PyObject* self, Read&& read) {
  PyCircuitSampler& object = wrapped<SamplerClass>(self);
  ClaimGuard claim(object.claims, Access::kShared);
  if (!claim) return nullptr;
  return read(std::as_const(object.core));
}

template <size_t (CircuitSampler::*kCount)() const>
PyObject* count(PyObject* self, void*) {
  return shared(self,
                [](const CircuitSampler& core) { return PyLong_FromSize_t((core.*kCount)()); });
}

PyObject* compiled(PyObject* self, void*) {
  return shared(self, [](const CircuitSampler& core) { return PyBool_FromLong(core.compiled()); });
}

PyObject* repr(PyObject* self) {
  return shared(self, [](const CircuitSampler& core) {
    return PyUnicode_FromFormat(
        "CircuitSampler(num_qubits=%zu, num_measurements=%zu, num_detectors=%zu, "
        "num_observables=%zu, num_exp_vals=%zu, num_fault_sites=%zu)",
        core.num_qubits(), core.num_measurements(), core.num_detectors(), core.num_observables(),
        core.num_exp_vals(), core.num_fault_sites());
  });
}

// ---- The class.

PyMethodDef methods[] = {
    attached<SamplerClass, "sample($self, shots, *, bit_packed=False, num_faults=None)",
             Access::kExclusive, sample, Shots, FlagOption<"bit_packed">, NumFaultsOption>(),
    attached<SamplerClass, "sample_detectors($self, shots, *, bit_packed=False, num_faults=None)",
             Access::kExclusive, sample_detectors, Shots, FlagOption<"bit_packed">,
             NumFaultsOption>(),
    attached<SamplerClass,
             "_sample_into($self, measurements, detectors, observables, exp_vals, *, "
             "bit_packed=False, num_faults=None)",
             Access::kExclusive, sample_into, MeasurementRows, DetectorRows, ObservableRows,
             ExpValRows, FlagOption<"bit_packed">, NumFaultsOption>(),
    with_seed_method(),
    method<SamplerClass, "_use_general_path($self)", Access::kExclusive, use_general_path>(),
    class_method_entry<SamplerClass, "from_file($type, path, *, seed=None, postselect=None)",
                       construct, CircuitFile, SeedOption, PostselectOption>(),
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef getset[] = {
    {"num_qubits", count<&CircuitSampler::num_qubits>, nullptr,
     "The number of qubits every shot starts with.", nullptr},
    {"num_measurements", count<&CircuitSampler::num_measurements>, nullptr,
     "The length of one shot's measurement record.", nullptr},
    {"num_detectors", count<&CircuitSampler::num_detectors>, nullptr,
     "The number of DETECTOR instructions.", nullptr},
    {"num_observables", count<&CircuitSampler::num_observables>, nullptr,
     "One more than the largest OBSERVABLE_INCLUDE index, or 0.", nullptr},
    {"num_exp_vals", count<&CircuitSampler::num_exp_vals>, nullptr,
     "The number of EXP_VAL products.", nullptr},
    {"num_fault_sites", count<&CircuitSampler::num_fault_sites>, nullptr,
     "The number of places where a single fault can occur.", nullptr},
    {"_compiled", compiled, nullptr,
     "Whether sampling runs a compiled program instead of interpreting the circuit.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyTypeObject make_type() {
  return wrapped_type<SamplerClass>(
      "velkor._core.CircuitSampler",
      "CircuitSampler(circuit, *, seed=None, postselect=None)\n--\n\n", repr, methods, getset,
      constructor<SamplerClass, construct, CircuitText, SeedOption, PostselectOption>);
}

PyTypeObject type_object = make_type();

}  // namespace

PyTypeObject* circuit_sampler_type() {
  if (PyType_Ready(&type_object) < 0) return nullptr;
  return &type_object;
}

}  // namespace velkor::bindings
