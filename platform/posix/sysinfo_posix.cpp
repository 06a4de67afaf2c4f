#include "platform/sysinfo.h"

#include <sys/sysinfo.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/files.h"
#include "platform/posix/cpuinfo_posix.h"

namespace korvel::plat {
namespace {

// The first processor's field whose name begins with key; "" when none.
std::string cpuinfo_value(const std::string& text, const char* key) {
  for (const auto& [name, value] : first_cpu_fields(text))
    if (name.compare(0, std::strlen(key), key) == 0) return value;
  return {};
}

uint32_t to_u32(const std::string& s) {
  return static_cast<uint32_t>(std::strtoul(s.c_str(), nullptr, 10));
}

// Reads "Key:   1234 kB" from /proc/meminfo in bytes; -1 when missing.
int64_t meminfo_bytes(const std::string& text, const char* key) {
  const size_t at = text.find(key);
  if (at == std::string::npos) return -1;
  return static_cast<int64_t>(std::strtoll(text.c_str() + at + std::strlen(key), nullptr, 10)) * 1024;
}

}  // namespace

OsFacts os_facts() {
  OsFacts f;
  utsname u{};
  if (uname(&u) != 0) return f;
  f.available = true;
  std::sscanf(u.release, "%u.%u.%u", &f.major, &f.minor, &f.build);
  f.extension = u.version;
  f.platform = std::string(u.sysname) + " " + u.release + " (" + u.machine + ")";
  return f;
}

ComputerFacts computer_facts() {
  ComputerFacts c;
  utsname u{};
  if (uname(&u) == 0) {
    const std::string m = u.machine;
    c.architecture = (m == "x86_64" || m == "i386" || m == "i686") ? "Intel" : m;
  }
  c.page_size = static_cast<uint32_t>(sysconf(_SC_PAGESIZE));
  c.allocation_granularity = c.page_size;
  c.processors = static_cast<uint32_t>(sysconf(_SC_NPROCESSORS_ONLN));
  c.active_processor_mask = c.processors >= 64 ? ~0ull : ((1ull << c.processors) - 1);
  c.min_app_address = 0x10000;
  c.max_app_address = sizeof(void*) == 8 ? 0x7fffffffffffull : 0xbfffffffull;
  std::string text;
  if (read_file("/proc/cpuinfo", text, 1u << 20)) {
    c.processor_level = to_u32(cpuinfo_value(text, "cpu family"));
    const uint32_t model = to_u32(cpuinfo_value(text, "model\t"));
    const uint32_t stepping = to_u32(cpuinfo_value(text, "stepping"));
    c.processor_revision = ((model & 0xff) << 8) | (stepping & 0xff);
    if (c.architecture == "Intel")
      c.processor_type = c.processor_level >= 5 ? 586 : c.processor_level * 100 + 86;
    // The OS already knows the clock; measuring it would cost every banner a second.
    c.frequency_mhz = std::strtod(cpuinfo_value(text, "cpu MHz").c_str(), nullptr);
  }
  return c;
}

MemoryFacts memory_facts() {
  MemoryFacts m;
  struct sysinfo si {};
  if (sysinfo(&si) == 0) {
    const int64_t unit = si.mem_unit ? si.mem_unit : 1;
    m.total_physical = static_cast<int64_t>(si.totalram) * unit;
    m.available_physical = static_cast<int64_t>(si.freeram) * unit;
    m.total_page_file = static_cast<int64_t>(si.totalswap) * unit + m.total_physical;
    m.available_page_file = static_cast<int64_t>(si.freeswap) * unit + m.available_physical;
  }
  std::string text;
  if (read_file("/proc/meminfo", text, 1u << 20)) {
    const int64_t avail = meminfo_bytes(text, "MemAvailable:");
    if (avail >= 0) m.available_physical = avail;
  }
  if (m.total_physical > 0)
    m.memory_load = (m.total_physical - m.available_physical) * 100 / m.total_physical;
  // The address space of this process: what a process may reserve, and what is still free.
  m.total_virtual = sizeof(void*) == 8 ? (int64_t{1} << 47) : (int64_t{3} << 30);
  int64_t used = 0;
  if (read_file("/proc/self/status", text, 1u << 20)) {
    const int64_t vm = meminfo_bytes(text, "VmSize:");
    if (vm > 0) used = vm;
  }
  m.available_virtual = m.total_virtual - used;
  return m;
}

uint32_t logical_drives() {
  return 0;
}

}  // namespace korvel::plat
