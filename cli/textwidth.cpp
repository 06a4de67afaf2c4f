#include "cli/textwidth.h"

namespace korvel::cli {
namespace {

// Decodes one character at text[i]; an invalid or cut sequence yields one byte as U+FFFD.
char32_t next_char(std::string_view text, size_t& i) {
  const auto b = static_cast<unsigned char>(text[i]);
  size_t len = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
  if (len == 0 || i + len > text.size()) {
    ++i;
    return 0xFFFD;
  }
  char32_t c = len == 1 ? b : b & (0x7F >> len);
  for (size_t k = 1; k < len; ++k) {
    const auto cont = static_cast<unsigned char>(text[i + k]);
    if ((cont >> 6) != 2) {
      ++i;
      return 0xFFFD;
    }
    c = (c << 6) | (cont & 0x3F);
  }
  i += len;
  return c;
}

bool in(char32_t c, char32_t lo, char32_t hi) {
  return c >= lo && c <= hi;
}

int columns(char32_t c) {
  if (c < 0x20 || in(c, 0x7F, 0x9F)) return 0;
  if (in(c, 0x0300, 0x036F) || in(c, 0x200B, 0x200F) || in(c, 0xFE00, 0xFE0F)) return 0;
  if (in(c, 0x1100, 0x115F) || in(c, 0x2E80, 0x303E) || in(c, 0x3041, 0x33FF) || in(c, 0x3400, 0x4DBF) ||
      in(c, 0x4E00, 0x9FFF) || in(c, 0xA000, 0xA4CF) || in(c, 0xAC00, 0xD7A3) || in(c, 0xF900, 0xFAFF) ||
      in(c, 0xFE10, 0xFE19) || in(c, 0xFE30, 0xFE6F) || in(c, 0xFF00, 0xFF60) || in(c, 0xFFE0, 0xFFE6) ||
      in(c, 0x1F300, 0x1F64F) || in(c, 0x1F900, 0x1F9FF) || in(c, 0x20000, 0x3FFFD))
    return 2;
  return 1;
}

}  // namespace

size_t display_width(std::string_view utf8) {
  size_t width = 0;
  for (size_t i = 0; i < utf8.size();) width += static_cast<size_t>(columns(next_char(utf8, i)));
  return width;
}

std::string pad_to(std::string_view utf8, size_t width) {
  std::string out(utf8);
  const size_t w = display_width(utf8);
  if (w < width) out.append(width - w, ' ');
  return out;
}

}  // namespace korvel::cli
