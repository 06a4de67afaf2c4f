#include <cstdlib>

#include "platform/env.h"

namespace korvel::plat {

std::string get_env(const std::string& name) {
  const char* v = std::getenv(name.c_str());
  return v ? std::string(v) : std::string();
}

void set_env(const std::string& name, const std::string& value) {
  ::setenv(name.c_str(), value.c_str(), 1);
}

void unset_env(const std::string& name) {
  ::unsetenv(name.c_str());
}

}  // namespace korvel::plat
