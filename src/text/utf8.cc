#include "text/utf8.h"

#include <cstdint>

namespace velkor {

std::optional<size_t> first_invalid_utf8(std::string_view text) {
  size_t k = 0;
  while (k < text.size()) {
    unsigned char b = static_cast<unsigned char>(text[k]);
    if (b < 0x80) {
      ++k;
      continue;
    }
    size_t len = (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
    if (len == 0 || text.size() - k < len) return k;
    uint32_t c = b & (0x7F >> len);
    for (size_t j = 1; j < len; ++j) {
      unsigned char cont = static_cast<unsigned char>(text[k + j]);
      if ((cont & 0xC0) != 0x80) return k;
      c = (c << 6) | (cont & 0x3F);
    }
    static constexpr uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < kSmallest[len] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return k;
    k += len;
  }
  return std::nullopt;
}

}  // namespace velkor
