#include "sampling/compiled/compiled_sampler.h"

#include <algorithm>
#include <array>
#include <bit>

#include "base/overloaded.h"
#include "bits/words.h"
#include "sampling/compiled/symbolic_state.h"

namespace velkor {
namespace {

// The symbolic state is two affine functions per qubit at most; past this many bytes the
// interpreter is the better choice.
constexpr size_t kMaxStateBytes = size_t{256} << 20;
// Output functions are kept as lists of random bits; a circuit whose lists grow past this many
// entries in all (long chains of dependent measurements) is left to the interpreter.
constexpr size_t kMaxSignatureEntries = size_t{32} << 20;
// Ordinary sampling counts one step of the interrupt poll per kDrawsPerStep draws (about the
// work of one interpreted instruction), in batches at a poll stop every kDrawsPerPollStop draws.
constexpr uint32_t kDrawsPerStep = 16;
constexpr uint32_t kDrawsPerPollStop = 4096;

bool has_odd_phase_gate(const Instruction& instruction) {
  const Gate* gate = std::get_if<Gate>(&instruction);
  return gate && (gate->kind == GateKind::T || gate->kind == GateKind::T_DAG ||
                  gate->kind == GateKind::CCZ);
}

// An upper bound on the random bits of one shot: every fault component and every measurement
// or reset that may be random.
size_t random_bit_bound(std::span<const Instruction> instructions) {
  size_t bound = 0;
  for (const Instruction& instruction : instructions) {
    std::visit(Overloaded{
                   [&](const Measure& m) { bound += m.targets.size() * 2; },
                   [&](const MeasureProducts& m) { bound += m.products.size() * 2; },
                   [&](const Reset& r) { bound += r.targets.size(); },
                   [&](const Noise& n) {
                     std::visit(Overloaded{
                                    [&](const PauliError& c) { bound += c.targets.size(); },
                                    [&](const Depolarize1& c) { bound += 2 * c.targets.size(); },
                                    [&](const Depolarize2& c) { bound += 4 * c.targets.size(); },
                                    [&](const Depolarize3& c) { bound += 6 * c.targets.size(); },
                                    [&](const PauliChannel1& c) { bound += 2 * c.targets.size(); },
                                    [&](const PauliChannel2& c) { bound += 4 * c.targets.size(); },
                                },
                                n.channel);
                   },
                   [](const auto&) {},
               },
               instruction);
  }
  return bound;
}

}  // namespace

/// Runs the circuit once on the symbolic state, numbering the random bits in draw order and
/// keeping each output bit's affine function, then lays out the program.
class ProgramBuilder {
 public:
  ProgramBuilder(CompiledSampler& out, size_t num_qubits, size_t num_bits,
                 std::span<const uint8_t> reference_detectors,
                 std::span<const uint8_t> postselected)
      : out_(out),
        state_(num_qubits, num_bits),
        words_(state_.words()),
        reference_detectors_(reference_detectors),
        postselected_(postselected),
        value_(words_),
        condition_(words_) {}

  void run(const Instruction& instruction, size_t num_observables);
  /// Whether the output functions have grown past what compiling is worth.
  bool too_large() const { return entries_ > kMaxSignatureEntries; }
  void finish(size_t num_observables);

 private:
  using Sparse = std::vector<uint32_t>;

  uint32_t fresh_bit() { return next_bit_++; }
  ConstAffineSpan unit(uint32_t bit) {
    std::fill(condition_.begin(), condition_.end(), 0);
    flip_bit(condition_, bit);
    return condition_;
  }
  Sparse sparse(ConstAffineSpan f) {
    Sparse s;
    for_each_one(f, words_ * 64, [&](size_t v) { s.push_back(static_cast<uint32_t>(v)); });
    entries_ += s.size();
    return s;
  }
  /// The XOR of the record bits rec[-k] over the lookbacks, densely in value_.
  void record_parity(std::span<const uint64_t> lookbacks) {
    std::fill(value_.begin(), value_.end(), 0);
    for (uint64_t k : lookbacks) {
      for (uint32_t v : record_[record_.size() - k]) flip_bit(value_, v);
    }
  }
  void push_fault(CompiledSampler::Kind kind, double p, uint32_t first, uint32_t channel = 0) {
    CompiledSampler::Event e{0, first, channel, kind, CompiledSampler::Draw::kCompare};
    if (p == 0.0) {
      e.draw = CompiledSampler::Draw::kNever;
    } else if (p == 1.0) {
      e.draw = CompiledSampler::Draw::kAlways;
    } else {
      e.threshold = static_cast<uint64_t>(p * 18446744073709551616.0);
    }
    out_.events_.push_back(e);
  }
  /// A measurement outcome in value_ just drawn with coin `coin` when `random`.
  void note_coin(bool random, uint32_t coin) {
    if (!random) return;
    out_.events_.push_back(
        {0, coin, 0, CompiledSampler::Kind::kCoin, CompiledSampler::Draw::kCompare});
    coins_.push_back(coin);
    next_bit_ = coin + 1;
  }
  /// Appends value_ (XOR a readout flip) to the record.
  void record(const std::optional<double>& flip) {
    if (flip) {
      uint32_t bit = fresh_bit();
      push_fault(CompiledSampler::Kind::kFault, *flip, bit);
      flip_bit(value_, bit);
    }
    record_.push_back(sparse(value_));
  }
  void pauli(uint64_t q, Pauli p, ConstAffineSpan condition) {
    if (p != Pauli::Z) state_.flip_offset(q, condition);
    if (p != Pauli::X) state_.phase_flip(q, condition);
  }
  /// Two random bits, X part then Z part, on qubit q.
  void depolarizing_bits(uint64_t q) {
    uint32_t bit = fresh_bit();
    state_.flip_offset(q, unit(bit));
    state_.phase_flip(q, unit(fresh_bit()));
  }
  void gate(const Gate& g);
  void noise(const NoiseChannel& channel);
  uint32_t channel(std::span<const double> probabilities);

  CompiledSampler& out_;
  SymbolicState state_;
  size_t words_;
  std::span<const uint8_t> reference_detectors_;
  std::span<const uint8_t> postselected_;
  std::vector<uint64_t> value_;
  std::vector<uint64_t> condition_;
  uint32_t next_bit_ = 1;
  std::vector<Sparse> record_;
  std::vector<Sparse> detectors_;
  std::vector<std::vector<uint64_t>> observables_;
  std::vector<Sparse> exp_signs_;
  std::vector<uint32_t> coins_;
  size_t entries_ = 0;
};

void ProgramBuilder::gate(const Gate& g) {
  const auto& q = g.targets;
  size_t arity = gate_arity(g.kind);
  for (size_t i = 0; i + arity <= q.size(); i += arity) {
    switch (g.kind) {
      case GateKind::X:
        state_.x(q[i]);
        break;
      case GateKind::Y:
        state_.x(q[i]);
        state_.z(q[i]);
        break;
      case GateKind::Z:
        state_.z(q[i]);
        break;
      case GateKind::S:
        state_.s(q[i]);
        break;
      case GateKind::S_DAG:
        state_.s_dag(q[i]);
        break;
      case GateKind::CX:
        state_.cnot(q[i], q[i + 1]);
        break;
      case GateKind::CZ:
        state_.cz(q[i], q[i + 1]);
        break;
      case GateKind::SWAP:
        state_.swap(q[i], q[i + 1]);
        break;
      default:  // I; T, T_DAG and CCZ never reach a compiled circuit
        break;
    }
  }
}

uint32_t ProgramBuilder::channel(std::span<const double> probabilities) {
  CompiledSampler::Channel c;
  size_t positive = 0, last = 0;
  for (size_t i = 0; i < probabilities.size(); ++i) {
    if (probabilities[i] > 0.0) {
      ++positive;
      last = i;
    }
  }
  if (positive == 1 && probabilities[last] == 1.0) {
    c.certain_code = static_cast<uint8_t>(last + 1);
  } else if (positive > 0) {
    c.draws = true;
    double sum = 0.0;
    for (double p : probabilities) c.running_sums.push_back(sum += p);
  }
  out_.channels_.push_back(std::move(c));
  return static_cast<uint32_t>(out_.channels_.size() - 1);
}

void ProgramBuilder::noise(const NoiseChannel& channel_variant) {
  using Kind = CompiledSampler::Kind;
  std::visit(Overloaded{
                 [&](const PauliError& c) {
                   for (uint64_t q : c.targets) {
                     uint32_t bit = fresh_bit();
                     push_fault(Kind::kFault, c.probability, bit);
                     pauli(q, c.pauli, unit(bit));
                   }
                 },
                 [&](const Depolarize1& c) {
                   for (uint64_t q : c.targets) {
                     push_fault(Kind::kDepolarize1, c.probability, next_bit_);
                     depolarizing_bits(q);
                   }
                 },
                 [&](const Depolarize2& c) {
                   for (const QubitPair& p : c.targets) {
                     push_fault(Kind::kDepolarize2, c.probability, next_bit_);
                     for (uint64_t q : p) depolarizing_bits(q);
                   }
                 },
                 [&](const Depolarize3& c) {
                   for (const QubitTriple& p : c.targets) {
                     push_fault(Kind::kDepolarize3, c.probability, next_bit_);
                     for (uint64_t q : p) depolarizing_bits(q);
                   }
                 },
                 [&](const PauliChannel1& c) {
                   uint32_t table = channel(c.probabilities);
                   for (uint64_t q : c.targets) {
                     out_.events_.push_back(
                         {0, next_bit_, table, Kind::kChannel1, CompiledSampler::Draw::kAlways});
                     depolarizing_bits(q);
                   }
                 },
                 [&](const PauliChannel2& c) {
                   uint32_t table = channel(c.probabilities);
                   for (const QubitPair& p : c.targets) {
                     out_.events_.push_back(
                         {0, next_bit_, table, Kind::kChannel2, CompiledSampler::Draw::kAlways});
                     for (uint64_t q : p) depolarizing_bits(q);
                   }
                 },
             },
             channel_variant);
}

void ProgramBuilder::run(const Instruction& instruction, size_t num_observables) {
  std::visit(Overloaded{
                 [&](const Gate& g) { gate(g); },
                 [&](const Feedback& f) {
                   record_parity(std::span<const uint64_t>(&f.lookback, 1));
                   pauli(f.qubit, f.pauli, value_);
                 },
                 [&](const Measure& m) {
                   for (const MeasuredQubit& target : m.targets) {
                     uint32_t coin = next_bit_;
                     bool random = m.basis == Basis::Z
                                       ? state_.measure_z(target.qubit, coin, value_)
                                       : state_.measure_x(target.qubit, coin, value_);
                     note_coin(random, coin);
                     if (m.reset) {
                       if (m.basis == Basis::Z) {
                         state_.flip_offset(target.qubit, value_);
                       } else {
                         state_.phase_flip(target.qubit, value_);
                       }
                     }
                     value_[0] ^= target.inverted;
                     record(m.flip_probability);
                   }
                 },
                 [&](const MeasureProducts& m) {
                   for (const PauliProduct& product : m.products) {
                     uint32_t coin = next_bit_;
                     note_coin(state_.measure_product(product, coin, value_), coin);
                     record(m.flip_probability);
                   }
                 },
                 [&](const ExpVal& e) {
                   for (const PauliProduct& product : e.products) {
                     std::array<double, 2> values;
                     state_.expectation(product, values.data(), value_);
                     out_.exp_choices_.push_back(values);
                     exp_signs_.push_back(sparse(value_));
                   }
                 },
                 [&](const Reset& r) {
                   for (uint64_t q : r.targets) {
                     uint32_t coin = next_bit_;
                     note_coin(state_.measure_z(q, coin, value_), coin);
                     state_.flip_offset(q, value_);
                     if (r.basis == Basis::X) state_.add_coordinate(q);
                   }
                 },
                 [&](const Noise& n) { noise(n.channel); },
                 [&](const Detector& d) {
                   size_t index = detectors_.size();
                   record_parity(d.lookbacks);
                   value_[0] ^= reference_detectors_[index] != 0;
                   detectors_.push_back(sparse(value_));
                   if (postselected_[index]) {
                     out_.events_.push_back({0, 0, static_cast<uint32_t>(index),
                                             CompiledSampler::Kind::kCheckpoint,
                                             CompiledSampler::Draw::kNever});
                   }
                 },
                 [&](const ObservableInclude& o) {
                   if (observables_.empty())
                     observables_.assign(num_observables, std::vector<uint64_t>(words_));
                   record_parity(o.lookbacks);
                   xor_words(observables_[o.index], value_);
                 },
             },
             instruction);
}

void ProgramBuilder::finish(size_t num_observables) {
  out_.num_measurements_ = record_.size();
  out_.num_detectors_ = detectors_.size();
  out_.num_observables_ = num_observables;
  std::vector<const Sparse*> outputs;
  for (const Sparse& s : record_) outputs.push_back(&s);
  for (const Sparse& s : detectors_) outputs.push_back(&s);
  std::vector<Sparse> observables;
  for (size_t i = 0; i < num_observables; ++i) {
    observables.push_back(observables_.empty() ? Sparse{} : sparse(observables_[i]));
  }
  for (const Sparse& s : observables) outputs.push_back(&s);
  for (const Sparse& s : exp_signs_) outputs.push_back(&s);

  std::vector<uint8_t> is_coin(next_bit_);
  for (uint32_t c : coins_) is_coin[c] = 1;
  out_.constant_row_.assign(outputs.size(), 0);
  out_.signature_starts_.assign(next_bit_ + 1, 0);
  for (const Sparse* f : outputs) {
    for (uint32_t v : *f) ++out_.signature_starts_[v + 1];
  }
  for (size_t v = 0; v < next_bit_; ++v) out_.signature_starts_[v + 1] += out_.signature_starts_[v];
  out_.signature_outputs_.resize(out_.signature_starts_[next_bit_]);
  std::vector<uint32_t> fill(out_.signature_starts_.begin(), out_.signature_starts_.end() - 1);
  for (size_t o = 0; o < outputs.size(); ++o) {
    for (uint32_t v : *outputs[o]) {
      out_.signature_outputs_[fill[v]++] = static_cast<uint32_t>(o);
      if (v == 0 || is_coin[v]) out_.constant_row_[o] ^= 1;
    }
  }
  // Checkpoints name the detector's position in the row.
  for (CompiledSampler::Event& e : out_.events_) {
    if (e.kind == CompiledSampler::Kind::kCheckpoint)
      e.first = static_cast<uint32_t>(out_.num_measurements_ + e.channel);
  }
  for (size_t i = 0; i < out_.events_.size(); ++i) {
    const CompiledSampler::Event& e = out_.events_[i];
    auto index = static_cast<uint32_t>(i);
    auto drawn = static_cast<uint32_t>(out_.draw_events_.size());
    if (drawn % kDrawsPerPollStop == kDrawsPerPollStop - 1) {
      out_.stops_.push_back({drawn, CompiledSampler::kPollStop});
    }
    if (e.kind == CompiledSampler::Kind::kCoin || e.draw == CompiledSampler::Draw::kCompare) {
      // A coin or single-bit fault that flips no output (the coin of a reset, say) is drawn but
      // never stops the scan: threshold 0 is below no draw.
      bool silent =
          (e.kind == CompiledSampler::Kind::kCoin || e.kind == CompiledSampler::Kind::kFault) &&
          out_.signature_starts_[e.first] == out_.signature_starts_[e.first + 1];
      out_.draw_thresholds_.push_back(silent                                   ? 0
                                      : e.kind == CompiledSampler::Kind::kCoin ? uint64_t{1} << 63
                                                                               : e.threshold);
      out_.draw_events_.push_back(index);
    } else if (e.draw == CompiledSampler::Draw::kAlways ||
               e.kind == CompiledSampler::Kind::kCheckpoint) {
      out_.stops_.push_back({static_cast<uint32_t>(out_.draw_events_.size()), index});
    }
  }
  out_.stops_.push_back(
      {static_cast<uint32_t>(out_.draw_events_.size()), CompiledSampler::kEndStop});
  out_.row_ = out_.constant_row_;
  out_.exp_vals_.resize(exp_signs_.size());
}

std::optional<CompiledSampler> CompiledSampler::compile(
    std::span<const Instruction> instructions, size_t num_qubits, size_t num_observables,
    std::span<const uint8_t> reference_detectors, std::span<const uint8_t> postselected,
    InterruptPoll& poll) {
  if (std::any_of(instructions.begin(), instructions.end(), has_odd_phase_gate)) {
    return std::nullopt;
  }
  size_t bits = random_bit_bound(instructions);
  if (bits >= UINT32_MAX / 2 || instructions.size() >= UINT32_MAX / 8 ||
      2 * num_qubits * words_for_bits(bits + 1) * 8 > kMaxStateBytes) {
    return std::nullopt;
  }
  CompiledSampler out;
  ProgramBuilder builder(out, num_qubits, bits, reference_detectors, postselected);
  for (const Instruction& instruction : instructions) {
    poll.step();
    builder.run(instruction, num_observables);
    if (builder.too_large()) return std::nullopt;
  }
  builder.finish(num_observables);
  return out;
}

void CompiledSampler::apply_fault(ChaCha8Rng& rng, const Event& event) {
  switch (event.kind) {
    case Kind::kCoin:  // a coin "fires" when its draw's top bit is 0
    case Kind::kFault:
      toggle(event.first);
      return;
    case Kind::kDepolarize1:
      apply_code(event.first, rng.uniform_u8(1, 4));
      return;
    case Kind::kDepolarize2: {
      uint8_t code = rng.uniform_u8(1, 16);
      apply_code(event.first, code >> 2);
      apply_code(event.first + 2, code & 3);
      return;
    }
    default: {
      uint8_t code = rng.uniform_u8(1, 64);
      apply_code(event.first, (code >> 4) & 3);
      apply_code(event.first + 2, (code >> 2) & 3);
      apply_code(event.first + 4, code & 3);
      return;
    }
  }
}

void CompiledSampler::apply_channel(ChaCha8Rng& rng, const Event& event) {
  const Channel& channel = channels_[event.channel];
  unsigned code = channel.certain_code;
  if (channel.draws) {
    double u = rng.uniform_double();
    for (size_t i = 0; i < channel.running_sums.size(); ++i) {
      if (u < channel.running_sums[i]) {
        code = static_cast<unsigned>(i + 1);
        break;
      }
    }
  }
  if (event.kind == Kind::kChannel1) {
    apply_code(event.first, code);
  } else {
    apply_code(event.first, code >> 2);
    apply_code(event.first + 2, code & 3);
  }
}

bool CompiledSampler::run_stop(ChaCha8Rng& rng, const Event& event) {
  switch (event.kind) {
    case Kind::kCheckpoint:
      return !row_[event.first];
    case Kind::kChannel1:
    case Kind::kChannel2:
      apply_channel(rng, event);
      return true;
    default:
      apply_fault(rng, event);
      return true;
  }
}

bool CompiledSampler::run_probabilistic(ChaCha8Rng& rng, InterruptPoll& poll) {
  size_t i = 0;
  for (const Stop& stop : stops_) {
    while (i < stop.draws_before) {
      size_t count;
      uint64_t below = rng.peek_below(draw_thresholds_.data() + i, stop.draws_before - i, count);
      if (count == 0) [[unlikely]] {  // the draw straddles two refills
        if (rng.next_u64() < draw_thresholds_[i]) apply_fault(rng, events_[draw_events_[i]]);
        ++i;
        continue;
      }
      // Coins and single-bit faults of the batch only toggle signatures; a fault that draws
      // again (which Pauli) ends the batch, so that its draws follow its own.
      size_t made = count;
      const Event* drawing = nullptr;
      for (; below; below &= below - 1) {
        auto j = static_cast<size_t>(std::countr_zero(below));
        const Event& event = events_[draw_events_[i + j]];
        if (event.kind == Kind::kCoin || event.kind == Kind::kFault) {
          toggle(event.first);
        } else {
          made = j + 1;
          drawing = &event;
          break;
        }
      }
      rng.skip_u64(made);
      if (drawing) apply_fault(rng, *drawing);
      i += made;
    }
    if (stop.event == kEndStop) break;
    if (stop.event == kPollStop) {
      for (uint32_t k = 0; k < kDrawsPerPollStop / kDrawsPerStep; ++k) poll.step();
    } else if (!run_stop(rng, events_[stop.event])) {
      return false;
    }
  }
  return true;
}

bool CompiledSampler::run_fixed(ChaCha8Rng& rng, Fixed& fixed, InterruptPoll& poll) {
  for (const Event& event : events_) {
    poll.step();
    switch (event.kind) {
      case Kind::kCoin:
        if (!(rng.next_u64() >> 63)) toggle(event.first);
        break;
      case Kind::kCheckpoint:
        if (row_[event.first]) return false;
        break;
      default:  // Pauli channels never reach fixed-fault sampling
        if (fixed.next_fault()) apply_fault(rng, event);
    }
  }
  return true;
}

bool CompiledSampler::run(ChaCha8Rng& rng, Fixed* fixed, InterruptPoll& poll) {
  std::copy(constant_row_.begin(), constant_row_.end(), row_.begin());
  if (!(fixed ? run_fixed(rng, *fixed, poll) : run_probabilistic(rng, poll))) return false;
  const uint8_t* signs = row_.data() + num_measurements_ + num_detectors_ + num_observables_;
  for (size_t e = 0; e < exp_vals_.size(); ++e) exp_vals_[e] = exp_choices_[e][signs[e]];
  return true;
}

}  // namespace velkor
