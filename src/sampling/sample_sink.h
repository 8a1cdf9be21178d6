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

/// Rows that a caller provides for the accepted shots of a call, in the layout of
/// CircuitSamples: the first byte of each result's block and the number of rows each block
/// holds. A block of no columns may be null.
struct SampleTarget {
  uint8_t* measurements = nullptr;
  uint8_t* detectors = nullptr;
  uint8_t* observables = nullptr;
  uint8_t* exp_vals = nullptr;
  uint64_t rows = 0;
};

/// The bytes of one row of `columns` bits.
inline size_t bit_row_bytes(size_t columns, bool bit_packed) {
  return bit_packed ? columns / 8 + (columns % 8 != 0) : columns;
}

/// Where every executor writes accepted shots: four blocks of rows, sized for all requested
/// shots up front, each shot's rows written straight into their final place and layout, so a
/// call never holds a second copy of its results. The blocks are the sink's own buffers or a
/// caller's.
class SampleSink {
 public:
  /// Room for `shots` rows of `shape` in buffers of its own. Throws CapacityError "cannot
  /// allocate {shots} shots of {columns} values each" for the first result (in the order of
  /// SampleShape) whose buffer cannot exist or cannot be allocated.
  SampleSink(uint64_t shots, SampleShape shape, bool bit_packed);
  /// Writes into the caller's `target`, whose blocks must stay valid while the sink writes.
  SampleSink(SampleTarget target, SampleShape shape, bool bit_packed);

  /// Appends one accepted shot. Bit rows hold one byte, 0 or 1, per column; every span has
  /// exactly its width in the shape. Allocates nothing; at most as many shots as there is room
  /// for.
  void write_shot(std::span<const uint8_t> record, std::span<const uint8_t> detectors,
                  std::span<const uint8_t> observables, std::span<const double> exp_vals);

  /// The number of shots written so far.
  uint64_t accepted_shots() const { return samples_.accepted_shots; }

  /// The written rows of a call of `total_shots` shots, the sink's own buffers shrunk in place
  /// to them; a sink over a caller's target returns no buffers.
  CircuitSamples finish(uint64_t total_shots) &&;

 private:
  void write_bits(uint8_t* block, size_t columns, std::span<const uint8_t> bits);

  SampleTarget target_;
  CircuitSamples samples_;
};

}  // namespace velkor
