#pragma once

#include <cstdint>
#include <functional>

namespace velkor {

/// Asks whether a long call should stop, for instance because Ctrl-C is pending: true means
/// stop. It is asked often (every InterruptPoll::kStepsPerAsk steps), so it should be cheap when
/// nothing is pending. An empty check never stops.
using InterruptCheck = std::function<bool()>;

/// Thrown by InterruptPoll::step when its check says stop. The caller that installed the check
/// knows why; whatever the call was changing stays valid and usable.
struct Interrupted {};

/// Counts the steps of a long computation (instructions read, copied or run, shots) and asks its
/// check every kStepsPerAsk steps. A step costs a decrement and a branch.
class InterruptPoll {
 public:
  static constexpr uint32_t kStepsPerAsk = 1024;

  /// Never stops.
  InterruptPoll() = default;
  /// Asks `check`, which must outlive the poll and may be empty.
  explicit InterruptPoll(const InterruptCheck& check) : check_(check ? &check : nullptr) {}

  /// Counts one step; throws Interrupted when the check, asked every kStepsPerAsk steps, says
  /// stop.
  void step() {
    if (--countdown_ == 0) [[unlikely]]
      ask();
  }

 private:
  void ask() {
    countdown_ = kStepsPerAsk;
    if (check_ != nullptr && (*check_)()) throw Interrupted{};
  }

  const InterruptCheck* check_ = nullptr;
  uint32_t countdown_ = kStepsPerAsk;
};

}  // namespace velkor
