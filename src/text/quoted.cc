#include "text/quoted.h"

#include <cstdio>

namespace velkor {
namespace {

// Characters shown as \u{hex}: controls, format characters, separators other than the
// space, and private-use code points.
bool is_printable(char32_t c) {
  if (c < 0x20 || (c >= 0x7F && c <= 0xA0) || c == 0xAD) return false;
  if (c == 0x1680 || (c >= 0x2000 && c <= 0x200F) || (c >= 0x2028 && c <= 0x202F)) return false;
  if ((c >= 0x205F && c <= 0x206F) || c == 0x3000 || c == 0xFEFF) return false;
  if ((c >= 0xFFF0 && c <= 0xFFFB) || (c >= 0xE000 && c <= 0xF8FF)) return false;
  if (c >= 0xF0000 || (c & 0xFFFE) == 0xFFFE) return false;
  return true;
}

void append_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Appends `c` escaped; `quote` is the delimiter that needs a backslash.
void append_escaped(std::string& out, char32_t c, char quote) {
  switch (c) {
    case '\\':
      out += "\\\\";
      return;
    case '\t':
      out += "\\t";
      return;
    case '\r':
      out += "\\r";
      return;
    case '\n':
      out += "\\n";
      return;
    case '\0':
      out += "\\0";
      return;
    default:
      break;
  }
  if (c == static_cast<char32_t>(quote)) {
    out += '\\';
    out += quote;
  } else if (is_printable(c)) {
    append_utf8(out, c);
  } else {
    char buf[16];
    std::snprintf(buf, sizeof buf, "\\u{%x}", static_cast<unsigned>(c));
    out += buf;
  }
}

}  // namespace

char32_t decode_utf8(std::string_view text, size_t& pos) {
  auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  unsigned char b0 = byte(pos);
  size_t need = b0 < 0x80 ? 0 : (b0 >> 5) == 6 ? 1 : (b0 >> 4) == 14 ? 2 : (b0 >> 3) == 30 ? 3 : 4;
  if (need == 0) {
    ++pos;
    return b0;
  }
  if (need == 4 || pos + need >= text.size()) {
    ++pos;
    return 0xFFFD;
  }
  char32_t c = b0 & (0x3F >> need);
  for (size_t k = 1; k <= need; ++k) {
    unsigned char b = byte(pos + k);
    if ((b & 0xC0) != 0x80) {
      ++pos;
      return 0xFFFD;
    }
    c = (c << 6) | (b & 0x3F);
  }
  static constexpr char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
  if (c < kMin[need] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
    ++pos;
    return 0xFFFD;
  }
  pos += need + 1;
  return c;
}

std::string quoted(std::string_view text) {
  std::string out = "\"";
  for (size_t pos = 0; pos < text.size();) append_escaped(out, decode_utf8(text, pos), '"');
  out += '"';
  return out;
}

std::string quoted_char(char32_t c) {
  std::string out = "'";
  append_escaped(out, c, '\'');
  out += '\'';
  return out;
}

}  // namespace velkor
