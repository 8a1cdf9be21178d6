#include "sampling/shot_executor.h"

#include <optional>
#include <string>

#include "base/capacity_error.h"
#include "base/checked_size.h"
#include "base/internal_error.h"
#include "base/overloaded.h"
#include "simulator/gates/gates.h"
#include "simulator/measurements/measure_x.h"
#include "simulator/measurements/measure_z.h"
#include "simulator/noise/noise_channels.h"
#include "simulator/observables/measure_pauli_product.h"
#include "simulator/observables/pauli_product_expectation.h"

namespace velkor {
namespace {

/// A gate that changes rows (CX, CZ, SWAP, CCZ); the held phases take the others.
void apply_gate(Simulator& sim, const Gate& gate) {
  const auto& q = gate.targets;
  size_t arity = gate_arity(gate.kind);
  for (size_t i = 0; i + arity <= q.size(); i += arity) {
    switch (gate.kind) {
      case GateKind::CX:
        cnot(sim, q[i], q[i + 1]);
        break;
      case GateKind::CZ:
        cz(sim, q[i], q[i + 1]);
        break;
      case GateKind::SWAP:
        swap(sim, q[i], q[i + 1]);
        break;
      case GateKind::CCZ:
        ccz(sim, q[i], q[i + 1], q[i + 2]);
        break;
      default:
        throw InternalError("internal error: entered unreachable code: a gate that keeps rows");
    }
  }
}

// Pauli codes: 1 X, 2 Y, 3 Z.
uint8_t pauli_code(Pauli p) { return static_cast<uint8_t>(static_cast<uint8_t>(p) + 1); }

/// The instructions with runs of two-qubit gates of one kind joined into one instruction each:
/// the circuit reader makes one instruction per controlled pair, and a shot then pays the
/// dispatch once per run. The gates and their order are unchanged.
std::vector<Instruction> joined_gate_runs(std::span<const Instruction> instructions) {
  std::vector<Instruction> joined;
  joined.reserve(instructions.size());
  for (const Instruction& instruction : instructions) {
    const auto* gate = std::get_if<Gate>(&instruction);
    auto* previous = joined.empty() ? nullptr : std::get_if<Gate>(&joined.back());
    if (gate && previous && gate->kind == previous->kind && gate_arity(gate->kind) == 2) {
      for (uint64_t q : gate->targets) previous->targets.push_back(q);
    } else {
      joined.push_back(instruction);
    }
  }
  return joined;
}

}  // namespace

ShotExecutor::ShotExecutor(std::span<const Instruction> instructions, size_t num_qubits,
                           size_t num_observables, InterruptPoll& poll)
    : instructions_(instructions),
      num_qubits_(num_qubits),
      num_observables_(num_observables),
      poll_(poll),
      sim_(ChaCha8Rng::seed_from_u64(0)) {
  auto refuse = [&] {
    return CapacityError("cannot allocate " + std::to_string(num_observables) + " observables");
  };
  try {
    joined_ = joined_gate_runs(instructions);
    instructions_ = joined_;
  } catch (const std::bad_alloc&) {
    joined_ = {};  // the joined copy is only a shortcut: run the caller's list
  }
  if (!checked_buffer_size<uint8_t>(num_observables)) throw refuse();
  try {
    observables_.reserve(num_observables);
  } catch (const std::bad_alloc&) {
    throw refuse();
  }
}

bool ShotExecutor::parity(std::span<const uint64_t> lookbacks) const {
  bool value = false;
  for (uint64_t k : lookbacks) value ^= record_bit(k);
  return value;
}

ShotOutcome ShotExecutor::run(ChaCha8Rng& rng, FaultMode mode,
                              std::span<const uint8_t> reference_detectors,
                              std::span<const uint8_t> postselected) {
  sim_.clear_state();
  sim_.rng() = rng;
  sim_.ensure_num_qubits(num_qubits_);
  record_.clear();
  detectors_.clear();
  observables_.assign(num_observables_, 0);
  exp_vals_.clear();
  phases_.reset(num_qubits_);
  const bool noiseless = std::holds_alternative<Noiseless>(mode);

  auto run_noise = [&](const NoiseChannel& channel) -> void {
    std::visit(Overloaded{
                   [&](const PauliError& c) {
                     for_each_fault(mode, c.probability, c.targets.size(), [&](size_t i) {
                       phases_.apply_pauli_code(sim_, c.targets[i], pauli_code(c.pauli));
                     });
                   },
                   [&](const Depolarize1& c) {
                     for_each_fault(mode, c.probability, c.targets.size(), [&](size_t i) {
                       phases_.apply_pauli_code(sim_, c.targets[i], sim_.rng().uniform_u8(1, 4));
                     });
                   },
                   [&](const Depolarize2& c) {
                     for_each_fault(mode, c.probability, c.targets.size(), [&](size_t i) {
                       uint8_t code = sim_.rng().uniform_u8(1, 16);
                       phases_.apply_pauli_code(sim_, c.targets[i][0], code >> 2);
                       phases_.apply_pauli_code(sim_, c.targets[i][1], code & 3);
                     });
                   },
                   [&](const Depolarize3& c) {
                     for_each_fault(mode, c.probability, c.targets.size(), [&](size_t i) {
                       uint8_t code = sim_.rng().uniform_u8(1, 64);
                       phases_.apply_pauli_code(sim_, c.targets[i][0], (code >> 4) & 3);
                       phases_.apply_pauli_code(sim_, c.targets[i][1], (code >> 2) & 3);
                       phases_.apply_pauli_code(sim_, c.targets[i][2], code & 3);
                     });
                   },
                   [&](const PauliChannel1& c) {
                     phases_.flush(sim_);
                     check_invariant(!std::holds_alternative<Fixed>(mode),
                                     "internal error: entered unreachable code: Pauli channels are "
                                     "rejected before fixed-fault sampling");
                     for (uint64_t q : c.targets) pauli_channel1(sim_, q, c.probabilities);
                   },
                   [&](const PauliChannel2& c) {
                     phases_.flush(sim_);
                     check_invariant(!std::holds_alternative<Fixed>(mode),
                                     "internal error: entered unreachable code: Pauli channels are "
                                     "rejected before fixed-fault sampling");
                     std::span<const double, 15> probabilities(c.probabilities.data(), 15);
                     for (const QubitPair& p : c.targets)
                       pauli_channel2(sim_, p[0], p[1], probabilities);
                   },
               },
               channel);
  };

  std::optional<ShotOutcome> outcome;
  for (const Instruction& instruction : instructions_) {
    poll_.step();
    std::visit(Overloaded{
                   [&](const Gate& g) {
                     if (DeferredPhases::takes(g.kind)) return phases_.apply(sim_, g);
                     phases_.flush(sim_);
                     apply_gate(sim_, g);
                   },
                   [&](const Feedback& f) {
                     if (record_bit(f.lookback))
                       phases_.apply_pauli_code(sim_, f.qubit, pauli_code(f.pauli));
                   },
                   [&](const Measure& m) {
                     phases_.flush(sim_);
                     for (const MeasuredQubit& target : m.targets) {
                       MeasureResult result;
                       if (m.basis == Basis::Z) {
                         result = measure_z_raw(sim_, target.qubit);
                       } else {
                         auto measured = measure_x_raw(sim_, target.qubit);
                         if (!measured) {
                           outcome = Failed{std::move(measured.error().message), record_.size()};
                           return;
                         }
                         result = *measured;
                       }
                       bool bit = result.sign < 0;
                       if (m.reset && bit) {
                         if (m.basis == Basis::Z) {
                           x(sim_, target.qubit);
                         } else {
                           z(sim_, target.qubit);
                         }
                       }
                       bool flip = m.flip_probability && !noiseless &&
                                   decide_fault(mode, *m.flip_probability);
                       record_.push_back(bit ^ target.inverted ^ flip);
                     }
                   },
                   [&](const MeasureProducts& m) {
                     phases_.flush(sim_);
                     for (const PauliProduct& product : m.products) {
                       auto measured = measure_pauli_product_raw(sim_, product);
                       if (!measured) {
                         outcome = Failed{std::move(measured.error().message), record_.size()};
                         return;
                       }
                       bool flip = m.flip_probability && !noiseless &&
                                   decide_fault(mode, *m.flip_probability);
                       record_.push_back((measured->sign < 0) ^ flip);
                     }
                   },
                   [&](const ExpVal& e) {
                     if (noiseless) return;
                     phases_.flush(sim_);
                     for (const PauliProduct& product : e.products) {
                       exp_vals_.push_back(pauli_product_expectation(sim_, product));
                     }
                   },
                   [&](const Reset& r) {
                     phases_.flush(sim_);
                     for (uint64_t q : r.targets) {
                       if (r.basis == Basis::Z) {
                         reset_z_raw(sim_, q);
                       } else {
                         reset_x_raw(sim_, q);
                       }
                     }
                   },
                   [&](const Noise& n) {
                     if (!noiseless) run_noise(n.channel);
                   },
                   [&](const Detector& d) {
                     size_t index = detectors_.size();
                     bool value = parity(d.lookbacks);
                     if (!reference_detectors.empty()) value ^= reference_detectors[index] != 0;
                     detectors_.push_back(value);
                     if (value && !postselected.empty() && postselected[index])
                       outcome = Discarded{};
                   },
                   [&](const ObservableInclude& o) {
                     if (parity(o.lookbacks)) observables_[o.index] ^= 1;
                   },
               },
               instruction);
    if (outcome) break;
  }
  rng = sim_.rng();
  return outcome ? std::move(*outcome) : ShotOutcome{Accepted{}};
}

}  // namespace velkor
