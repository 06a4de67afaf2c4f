// The library's exports as the command-line hosts bind them after loading it by path.
#pragma once
#include <cstdio>
#include <type_traits>

#include "exports/KorvelPLNK.h"
#include "platform/dynlib.h"

namespace korvel::cli {

struct HostExports {
  decltype(&::IniDriver) IniDriver = nullptr;
  decltype(&::IniDriverEx) IniDriverEx = nullptr;
  decltype(&::OnDataRead) OnDataRead = nullptr;
  decltype(&::OnDataWrite) OnDataWrite = nullptr;
  decltype(&::GetDeviceStatus) GetDeviceStatus = nullptr;
  decltype(&::DetectScanTime) DetectScanTime = nullptr;
  decltype(&::FreeDriver) FreeDriver = nullptr;
  decltype(&::GetPDBLen) GetPDBLen = nullptr;
};

// Finds every export the hosts call; false, naming the first missing one after prog on standard
// error, when one is not there.
inline bool bind_exports(const plat::DynLib& lib, HostExports& x, const char* prog) {
  const auto bind = [&](const char* name, auto& f) {
    f = reinterpret_cast<std::remove_reference_t<decltype(f)>>(lib.symbol(name));
    if (f == nullptr) std::fprintf(stderr, "%s: the library has no export %s\n", prog, name);
    return f != nullptr;
  };
  return bind("IniDriver", x.IniDriver) && bind("IniDriverEx", x.IniDriverEx) &&
         bind("OnDataRead", x.OnDataRead) && bind("OnDataWrite", x.OnDataWrite) &&
         bind("GetDeviceStatus", x.GetDeviceStatus) && bind("DetectScanTime", x.DetectScanTime) &&
         bind("FreeDriver", x.FreeDriver) && bind("GetPDBLen", x.GetPDBLen);
}

}  // namespace korvel::cli
