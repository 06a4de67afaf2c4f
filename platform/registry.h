// The host's installation settings. On Windows these are registry values; on POSIX the
// environment stands in for them.
#pragma once
#include <string>

namespace korvel::plat {

// The value "PATH" of the host's installation key ("Software\ORVANE"); on POSIX the
// environment variable ORVANE_PATH. Empty when missing.
std::string host_install_path();

// The processor description key ("hardware\description\system\centralprocessor\0").
struct ProcessorDescription {
  bool available = false;  // the key could be opened
  std::string name;        // "ProcessorNameString"
  std::string vendor;      // "VendorIdentifier"
  std::string identifier;  // "Identifier"
};
ProcessorDescription processor_description();

// Reads key of [section] from an INI file; def when the file, section or key is missing.
std::string read_ini_string(const std::string& file, const std::string& section, const std::string& key,
                            const std::string& def);

}  // namespace korvel::plat
