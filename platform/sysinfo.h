// Facts about the computer for the log banner. Sizes are 64-bit: 2 GiB and more must not wrap.
#pragma once
#include <cstdint>
#include <string>

namespace korvel::plat {

struct OsFacts {
  bool available = false;
  std::string platform;  // full text, e.g. "Linux 6.1.0-13-amd64 (#1 SMP ...)"
  uint32_t major = 0, minor = 0, build = 0;
  std::string extension;  // service pack / release text
};

struct ComputerFacts {
  std::string architecture;  // "Intel", "MIPS", "Aplha", "PPC" for codes 0..3, else the machine name
  uint32_t page_size = 0;
  uint64_t min_app_address = 0, max_app_address = 0;
  uint64_t active_processor_mask = 0;
  uint32_t processors = 0;
  uint32_t processor_type = 0;  // 386, 486, 586 or 0 when not an x86 figure
  uint32_t allocation_granularity = 0;
  uint32_t processor_level = 0;
  uint32_t processor_revision = 0;  // model in the high byte, stepping in the low byte
  double frequency_mhz = 0;         // as the OS reports it; 0 when unknown
};

struct MemoryFacts {
  int64_t memory_load = 0;  // percent
  int64_t total_physical = 0, available_physical = 0;
  int64_t total_page_file = 0, available_page_file = 0;
  int64_t total_virtual = 0, available_virtual = 0;
};

OsFacts os_facts();
ComputerFacts computer_facts();
MemoryFacts memory_facts();
// Bit 0 = drive "A"; POSIX has no drive letters and reports 0.
uint32_t logical_drives();

// The name the log banner gives a Windows version (platform id 1 = Windows 9x, 2 = NT family;
// csd = the service-pack text); empty for other platform ids. Versions after 5.2 are named
// "Microsoft Windows " with their numbers, where the old table had no entry.
std::string windows_platform_text(uint32_t platform_id, uint32_t major, uint32_t minor, uint32_t build,
                                  const std::string& csd);

}  // namespace korvel::plat
