#pragma once

#include <cstdint>
#include <optional>

namespace velkor {

/// a + b, or nothing when the sum does not fit in 64 bits.
inline std::optional<uint64_t> checked_add(uint64_t a, uint64_t b) {
  uint64_t r;
  if (__builtin_add_overflow(a, b, &r)) return std::nullopt;
  return r;
}

/// a * b, or nothing when the product does not fit in 64 bits.
inline std::optional<uint64_t> checked_mul(uint64_t a, uint64_t b) {
  uint64_t r;
  if (__builtin_mul_overflow(a, b, &r)) return std::nullopt;
  return r;
}

}  // namespace velkor
