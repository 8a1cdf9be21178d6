#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <optional>

#include "bindings/fixed_string.h"
#include "bindings/qubit_list.h"
#include "bindings/signature.h"
#include "bits/bitvec.h"
#include "simulator/observables/pauli_product.h"

namespace velkor::bindings {

// Parameter types of the methods. Each one describes itself (`kParam`) and converts its
// argument in up to three steps, which the method frame runs in this order:
//   convert(argument)  type conversion, for every parameter in signature order; a failure
//                      gets the note "while processing '{name}'". The argument is null when
//                      an optional parameter was not given.
//   validate()         (optional) value checks that belong right after the conversion.
//   resolve()          (optional) checks that come after every parameter has been converted
//                      and validated: qubit indices, target groups.
// value() is what the core call receives.

/// Converts a bool (or NumPy bool); TypeError "must be bool, not {type}" for anything else.
bool to_bool(PyObject* object, bool& value);

/// How equal endpoints of a target pair are reported.
enum class PairWording {
  kEndpoints,      // "{} pair endpoints must be different qubits (both were {})"
  kControlTarget,  // "{} control and target must be different qubits (both were {})"
};

/// Checks the grouping of `targets` into pairs or triples for the gate `gate`: the count
/// ("{} requires an even number of targets" / "{} requires a multiple of three targets",
/// ValueError), then the indices (IndexError), then the endpoints of each group in order
/// (ValueError).
bool check_target_groups(const QubitList& targets, unsigned arity, const char* gate,
                         PairWording wording);

/// `*targets`: any number of qubit indices, taken in groups of `kArity` for the gate `kGate`.
template <unsigned kArity = 1, FixedString kGate = "",
          PairWording kWording = PairWording::kEndpoints>
struct Targets {
  static constexpr Param kParam{"targets", ParamKind::kVarPositional, false};
  QubitList qubits;

  bool convert(std::span<PyObject* const> items) { return qubits.convert(items); }
  bool resolve() {
    if constexpr (kArity == 1) return qubits.check_indices();
    return check_target_groups(qubits, kArity, kGate.text, kWording);
  }
  const QubitList& value() const { return qubits; }
};

/// `target`: one qubit index.
struct Target {
  static constexpr Param kParam{"target", ParamKind::kPositional, true};
  int64_t index = 0;
  size_t qubit = 0;

  bool convert(PyObject* argument) { return to_int64(argument, index); }
  bool resolve() { return to_qubit_index(index, qubit); }
  size_t value() const { return qubit; }
};

/// `*, endian="little"`: the qubit order of a dense vector, "little" or "big".
struct EndianOption {
  static constexpr Param kParam{"endian", ParamKind::kKeywordOnly, false};
  PyObject* text = nullptr;  // borrowed from the call's arguments
  Endian order = Endian::kLittle;

  bool convert(PyObject* argument);
  bool validate();
  Endian value() const { return order; }
};

/// `*, seed=None`: None or an integer that fits in 64 unsigned bits.
struct SeedOption {
  static constexpr Param kParam{"seed", ParamKind::kKeywordOnly, false};
  std::optional<uint64_t> seed;

  bool convert(PyObject* argument);
  std::optional<uint64_t> value() const { return seed; }
};

/// `*, {kName}=False`: a bool.
template <FixedString kName>
struct FlagOption {
  static constexpr Param kParam{kName.text, ParamKind::kKeywordOnly, false};
  bool flag = false;

  bool convert(PyObject* argument) { return argument == nullptr || to_bool(argument, flag); }
  bool value() const { return flag; }
};

/// Converts a real number (anything float() accepts without parsing text) to a double.
bool to_double(PyObject* object, double& value);

/// ValueError "probability must be between 0 and 1, but got {}" unless 0 <= p <= 1.
bool check_probability(double p);

/// `*, {kName}`: a probability in [0, 1], keyword-only; required, or 0.0 when `kRequired` is
/// false and it is not given.
template <FixedString kName, bool kRequired = true>
struct Probability {
  static constexpr Param kParam{kName.text, ParamKind::kKeywordOnly, kRequired};
  double p = 0.0;

  bool convert(PyObject* argument) { return argument == nullptr || to_double(argument, p); }
  bool validate() { return check_probability(p); }
  double value() const { return p; }
};

/// `observable`: a str in the compact Pauli form ("+XIZ", "-_Y"), read after every other
/// argument has been checked; a malformed text is a ValueError with the reader's message.
struct Observable {
  static constexpr Param kParam{"observable", ParamKind::kPositional, true};
  PyObject* text = nullptr;  // borrowed from the call's arguments
  PauliProduct product;

  bool convert(PyObject* argument);
  bool resolve();
  const PauliProduct& value() const { return product; }
};

}  // namespace velkor::bindings
