#include "sampling/sample_sink.h"

#include <bit>
#include <cstring>
#include <new>
#include <optional>
#include <string>

#include "base/capacity_error.h"
#include "base/checked_size.h"
#include "base/internal_error.h"

namespace velkor {
namespace {

// Room for `shots` rows of `columns` values, stored as `row_size` elements of T per row.
template <class T>
RowBuffer allocate_rows(uint64_t shots, size_t columns, size_t row_size) {
  auto refuse = [&] {
    return CapacityError("cannot allocate " + std::to_string(shots) + " shots of " +
                         std::to_string(columns) + " values each");
  };
  if (!checked_buffer_size<T>(shots, row_size)) throw refuse();
  try {
    return RowBuffer(static_cast<size_t>(shots), row_size * sizeof(T));
  } catch (const std::bad_alloc&) {
    throw refuse();
  }
}

// Eight 0/1 bytes as one byte, the first in the lowest bit: each byte's bit lands in the top
// byte of the product at its own position.
uint8_t pack_eight(const uint8_t* bytes) {
  static_assert(std::endian::native == std::endian::little);
  uint64_t word;
  std::memcpy(&word, bytes, 8);
  return static_cast<uint8_t>((word * 0x0102040810204080ull) >> 56);
}

}  // namespace

SampleSink::SampleSink(uint64_t shots, SampleShape shape, bool bit_packed) {
  auto bit_rows = [&](size_t columns) {
    return allocate_rows<uint8_t>(shots, columns, bit_row_bytes(columns, bit_packed));
  };
  samples_.measurements = bit_rows(shape.measurements);
  samples_.detectors = bit_rows(shape.detectors);
  samples_.observables = bit_rows(shape.observables);
  samples_.exp_vals = allocate_rows<double>(shots, shape.exp_vals, shape.exp_vals);
  samples_.shape = shape;
  samples_.bit_packed = bit_packed;
  target_ = {samples_.measurements.row(0), samples_.detectors.row(0), samples_.observables.row(0),
             samples_.exp_vals.row(0), shots};
}

SampleSink::SampleSink(SampleTarget target, SampleShape shape, bool bit_packed) : target_(target) {
  samples_.shape = shape;
  samples_.bit_packed = bit_packed;
}

void SampleSink::write_bits(uint8_t* block, size_t columns, std::span<const uint8_t> bits) {
  if (columns == 0) return;
  uint8_t* row = block + samples_.accepted_shots * bit_row_bytes(columns, samples_.bit_packed);
  if (!samples_.bit_packed) {
    std::memcpy(row, bits.data(), bits.size());
    return;
  }
  size_t c = 0;
  for (; c + 8 <= bits.size(); c += 8) row[c / 8] = pack_eight(bits.data() + c);
  if (c == bits.size()) return;
  uint8_t last = 0;
  for (size_t i = c; i < bits.size(); ++i) last |= static_cast<uint8_t>(bits[i] << (i - c));
  row[c / 8] = last;
}

void SampleSink::write_shot(std::span<const uint8_t> record, std::span<const uint8_t> detectors,
                            std::span<const uint8_t> observables,
                            std::span<const double> exp_vals) {
  const SampleShape& shape = samples_.shape;
  check_invariant(samples_.accepted_shots < target_.rows && record.size() == shape.measurements &&
                      detectors.size() == shape.detectors &&
                      observables.size() == shape.observables && exp_vals.size() == shape.exp_vals,
                  "a shot's rows do not match the sample shape");
  write_bits(target_.measurements, shape.measurements, record);
  write_bits(target_.detectors, shape.detectors, detectors);
  write_bits(target_.observables, shape.observables, observables);
  if (!exp_vals.empty()) {
    std::memcpy(target_.exp_vals + samples_.accepted_shots * exp_vals.size_bytes(), exp_vals.data(),
                exp_vals.size_bytes());
  }
  ++samples_.accepted_shots;
}

CircuitSamples SampleSink::finish(uint64_t total_shots) && {
  for (RowBuffer* buffer :
       {&samples_.measurements, &samples_.detectors, &samples_.observables, &samples_.exp_vals}) {
    buffer->shrink_to(samples_.accepted_shots);
  }
  samples_.total_shots = total_shots;
  return std::move(samples_);
}

}  // namespace velkor
