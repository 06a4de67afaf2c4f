#include <windows.h>

#include "platform/sysinfo.h"

namespace korvel::plat {
namespace {

constexpr UINT kGetWindowsExtension = 92;  // SPI_GETWINDOWSEXTENSION: the Plus! pack

}  // namespace

OsFacts os_facts() {
  OsFacts f;
  OSVERSIONINFOA v{};
  v.dwOSVersionInfoSize = sizeof v;  // the 148-byte record
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!GetVersionExA(&v)) return f;
#pragma GCC diagnostic pop
  f.available = true;
  f.major = v.dwMajorVersion;
  f.minor = v.dwMinorVersion;
  f.build = v.dwBuildNumber;
  const std::string csd = v.szCSDVersion;
  f.platform =
      windows_platform_text(v.dwPlatformId, v.dwMajorVersion, v.dwMinorVersion, v.dwBuildNumber, csd);
  f.extension = SystemParametersInfoA(kGetWindowsExtension, 1, nullptr, 0) ? "PLUS!" : csd;
  return f;
}

ComputerFacts computer_facts() {
  ComputerFacts c;
  SYSTEM_INFO si{};
  GetSystemInfo(&si);
  static const char* const kNames[] = {"Intel", "MIPS", "Aplha", "PPC"};
  c.architecture = si.wProcessorArchitecture < 4
                       ? kNames[si.wProcessorArchitecture]
                       : "Architecture " + std::to_string(si.wProcessorArchitecture);
  c.page_size = si.dwPageSize;
  c.min_app_address = reinterpret_cast<uintptr_t>(si.lpMinimumApplicationAddress);
  c.max_app_address = reinterpret_cast<uintptr_t>(si.lpMaximumApplicationAddress);
  c.active_processor_mask = si.dwActiveProcessorMask;
  c.processors = si.dwNumberOfProcessors;
  c.processor_type = si.dwProcessorType;
  c.allocation_granularity = si.dwAllocationGranularity;
  c.processor_level = si.wProcessorLevel;
  c.processor_revision = si.wProcessorRevision;
  // The system measured the clock at boot; measuring it again would cost every banner a second.
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "hardware\\description\\system\\centralprocessor\\0", 0, KEY_READ,
                    &key) == ERROR_SUCCESS) {
    DWORD mhz = 0, size = sizeof mhz, type = 0;
    if (RegQueryValueExA(key, "~MHz", nullptr, &type, reinterpret_cast<BYTE*>(&mhz), &size) ==
            ERROR_SUCCESS &&
        type == REG_DWORD)
      c.frequency_mhz = mhz;
    RegCloseKey(key);
  }
  return c;
}

MemoryFacts memory_facts() {
  MemoryFacts m;
  MEMORYSTATUSEX s{};
  s.dwLength = sizeof s;  // the Ex form: figures of 4 GiB and more do not wrap
  if (!GlobalMemoryStatusEx(&s)) return m;
  m.memory_load = s.dwMemoryLoad;
  m.total_physical = static_cast<int64_t>(s.ullTotalPhys);
  m.available_physical = static_cast<int64_t>(s.ullAvailPhys);
  m.total_page_file = static_cast<int64_t>(s.ullTotalPageFile);
  m.available_page_file = static_cast<int64_t>(s.ullAvailPageFile);
  m.total_virtual = static_cast<int64_t>(s.ullTotalVirtual);
  m.available_virtual = static_cast<int64_t>(s.ullAvailVirtual);
  return m;
}

uint32_t logical_drives() {
  return GetLogicalDrives();
}

}  // namespace korvel::plat
