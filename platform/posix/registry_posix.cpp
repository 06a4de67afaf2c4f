#include <cstdlib>

#include "platform/files.h"
#include "platform/registry.h"

namespace korvel::plat {

std::string host_install_path() {
  const char* v = std::getenv("ORVANE_PATH");
  return v ? std::string(v) : std::string();
}

ProcessorDescription processor_description() {
  ProcessorDescription d;
  std::string text;
  if (!read_file("/proc/cpuinfo", text, 1u << 20)) return d;
  d.available = true;
  size_t pos = 0;
  // Only the first processor's block is read, as the key names processor 0.
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    if (line.empty()) break;
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string key = line.substr(0, colon);
    while (!key.empty() && (key.back() == ' ' || key.back() == '\t')) key.pop_back();
    std::string value = colon + 2 <= line.size() ? line.substr(colon + 2) : std::string();
    if (key == "model name" || key == "Model")
      d.name = value;
    else if (key == "vendor_id" || key == "CPU implementer")
      d.vendor = value;
    else if (key == "cpu family" || key == "CPU architecture")
      d.identifier = "Family " + value;
  }
  return d;
}

}  // namespace korvel::plat
