#include "sampling/circuit_sampler.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/internal_error.h"

namespace velkor {
namespace {

Circuit parse(const std::string& text) {
  Expected<Circuit, std::string> circuit = Circuit::try_parse(text);
  EXPECT_TRUE(circuit.has_value()) << text;
  return std::move(circuit.value());
}

CircuitSampler build(const std::string& text, std::vector<uint64_t> postselect = {}) {
  Expected<CircuitSampler, MeasurementError> sampler =
      CircuitSampler::from_circuit_with_options(parse(text), 7, postselect);
  EXPECT_TRUE(sampler.has_value());
  return std::move(sampler.value());
}

std::string internal_error_of(auto&& call) {
  try {
    call();
  } catch (const InternalError& error) {
    return error.what();
  }
  return "";
}

// Preconditions that the Python layer checks first; the core refuses them as broken invariants.
TEST(CircuitSampler, RefusesBrokenPreconditions) {
  Circuit circuit = parse("M 0\nDETECTOR rec[-1]\nDETECTOR rec[-1]");
  std::vector<uint64_t> out_of_range = {2}, repeated = {1, 1};
  EXPECT_EQ(internal_error_of(
                [&] { (void)CircuitSampler::from_circuit_with_options(circuit, 1, out_of_range); }),
            "postselected detector index 2 is out of range");
  EXPECT_EQ(internal_error_of(
                [&] { (void)CircuitSampler::from_circuit_with_options(circuit, 1, repeated); }),
            "postselected detector index 1 appears more than once");

  CircuitSampler sampler = build("X_ERROR(0.1) 0 1\nM 0");
  EXPECT_EQ(internal_error_of([&] { (void)sampler.sample_with(1, 3); }),
            "num_faults (3) exceeds the number of fault sites (2)");
  CircuitSampler channel = build("PAULI_CHANNEL_1(0.1, 0, 0) 0");
  EXPECT_EQ(internal_error_of([&] { (void)channel.sample_with(1, 0); }),
            "fixed-fault sampling does not support PAULI_CHANNEL_1 or PAULI_CHANNEL_2");
}

// Every phase that can run long asks the check: reading a long text, expanding a block, building
// the sampler (renumbering and the reference run), and the inside of a single long shot.
TEST(CircuitSampler, EveryLongPhaseAsksTheInterruptCheck) {
  const InterruptCheck stop = [] { return true; };
  std::string lines;
  for (int i = 0; i < 5000; ++i) lines += "X 0\n";
  const std::string block = "REPEAT 5000 {\nX 0\n}\nM 0\n";
  EXPECT_THROW((void)Circuit::try_parse(lines, stop), Interrupted);
  EXPECT_THROW((void)Circuit::try_parse(block, stop), Interrupted);
  EXPECT_THROW((void)CircuitSampler::from_circuit_with_options(parse(block), 7, {}, stop),
               Interrupted);
  CircuitSampler interpreted = build(block);
  interpreted.use_general_path();
  EXPECT_THROW((void)interpreted.sample_with(1, std::nullopt, {}, stop), Interrupted);
  // A compiled shot's work is its draws.
  CircuitSampler compiled = build("REPEAT 20000 {\nX_ERROR(0.1) 0\n}\nM 0\n");
  EXPECT_TRUE(compiled.compiled());
  EXPECT_THROW((void)compiled.sample_with(1, std::nullopt, {}, stop), Interrupted);
  EXPECT_THROW((void)compiled.sample_with(1, 1, {}, stop), Interrupted);
}

}  // namespace
}  // namespace velkor
