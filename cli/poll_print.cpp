#include "cli/poll_print.h"

#include <cstdio>

#include "cli/stats.h"
#include "cli/status_names.h"
#include "cli/textwidth.h"
#include "platform/datetime.h"
#include "platform/text.h"

namespace korvel::cli {
namespace {

std::string utf8(const char* gbk) {
  return gbk ? plat::gbk_to_utf8(gbk) : std::string();
}

// Column widths of the tables, in terminal columns (a Chinese character takes two).
constexpr size_t kNameCols = 14, kAddrCols = 18, kValueCols = 36, kLiveValueCols = 36;

}  // namespace

std::string csv_field(const std::string& text) {
  const bool quote = text.find_first_of(",\"\r\n") != std::string::npos ||
                     (!text.empty() && (text.front() == ' ' || text.back() == ' '));
  if (!quote) return text;
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

void print_csv_header() {
  std::printf("time,tag,address,value,status,module,flags\n");
}

void print_csv_row(const TagSpec& tag, const std::string& value, uint32_t status, double time) {
  const int module = station_of(tag.address);
  std::string flags;
  for (const std::string& f : status_flag_names(status)) flags += (flags.empty() ? "" : ";") + f;
  std::printf("%s,%s,%s,%s,%u,%s,%s\n", plat::datetime_text(time).c_str(), csv_field(tag.name).c_str(),
              csv_field(tag.address).c_str(), csv_field(value).c_str(), status,
              module < 0 ? "" : std::to_string(module).c_str(), csv_field(flags).c_str());
}

std::string json_change(const TagSpec& tag, const std::string& value, bool text, uint32_t status,
                        double time) {
  const int module = station_of(tag.address);
  std::string flags;
  for (const std::string& f : status_flag_names(status)) flags += (flags.empty() ? "" : ",") + json_string(f);
  // JSON has no NaN or infinity: such a reading goes out as null, as the gateway sends it.
  const bool finite = text || (value != "nan" && value != "-nan" && value != "inf" && value != "-inf");
  return "{\"tag\":" + json_string(tag.name) + ",\"address\":" + json_string(tag.address) + ",\"value\":" +
         (text     ? json_string(value)
          : finite ? value
                   : std::string("null")) +
         ",\"status\":" + std::to_string(status) +
         ",\"module\":" + (module < 0 ? std::string("null") : std::to_string(module)) + ",\"flags\":[" +
         flags + "],\"time\":" + json_string(plat::datetime_text(time)) + "}";
}

void print_change_line(const TagSpec& tag, const std::string& value, uint32_t status, double time) {
  std::printf("%s  %s %s %s status=0x%08X\n", plat::datetime_text(time).c_str(),
              pad_to(tag.name, kNameCols).c_str(), pad_to(tag.address, kAddrCols).c_str(),
              pad_to(value, kValueCols).c_str(), status);
}

void print_live_table(const std::vector<TagSpec>& tags, const std::vector<Row>& rows, long polls) {
  std::printf("\x1b[H\x1b[2J%s %s %s %-10s %s\n", pad_to("tag", kNameCols).c_str(),
              pad_to("address", kAddrCols).c_str(), pad_to("value", kLiveValueCols).c_str(), "status",
              "time");
  for (size_t i = 0; i < rows.size(); ++i)
    std::printf("%s %s %s 0x%08X %s\n", pad_to(tags[i].name, kNameCols).c_str(),
                pad_to(tags[i].address, kAddrCols).c_str(),
                pad_to(rows[i].seen ? rows[i].value : "-", kLiveValueCols).c_str(), rows[i].status,
                rows[i].seen ? plat::datetime_text(rows[i].time).c_str() : "");
  std::printf("\npolls %ld   (Ctrl-C stops)\n", polls);
}

std::string value_text(const TTagValue& v) {
  char buf[64];
  switch (v.DataType) {
    case kTypeReal:
      std::snprintf(buf, sizeof buf, "%.15g", v.Data.dbl);
      return buf;
    case kTypeBool:
      return v.Data.bln ? "true" : "false";
    case kTypeString:
      return utf8(v.Data.str);
    default:
      return "?";
  }
}

}  // namespace korvel::cli
