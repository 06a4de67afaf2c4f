// Version information of a file (the library's own or the host program's).
#pragma once
#include <cstdint>
#include <map>
#include <string>

namespace korvel::plat {

struct FileVersion {
  uint16_t number[4] = {0, 0, 0, 0};           // fixed version block: major, minor, release, build
  uint16_t language = 0, codepage = 0;         // first pair of the translation table
  std::map<std::string, std::string> strings;  // string table: key → GBK value
};

// False when the file carries no version information. On POSIX the information comes from a
// table compiled into the library (generated from the same list as the Windows resource).
bool file_version_info(const std::string& file_name, FileVersion& out);

// The branding of this library: a "PRODUCT" bitmap resource and, with it, the string resources
// 50000 (product name) and 40000, at most 254 characters each. False (and empty) without the
// bitmap; libraries on POSIX carry no resources.
struct ProductBranding {
  bool has_bitmap = false;
  std::string product_text;
  std::string second_text;
};
bool product_branding(ProductBranding& out);

}  // namespace korvel::plat
