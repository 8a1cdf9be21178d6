#include "circuit/failure_report.h"

#include "base/internal_error.h"

namespace velkor {
namespace {

bool is_continuation_byte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

struct LineColumn {
  size_t line = 1;
  size_t column = 1;
};

// Line and column of `offset`, counting only the characters before it.
LineColumn line_column(std::string_view text, size_t offset) {
  LineColumn at;
  for (size_t k = 0; k < offset; ++k) {
    char c = text[k];
    if (c == '\n' || (c == '\r' && k + 1 < offset && text[k + 1] == '\n')) {
      if (c == '\r') ++k;
      ++at.line;
      at.column = 1;
    } else if (!is_continuation_byte(c)) {
      ++at.column;
    }
  }
  return at;
}

// The line holding `offset`, through its LF. Line breaks are shown as U+240D and U+240A when
// the failure sits on one, and deleted otherwise.
std::string shown_line(std::string_view text, size_t offset) {
  size_t start = text.rfind('\n', offset == 0 ? std::string_view::npos : offset - 1);
  start = (offset == 0 || start == std::string_view::npos) ? 0 : start + 1;
  size_t lf = text.find('\n', offset);
  size_t end = lf == std::string_view::npos ? text.size() : lf + 1;
  bool visible = offset < text.size() && (text[offset] == '\n' || text[offset] == '\r');
  std::string out;
  for (char c : text.substr(start, end - start)) {
    if (c == '\r' || c == '\n') {
      if (visible) out += c == '\r' ? "\u240D" : "\u240A";
    } else {
      out += c;
    }
  }
  return out;
}

std::string underline(std::string_view line, size_t column) {
  std::string out;
  size_t chars = 0;
  for (char c : line) {
    if (is_continuation_byte(c)) continue;
    if (chars++ == column - 1) break;
    out += c == '\t' ? '\t' : ' ';
  }
  return out + "^---";
}

// "A", "A or B", "A, B, or C".
std::string expected_message(const std::vector<Rule>& rules) {
  check_invariant(!rules.empty(), "a parse failure expects at least one rule");
  std::string out = "expected ";
  for (size_t k = 0; k < rules.size(); ++k) {
    if (k > 0) out += rules.size() == 2 ? " or " : k + 1 == rules.size() ? ", or " : ", ";
    out += rule_name(rules[k]);
  }
  return out;
}

}  // namespace

std::string format_failure(std::string_view text, const ParseFailure& failure) {
  size_t offset = failure.furthest_position;
  LineColumn at = line_column(text, offset);
  std::string line = std::to_string(at.line);
  std::string pad(line.size(), ' ');
  std::string shown = shown_line(text, offset);
  std::string out = pad + "--> " + line + ":" + std::to_string(at.column) + "\n";
  out += pad + " |\n";
  out += line + " | " + shown + "\n";
  out += pad + " | " + underline(shown, at.column) + "\n";
  out += pad + " |\n";
  out += pad + " = " + expected_message(failure.expected_rules);
  return out;
}

}  // namespace velkor
