#include "simulator/measurement_error.h"

namespace velkor {

std::string MeasurementError::display() const {
  if (shot && measurement) {
    return message + " (shot " + std::to_string(*shot) + ", measurement " +
           std::to_string(*measurement) + ")";
  }
  if (measurement) return message + " (reference measurement " + std::to_string(*measurement) + ")";
  return message;
}

}  // namespace velkor
