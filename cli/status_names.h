// The bits of a tag's status word by name, for output that machines read (korvel-poll's JSON and
// CSV, the gateway's payloads). The names are the Python binding's, so every tool says the same.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace korvel::cli {

// The names of the bits set in status, in bit order; empty for a good value. Bits without a
// name come last as one "bits 0x........" entry.
std::vector<std::string> status_flag_names(uint32_t status);

}  // namespace korvel::cli
