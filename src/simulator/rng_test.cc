#include "simulator/rng.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace velkor {
namespace {

TEST(ChaCha8Rng, EveryKernelMakesTheSameWords) {
  std::array<uint32_t, 8> key{0xf973f2ec, 0x45cdb581, 0x7346f087, 0xad6cad06,
                              0xe3a3d0d0, 0x67e71733, 0x72ea9bf2, 0xfe7d8ad7};
  std::vector<ChaCha8Kernel> kernels = available_chacha8_kernels();
  // Counters that carry into the high word inside a refill, and a stream in both halves.
  for (uint64_t counter : {uint64_t{0}, uint64_t{0xfffffff8}, ~uint64_t{0} - 5}) {
    std::vector<uint32_t> expected(256), got(256);
    kernels[0](key.data(), counter, 0x0123456789abcdefull, expected.data());
    for (size_t k = 1; k < kernels.size(); ++k) {
      kernels[k](key.data(), counter, 0x0123456789abcdefull, got.data());
      EXPECT_EQ(got, expected) << "kernel " << k << ", counter " << counter;
    }
  }
  ChaCha8Rng rng = ChaCha8Rng::seed_from_u64(0);
  std::vector<uint32_t> words(256), first(256);
  for (uint32_t& word : words) word = rng.next_u32();
  kernels[0](ChaCha8Rng::seed_from_u64(0).key().data(), 0, 0, first.data());
  EXPECT_EQ(words, first);
}

// Batched comparisons report exactly what one next_u64 per comparison would, and skipping
// part of a batch makes exactly those draws, from even and odd buffer positions alike.
TEST(ChaCha8Rng, PeekBelowMatchesSingleDraws) {
  std::vector<uint64_t> thresholds(700);
  for (size_t i = 0; i < thresholds.size(); ++i) thresholds[i] = (i % 37 == 5) ? ~0ull : 1ull << 58;
  for (int skip = 0; skip < 3; ++skip) {
    ChaCha8Rng rng = ChaCha8Rng::seed_from_u64(9), ref = rng;
    for (int i = 0; i < skip; ++i) EXPECT_EQ(rng.next_u32(), ref.next_u32());
    for (size_t i = 0; i < thresholds.size();) {
      size_t count;
      uint64_t below = rng.peek_below(thresholds.data() + i, thresholds.size() - i, count);
      if (count == 0) {  // a draw across the refill
        EXPECT_EQ(rng.next_u64(), ref.next_u64());
        ++i;
        continue;
      }
      size_t made = i % 3 == 0 ? count : count / 2 + 1;  // the whole batch or a part of it
      for (size_t j = 0; j < made; ++j) {
        EXPECT_EQ((below >> j) & 1, ref.next_u64() < thresholds[i + j]) << i + j;
      }
      rng.skip_u64(made);
      EXPECT_EQ(rng, ref);
      i += made;
    }
  }
}

// Every comparison kernel gives the same mask as the portable one, at every length around the
// vector widths, with equal draws and thresholds (not below).
TEST(ChaCha8Rng, EveryComparisonKernelGivesTheSameMask) {
  ChaCha8Rng rng = ChaCha8Rng::seed_from_u64(5);
  std::vector<uint32_t> words(2 * 64);
  std::vector<uint64_t> thresholds(64);
  std::vector<BelowMaskKernel> kernels = available_below_mask_kernels();
  for (int trial = 0; trial < 100; ++trial) {
    for (uint32_t& word : words) word = rng.next_u32();
    for (size_t k = 0; k < thresholds.size(); ++k) {
      uint64_t draw = words[2 * k] | (uint64_t{words[2 * k + 1]} << 32);
      thresholds[k] = rng.next_u32() % 8 == 0 ? draw + (rng.next_u32() % 2) : draw >> 1;
    }
    for (size_t m = 0; m <= thresholds.size(); ++m) {
      uint64_t expected = kernels[0](words.data(), thresholds.data(), m);
      for (size_t i = 1; i < kernels.size(); ++i) {
        EXPECT_EQ(kernels[i](words.data(), thresholds.data(), m), expected) << i << " " << m;
      }
    }
  }
}

TEST(ChaCha8Rng, RangesStayInBounds) {
  ChaCha8Rng rng = ChaCha8Rng::seed_from_u64(11);
  for (int i = 0; i < 2000; ++i) {
    uint64_t small = rng.uniform_inclusive(5, 9);
    EXPECT_GE(small, 5u);
    EXPECT_LE(small, 9u);
    uint64_t big = rng.uniform_inclusive(0, uint64_t{1} << 40);
    EXPECT_LE(big, uint64_t{1} << 40);
  }
  ChaCha8Rng full = ChaCha8Rng::seed_from_u64(1), ref = full;
  EXPECT_EQ(full.uniform_inclusive(0, ~uint64_t{0}), ref.next_u64());
  EXPECT_EQ(full.uniform_inclusive(0, 0xFFFFFFFFu), ref.next_u32());
}

}  // namespace
}  // namespace velkor
