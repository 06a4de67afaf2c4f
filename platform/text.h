// Text encoding: the driver keeps every text as GBK (code page 936) bytes.
#pragma once
#include <string>
#include <string_view>

namespace korvel::plat {

// UTF-8 → GBK. Characters GBK cannot hold become '?'; never throws.
std::string utf8_to_gbk(std::string_view utf8);
// GBK → UTF-8. Invalid sequences become U+FFFD; never throws.
std::string gbk_to_utf8(std::string_view gbk);

// The text without leading and trailing blanks (space, tab, CR, LF, VT, FF).
std::string trim(std::string_view text);

// True when both texts are equal ignoring the letter case of ASCII letters (bytes of GBK
// characters compare as they are).
bool iequals(std::string_view a, std::string_view b);

}  // namespace korvel::plat

// A source literal (UTF-8) as GBK bytes, converted once on first use at this call site.
#define GBK(lit)                                                                     \
  ([]() -> const std::string& {                                                      \
    static const std::string korvel_gbk_literal_ = ::korvel::plat::utf8_to_gbk(lit); \
    return korvel_gbk_literal_;                                                      \
  }())
