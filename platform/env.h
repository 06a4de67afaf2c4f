// Environment variables (the POSIX stand-ins for the host's registry values and the COM mapping).
#pragma once
#include <string>

namespace korvel::plat {

std::string get_env(const std::string& name);  // empty when unset
void set_env(const std::string& name, const std::string& value);
void unset_env(const std::string& name);

}  // namespace korvel::plat
