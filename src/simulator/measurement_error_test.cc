#include "simulator/measurement_error.h"

#include <gtest/gtest.h>

namespace velkor {
namespace {

TEST(MeasurementError, DisplayAddsWhicheverIndicesLocateIt) {
  const std::string m = "X measurement on qubit 2 is incompatible: non-affine zero set";
  EXPECT_EQ((MeasurementError{m, std::nullopt, std::nullopt}.display()), m);
  EXPECT_EQ((MeasurementError{m, 4, 7}.display()), m + " (shot 4, measurement 7)");
  EXPECT_EQ((MeasurementError{m, std::nullopt, 3}.display()), m + " (reference measurement 3)");
  // A shot without a measurement index is not a form the sampler produces; nothing is added.
  EXPECT_EQ((MeasurementError{m, 4, std::nullopt}.display()), m);
}

}  // namespace
}  // namespace velkor
