#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "base/expected.h"
#include "base/interrupt.h"
#include "circuit/circuit.h"
#include "sampling/compiled/compiled_sampler.h"
#include "sampling/sample_sink.h"
#include "simulator/measurement_error.h"
#include "simulator/rng.h"

namespace velkor {

/// How a sampling call lays out its results.
struct SampleFormat {
  /// Bit rows packed eight columns to a byte, the first column in the lowest bit.
  bool bit_packed = false;
  /// False leaves the measurement record out: zero columns, never written.
  bool measurements = true;
};

/// A validated circuit prepared once for repeated sampling: its instruction list, the noiseless
/// reference detector and observable values, the postselection flags and its own random stream,
/// which every sampling call advances.
class CircuitSampler {
 public:
  /// Takes over the circuit's instructions (so the expanded list exists once), runs the circuit
  /// once without noise on a fixed-key generator to get the reference values,
  /// counts the fault sites and seeds the stream from `seed` (or the operating system). Throws
  /// CapacityError, naming what did not fit, when the sampler and its instructions would take
  /// more than the budget of an expanded circuit (kMaxExpandedBytes) or memory runs out.
  /// `postselect` holds distinct detector indices below num_detectors(). Fails with the
  /// reference run's refusal, its measurement index set and no shot index. `interrupted` is
  /// asked every InterruptPoll::kStepsPerAsk instructions; when it says stop, throws Interrupted.
  static Expected<CircuitSampler, MeasurementError> from_circuit_with_options(
      Circuit circuit, std::optional<uint64_t> seed, std::span<const uint64_t> postselect,
      const InterruptCheck& interrupted = {});

  /// The circuit's own qubit count (one more than its largest index). Shots run on a register
  /// of only the qubits the circuit names, renumbered in order; messages name the circuit's own.
  size_t num_qubits() const { return num_qubits_; }
  size_t num_fault_sites() const { return num_fault_sites_; }
  /// Counts taken from the instruction list once, at construction (the list never changes).
  size_t num_measurements() const { return num_measurements_; }
  size_t num_detectors() const { return num_detectors_; }
  size_t num_observables() const { return num_observables_; }
  size_t num_exp_vals() const { return num_exp_vals_; }

  /// The sampler's own stream, which every sampling call advances.
  ChaCha8Rng& rng() { return rng_; }

  /// A copy of this sampler whose stream starts afresh from `seed` (or the operating system), as
  /// if it had been built with that seed; this sampler's stream is untouched. Copies the
  /// instruction list; runs no reference shot.
  CircuitSampler with_seed(std::optional<uint64_t> seed) const;

  /// Why fixed-fault sampling with `k` faults is refused, or nothing when it is allowed.
  std::optional<std::string> fixed_fault_error(uint64_t k) const;

  /// Whether sampling runs a compiled program instead of interpreting the circuit shot by shot
  /// (circuits without T, T_DAG and CCZ); both give the same samples.
  bool compiled() const { return compiled_.has_value(); }
  /// Makes every later sampling call interpret the circuit shot by shot (for comparisons).
  void use_general_path() { compiled_.reset(); }

  /// Samples `shots` shots: each fails independently at its fault sites, or, with `num_faults`,
  /// exactly that many uniformly chosen sites fail. Detectors and observables are reported
  /// relative to the reference; postselected shots are dropped. Accepted rows are written in
  /// `format` straight into the buffers returned. `interrupted` is asked every
  /// InterruptPoll::kStepsPerAsk instructions or shots, so also inside a shot; when it says stop,
  /// throws Interrupted, keeping the draws of the shots completed. The stream keeps every draw
  /// made, also when the call fails. Throws CapacityError before drawing when the result cannot be
  /// allocated, and whenever memory runs out.
  Expected<CircuitSamples, MeasurementError> sample_with(uint64_t shots,
                                                         std::optional<uint64_t> num_faults,
                                                         SampleFormat format = {},
                                                         const InterruptCheck& interrupted = {});

  /// As sample_with, but writes the accepted rows into the first rows of `target` (at least
  /// `shots` rows of the format's widths, in the layout of CircuitSamples) and returns how many
  /// it wrote; rows after them are left as they were. Throws CapacityError only when memory runs
  /// out.
  Expected<uint64_t, MeasurementError> sample_into(uint64_t shots,
                                                   std::optional<uint64_t> num_faults,
                                                   SampleFormat format, SampleTarget target,
                                                   const InterruptCheck& interrupted = {});

 private:
  CircuitSampler() = default;
  // Sets the counts, the fault sites and has_pauli_channels_ in one pass over the instructions.
  void count(InterruptPoll& poll);
  // from_circuit_with_options and sample_with, short of turning exhausted memory into
  // CapacityError; sample_rows writes into `sink`.
  static Expected<CircuitSampler, MeasurementError> build(Circuit circuit,
                                                          std::optional<uint64_t> seed,
                                                          std::span<const uint64_t> postselect,
                                                          const InterruptCheck& interrupted);
  Expected<Ok, MeasurementError> sample_rows(uint64_t shots, std::optional<uint64_t> num_faults,
                                             SampleFormat format, SampleSink& sink,
                                             const InterruptCheck& interrupted);
  // CapacityError "cannot allocate the memory to sample {shots} shots ..." for bad_alloc.
  [[noreturn]] void out_of_memory(uint64_t shots) const;
  SampleShape shape(SampleFormat format) const;

  std::vector<Instruction> instructions_;  // qubits renumbered 0..qubits_.size() - 1
  size_t num_qubits_ = 0;                  // the circuit's own count
  std::vector<uint64_t> qubits_;           // the circuit's index of each renumbered qubit
  std::vector<uint8_t> reference_detectors_;
  std::vector<uint8_t> reference_observables_;
  std::vector<uint8_t> postselected_;
  size_t num_fault_sites_ = 0;
  size_t num_measurements_ = 0;
  size_t num_detectors_ = 0;
  size_t num_observables_ = 0;
  size_t num_exp_vals_ = 0;
  ChaCha8Rng rng_;
  bool has_pauli_channels_ = false;
  std::optional<CompiledSampler> compiled_;
};

}  // namespace velkor
