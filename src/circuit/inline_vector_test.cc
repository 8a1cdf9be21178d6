#include "circuit/inline_vector.h"

#include <gtest/gtest.h>

#include <array>
#include <utility>
#include <vector>

namespace velkor {
namespace {

using Pairs = InlineVector<std::array<uint64_t, 2>, 1>;

TEST(InlineVector, CopiesAndMovesInlineAndHeapContents) {
  for (size_t n : {0, 1, 2, 3, 17}) {
    Pairs v;
    std::vector<std::array<uint64_t, 2>> expected;
    for (uint64_t k = 0; k < n; ++k) {
      v.push_back({k, 2 * k});
      expected.push_back({k, 2 * k});
    }
    ASSERT_TRUE(std::equal(v.begin(), v.end(), expected.begin(), expected.end())) << n;
    Pairs copy = v;
    EXPECT_EQ(copy, v);
    Pairs assigned{{9, 9}, {8, 8}, {7, 7}};
    assigned = copy;
    EXPECT_EQ(assigned, v);
    Pairs& self = assigned;
    assigned = self;
    EXPECT_EQ(assigned, v);
    Pairs moved = std::move(copy);
    EXPECT_EQ(moved, v);
    EXPECT_TRUE(copy.empty());
    copy.push_back({5, 5});  // a moved-from vector is usable again
    moved = std::move(copy);
    EXPECT_EQ(moved, (Pairs{{5, 5}}));
  }
  EXPECT_NE((Pairs{{1, 2}}), (Pairs{{1, 2}, {3, 4}}));
}

}  // namespace
}  // namespace velkor
