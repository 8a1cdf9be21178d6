#include "simulator/observables/pauli_product.h"

#include "text/quoted.h"

namespace velkor {

Expected<PauliProduct, std::string> from_compact(std::string_view text) {
  PauliProduct product;
  size_t pos = 0;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    product.negated = text[0] == '-';
    pos = 1;
  }
  if (pos == text.size()) {
    return unexpected(std::string("compact Pauli observable must contain at least one factor"));
  }
  // Positions count characters (Unicode scalars), not bytes.
  uint64_t position = 0;
  for (; pos < text.size(); ++position) {
    char32_t c = decode_utf8(text, pos);
    switch (c) {
      case 'I':
      case '_':
        break;
      case 'X':
        product.factors.emplace_back(position, Pauli::X);
        break;
      case 'Y':
        product.factors.emplace_back(position, Pauli::Y);
        break;
      case 'Z':
        product.factors.emplace_back(position, Pauli::Z);
        break;
      default:
        return unexpected("invalid compact Pauli observable symbol " + quoted_char(c) +
                          " at position " + std::to_string(position));
    }
  }
  product.span = position;
  return product;
}

}  // namespace velkor
