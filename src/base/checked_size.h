#pragma once

#include <cstddef>
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

/// The most bytes one buffer may take. No machine this runs on addresses more (user space on
/// x86-64 and AArch64 spans 2^47 to 2^48 bytes), so larger sizes are refused without asking the
/// allocator, which under some allocators (sanitizers, overcommit) would not fail softly.
inline constexpr uint64_t kMaxBufferBytes = uint64_t{1} << 48;

/// The element count a * b of a buffer of T, or nothing when the product overflows 64 bits or
/// the buffer would take more than kMaxBufferBytes. Every size computed from user input goes
/// through here before anything is allocated; whether the machine has the memory is only known
/// when allocating.
template <class T>
std::optional<size_t> checked_buffer_size(uint64_t a, uint64_t b = 1) {
  std::optional<uint64_t> n = checked_mul(a, b);
  if (!n || *n > kMaxBufferBytes / sizeof(T)) return std::nullopt;
  return static_cast<size_t>(*n);
}

}  // namespace velkor
