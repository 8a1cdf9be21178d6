#include "circuit/ast_instruction.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "base/internal_error.h"

namespace velkor {
namespace {

// For an unsigned number text whose value lies outside the double range: whether it is too
// large rather than too small, from the decimal exponent of its leading significant digit.
bool beyond_largest(std::string_view text) {
  size_t e = text.find_first_of("eE");
  std::string_view mantissa = text.substr(0, e);
  size_t point = std::min(mantissa.find('.'), mantissa.size());
  size_t first = mantissa.find_first_of("123456789");
  check_invariant(first != std::string_view::npos, "zero is within the double range");
  long long lead = first < point ? static_cast<long long>(point - first - 1)
                                 : -static_cast<long long>(first - point);
  // Clamped far beyond any text length, so the sum keeps its sign.
  long long exponent = 0;
  bool negative = false;
  if (e != std::string_view::npos) {
    for (char c : text.substr(e + 1)) {
      if (c == '-') negative = true;
      if (c >= '0' && c <= '9' && exponent < 1000000000000000LL)
        exponent = exponent * 10 + (c - '0');
    }
  }
  return lead + (negative ? -exponent : exponent) >= 0;
}

}  // namespace

double number_value(std::string_view text) {
  bool negative = !text.empty() && text[0] == '-';
  std::string_view unsigned_text = text.substr(!text.empty() && (text[0] == '+' || negative));
  double value = 0;
  auto [end, ec] =
      std::from_chars(unsigned_text.data(), unsigned_text.data() + unsigned_text.size(), value);
  check_invariant(end == unsigned_text.data() + unsigned_text.size() &&
                      (ec == std::errc() || ec == std::errc::result_out_of_range),
                  "a number node converts to a double");
  if (ec == std::errc::result_out_of_range) value = beyond_largest(unsigned_text) ? INFINITY : 0.0;
  return negative ? -value : value;
}

void parse_instruction(std::string_view text, const InstructionMatch& match, AstInstruction& out) {
  out.name.assign(
      text.substr(match.identifier.start, match.identifier.end - match.identifier.start));
  for (char& c : out.name) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  out.arguments.clear();
  for (TextSpan n : match.numbers)
    out.arguments.push_back(number_value(text.substr(n.start, n.end - n.start)));
  out.targets.clear();
  for (TextSpan t : match.targets) out.targets.push_back(text.substr(t.start, t.end - t.start));
}

}  // namespace velkor
