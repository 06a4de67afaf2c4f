#include "platform/text.h"
#include "platform/version.h"
#include "version_table.h"

namespace korvel::plat {
namespace {

// The module names the library answers to: its own base name with any extension.
bool is_this_library(const std::string& name) {
  std::string base = name;
  const size_t slash = base.find_last_of("/\\");
  if (slash != std::string::npos) base = base.substr(slash + 1);
  const size_t dot = base.find('.');
  const std::string stem = dot == std::string::npos ? base : base.substr(0, dot);
  const std::string ext = dot == std::string::npos ? "" : base.substr(dot);
  if (!iequals(stem, "KorvelPLNK")) return false;
  return ext.empty() || iequals(ext, ".dll") || iequals(ext, ".so");
}

}  // namespace

bool file_version_info(const std::string& file_name, FileVersion& out) {
  if (!is_this_library(file_name)) return false;  // other programs carry no compiled-in table here
  out = FileVersion{};
  for (int i = 0; i < 4; ++i) out.number[i] = generated::kFileVersion[i];
  out.language = generated::kLanguage;
  out.codepage = generated::kCodepage;
  for (const auto& s : generated::kStrings) out.strings[s.key] = utf8_to_gbk(s.value);
  return true;
}

bool product_branding(ProductBranding& out) {
  out = ProductBranding{};
  return false;
}

}  // namespace korvel::plat
