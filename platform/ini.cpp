#include "platform/files.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace korvel::plat {

// Section and key names compare without case, as the Windows profile functions do.
std::string read_ini_string(const std::string& file, const std::string& section, const std::string& key,
                            const std::string& def) {
  std::string text;
  if (!read_file(file, text, 1u << 20)) return def;
  bool in_section = false;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    const std::string line = trim(text.substr(pos, end - pos));
    pos = end + 1;
    if (line.empty() || line[0] == ';') continue;
    if (line.front() == '[') {
      const size_t close = line.find(']');
      in_section = close != std::string::npos && iequals(trim(line.substr(1, close - 1)), section);
      continue;
    }
    if (!in_section) continue;
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    if (iequals(trim(line.substr(0, eq)), key)) {
      std::string value = trim(line.substr(eq + 1));
      if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        value = value.substr(1, value.size() - 2);
      return value;
    }
  }
  return def;
}

}  // namespace korvel::plat
