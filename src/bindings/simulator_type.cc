#include "bindings/simulator_type.h"

#include <new>
#include <optional>
#include <utility>

#include "bindings/method.h"
#include "bindings/parameters.h"
#include "bindings/wrapped_type.h"
#include "simulator/gates/gates.h"
#include "simulator/measurements/measure_x.h"
#include "simulator/measurements/measure_z.h"
#include "simulator/noise/noise_channels.h"
#include "simulator/observables/measure_pauli_product.h"
#include "simulator/observables/pauli_product_expectation.h"
#include "simulator/simulator.h"
#include "simulator/state_vector.h"

namespace velkor::bindings {
namespace {

struct SimulatorClass {
  static constexpr const char* kName = "Simulator";
  using Core = Simulator;
};
using PySimulator = Wrapped<Simulator>;

// ---- Core calls over target lists. Each first grows the register to cover every target, then
// calls kOperation on each group of kArity consecutive targets (a target, a pair, a triple), in
// the order given, followed by `extra` (a noise channel's probability).

template <size_t kArity, auto kOperation, class... Extra>
void each_group(Simulator& sim, const QubitList& targets, Extra... extra) {
  sim.ensure_num_qubits(targets.extent());
  static_assert(kArity >= 1 && kArity <= 3);
  for (size_t i = 0; i < targets.size(); i += kArity) {
    if constexpr (kArity == 1) kOperation(sim, targets[i], extra...);
    if constexpr (kArity == 2) kOperation(sim, targets[i], targets[i + 1], extra...);
    if constexpr (kArity == 3)
      kOperation(sim, targets[i], targets[i + 1], targets[i + 2], extra...);
  }
}

Outcomes measure_each(Simulator& sim, const QubitList& targets) {
  sim.ensure_num_qubits(targets.extent());
  Outcomes outcomes(targets.size());
  for (size_t i = 0; i < targets.size(); ++i) outcomes[i] = measure_z_raw(sim, targets[i]).sign < 0;
  return outcomes;
}

Expected<Amplitudes, OutOfMemory> dense_state(const Simulator& sim, Endian order) {
  Expected<Amplitudes, std::string> amplitudes = state_vector(sim, order);
  if (!amplitudes) return unexpected(OutOfMemory{std::move(amplitudes.error())});
  return std::move(amplitudes.value());
}

// ---- Object lifecycle and the members that run attached.

PyObject* construct(PyTypeObject* type, std::optional<uint64_t> seed) {
  return new_wrapped(type, Simulator::new_with_optional_seed(seed), StreamOrigin::of_seed(seed));
}

PyObject* copy(PySimulator& self, bool copy_rng, std::optional<uint64_t> seed) {
  if (copy_rng && seed)
    return raise_error(PyExc_ValueError, "copy_rng and seed cannot both be specified");
  // A copy with copy_rng draws what its source draws, after a fork as well.
  StreamOrigin stream = copy_rng ? self.stream : StreamOrigin::of_seed(seed);
  return new_wrapped(Py_TYPE(&self), self.core.copied(copy_rng, seed), stream);
}

PyObject* repr(PyObject* self) {
  PySimulator& object = wrapped<SimulatorClass>(self);
  ClaimGuard claim(object.claims, Access::kShared);
  if (!claim) return nullptr;
  return PyUnicode_FromFormat("Simulator(num_qubits=%zu)", object.core.num_qubits());
}

PyObject* num_qubits(PyObject* self, void*) {
  PySimulator& object = wrapped<SimulatorClass>(self);
  ClaimGuard claim(object.claims, Access::kShared);
  if (!claim) return nullptr;
  return PyLong_FromSize_t(object.core.num_qubits());
}

// ---- The class.

constexpr Access kShared = Access::kShared;
constexpr Access kExclusive = Access::kExclusive;

template <FixedString kSignature, Access kAccess, auto kBody, class... Params>
PyMethodDef method() {
  return bindings::method<SimulatorClass, kSignature, kAccess, kBody, Params...>();
}

using Single = Targets<>;
using P = Probability<"p">;  // the `p` of the noise channels

PyMethodDef methods[] = {
    method<"x($self, *targets)", kExclusive, each_group<1, x>, Single>(),
    method<"y($self, *targets)", kExclusive, each_group<1, y>, Single>(),
    method<"z($self, *targets)", kExclusive, each_group<1, z>, Single>(),
    method<"s($self, *targets)", kExclusive, each_group<1, s>, Single>(),
    method<"s_dag($self, *targets)", kExclusive, each_group<1, s_dag>, Single>(),
    method<"t($self, *targets)", kExclusive, each_group<1, t>, Single>(),
    method<"t_dag($self, *targets)", kExclusive, each_group<1, t_dag>, Single>(),
    method<"cnot($self, *targets)", kExclusive, each_group<2, cnot>,
           Targets<2, "CNOT", PairWording::kControlTarget>>(),
    method<"cx($self, *targets)", kExclusive, each_group<2, cnot>,
           Targets<2, "CNOT", PairWording::kControlTarget>>(),
    method<"cz($self, *targets)", kExclusive, each_group<2, cz>, Targets<2, "CZ">>(),
    method<"swap($self, *targets)", kExclusive, each_group<2, swap>, Targets<2, "SWAP">>(),
    method<"ccz($self, *targets)", kExclusive, each_group<3, ccz>, Targets<3, "CCZ">>(),
    method<"measure($self, target)", kExclusive, measure, Target>(),
    method<"measure_z($self, target)", kExclusive, measure, Target>(),
    method<"measure_many($self, *targets)", kExclusive, measure_each, Single>(),
    method<"peek_probability($self, target)", kShared, peek_z_probability, Target>(),
    method<"peek_z_probability($self, target)", kShared, peek_z_probability, Target>(),
    method<"reset($self, *targets)", kExclusive, each_group<1, reset_z_raw>, Single>(),
    method<"reset_z($self, *targets)", kExclusive, each_group<1, reset_z_raw>, Single>(),
    method<"reset_x($self, *targets)", kExclusive, each_group<1, reset_x_raw>, Single>(),
    method<"measure_x($self, target)", kExclusive, measure_x, Target>(),
    method<"peek_x_probability($self, target)", kShared, peek_x_probability, Target>(),
    method<"measure_observable($self, observable, *, flip_probability=0.0)", kExclusive,
           measure_observable, Observable, Probability<"flip_probability", false>>(),
    method<"peek_observable_expectation($self, observable)", kShared, pauli_product_expectation,
           Observable>(),
    method<"x_error($self, *targets, p)", kExclusive, each_group<1, x_error, double>, Single, P>(),
    method<"y_error($self, *targets, p)", kExclusive, each_group<1, y_error, double>, Single, P>(),
    method<"z_error($self, *targets, p)", kExclusive, each_group<1, z_error, double>, Single, P>(),
    method<"depolarize1($self, *targets, p)", kExclusive, each_group<1, depolarize1, double>,
           Single, P>(),
    method<"depolarize2($self, *targets, p)", kExclusive, each_group<2, depolarize2, double>,
           Targets<2, "depolarize2">, P>(),
    method<"depolarize3($self, *targets, p)", kExclusive, each_group<3, depolarize3, double>,
           Targets<3, "depolarize3">, P>(),
    method<"state_vector($self, *, endian=\"little\")", kShared, dense_state, EndianOption>(),
    attached<SimulatorClass, "copy($self, *, copy_rng=False, seed=None)", kShared, copy,
             FlagOption<"copy_rng">, SeedOption>(),
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef getset[] = {
    {"num_qubits", num_qubits, nullptr, "The number of qubits in the register.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyTypeObject make_type() {
  return wrapped_type<SimulatorClass>("velkor._core.Simulator", "Simulator(*, seed=None)\n--\n\n",
                                      repr, methods, getset,
                                      constructor<SimulatorClass, construct, SeedOption>);
}

PyTypeObject type_object = make_type();

}  // namespace

PyTypeObject* simulator_type() {
  if (PyType_Ready(&type_object) < 0) return nullptr;
  return &type_object;
}

}  // namespace velkor::bindings
