#include "platform/text.h"

#include <iconv.h>

#include <cerrno>

namespace korvel::plat {
namespace {

// Bytes of the UTF-8 character at the front of text: a whole well-formed character, or 1 for a
// byte that starts none.
size_t utf8_char_length(std::string_view text) {
  const auto lead = static_cast<unsigned char>(text[0]);
  const size_t n = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 && lead < 0xE0 ? 2 : 1;
  if (n == 1 || text.size() < n) return 1;
  for (size_t i = 1; i < n; ++i)
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) return 1;
  return n;
}

// A byte sequence the conversion refuses is skipped whole when the source is UTF-8 (one
// replacement per character, as the Win32 converter does), byte by byte otherwise.
// iconv descriptors are not thread-safe; one per call keeps conversion re-entrant.
std::string convert(std::string_view in, const char* to, const char* from, std::string_view bad,
                    bool from_utf8) {
  std::string out;
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(in);
  out.reserve(in.size() * 2 + 4);
  char* src = const_cast<char*>(in.data());
  size_t left = in.size();
  char buf[512];
  while (left > 0) {
    char* dst = buf;
    size_t room = sizeof(buf);
    size_t r = iconv(cd, &src, &left, &dst, &room);
    out.append(buf, static_cast<size_t>(dst - buf));
    if (r == static_cast<size_t>(-1)) {
      if (errno == E2BIG) continue;
      // Invalid, unconvertible or incomplete sequence: one replacement, and go on after it.
      out.append(bad);
      const size_t skip = from_utf8 ? utf8_char_length(std::string_view(src, left)) : 1;
      src += skip;
      left -= skip;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  iconv_close(cd);
  return out;
}

}  // namespace

std::string utf8_to_gbk(std::string_view utf8) {
  return convert(utf8, "GBK", "UTF-8", "?", true);
}

std::string gbk_to_utf8(std::string_view gbk) {
  return convert(gbk, "UTF-8", "GBK", "\xEF\xBF\xBD", false);
}

}  // namespace korvel::plat
