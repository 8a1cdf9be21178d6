#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "base/interrupt.h"
#include "circuit/instruction.h"
#include "sampling/fault_mode.h"
#include "simulator/rng.h"

namespace velkor {

/// A circuit without T, T_DAG or CCZ compiled into the sequence of draws one shot makes and, for
/// every random bit of a shot (a fault component that fires, a measurement coin), the output bits
/// it flips. Every output bit of such a circuit (record, detector, observable, expectation sign)
/// is an affine function of those bits, so a shot is the constant row XORed with the signatures
/// of the bits that are 1. The draws are the interpreter's, in its order, so both give the same
/// arrays for the same stream.
class CompiledSampler {
 public:
  /// Nothing when the circuit has T, T_DAG or CCZ gates, or when compiling it would need more
  /// than a few hundred megabytes. Detector values are reported relative to
  /// `reference_detectors`; a shot whose `postselected` detector is 1 is discarded. Steps `poll`
  /// once per instruction.
  static std::optional<CompiledSampler> compile(std::span<const Instruction> instructions,
                                                size_t num_qubits, size_t num_observables,
                                                std::span<const uint8_t> reference_detectors,
                                                std::span<const uint8_t> postselected,
                                                InterruptPoll& poll);

  /// Runs one shot, drawing from `rng` exactly as the interpreter would; `fixed` selects
  /// fixed-fault mode. Returns false when a postselected detector fired (no draw is made after
  /// it). Steps `poll` every few thousand draws. Allocates nothing.
  bool run(ChaCha8Rng& rng, Fixed* fixed, InterruptPoll& poll);

  /// Rows of the last accepted shot, as the interpreter reports them: the record (one byte per
  /// bit), detector bits relative to the reference, absolute observable bits, expectation values.
  std::span<const uint8_t> record() const { return {row_.data(), num_measurements_}; }
  std::span<const uint8_t> detectors() const {
    return {row_.data() + num_measurements_, num_detectors_};
  }
  std::span<const uint8_t> observables() const {
    return {row_.data() + num_measurements_ + num_detectors_, num_observables_};
  }
  std::span<const double> exp_vals() const { return exp_vals_; }

 private:
  friend class ProgramBuilder;

  enum class Kind : uint8_t {
    kFault,        // one random bit
    kDepolarize1,  // two random bits (X and Z part) per qubit, chosen by a uniform code
    kDepolarize2,
    kDepolarize3,
    kChannel1,  // a Pauli channel table: `first` bits as above, `channel` its table
    kChannel2,
    kCoin,        // a random measurement: the top bit of one draw
    kCheckpoint,  // a postselected detector: `first` is its position in the row
  };
  enum class Draw : uint8_t { kNever, kAlways, kCompare };
  struct Event {
    uint64_t threshold;  // a fault when the draw is below it
    uint32_t first;
    uint32_t channel;
    Kind kind;
    Draw draw;
  };
  /// An event of ordinary sampling that compares no draw, run after `draws_before` draws; or,
  /// as kPollStop, a point where a long scan steps the interrupt poll.
  static constexpr uint32_t kPollStop = UINT32_MAX - 1;
  static constexpr uint32_t kEndStop = UINT32_MAX;
  struct Stop {
    uint32_t draws_before;
    uint32_t event;
  };
  /// A Pauli channel's table: no draw and no fault (code 0), one certain code, or the running
  /// sums the uniform draw is compared with.
  struct Channel {
    uint8_t certain_code = 0;
    bool draws = false;
    std::vector<double> running_sums;
  };

  CompiledSampler() = default;
  void toggle(uint32_t bit) {
    // Local pointers: a store to the row may not alias the vectors' own fields, so the loop
    // does not reload them after every byte.
    const uint32_t* output = signature_outputs_.data();
    uint8_t* row = row_.data();
    for (uint32_t k = signature_starts_[bit], end = signature_starts_[bit + 1]; k < end; ++k)
      row[output[k]] ^= 1;
  }
  /// The Pauli with two-bit code `code` (1 X, 2 Y, 3 Z) on the qubit whose X bit is `bit`.
  void apply_code(uint32_t bit, unsigned code) {
    if (code == 1 || code == 2) toggle(bit);
    if (code >= 2) toggle(bit + 1);
  }
  /// Applies a fired coin or fault, drawing which Pauli when the channel has several.
  void apply_fault(ChaCha8Rng& rng, const Event& event);
  void apply_channel(ChaCha8Rng& rng, const Event& event);
  /// Runs an event that draws nothing to decide it; false when it discards the shot.
  bool run_stop(ChaCha8Rng& rng, const Event& event);
  bool run_probabilistic(ChaCha8Rng& rng, InterruptPoll& poll);
  bool run_fixed(ChaCha8Rng& rng, Fixed& fixed, InterruptPoll& poll);

  size_t num_measurements_ = 0;
  size_t num_detectors_ = 0;
  size_t num_observables_ = 0;
  std::vector<Event> events_;
  std::vector<Channel> channels_;
  // The events of ordinary sampling split into the draws and what runs between them; the last
  // stop is a sentinel after every draw. Draw i fires draw_events_[i] when it is below
  // draw_thresholds_[i] (a coin fires when its top bit is 0).
  std::vector<uint64_t> draw_thresholds_;
  std::vector<uint32_t> draw_events_;
  std::vector<Stop> stops_;
  // Random bit v flips the row bytes signature_outputs_[signature_starts_[v] ..
  // signature_starts_[v + 1]).
  std::vector<uint32_t> signature_starts_;
  std::vector<uint32_t> signature_outputs_;
  // The row when every random bit is 0 except the coins, which count as 1 (a coin's draw
  // "fires" when its top bit is 0).
  std::vector<uint8_t> constant_row_;
  std::vector<uint8_t> row_;
  // Expectation value e is exp_choices_[e][row byte of its sign].
  std::vector<std::array<double, 2>> exp_choices_;
  std::vector<double> exp_vals_;
};

}  // namespace velkor
