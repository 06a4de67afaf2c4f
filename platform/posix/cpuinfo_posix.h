// Reading /proc/cpuinfo: the fields of its first processor's block.
#pragma once
#include <string>
#include <utility>
#include <vector>

namespace korvel::plat {

// The "key : value" lines of the first processor's block of text (the file's content), in order,
// keys without their padding.
inline std::vector<std::pair<std::string, std::string>> first_cpu_fields(const std::string& text) {
  std::vector<std::pair<std::string, std::string>> fields;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    if (line.empty()) break;  // the first processor's block ends here
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string key = line.substr(0, colon);
    while (!key.empty() && (key.back() == ' ' || key.back() == '\t')) key.pop_back();
    fields.emplace_back(std::move(key), colon + 2 <= line.size() ? line.substr(colon + 2) : std::string());
  }
  return fields;
}

}  // namespace korvel::plat
