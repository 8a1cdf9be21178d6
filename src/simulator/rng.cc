#include "simulator/rng.h"

#include <sys/random.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "base/internal_error.h"
#include "text/plain_decimal.h"

namespace velkor {
namespace {

__extension__ typedef unsigned __int128 u128;

// The four blocks of a refill run side by side, one per lane: word k of every block is one
// vector, so each step of a quarter round is one vector instruction for all four blocks.
typedef uint32_t Lanes __attribute__((vector_size(16)));

inline Lanes rotl(Lanes v, int c) { return (v << c) | (v >> (32 - c)); }

inline void quarter_round(Lanes* x, int a, int b, int c, int d) {
  x[a] += x[b];
  x[d] = rotl(x[d] ^ x[a], 16);
  x[c] += x[d];
  x[b] = rotl(x[b] ^ x[c], 12);
  x[a] += x[b];
  x[d] = rotl(x[d] ^ x[a], 8);
  x[c] += x[d];
  x[b] = rotl(x[b] ^ x[c], 7);
}

}  // namespace

ChaCha8Rng ChaCha8Rng::from_key(const std::array<uint32_t, 8>& key) {
  ChaCha8Rng rng;
  rng.key_ = key;
  return rng;
}

ChaCha8Rng ChaCha8Rng::seed_from_u64(uint64_t seed) {
  std::array<uint32_t, 8> key;
  uint64_t s = seed;
  for (uint32_t& word : key) {
    s = s * 0x5851f42d4c957f2dull + 0xa17654e46fbe17f3ull;
    uint32_t x = static_cast<uint32_t>(((s >> 18) ^ s) >> 27);
    unsigned r = static_cast<unsigned>(s >> 59);
    word = (x >> r) | (x << ((32 - r) & 31));
  }
  return from_key(key);
}

ChaCha8Rng ChaCha8Rng::from_os_rng() {
  std::array<uint32_t, 8> key;
  auto* bytes = reinterpret_cast<unsigned char*>(key.data());
  size_t got = 0;
  while (got < sizeof key) {
    ssize_t n = getrandom(bytes + got, sizeof key - got, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw InternalError(std::string("from_os_rng failed: ") + std::strerror(errno));
    }
    got += static_cast<size_t>(n);
  }
  // The 32 bytes are the key, read as little-endian words (this platform's order).
  return from_key(key);
}

void ChaCha8Rng::refill() {
  Lanes input[16];
  const uint32_t constants[4] = {0x61707865u, 0x3320646eu, 0x79622d32u, 0x6b206574u};
  for (int k = 0; k < 4; ++k) input[k] = Lanes{} + constants[k];
  for (int k = 0; k < 8; ++k) input[4 + k] = Lanes{} + key_[static_cast<size_t>(k)];
  for (uint32_t block = 0; block < 4; ++block) {
    uint64_t ctr = counter_ + block;
    input[12][block] = static_cast<uint32_t>(ctr);
    input[13][block] = static_cast<uint32_t>(ctr >> 32);
  }
  input[14] = Lanes{} + static_cast<uint32_t>(stream_);
  input[15] = Lanes{} + static_cast<uint32_t>(stream_ >> 32);
  Lanes x[16];
  std::memcpy(x, input, sizeof x);
  for (int round = 0; round < 4; ++round) {
    quarter_round(x, 0, 4, 8, 12);
    quarter_round(x, 1, 5, 9, 13);
    quarter_round(x, 2, 6, 10, 14);
    quarter_round(x, 3, 7, 11, 15);
    quarter_round(x, 0, 5, 10, 15);
    quarter_round(x, 1, 6, 11, 12);
    quarter_round(x, 2, 7, 8, 13);
    quarter_round(x, 3, 4, 9, 14);
  }
  for (int k = 0; k < 16; ++k) {
    Lanes out = x[k] + input[k];
    for (int block = 0; block < 4; ++block)
      buffer_[static_cast<size_t>(block * 16 + k)] = out[block];
  }
  counter_ += 4;
}

uint64_t ChaCha8Rng::next_u64_across_refill() {
  if (pos_ == 63) {
    uint64_t low = buffer_[63];
    refill();
    pos_ = 1;
    return low | (uint64_t{buffer_[0]} << 32);
  }
  refill();
  pos_ = 2;
  return buffer_[0] | (uint64_t{buffer_[1]} << 32);
}

uint8_t ChaCha8Rng::uniform_u8(uint8_t low, uint8_t high) {
  check_invariant(low < high, "empty range in uniform_u8");
  uint32_t range = static_cast<uint32_t>(high - low);
  uint64_t m = uint64_t{next_u32()} * range;
  uint32_t lo = static_cast<uint32_t>(m);
  uint32_t result = static_cast<uint32_t>(m >> 32);
  if (lo > static_cast<uint32_t>(0u - range)) {
    uint32_t y_hi = static_cast<uint32_t>((uint64_t{next_u32()} * range) >> 32);
    uint32_t sum;
    if (__builtin_add_overflow(lo, y_hi, &sum)) result += 1;
  }
  return static_cast<uint8_t>(low + result);
}

uint64_t ChaCha8Rng::uniform_inclusive(uint64_t low, uint64_t high) {
  check_invariant(low <= high, "empty range in uniform_inclusive");
  if (high <= 0xFFFFFFFFull) {
    uint32_t range = static_cast<uint32_t>(high - low + 1);
    if (range == 0) return next_u32();
    uint64_t m = uint64_t{next_u32()} * range;
    uint32_t lo = static_cast<uint32_t>(m);
    uint64_t result = m >> 32;
    if (lo > static_cast<uint32_t>(0u - range)) {
      uint32_t y_hi = static_cast<uint32_t>((uint64_t{next_u32()} * range) >> 32);
      uint32_t sum;
      if (__builtin_add_overflow(lo, y_hi, &sum)) result += 1;
    }
    return low + result;
  }
  uint64_t range = high - low + 1;
  if (range == 0) return next_u64();
  u128 m = static_cast<u128>(next_u64()) * range;
  uint64_t lo = static_cast<uint64_t>(m);
  uint64_t result = static_cast<uint64_t>(m >> 64);
  uint64_t tmp;
  if (__builtin_add_overflow(lo, range - 1, &tmp)) {
    uint64_t y_hi = static_cast<uint64_t>((static_cast<u128>(next_u64()) * range) >> 64);
    if (__builtin_add_overflow(lo, y_hi, &tmp)) result += 1;
  }
  return low + result;
}

void ChaCha8Rng::throw_outside_unit_range(double p) {
  throw InternalError("p=" + plain_decimal(p) + " is outside range [0.0, 1.0]");
}

double ChaCha8Rng::uniform_double() {
  return static_cast<double>(next_u64() >> 11) * 1.1102230246251565e-16;
}

}  // namespace velkor
