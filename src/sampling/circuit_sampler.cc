#include "sampling/circuit_sampler.h"

#include <algorithm>

#include "base/capacity_error.h"
#include "base/internal_error.h"
#include "circuit/expansion.h"
#include "sampling/qubit_renumbering.h"
#include "sampling/shot_executor.h"

namespace velkor {
namespace {

// The fixed key of the reference run's generator ("velkor reference sample key....").
constexpr std::array<uint32_t, 8> kReferenceKey = {0x6b6c6576, 0x7220726f, 0x72656665, 0x65636e65,
                                                   0x6d617320, 0x20656c70, 0x2079656b, 0x2e2e2e2e};

size_t fault_sites_of(const Instruction& instruction) {
  if (const Noise* noise = std::get_if<Noise>(&instruction)) {
    return std::visit([](const auto& channel) { return channel.targets.size(); }, noise->channel);
  }
  if (const Measure* m = std::get_if<Measure>(&instruction)) {
    return m->flip_probability ? m->targets.size() : 0;
  }
  if (const MeasureProducts* m = std::get_if<MeasureProducts>(&instruction)) {
    return m->flip_probability ? m->products.size() : 0;
  }
  return 0;
}

bool is_pauli_channel(const Instruction& instruction) {
  const Noise* noise = std::get_if<Noise>(&instruction);
  return noise && (std::holds_alternative<PauliChannel1>(noise->channel) ||
                   std::holds_alternative<PauliChannel2>(noise->channel));
}

// Measurement results an instruction adds to the record.
size_t results_of(const Instruction& instruction) {
  if (const Measure* m = std::get_if<Measure>(&instruction)) return m->targets.size();
  if (const MeasureProducts* m = std::get_if<MeasureProducts>(&instruction)) {
    return m->products.size();
  }
  return 0;
}

// k distinct indices from [0, n), uniformly, by Floyd's method: draws min(k, n - k) indices and
// takes the complement when that is smaller. `chosen` is a zeroed bitmap of n bits, returned
// zeroed.
Fixed choose_fault_sites(ChaCha8Rng& rng, uint64_t n, uint64_t k, std::vector<uint64_t>& chosen) {
  Fixed mode;
  mode.complement = n - k < k;
  uint64_t m = std::min(k, n - k);
  mode.sites.reserve(m);
  for (uint64_t j = n - m; j < n; ++j) {
    uint64_t t = rng.uniform_inclusive(0, j);
    uint64_t pick = get_bit(chosen, t) ? j : t;
    flip_bit(chosen, pick);
    mode.sites.push_back(pick);
  }
  for (uint64_t site : mode.sites) flip_bit(chosen, site);
  std::sort(mode.sites.begin(), mode.sites.end());
  return mode;
}

}  // namespace

Expected<CircuitSampler, MeasurementError> CircuitSampler::from_circuit_with_options(
    Circuit circuit, std::optional<uint64_t> seed, std::span<const uint64_t> postselect,
    const InterruptCheck& interrupted) {
  size_t size = circuit.instructions.size();
  try {
    return build(std::move(circuit), seed, postselect, interrupted);
  } catch (const std::bad_alloc&) {
    throw CapacityError("cannot allocate the memory to build a sampler of " + std::to_string(size) +
                        " instructions");
  }
}

Expected<CircuitSampler, MeasurementError> CircuitSampler::build(
    Circuit circuit, std::optional<uint64_t> seed, std::span<const uint64_t> postselect,
    const InterruptCheck& interrupted) {
  InterruptPoll poll(interrupted);
  CircuitSampler sampler;
  sampler.instructions_ = std::move(circuit.instructions);
  sampler.num_qubits_ = circuit.num_qubits;
  sampler.qubits_ = renumber_qubits(sampler.instructions_, poll);
  sampler.count(poll);
  size_t num_detectors = sampler.num_detectors_;
  sampler.postselected_.assign(num_detectors, 0);
  for (uint64_t index : postselect) {
    std::string entry = "postselected detector index " + std::to_string(index);
    if (index >= num_detectors) throw InternalError(entry + " is out of range");
    if (sampler.postselected_[index]) throw InternalError(entry + " appears more than once");
    sampler.postselected_[index] = 1;
  }

  // Besides its instructions the sampler keeps three rows of observable bits (the reference, a
  // shot's and the row being appended), which one OBSERVABLE_INCLUDE index can make huge; all
  // together must stay within the budget of an expanded circuit.
  size_t num_observables = sampler.num_observables_;
  uint64_t instruction_bytes = sampler.instructions_.size() * sizeof(Instruction);
  if (num_observables > (kMaxExpandedBytes - std::min(instruction_bytes, kMaxExpandedBytes)) / 3) {
    throw CapacityError("cannot allocate " + std::to_string(num_observables) + " observables");
  }
  ShotExecutor executor(sampler.instructions_, sampler.qubits_.size(), num_observables, poll);
  ChaCha8Rng reference_rng = ChaCha8Rng::from_key(kReferenceKey);
  ShotOutcome outcome = executor.run(reference_rng, Noiseless{}, {}, {});
  if (Failed* failed = std::get_if<Failed>(&outcome)) {
    return unexpected(
        MeasurementError{with_original_qubit(std::move(failed->message), sampler.qubits_),
                         std::nullopt, failed->measurement});
  }
  check_invariant(std::holds_alternative<Accepted>(outcome),
                  "internal error: entered unreachable code: reference generation does not "
                  "postselect");
  sampler.reference_detectors_.assign(executor.detectors().begin(), executor.detectors().end());
  sampler.reference_observables_.assign(executor.observables().begin(),
                                        executor.observables().end());
  sampler.rng_ = seed ? ChaCha8Rng::seed_from_u64(*seed) : ChaCha8Rng::from_os_rng();
  sampler.compiled_ = CompiledSampler::compile(
      sampler.instructions_, sampler.qubits_.size(), sampler.num_observables(),
      sampler.reference_detectors_, sampler.postselected_, poll);
  return sampler;
}

void CircuitSampler::count(InterruptPoll& poll) {
  for (const Instruction& instruction : instructions_) {
    poll.step();
    num_measurements_ += results_of(instruction);
    num_detectors_ += std::holds_alternative<Detector>(instruction);
    if (const ObservableInclude* o = std::get_if<ObservableInclude>(&instruction)) {
      // The largest index names one observable more than a 64-bit count can hold.
      if (o->index == UINT64_MAX)
        throw CapacityError("cannot allocate 18446744073709551616 observables");
      num_observables_ = std::max<size_t>(num_observables_, o->index + 1);
    }
    if (const ExpVal* e = std::get_if<ExpVal>(&instruction)) num_exp_vals_ += e->products.size();
    num_fault_sites_ += fault_sites_of(instruction);
    has_pauli_channels_ = has_pauli_channels_ || is_pauli_channel(instruction);
  }
}

CircuitSampler CircuitSampler::with_seed(std::optional<uint64_t> seed) const {
  CircuitSampler copy = *this;
  copy.rng_ = seed ? ChaCha8Rng::seed_from_u64(*seed) : ChaCha8Rng::from_os_rng();
  return copy;
}

std::optional<std::string> CircuitSampler::fixed_fault_error(uint64_t k) const {
  if (has_pauli_channels_) {
    return "fixed-fault sampling does not support PAULI_CHANNEL_1 or PAULI_CHANNEL_2";
  }
  if (k > num_fault_sites_) {
    return "num_faults (" + std::to_string(k) + ") exceeds the number of fault sites (" +
           std::to_string(num_fault_sites_) + ")";
  }
  return std::nullopt;
}

Expected<CircuitSamples, MeasurementError> CircuitSampler::sample_with(
    uint64_t shots, std::optional<uint64_t> num_faults, SampleFormat format,
    const InterruptCheck& interrupted) {
  try {
    SampleSink sink(shots, shape(format), format.bit_packed);
    Expected<Ok, MeasurementError> done = sample_rows(shots, num_faults, format, sink, interrupted);
    if (!done) return unexpected(std::move(done.error()));
    return std::move(sink).finish(shots);
  } catch (const std::bad_alloc&) {
    out_of_memory(shots);
  }
}

Expected<uint64_t, MeasurementError> CircuitSampler::sample_into(
    uint64_t shots, std::optional<uint64_t> num_faults, SampleFormat format, SampleTarget target,
    const InterruptCheck& interrupted) {
  check_invariant(target.rows >= shots, "a sample target has fewer rows than shots");
  try {
    SampleSink sink(target, shape(format), format.bit_packed);
    Expected<Ok, MeasurementError> done = sample_rows(shots, num_faults, format, sink, interrupted);
    if (!done) return unexpected(std::move(done.error()));
    return sink.accepted_shots();
  } catch (const std::bad_alloc&) {
    out_of_memory(shots);
  }
}

void CircuitSampler::out_of_memory(uint64_t shots) const {
  throw CapacityError("cannot allocate the memory to sample " + std::to_string(shots) +
                      " shots of " + std::to_string(instructions_.size()) + " instructions");
}

SampleShape CircuitSampler::shape(SampleFormat format) const {
  return {format.measurements ? num_measurements() : 0, num_detectors(),
          reference_observables_.size(), num_exp_vals()};
}

Expected<Ok, MeasurementError> CircuitSampler::sample_rows(uint64_t shots,
                                                           std::optional<uint64_t> num_faults,
                                                           SampleFormat format, SampleSink& sink,
                                                           const InterruptCheck& interrupted) {
  InterruptPoll poll(interrupted);
  if (num_faults) {
    std::optional<std::string> refusal = fixed_fault_error(*num_faults);
    if (refusal) throw InternalError(*refusal);
  }
  ShotExecutor executor(instructions_, qubits_.size(), num_observables(), poll);
  std::vector<uint8_t> observables(reference_observables_.size());
  std::vector<uint64_t> chosen;
  if (num_faults) chosen.assign(words_for_bits(num_fault_sites_), 0);

  for (uint64_t shot = 0; shot < shots; ++shot) {
    poll.step();
    FaultMode mode = Probabilistic{};
    if (num_faults) mode = choose_fault_sites(rng_, num_fault_sites_, *num_faults, chosen);
    // Both paths expose the last accepted shot's rows the same way.
    auto write = [&](const auto& rows) {
      for (size_t i = 0; i < observables.size(); ++i) {
        observables[i] = rows.observables()[i] ^ reference_observables_[i];
      }
      sink.write_shot(format.measurements ? rows.record() : std::span<const uint8_t>{},
                      rows.detectors(), observables, rows.exp_vals());
    };
    if (compiled_) {
      if (compiled_->run(rng_, std::get_if<Fixed>(&mode), poll)) write(*compiled_);
      continue;
    }
    ShotOutcome outcome = executor.run(rng_, std::move(mode), reference_detectors_, postselected_);
    if (Failed* failed = std::get_if<Failed>(&outcome)) {
      return unexpected(MeasurementError{with_original_qubit(std::move(failed->message), qubits_),
                                         shot, failed->measurement});
    }
    if (std::holds_alternative<Discarded>(outcome)) continue;
    write(executor);
  }
  return Ok{};
}

}  // namespace velkor
