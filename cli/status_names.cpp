#include "cli/status_names.h"

#include <cstdio>
#include <iterator>

#include "exports/KorvelPLNK.h"

namespace korvel::cli {

namespace {
struct NamedBit {
  uint32_t bit;
  const char* name;
};
constexpr NamedBit kBits[] = {
    {KORVEL_STATUS_ADDRESS_REFUSED, "address refused"},
    {KORVEL_STATUS_NO_VALUE_YET, "no value yet"},
    {KORVEL_STATUS_NO_ANSWER, "no answer"},
    {KORVEL_STATUS_INCOMPLETE, "incomplete answer"},
    {KORVEL_STATUS_BAD_CHECK, "check characters wrong"},
    {KORVEL_STATUS_REFUSED, "refused by the module"},
    {KORVEL_STATUS_REPEATED_FAILURE, "failing repeatedly"},
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
