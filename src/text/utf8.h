#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace velkor {

/// The offset of the first byte of `text` that does not belong to a well-formed UTF-8 sequence
/// (overlong forms, surrogates and values beyond U+10FFFF included), or nothing when all of
/// `text` is UTF-8. Cost: linear in the text.
std::optional<size_t> first_invalid_utf8(std::string_view text);

}  // namespace velkor
