#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "sampling/row_buffer.h"

namespace velkor {

/// The columns of one shot in each result: measurement record, detector bits, observable bits,
/// expectation values.
struct SampleShape {
  size_t measurements = 0;
  size_t detectors = 0;
  size_t observables = 0;
  size_t exp_vals = 0;
};

/// The accepted shots of one sampling call in their final layout, row after row: bit rows hold
/// one byte (0 or 1) per column, or, when `bit_packed`, ceil(columns / 8) bytes with column c at
/// bit c % 8 of byte c / 8 (numpy.packbits with bitorder="little"); exp_vals rows hold doubles.
struct CircuitSamples {
  RowBuffer measurements;
  RowBuffer detectors;
  RowBuffer observables;
  RowBuffer exp_vals;
  SampleShape shape;
  bool bit_packed = false;
  size_t total_shots = 0;
  size_t accepted_shots = 0;
};

/// Where every executor writes accepted shots: the four result buffers, sized for all requested
/// shots up front, each shot's rows written straight into their final place and layout, so a
/// call never holds a second copy of its results.
class SampleSink {
 public:
  /// Room for `shots` rows of `shape`. Throws CapacityError "cannot allocate {shots} shots of
  /// {columns} values each" for the first result (in the order of SampleShape) whose buffer
  /// cannot exist or cannot be allocated.
  SampleSink(uint64_t shots, SampleShape shape, bool bit_packed);

  /// Appends one accepted shot. Bit rows hold one byte, 0 or 1, per column; every span has
  /// exactly its width in the shape. Allocates nothing; at most as many shots as there is room
  /// for.
  void write_shot(std::span<const uint8_t> record, std::span<const uint8_t> detectors,
                  std::span<const uint8_t> observables, std::span<const double> exp_vals);

  /// The written rows of a call of `total_shots` shots, the buffers shrunk in place to them.
  CircuitSamples finish(uint64_t total_shots) &&;

 private:
  void write_bits(RowBuffer& buffer, std::span<const uint8_t> bits);

  uint64_t capacity_;
  CircuitSamples samples_;
};

}  // namespace velkor
