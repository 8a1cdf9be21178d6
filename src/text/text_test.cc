#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "text/plain_decimal.h"
#include "text/quoted.h"

namespace velkor {
namespace {

TEST(PlainDecimal, ShortestWithoutExponent) {
  struct Case {
    double value;
    const char* text;
  };
  for (Case c : std::initializer_list<Case>{{1.5, "1.5"},
                                            {2.0, "2"},
                                            {0.0, "0"},
                                            {-0.0, "-0"},
                                            {1e-7, "0.0000001"},
                                            {1e20, "100000000000000000000"},
                                            {0.1, "0.1"},
                                            {-2.5e-3, "-0.0025"},
                                            {123.456, "123.456"},
                                            {std::nan(""), "NaN"},
                                            {INFINITY, "inf"},
                                            {-INFINITY, "-inf"}}) {
    EXPECT_EQ(plain_decimal(c.value), c.text);
  }
  std::string max = plain_decimal(std::numeric_limits<double>::max());
  EXPECT_EQ(max.size(), 309u);
  EXPECT_EQ(max.substr(0, 17), "17976931348623157");
  EXPECT_EQ(plain_decimal(5e-324), "0." + std::string(323, '0') + "5");
}

TEST(Quoted, EscapesLikeTheMessagesShowThem) {
  EXPECT_EQ(quoted("LITTLE"), "\"LITTLE\"");
  EXPECT_EQ(quoted("a\"b\\c\td\re\nf"), "\"a\\\"b\\\\c\\td\\re\\nf\"");
  EXPECT_EQ(quoted(std::string_view("\0", 1)), "\"\\0\"");
  EXPECT_EQ(quoted("\x01\x7f"), "\"\\u{1}\\u{7f}\"");
  EXPECT_EQ(quoted("h\xc3\xa9'"), "\"h\xc3\xa9'\"");
  EXPECT_EQ(quoted("\xff"), "\"\uFFFD\"");  // an invalid byte reads as U+FFFD
  EXPECT_EQ(quoted_char('\''), "'\\''");
  EXPECT_EQ(quoted_char('"'), "'\"'");
  EXPECT_EQ(quoted_char('\t'), "'\\t'");
  EXPECT_EQ(quoted_char('Q'), "'Q'");
}

}  // namespace
}  // namespace velkor
