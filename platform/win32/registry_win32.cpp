#include <windows.h>

#include <vector>

#include "platform/registry.h"

namespace korvel::plat {
namespace {

// A string value of an open key; empty when missing or of another type.
std::string string_value(HKEY key, const char* name) {
  DWORD type = 0, size = 0;
  if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return {};
  if ((type != REG_SZ && type != REG_EXPAND_SZ) || size == 0 || size > (1u << 16)) return {};
  std::vector<char> buf(size + 1, '\0');
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buf.data()), &size) !=
      ERROR_SUCCESS)
    return {};
  return std::string(buf.data());  // the stored text may or may not carry its NUL
}

}  // namespace

std::string host_install_path() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\ORVANE", 0, KEY_READ, &key) != ERROR_SUCCESS) return {};
  std::string v = string_value(key, "PATH");
  RegCloseKey(key);
  return v;
}

ProcessorDescription processor_description() {
  ProcessorDescription d;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "hardware\\description\\system\\centralprocessor\\0", 0, KEY_READ,
                    &key) != ERROR_SUCCESS)
    return d;
  d.available = true;
  d.name = string_value(key, "ProcessorNameString");
  d.vendor = string_value(key, "VendorIdentifier");
  d.identifier = string_value(key, "Identifier");
  RegCloseKey(key);
  return d;
}

}  // namespace korvel::plat
