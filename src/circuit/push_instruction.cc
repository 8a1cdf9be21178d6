#include "circuit/push_instruction.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "circuit/argument_readers.h"
#include "circuit/target_readers.h"

namespace velkor {
namespace {

enum class Op {
  kGate,
  kControlled,
  kTripleGate,
  kPairGate,
  kMeasure,
  kMeasureProducts,
  kReset,
  kPauliError,
  kDepolarize1,
  kDepolarize2,
  kDepolarize3,
  kPauliChannel1,
  kPauliChannel2,
  kExpVal,
  kDetector,
  kObservableInclude,
  kAnnotation,
};

struct NameEntry {
  std::string_view name;
  Op op;
  GateKind kind = GateKind::I;  // gates
  Basis basis = Basis::Z;       // measurements, resets
  bool reset = false;           // measurements
  Pauli pauli = Pauli::X;       // X_ERROR..Z_ERROR, feedback of controlled gates
};

constexpr std::array kNames = {
    NameEntry{"I", Op::kGate, GateKind::I},
    NameEntry{"X", Op::kGate, GateKind::X},
    NameEntry{"Y", Op::kGate, GateKind::Y},
    NameEntry{"Z", Op::kGate, GateKind::Z},
    NameEntry{"S", Op::kGate, GateKind::S},
    NameEntry{"S_DAG", Op::kGate, GateKind::S_DAG},
    NameEntry{"T", Op::kGate, GateKind::T},
    NameEntry{"T_DAG", Op::kGate, GateKind::T_DAG},
    NameEntry{"CX", Op::kControlled, GateKind::CX, Basis::Z, false, Pauli::X},
    NameEntry{"CNOT", Op::kControlled, GateKind::CX, Basis::Z, false, Pauli::X},
    NameEntry{"CY", Op::kControlled, GateKind::CX, Basis::Z, false, Pauli::Y},
    NameEntry{"CZ", Op::kControlled, GateKind::CZ, Basis::Z, false, Pauli::Z},
    NameEntry{"CCZ", Op::kTripleGate, GateKind::CCZ},
    NameEntry{"SWAP", Op::kPairGate, GateKind::SWAP},
    NameEntry{"M", Op::kMeasure, GateKind::I, Basis::Z, false},
    NameEntry{"MZ", Op::kMeasure, GateKind::I, Basis::Z, false},
    NameEntry{"MX", Op::kMeasure, GateKind::I, Basis::X, false},
    NameEntry{"MR", Op::kMeasure, GateKind::I, Basis::Z, true},
    NameEntry{"MRZ", Op::kMeasure, GateKind::I, Basis::Z, true},
    NameEntry{"MRX", Op::kMeasure, GateKind::I, Basis::X, true},
    NameEntry{"MPP", Op::kMeasureProducts},
    NameEntry{"R", Op::kReset, GateKind::I, Basis::Z},
    NameEntry{"RZ", Op::kReset, GateKind::I, Basis::Z},
    NameEntry{"RX", Op::kReset, GateKind::I, Basis::X},
    NameEntry{"X_ERROR", Op::kPauliError, GateKind::I, Basis::Z, false, Pauli::X},
    NameEntry{"Y_ERROR", Op::kPauliError, GateKind::I, Basis::Z, false, Pauli::Y},
    NameEntry{"Z_ERROR", Op::kPauliError, GateKind::I, Basis::Z, false, Pauli::Z},
    NameEntry{"DEPOLARIZE1", Op::kDepolarize1},
    NameEntry{"DEPOLARIZE2", Op::kDepolarize2},
    NameEntry{"DEPOLARIZE3", Op::kDepolarize3},
    NameEntry{"PAULI_CHANNEL_1", Op::kPauliChannel1},
    NameEntry{"PAULI_CHANNEL_2", Op::kPauliChannel2},
    NameEntry{"EXP_VAL", Op::kExpVal},
    NameEntry{"DETECTOR", Op::kDetector},
    NameEntry{"OBSERVABLE_INCLUDE", Op::kObservableInclude},
    NameEntry{"TICK", Op::kAnnotation},
    NameEntry{"QUBIT_COORDS", Op::kAnnotation},
    NameEntry{"SHIFT_COORDS", Op::kAnnotation},
};

Unexpected<std::string> fail(std::string message) { return unexpected(std::move(message)); }

// Flattens pairs or triples into the gate's target list.
template <size_t N, size_t M>
Qubits flattened(const InlineVector<std::array<uint64_t, N>, M>& groups) {
  Qubits out;
  out.reserve(groups.size() * N);
  for (const auto& g : groups) {
    for (uint64_t q : g) out.push_back(q);
  }
  return out;
}

Expected<std::vector<PauliProduct>, std::string> products(const AstInstruction& instruction) {
  std::vector<PauliProduct> out;
  out.reserve(instruction.targets.size());
  for (std::string_view t : instruction.targets) {
    auto product = pauli_product(t, instruction.name);
    if (!product) return fail(std::move(product.error()));
    out.push_back(std::move(*product));
  }
  return out;
}

// CX, CNOT, CY and CZ: one Feedback or Gate per (control, target) pair.
Expected<Ok, std::string> push_controlled(const AstInstruction& instruction, const NameEntry& entry,
                                          std::vector<Instruction>& out) {
  const auto& targets = instruction.targets;
  if (targets.size() % 2 != 0)
    return fail(instruction.name + " requires an even number of targets");
  for (size_t k = 0; k < targets.size(); k += 2) {
    std::string_view control = targets[k];
    if (control.size() >= 4 && control.starts_with("rec[")) {
      auto lookback = record_lookback(control);
      if (!lookback) return fail(std::move(lookback.error()));
      auto target = qubit_target(targets[k + 1], false);
      if (!target) return fail(std::move(target.error()));
      out.push_back(Feedback{*lookback, target->qubit, entry.pauli});
      continue;
    }
    auto c = qubit_target(control, false);
    if (!c) return fail(std::move(c.error()));
    auto t = qubit_target(targets[k + 1], false);
    if (!t) return fail(std::move(t.error()));
    if (entry.pauli == Pauli::Y) return fail("ordinary qubit-controlled CY is unsupported");
    if (c->qubit == t->qubit) {
      return fail(instruction.name + " pair endpoints must be different (both were " +
                  std::to_string(c->qubit) + ")");
    }
    out.push_back(Gate{entry.kind, {c->qubit, t->qubit}});
  }
  return Ok{};
}

}  // namespace

Expected<Ok, std::string> push_instruction(const AstInstruction& instruction,
                                           std::vector<Instruction>& out) {
  const std::string& name = instruction.name;
  auto entry = std::find_if(kNames.begin(), kNames.end(),
                            [&](const NameEntry& e) { return e.name == name; });
  if (entry == kNames.end()) return fail("unsupported instruction " + name);
  const auto& args = instruction.arguments;
  const auto& targets = instruction.targets;
  bool takes_no_arguments = entry->op == Op::kGate || entry->op == Op::kControlled ||
                            entry->op == Op::kTripleGate || entry->op == Op::kPairGate ||
                            entry->op == Op::kReset || entry->op == Op::kExpVal;
  if (takes_no_arguments && !args.empty()) return fail(name + " does not take arguments");

  switch (entry->op) {
    case Op::kGate: {
      auto qs = qubits(targets);
      if (!qs) return fail(std::move(qs.error()));
      out.push_back(Gate{entry->kind, std::move(*qs)});
      return Ok{};
    }
    case Op::kControlled:
      return push_controlled(instruction, *entry, out);
    case Op::kTripleGate: {
      auto triples = tripled_qubits(instruction);
      if (!triples) return fail(std::move(triples.error()));
      out.push_back(Gate{entry->kind, flattened(*triples)});
      return Ok{};
    }
    case Op::kPairGate: {
      auto pairs = paired_qubits(instruction);
      if (!pairs) return fail(std::move(pairs.error()));
      out.push_back(Gate{entry->kind, flattened(*pairs)});
      return Ok{};
    }
    case Op::kMeasure: {
      auto measured = measured_qubits(targets);
      if (!measured) return fail(std::move(measured.error()));
      auto p = measurement_probability(instruction);
      if (!p) return fail(std::move(p.error()));
      out.push_back(Measure{entry->basis, entry->reset, *p, std::move(*measured)});
      return Ok{};
    }
    case Op::kMeasureProducts: {
      auto p = measurement_probability(instruction);
      if (!p) return fail(std::move(p.error()));
      auto ps = products(instruction);
      if (!ps) return fail(std::move(ps.error()));
      out.push_back(MeasureProducts{*p, std::move(*ps)});
      return Ok{};
    }
    case Op::kReset: {
      auto qs = qubits(targets);
      if (!qs) return fail(std::move(qs.error()));
      out.push_back(Reset{entry->basis, std::move(*qs)});
      return Ok{};
    }
    case Op::kPauliError: {
      auto p = probabilities(args, 1, name);
      if (!p) return fail(std::move(p.error()));
      auto qs = qubits(targets);
      if (!qs) return fail(std::move(qs.error()));
      out.push_back(Noise{PauliError{entry->pauli, (*p)[0], std::move(*qs)}});
      return Ok{};
    }
    case Op::kDepolarize1: {
      auto qs = qubits(targets);
      if (!qs) return fail(std::move(qs.error()));
      auto p = probabilities(args, 1, name);
      if (!p) return fail(std::move(p.error()));
      out.push_back(Noise{Depolarize1{(*p)[0], std::move(*qs)}});
      return Ok{};
    }
    case Op::kDepolarize2: {
      auto pairs = paired_qubits(instruction);
      if (!pairs) return fail(std::move(pairs.error()));
      auto p = probabilities(args, 1, name);
      if (!p) return fail(std::move(p.error()));
      out.push_back(Noise{Depolarize2{(*p)[0], std::move(*pairs)}});
      return Ok{};
    }
    case Op::kDepolarize3: {
      auto triples = tripled_qubits(instruction);
      if (!triples) return fail(std::move(triples.error()));
      auto p = probabilities(args, 1, name);
      if (!p) return fail(std::move(p.error()));
      out.push_back(Noise{Depolarize3{(*p)[0], std::move(*triples)}});
      return Ok{};
    }
    case Op::kPauliChannel1: {
      auto p = probabilities(args, 3, name);
      if (!p) return fail(std::move(p.error()));
      auto qs = qubits(targets);
      if (!qs) return fail(std::move(qs.error()));
      out.push_back(Noise{PauliChannel1{{(*p)[0], (*p)[1], (*p)[2]}, std::move(*qs)}});
      return Ok{};
    }
    case Op::kPauliChannel2: {
      auto p = probabilities(args, 15, name);
      if (!p) return fail(std::move(p.error()));
      auto pairs = paired_qubits(instruction);
      if (!pairs) return fail(std::move(pairs.error()));
      out.push_back(Noise{PauliChannel2{std::move(*p), std::move(*pairs)}});
      return Ok{};
    }
    case Op::kExpVal: {
      if (targets.empty()) return fail("EXP_VAL requires at least one Pauli product");
      auto ps = products(instruction);
      if (!ps) return fail(std::move(ps.error()));
      out.push_back(ExpVal{std::move(*ps)});
      return Ok{};
    }
    case Op::kDetector: {
      auto ks = record_lookbacks(targets);
      if (!ks) return fail(std::move(ks.error()));
      out.push_back(Detector{std::move(*ks)});
      return Ok{};
    }
    case Op::kObservableInclude: {
      auto index = observable_index(args);
      if (!index) return fail(std::move(index.error()));
      auto ks = record_lookbacks(targets);
      if (!ks) return fail(std::move(ks.error()));
      out.push_back(ObservableInclude{*index, std::move(*ks)});
      return Ok{};
    }
    case Op::kAnnotation:
      return Ok{};
  }
  return Ok{};
}

}  // namespace velkor
