#pragma once

#include <string>

namespace velkor {

/// `value` in plain decimal notation with the fewest digits that read back to the same double,
/// never with an exponent: 1e-7 -> "0.0000001", 2.0 -> "2", -0.0 -> "-0", NaN -> "NaN",
/// infinities -> "inf" / "-inf".
std::string plain_decimal(double value);

}  // namespace velkor
