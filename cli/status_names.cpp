#include "cli/status_names.h"

#include <cstdio>
#include <iterator>

namespace korvel::cli {

namespace {
struct NamedBit {
  uint32_t bit;
  const char* name;
};
constexpr NamedBit kBits[] = {
    {0x00040000, "address refused"},
    {0x00080000, "no value yet"},
    {0x00100000, "no answer"},
    {0x00200000, "incomplete answer"},
    {0x00400000, "check characters wrong"},
    {0x00800000, "refused by the module"},
    {0x01000000, "failing repeatedly"},
};
}  // namespace

std::vector<std::string> status_flag_names(uint32_t status) {
  std::vector<std::string> names;
  uint32_t rest = status;
  for (const NamedBit& b : kBits) {
    if ((status & b.bit) == 0) continue;
    names.emplace_back(b.name);
    rest &= ~b.bit;
  }
  if (rest != 0) {
    char text[24];
    std::snprintf(text, sizeof text, "bits 0x%08X", static_cast<unsigned>(rest));
    names.emplace_back(text);
  }
  return names;
}

}  // namespace korvel::cli
