#include "framework/XSysInfo.h"

#include <cstdio>

#include "platform/sysinfo.h"

namespace korvel {

std::string ArchitectureName(int code) {
  static const char* const kNames[] = {"Intel", "MIPS", "Aplha", "PPC"};
  return code >= 0 && code < 4 ? kNames[code] : std::string();
}

void TOperatingSystemInfo::Refresh() {
  const plat::OsFacts f = plat::os_facts();
  if (!f.available) return;
  Platform = f.platform;
  MajorVersion = std::to_string(f.major);
  MinorVersion = std::to_string(f.minor);
  BuildNumber = std::to_string(f.build & 0xFFFF);
  Extension = f.extension;
}

void TComputerInfo::Refresh() {
  const plat::ComputerFacts c = plat::computer_facts();
  ProcessorArchitecture = c.architecture;
  PageSize = std::to_string(c.page_size);
  MinimumApplicationAddress = std::to_string(c.min_app_address);
  MaximumApplicationAddress = std::to_string(c.max_app_address);
  ActiveProcessorMask = std::to_string(c.active_processor_mask);
  NumberOfProcessors = std::to_string(c.processors);
  ProcessorType = std::to_string(c.processor_type);
  AllocationGranularity = std::to_string(c.allocation_granularity);
  ProcessorLevel = std::to_string(c.processor_level);
  char buf[64];
  if (c.processor_type == 386 || c.processor_type == 486) {
    ProcessorRevision = std::to_string(c.processor_revision);
  } else if (c.processor_type == 586) {
    std::snprintf(buf, sizeof buf, "Model %u Stepping %u", (c.processor_revision >> 8) & 0xFF,
                  c.processor_revision & 0xFF);
    ProcessorRevision = buf;
  }
  std::snprintf(buf, sizeof buf, "%.3f", c.frequency_mhz);
  Frequency = buf;
}

void TMemoryInfo::Refresh() {
  const plat::MemoryFacts m = plat::memory_facts();
  MemoryLoad = m.memory_load;
  TotalPhysical = m.total_physical;
  AvailablePhysical = m.available_physical;
  TotalPageFile = m.total_page_file;
  AvailablePageFile = m.available_page_file;
  TotalVirtual = m.total_virtual;
  AvailableVirtual = m.available_virtual;
}

void TVolumeInfo::Refresh() {
  AvailableDrives = plat::logical_drives();
}

bool TVolumeInfo::HasDrive(char letter) const {
  const int bit = letter - 'A';
  return bit >= 0 && bit < 26 && (AvailableDrives >> bit) & 1u;
}

TXSystemInformation::TXSystemInformation()
    : os_(std::make_unique<TOperatingSystemInfo>(this)),
      computer_(std::make_unique<TComputerInfo>(this)),
      volume_(std::make_unique<TVolumeInfo>(this)),
      memory_(std::make_unique<TMemoryInfo>(this)) {}

TXSystemInformation::~TXSystemInformation() {
  os_.reset();
  computer_.reset();
  volume_.reset();
  memory_.reset();
}

}  // namespace korvel
