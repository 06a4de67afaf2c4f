#include "cli/blockfile.h"

#include <cstdlib>
#include <cstring>

#include "platform/files.h"
#include "platform/text.h"

namespace korvel::cli {
namespace {

bool to_long(const std::string& text, long lo, long hi, long& out) {
  const std::string t = plat::trim(text);
  if (t.empty()) return false;
  char* end = nullptr;
  const long v = std::strtol(t.c_str(), &end, 0);
  if (*end != '\0' || v < lo || v > hi) return false;
  out = v;
  return true;
}

std::vector<std::string> split(const std::string& s, char sep) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t at = s.find(sep, start);
    parts.push_back(s.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos) break;
    start = at + 1;
  }
  return parts;
}

}  // namespace

std::unique_ptr<PDB> new_block() {
  auto b = std::make_unique<PDB>();
  std::memset(b.get(), 0, sizeof(PDB));
  FillPDBDefaults(b.get());
  // Write the type names the block check expects, so the default module survives it.
  for (TDevInfo& d : b->Devices)
    if (d.DevType != 2) d.DevTypeName.set(DevTypeNameOf(d.DevType));
  return b;
}

std::string voided_entries_warning(const PDB& block) {
  std::unique_ptr<PDB> checked = new_block();
  *checked = block;
  if (!CheckPDB(checked.get())) return std::string();
  std::string list;
  int n = 0;
  for (int i = 0; i < kMaxDevices; ++i)
    if (checked->Devices[i].DevType != block.Devices[i].DevType) {
      if (n++ < 10) list += (list.empty() ? "" : ", ") + std::to_string(i);
    }
  if (n > 10) list += " ... (" + std::to_string(n) + " in all)";
  return "warning: the driver's block check voids module entries " + list +
         ": their type name does not match their type (a damaged or foreign block); they are not polled";
}

bool load_block(const std::string& path, PDB& block, std::string& err) {
  std::string bytes;
  if (!plat::read_file(path, bytes, sizeof(PDB) + 1)) {
    err = "cannot read " + path;
    return false;
  }
  if (bytes.size() != sizeof(PDB)) {
    err = path + " holds " + std::to_string(bytes.size()) + " bytes, a parameter block has " +
          std::to_string(sizeof(PDB));
    return false;
  }
  std::memcpy(&block, bytes.data(), sizeof(PDB));
  return true;
}

bool save_block(const std::string& path, const PDB& block, std::string& err) {
  if (!plat::write_file(path, std::string(reinterpret_cast<const char*>(&block), sizeof(PDB)))) {
    err = "cannot write " + path;
    return false;
  }
  return true;
}

bool add_module(PDB& block, const std::string& spec, std::string& err) {
  const std::vector<std::string> parts = split(spec, ':');
  long n = 0;
  if (!to_long(parts[0], 0, kMaxDevices - 1, n)) {
    err = "module number 0..99 expected in '" + spec + "'";
    return false;
  }
  uint8_t type = 1;
  if (parts.size() > 1) {
    const std::string family = plat::trim(parts[1]);
    if (family == "PLNE" || family == "plne")
      type = 0;
    else if (family == "PLNK" || family == "plnk")
      type = 1;
    else if (family == "none")
      type = 2;
    else {
      err = "module family PLNE, PLNK or none expected in '" + spec + "'";
      return false;
    }
  }
  TDevInfo& d = block.Devices[n];
  d.DevID = static_cast<int32_t>(n);
  d.DevType = type;
  d.DevTypeName.set(type == 2 ? std::string() : DevTypeNameOf(type));
  return true;
}

int baud_index(uint32_t rate) {
  for (int i = 0; i < 15; ++i)
    if (kBaudRates[i] == rate) return i;
  return -1;
}

bool parse_tag(const std::string& line, TagSpec& tag, std::string& err) {
  const std::vector<std::string> parts = split(line, ',');
  if (parts.size() < 2 || plat::trim(parts[0]).empty()) {
    err = "name,address[,type[,period]] expected: '" + line + "'";
    return false;
  }
  tag = TagSpec{};
  tag.name = plat::trim(parts[0]);
  tag.address = plat::trim(parts[1]);
  if (parts.size() > 2 && !plat::trim(parts[2]).empty()) {
    const std::string t = plat::trim(parts[2]);
    if (t == "0" || t == "real")
      tag.type = 0;
    else if (t == "1" || t == "bool")
      tag.type = 1;
    else if (t == "2" || t == "string")
      tag.type = 2;
    else {
      err = "type real, bool or string expected: '" + line + "'";
      return false;
    }
  }
  long period = 1000;
  if (parts.size() > 3 && !plat::trim(parts[3]).empty() && !to_long(parts[3], 0, 86400000, period)) {
    err = "period in ms expected: '" + line + "'";
    return false;
  }
  tag.period = static_cast<int32_t>(period);
  if (tag.name.size() > 31 || tag.address.size() > 63) {
    err = "name (31) or address (63 characters) too long: '" + line + "'";
    return false;
  }
  return true;
}

bool load_tags(const std::string& path, std::vector<TagSpec>& tags, std::string& err) {
  std::string text;
  if (!plat::read_file(path, text, 16u << 20)) {
    err = "cannot read " + path;
    return false;
  }
  // Spreadsheets save "CSV UTF-8" with a byte order mark, which would stick to the first name.
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  int lineNo = 0;
  for (const std::string& raw : split(text, '\n')) {
    ++lineNo;
    const std::string line = plat::trim(raw);
    if (line.empty() || line[0] == '#') continue;
    if (lineNo == 1 && line.compare(0, 5, "name,") == 0) continue;
    TagSpec tag;
    if (!parse_tag(line, tag, err)) {
      err = path + ":" + std::to_string(lineNo) + ": " + err;
      return false;
    }
    tags.push_back(tag);
  }
  return true;
}

std::vector<TagSpec> default_tags(const PDB& block) {
  std::vector<TagSpec> tags;
  tags.push_back({"COMMLINK", "COMMLINK", 2, 1000});
  for (int i = 0; i < kMaxDevices; ++i) {
    const TDevInfo& d = block.Devices[i];
    if (d.DevType == 2) continue;
    const std::string n = std::to_string(d.DevID);
    tags.push_back({"PV" + n, "PV" + n + ":1", 0, 500});
    tags.push_back({"ALARM" + n + "_1", "PV_ALARM" + n + ":1", 1, 500});
    tags.push_back({"ALARM" + n + "_2", "PV_ALARM" + n + ":2", 1, 500});
    tags.push_back({"PARM" + n + "_16", "PARM" + n + ":10", 0, 2000});
    tags.push_back({"AO" + n, "AO" + n + ":1", 0, 1000});
    tags.push_back({"PWD" + n, "SetPassWord" + n + ":0", 1, 0});
    tags.push_back({"LINK" + n, "DEVICELINK" + n, 2, 1000});
  }
  return tags;
}

}  // namespace korvel::cli
