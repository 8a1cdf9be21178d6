#include "circuit/argument_readers.h"

#include <cmath>

#include "text/plain_decimal.h"

namespace velkor {
namespace {

// Nothing when `p` is a finite probability, else the message naming it.
std::optional<std::string> bad_probability(double p) {
  if (std::isfinite(p) && p >= 0.0 && p <= 1.0) return std::nullopt;
  return "probability must be finite and between 0 and 1, but got " + plain_decimal(p);
}

}  // namespace

Expected<std::vector<double>, std::string> probabilities(std::span<const double> arguments,
                                                         size_t count, std::string_view name) {
  if (arguments.size() != count) {
    return unexpected(std::string(name) + " requires " + std::to_string(count) +
                      " probability argument(s), but got " + std::to_string(arguments.size()));
  }
  double sum = 0.0;
  for (double p : arguments) {
    if (auto message = bad_probability(p)) return unexpected(std::move(*message));
    sum += p;
  }
  if (sum > 1.0) return unexpected(std::string(name) + " probabilities sum to more than 1");
  return std::vector<double>(arguments.begin(), arguments.end());
}

Expected<std::optional<double>, std::string> measurement_probability(
    const AstInstruction& instruction) {
  const std::vector<double>& arguments = instruction.arguments;
  if (arguments.empty()) return std::optional<double>();
  if (arguments.size() > 1) {
    return unexpected(instruction.name + " takes at most one readout probability");
  }
  if (auto message = bad_probability(arguments[0])) return unexpected(std::move(*message));
  return std::optional<double>(arguments[0]);
}

Expected<uint64_t, std::string> observable_index(std::span<const double> arguments) {
  if (arguments.size() != 1) {
    return unexpected(std::string("OBSERVABLE_INCLUDE requires one observable index"));
  }
  double value = arguments[0];
  if (!std::isfinite(value) || value < 0.0 || std::trunc(value) != value) {
    return unexpected("OBSERVABLE_INCLUDE index must be a non-negative integer, but got " +
                      plain_decimal(value));
  }
  // Saturating conversion: 2^64 and above become the largest index.
  constexpr double kTwoTo64 = 18446744073709551616.0;
  uint64_t index = value >= kTwoTo64 ? UINT64_MAX : static_cast<uint64_t>(value);
  if (static_cast<double>(index) != value) {
    return unexpected("OBSERVABLE_INCLUDE index " + plain_decimal(value) + " is too large");
  }
  return index;
}

}  // namespace velkor
