#include "platform/text.h"

#include <iconv.h>

#include <cerrno>

namespace korvel::plat {
namespace {

// iconv descriptors are not thread-safe; one per call keeps conversion re-entrant.
std::string convert(std::string_view in, const char* to, const char* from, std::string_view bad) {
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
      // Invalid or incomplete sequence: replace one byte and go on.
      out.append(bad);
      ++src;
      --left;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  iconv_close(cd);
  return out;
}

}  // namespace

std::string utf8_to_gbk(std::string_view utf8) {
  return convert(utf8, "GBK", "UTF-8", "?");
}

std::string gbk_to_utf8(std::string_view gbk) {
  return convert(gbk, "UTF-8", "GBK", "\xEF\xBF\xBD");
}

}  // namespace korvel::plat
