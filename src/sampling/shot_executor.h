#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "base/interrupt.h"
#include "circuit/instruction.h"
#include "sampling/deferred_phases.h"
#include "sampling/fault_mode.h"
#include "simulator/simulator.h"

namespace velkor {

/// The shot ran to its end; its rows are in the executor's record, detectors, observables and
/// exp_vals.
struct Accepted {};
/// A postselected detector fired; the shot stopped there.
struct Discarded {};
/// A measurement was refused; `measurement` is the position its result would have had in the
/// shot's record.
struct Failed {
  std::string message;
  size_t measurement;
};
using ShotOutcome = std::variant<Accepted, Discarded, Failed>;

/// Runs a flat instruction list one shot at a time. The simulator and the per-shot rows are kept
/// from shot to shot, so a shot allocates nothing once the buffers have grown.
class ShotExecutor {
 public:
  /// `instructions` and `poll` must outlive the executor, which must not be copied; a shot steps
  /// `poll` once per instruction, a run of two-qubit gates of one kind counting as one. Throws
  /// CapacityError when a row of `num_observables` bits cannot be allocated.
  ShotExecutor(std::span<const Instruction> instructions, size_t num_qubits, size_t num_observables,
               InterruptPoll& poll);
  ShotExecutor(const ShotExecutor&) = delete;
  ShotExecutor& operator=(const ShotExecutor&) = delete;

  /// Runs one shot on a fresh all-zero register of num_qubits qubits that draws from `rng`
  /// (advanced in place, whatever the outcome, unless the poll throws Interrupted). Detector values
  /// are XORed with `reference_detectors` when it is non-empty; a detector whose `postselected`
  /// flag is set and whose value is 1 discards the shot.
  ShotOutcome run(ChaCha8Rng& rng, FaultMode mode, std::span<const uint8_t> reference_detectors,
                  std::span<const uint8_t> postselected);

  /// Rows of the last accepted shot: measurement record (one byte per bit), detector and
  /// observable bits, expectation values.
  std::span<const uint8_t> record() const { return record_; }
  std::span<const uint8_t> detectors() const { return detectors_; }
  std::span<const uint8_t> observables() const { return observables_; }
  std::span<const double> exp_vals() const { return exp_vals_; }

 private:
  /// Whether the next fault site faults; inline, since every site of every shot asks.
  bool decide_fault(FaultMode& mode, double probability) {
    if (Fixed* fixed = std::get_if<Fixed>(&mode)) return fixed->next_fault();
    return sim_.rng().bernoulli(probability);
  }
  /// Calls fire(i) for every site i < n of a channel with one probability that faults, deciding
  /// the sites in order with exactly decide_fault's draws; fire may draw more. In ordinary sampling
  /// the draws are compared 64 at a time, so a site that does not fault costs a fraction of one.
  template <class F>
  void for_each_fault(FaultMode& mode, double probability, size_t n, F&& fire) {
    if (!std::holds_alternative<Probabilistic>(mode) || !(probability > 0.0 && probability < 1.0)) {
      for (size_t i = 0; i < n; ++i) {
        if (decide_fault(mode, probability)) fire(i);
      }
      return;
    }
    auto threshold = static_cast<uint64_t>(probability * 18446744073709551616.0);
    if (thresholds_[0] != threshold) thresholds_.fill(threshold);
    ChaCha8Rng& rng = sim_.rng();
    for (size_t i = 0; i < n;) {
      size_t count = 0;
      uint64_t below = rng.peek_below(thresholds_.data(), n - i, count);
      if (count == 0) {
        // The next draw straddles a refill.
        if (rng.next_u64() < threshold) fire(i);
        ++i;
      } else if (below == 0) {
        rng.skip_u64(count);
        i += count;
      } else {
        auto j = static_cast<size_t>(std::countr_zero(below));
        rng.skip_u64(j + 1);
        fire(i + j);
        i += j + 1;
      }
    }
  }
  bool record_bit(uint64_t lookback) const { return record_[record_.size() - lookback]; }
  bool parity(std::span<const uint64_t> lookbacks) const;

  std::vector<Instruction> joined_;            // the instructions with gate runs joined
  std::span<const Instruction> instructions_;  // joined_, or the caller's list if it did not fit
  size_t num_qubits_;
  size_t num_observables_;
  InterruptPoll& poll_;
  Simulator sim_;
  DeferredPhases phases_;
  std::vector<uint8_t> record_;
  std::array<uint64_t, 64> thresholds_{};  // one channel's threshold, repeated for peek_below
  std::vector<uint8_t> detectors_;
  std::vector<uint8_t> observables_;
  std::vector<double> exp_vals_;
};

}  // namespace velkor
