#pragma once

#include <string>
#include <string_view>

#include "circuit/grammar.h"

namespace velkor {

/// The six-line report of `failure` in `text` (UTF-8), lines joined by LF without a final LF:
/// the line and column of the failure (counted in characters, CR LF as one break), the line
/// it lies on, an underline "^---" under it and "expected A, B, or C". Cost: linear in the text.
std::string format_failure(std::string_view text, const ParseFailure& failure);

}  // namespace velkor
