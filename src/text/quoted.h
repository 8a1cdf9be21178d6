#pragma once

#include <string>
#include <string_view>

namespace velkor {

/// `text` in double quotes, with \\, \", \t, \r, \n, \0 escaped, other non-printable
/// characters as \u{hex}, printable characters (ASCII or not) unchanged. `text` is UTF-8.
std::string quoted(std::string_view text);

/// The single Unicode scalar `c` in single quotes, escaped like quoted() except that a single
/// quote gets a backslash and a double quote does not.
std::string quoted_char(char32_t c);

/// Decodes one UTF-8 scalar at `text[pos]`; returns it and advances `pos`. Invalid bytes
/// decode as U+FFFD, one byte at a time.
char32_t decode_utf8(std::string_view text, size_t& pos);

}  // namespace velkor
