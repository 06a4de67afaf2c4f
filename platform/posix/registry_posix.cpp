#include <cstdlib>

#include "platform/files.h"
#include "platform/posix/cpuinfo_posix.h"
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
  // Only the first processor's block is read, as the key names processor 0.
  for (const auto& [key, value] : first_cpu_fields(text)) {
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
