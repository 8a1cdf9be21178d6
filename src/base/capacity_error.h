#pragma once

#include <stdexcept>

namespace velkor {

/// Thrown when a size asked for cannot be represented or allocated. The message names the size;
/// the binding layer raises it as MemoryError. Whoever throws it has not changed any state.
class CapacityError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace velkor
