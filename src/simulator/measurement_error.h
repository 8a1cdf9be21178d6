#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace velkor {

/// A measurement the state cannot represent: an X-basis or Pauli-product measurement refused by
/// the simulator, possibly located in a sampled shot. Only `message` is set by the simulator; the
/// circuit sampler adds the shot and measurement indices.
struct MeasurementError {
  std::string message;
  /// Index of the shot in which the refusal happened.
  std::optional<uint64_t> shot;
  /// Index of the refused measurement in the measurement record.
  std::optional<uint64_t> measurement;

  /// `message`, then " (shot {}, measurement {})" when both indices are set, or
  /// " (reference measurement {})" when only `measurement` is set.
  std::string display() const;

  bool operator==(const MeasurementError&) const = default;
};

}  // namespace velkor
