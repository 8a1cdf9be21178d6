#include "simulator/observables/pauli_product.h"

#include <gtest/gtest.h>

namespace velkor {
namespace {

TEST(FromCompact, ReadsSignAndOneSymbolPerQubit) {
  struct Case {
    std::string text;
    PauliProduct want;
  };
  std::vector<Case> cases = {
      {"+XIZ", {{{0, Pauli::X}, {2, Pauli::Z}}, 3, false}},
      {"-_Y", {{{1, Pauli::Y}}, 2, true}},
      {"ZYX", {{{0, Pauli::Z}, {1, Pauli::Y}, {2, Pauli::X}}, 3, false}},
      {"III", {{}, 3, false}},
      {"-I", {{}, 1, true}},
  };
  for (const Case& c : cases) {
    auto got = from_compact(c.text);
    ASSERT_TRUE(got.has_value()) << c.text;
    EXPECT_EQ(*got, c.want) << c.text;
  }
}

TEST(FromCompact, RefusesEmptyTextsAndUnknownSymbols) {
  const std::string empty = "compact Pauli observable must contain at least one factor";
  const std::string bad = "invalid compact Pauli observable symbol ";
  std::vector<std::pair<std::string, std::string>> cases = {
      {"", empty},
      {"+", empty},
      {"-", empty},
      {"XQ", bad + "'Q' at position 1"},
      {"x", bad + "'x' at position 0"},
      {"+-X", bad + "'-' at position 0"},
      {"X'", bad + "'\\'' at position 1"},
      {"X\"", bad + "'\"' at position 1"},
      {"I\t", bad + "'\\t' at position 1"},
      {std::string("Z\0", 2), bad + "'\\0' at position 1"},
      {"X\x7f", bad + "'\\u{7f}' at position 1"},
      // A non-ASCII symbol is shown whole, not byte by byte.
      {"ZIé", bad + "'é' at position 2"},
      {"\xff", bad + "'\uFFFD' at position 0"},  // an invalid byte reads as U+FFFD
  };
  for (const auto& [text, message] : cases) {
    auto got = from_compact(text);
    ASSERT_FALSE(got.has_value()) << text;
    EXPECT_EQ(got.error(), message) << text;
  }
}

}  // namespace
}  // namespace velkor
