#include <windows.h>

#include <vector>

#include "platform/env.h"

namespace korvel::plat {

std::string get_env(const std::string& name) {
  std::vector<char> buf(256);
  for (;;) {
    const DWORD n = GetEnvironmentVariableA(name.c_str(), buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return {};
    if (n < buf.size()) return std::string(buf.data(), n);
    buf.resize(n + 1);
  }
}

void set_env(const std::string& name, const std::string& value) {
  SetEnvironmentVariableA(name.c_str(), value.c_str());
}

void unset_env(const std::string& name) {
  SetEnvironmentVariableA(name.c_str(), nullptr);
}

}  // namespace korvel::plat
