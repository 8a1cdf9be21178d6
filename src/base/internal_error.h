#pragma once

#include <stdexcept>
#include <string>

namespace velkor {

/// Thrown when an internal invariant is broken. Valid input never reaches it; the binding
/// layer turns it into a Python exception carrying the message, so the process survives.
class InternalError : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

/// Throws InternalError(message) unless `condition` holds.
inline void check_invariant(bool condition, const char* message) {
  if (!condition) [[unlikely]] {
    throw InternalError(message);
  }
}

}  // namespace velkor
