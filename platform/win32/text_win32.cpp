#include <windows.h>

#include "platform/text.h"

namespace korvel::plat {
namespace {

std::wstring to_wide(std::string_view in, UINT cp) {
  if (in.empty()) return {};
  const int n = MultiByteToWideChar(cp, 0, in.data(), static_cast<int>(in.size()), nullptr, 0);
  if (n <= 0) return {};
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(cp, 0, in.data(), static_cast<int>(in.size()), out.data(), n);
  return out;
}

std::string from_wide(const std::wstring& in, UINT cp, const char* bad) {
  if (in.empty()) return {};
  // UTF-8 refuses a default character; code page 936 takes '?'.
  const char* def = cp == CP_UTF8 ? nullptr : bad;
  const int n = WideCharToMultiByte(cp, 0, in.data(), static_cast<int>(in.size()), nullptr, 0, def, nullptr);
  if (n <= 0) return {};
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(cp, 0, in.data(), static_cast<int>(in.size()), out.data(), n, def, nullptr);
  return out;
}

constexpr UINT kGbk = 936;

}  // namespace

// Invalid input becomes U+FFFD on the way in (the system's own replacement), '?' in GBK.
std::string utf8_to_gbk(std::string_view utf8) {
  const std::wstring in = to_wide(utf8, CP_UTF8);
  // One '?' per character GBK cannot hold, also for those beyond the basic plane (two units).
  std::wstring w;
  w.reserve(in.size());
  for (size_t i = 0; i < in.size(); ++i) {
    const wchar_t c = in[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < in.size() && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF) {
      w += L'?';
      ++i;
    } else {
      w += c == 0xFFFD ? L'?' : c;
    }
  }
  return from_wide(w, kGbk, "?");
}

std::string gbk_to_utf8(std::string_view gbk) {
  return from_wide(to_wide(gbk, kGbk), CP_UTF8, nullptr);
}

}  // namespace korvel::plat
