#include "platform/sysinfo.h"
#include "platform/text.h"

namespace korvel::plat {

std::string windows_platform_text(uint32_t platform_id, uint32_t major, uint32_t minor, uint32_t build,
                                  const std::string& csd) {
  const std::string build_text = "(Build " + std::to_string(build & 0xFFFF) + ")";
  auto second_is = [&csd](const char* any) {
    return csd.size() >= 2 && std::string(any).find(csd[1]) != std::string::npos;
  };
  if (platform_id == 1) {
    if (major == 4 && minor == 0)
      return std::string("Microsoft Windows 95 ") + (second_is("CB") ? "OSR2 " : "");
    if (major == 4 && minor == 10)
      return std::string("Microsoft Windows 98 ") + (second_is("A") ? "SE " : "");
    if (major == 4 && minor == 90) return "Microsoft Windows Millennium Edition ";
    return "Microsoft Windows ";
  }
  if (platform_id != 2) return {};
  std::string name;
  if (major <= 4)
    name = "Microsoft Windows NT ";
  else if (major == 5 && minor == 0)
    name = "Microsoft Windows 2000";
  else if (major == 5 && minor == 1)
    name = "Microsoft Windows XP ";
  else if (major == 5 && minor == 2)
    name = "Microsoft Windows .NET ";
  else
    name = "Microsoft Windows " + std::to_string(major) + "." + std::to_string(minor) + " ";
  if (major > 4) return name + csd + build_text;
  return name + utf8_to_gbk("版本 ") + std::to_string(major) + "." + std::to_string(minor) + "." + csd +
         build_text;
}

}  // namespace korvel::plat
