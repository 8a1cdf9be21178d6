#include "base/checked_size.h"

#include <gtest/gtest.h>

namespace velkor {
namespace {

TEST(CheckedSize, RefusesOverflowAndBuffersBeyondTheAddressSpace) {
  EXPECT_EQ(checked_add(UINT64_MAX - 1, 1), UINT64_MAX);
  EXPECT_EQ(checked_add(UINT64_MAX, 1), std::nullopt);
  EXPECT_EQ(checked_mul(uint64_t{1} << 32, (uint64_t{1} << 32) - 1),
            UINT64_MAX - (UINT64_MAX >> 32));
  EXPECT_EQ(checked_mul(uint64_t{1} << 32, uint64_t{1} << 32), std::nullopt);

  EXPECT_EQ(checked_buffer_size<uint8_t>(kMaxBufferBytes), kMaxBufferBytes);
  EXPECT_EQ(checked_buffer_size<uint8_t>(kMaxBufferBytes + 1), std::nullopt);
  EXPECT_EQ(checked_buffer_size<double>(kMaxBufferBytes / 16, 2), kMaxBufferBytes / 8);
  EXPECT_EQ(checked_buffer_size<double>(kMaxBufferBytes / 16 + 1, 2), std::nullopt);
  // A product that wraps to a small number is still refused.
  EXPECT_EQ(checked_buffer_size<uint64_t>(uint64_t{1} << 63, 2), std::nullopt);
  EXPECT_EQ(checked_buffer_size<uint64_t>(0, UINT64_MAX), 0u);
}

}  // namespace
}  // namespace velkor
