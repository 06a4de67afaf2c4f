// The block's fields by name: checked setting, JSON in both directions, and field-by-field diff.
#include <cstring>
#include <nlohmann/json.hpp>
#include <set>
#include <string_view>

#include "cli/blockfile.h"
#include "platform/text.h"

namespace korvel::cli {
namespace {

using Json = nlohmann::ordered_json;

// Decimal (optionally signed) or 0x-hexadecimal; no octal surprises for "010".
bool parse_int(std::string_view text, long long& out) {
  const std::string t = plat::trim(text);
  if (t.empty() || t.size() > 20) return false;
  size_t i = 0;
  bool neg = false;
  if (t[0] == '-' || t[0] == '+') {
    neg = t[0] == '-';
    i = 1;
  }
  int base = 10;
  if (t.size() > i + 2 && t[i] == '0' && (t[i + 1] == 'x' || t[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= t.size()) return false;
  long long v = 0;
  for (; i < t.size(); ++i) {
    const char c = t[i];
    int d = -1;
    if (c >= '0' && c <= '9') d = c - '0';
    if (base == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
    if (base == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
    if (d < 0) return false;
    v = v * base + d;
    if (v > 0xFFFFFFFFLL) return false;
  }
  out = neg ? -v : v;
  return true;
}

// A numeric field of the block under its JSON name, with the values its readers accept.
struct NumField {
  const char* name;
  long long lo, hi;
  const char* allowed;
  long long (*get)(const PDB&);
  void (*put)(PDB&, long long);
};

#define KORVEL_FIELD(f, T) \
  [](const PDB& b) -> long long { return b.f; }, [](PDB& b, long long v) { b.f = static_cast<T>(v); }

const NumField kNumFields[] = {
    {"DebugLog", 0, 1, "0 or 1", KORVEL_FIELD(DebugLog, uint8_t)},
    {"ErrorLog", 0, 1, "0 or 1", KORVEL_FIELD(ErrorLog, uint8_t)},
    {"TraceLog", 0, 1, "0 or 1", KORVEL_FIELD(TraceLog, uint8_t)},
    {"TimeOut", 10, 60000, "10..60000 (ms)", KORVEL_FIELD(TimeOut, uint16_t)},
    {"WriteCount", 0, 10, "0..10", KORVEL_FIELD(WriteCount, uint8_t)},
    {"LinkMode", 0, 1, "0 (one module on RS232) or 1 (several on RS485/RS422)",
     KORVEL_FIELD(LinkMode, uint8_t)},
    {"SingleDevID", 0, 99, "0..99", KORVEL_FIELD(SingleDevID, int32_t)},
    {"ComPort", 0, 15, "0..15 (COM1..COM16; or Port=COMn)", KORVEL_FIELD(ComPort, uint8_t)},
    {"BaudRate", 0, 14,
     "0..14, the index of 110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 56000, 57600, "
     "115200, 128000, 256000 (or Baud=RATE)",
     KORVEL_FIELD(BaudRate, uint8_t)},
    {"DataBits", 0, 4, "0..4 for 4..8 data bits", KORVEL_FIELD(DataBits, uint8_t)},
    {"StopBits", 0, 2, "0 (1 stop bit), 1 (1.5) or 2 (2)", KORVEL_FIELD(StopBits, uint8_t)},
    {"Parity", 0, 4, "none, odd, even, mark, space or 0..4", KORVEL_FIELD(Parity, uint8_t)},
};
#undef KORVEL_FIELD

const NumField* num_field(std::string_view name) {
  for (const NumField& f : kNumFields)
    if (name == f.name) return &f;
  return nullptr;
}

const char* const kParityNames[] = {"none", "odd", "even", "mark", "space"};
const char* const kStopBitNames[] = {"1", "1.5", "2"};
constexpr char kRateList[] =
    "110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000";

bool refuse(std::string& err, const std::string& name, const std::string& allowed, const std::string& value) {
  err = name + " takes " + allowed + ", not '" + value + "'";
  return false;
}

bool put_num(PDB& b, const NumField& f, long long v, const std::string& shown, std::string& err) {
  if (v < f.lo || v > f.hi) return refuse(err, f.name, f.allowed, shown);
  f.put(b, v);
  return true;
}

// Text fields: GBK bytes within the field's capacity; the phone number holds digits only.
bool put_text(PDB& b, const std::string& name, const std::string& gbk, std::string& err) {
  const size_t cap = name == "PhoneNum" ? 32 : 50;
  if (gbk.size() > cap) {
    err = name + " holds at most " + std::to_string(cap) + " bytes (GBK), not " + std::to_string(gbk.size());
    return false;
  }
  if (name == "PhoneNum") {
    for (char c : gbk)
      if (c < '0' || c > '9') {
        err = "PhoneNum takes digits only, not '" + plat::gbk_to_utf8(gbk) + "'";
        return false;
      }
    b.PhoneNum.set(gbk);
  } else {
    b.ModemInit.set(gbk);
  }
  return true;
}

// UTF-8 → GBK, refusing characters GBK cannot hold (the converter would make them '?').
bool to_gbk(const std::string& name, const std::string& utf8, std::string& gbk, std::string& err) {
  gbk = plat::utf8_to_gbk(utf8);
  if (plat::gbk_to_utf8(gbk) != utf8) {
    err = name + " has characters GBK cannot hold: '" + utf8 + "'";
    return false;
  }
  return true;
}

std::string hex(const void* data, size_t n) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  const auto* p = static_cast<const unsigned char*>(data);
  for (size_t i = 0; i < n; ++i) {
    out += digits[p[i] >> 4];
    out += digits[p[i] & 15];
  }
  return out;
}

bool unhex(const std::string& text, std::string& out) {
  if (text.size() % 2 != 0) return false;
  out.clear();
  for (size_t i = 0; i < text.size(); i += 2) {
    long long v = 0;
    if (!parse_int("0x" + text.substr(i, 2), v)) return false;
    out += static_cast<char>(v);
  }
  return true;
}

// True when the GBK text comes back unchanged through UTF-8 (so the JSON text alone carries it).
bool survives_utf8(const std::string& gbk) {
  return plat::utf8_to_gbk(plat::gbk_to_utf8(gbk)) == gbk;
}

std::string text_of(const std::string& gbk) {
  return Json(plat::gbk_to_utf8(gbk)).dump(-1, ' ', false, Json::error_handler_t::replace);
}

// A JSON text field with its optional hex sibling, as block_json writes it.
std::string text_member(const char* name, const std::string& gbk, const char* sep) {
  std::string out = "\"" + std::string(name) + "\": " + text_of(gbk);
  if (!survives_utf8(gbk))
    out += std::string(sep) + "\"" + name + "Hex\": \"" + hex(gbk.data(), gbk.size()) + "\"";
  return out;
}

// The bytes of a text member: the hex sibling when present, else the text converted to GBK.
bool json_text(const Json& obj, const std::string& name, std::string& gbk, std::string& err) {
  const auto hx = obj.find(name + "Hex");
  if (hx != obj.end()) {
    if (!hx->is_string() || !unhex(hx->get<std::string>(), gbk)) {
      err = name + "Hex takes an even number of hex digits";
      return false;
    }
    return true;
  }
  const auto it = obj.find(name);
  if (it == obj.end() || !it->is_string()) {
    err = name + " takes a text";
    return false;
  }
  return to_gbk(name, it->get<std::string>(), gbk, err);
}

bool json_int(const Json& v, const std::string& name, long long& out, std::string& err) {
  if (!v.is_number_integer()) {
    err = name + " takes a whole number, not " + v.dump();
    return false;
  }
  out = v.get<long long>();
  return true;
}

bool module_from_json(const Json& m, PDB& b, std::set<long long>& seen, std::string& err) {
  if (!m.is_object()) {
    err = "Modules holds objects {\"entry\": N, \"DevID\": N, \"DevType\": 0|1, \"DevTypeName\": ...}";
    return false;
  }
  for (const auto& [key, value] : m.items()) {
    (void)value;
    if (key != "entry" && key != "DevID" && key != "DevType" && key != "DevTypeName" &&
        key != "DevTypeNameHex") {
      err = "unknown module field '" + key + "' (fields: entry, DevID, DevType, DevTypeName)";
      return false;
    }
  }
  long long entry = 0, id = 0, type = 1;
  if (!m.contains("entry")) {
    err = "a module needs its \"entry\" (0..99)";
    return false;
  }
  if (!json_int(m["entry"], "entry", entry, err)) return false;
  if (entry < 0 || entry >= kMaxDevices) return refuse(err, "entry", "0..99", m["entry"].dump());
  if (!seen.insert(entry).second) {
    err = "module entry " + std::to_string(entry) + " is listed twice";
    return false;
  }
  const std::string where = "module entry " + std::to_string(entry) + ": ";
  id = entry;
  if (m.contains("DevID") && !json_int(m["DevID"], where + "DevID", id, err)) return false;
  if (id < 0 || id >= kMaxDevices) return refuse(err, where + "DevID", "0..99", std::to_string(id));
  if (m.contains("DevType") && !json_int(m["DevType"], where + "DevType", type, err)) return false;
  if (type != 0 && type != 1)
    return refuse(err, where + "DevType", "0 (PLNE) or 1 (PLNK)", std::to_string(type));
  const std::string& tableName = DevTypeNameOf(static_cast<uint8_t>(type));
  std::string name = tableName;
  if (m.contains("DevTypeName") || m.contains("DevTypeNameHex")) {
    if (!json_text(m, "DevTypeName", name, err)) {
      err = where + err;
      return false;
    }
    // An empty name is what the defaults leave; any other name than the type's own would make the
    // block check void the entry when a host starts the driver.
    if (!name.empty() && name != tableName) {
      err = where + "DevTypeName '" + plat::gbk_to_utf8(name) + "' does not match DevType " +
            std::to_string(type) + " (" + tableName + "); the block check would void this entry";
      return false;
    }
  }
  TDevInfo& d = b.Devices[entry];
  d.DevID = static_cast<int32_t>(id);
  d.DevType = static_cast<uint8_t>(type);
  d.DevTypeName.set(name);
  return true;
}

void add_field(std::vector<std::pair<std::string, std::string>>& out, std::string name, std::string value) {
  out.emplace_back(std::move(name), std::move(value));
}

template <size_t N>
std::string short_text(const ShortString<N>& s) {
  std::string v = text_of(s.str());
  const size_t used = s.len > N ? N : s.len;
  bool hidden = false;
  for (size_t i = used; i < N; ++i) hidden |= s.chars[i] != 0;
  if (s.len > N) v += " (length byte " + std::to_string(s.len) + ")";
  if (hidden) v += " (bytes after the text: " + hex(s.chars + used, N - used) + ")";
  return v;
}

std::string coded(long long v, const char* const* names, size_t count) {
  std::string out = std::to_string(v);
  if (v >= 0 && static_cast<size_t>(v) < count) out += std::string(" (") + names[v] + ")";
  return out;
}

// Every field of the layout with its value as text, in block order.
std::vector<std::pair<std::string, std::string>> all_fields(const PDB& b) {
  static const char* const kRates[] = {"110",   "300",   "600",    "1200",   "2400",
                                       "4800",  "9600",  "14400",  "19200",  "38400",
                                       "56000", "57600", "115200", "128000", "256000"};
  static const char* const kBits[] = {"4 bits", "5 bits", "6 bits", "7 bits", "8 bits"};
  static const char* const kStops[] = {"1 stop bit", "1.5 stop bits", "2 stop bits"};
  static const char* const kPorts[] = {"COM1", "COM2",  "COM3",  "COM4",  "COM5",  "COM6",  "COM7",  "COM8",
                                       "COM9", "COM10", "COM11", "COM12", "COM13", "COM14", "COM15", "COM16"};
  static const char* const kTypes[] = {"PLNE", "PLNK", "none"};
  std::vector<std::pair<std::string, std::string>> f;
  add_field(f, "DebugLog", std::to_string(b.DebugLog));
  add_field(f, "ErrorLog", std::to_string(b.ErrorLog));
  add_field(f, "TraceLog", std::to_string(b.TraceLog));
  add_field(f, "padding@3", hex(&b.Pad3, 1));
  add_field(f, "TimeOut", std::to_string(b.TimeOut));
  add_field(f, "Reserved6", std::to_string(b.Reserved6));
  add_field(f, "WriteCount", std::to_string(b.WriteCount));
  add_field(f, "LinkMode", std::to_string(b.LinkMode));
  add_field(f, "padding@10", hex(b.Pad10, sizeof b.Pad10));
  add_field(f, "SingleDevID", std::to_string(b.SingleDevID));
  for (int i = 0; i < kMaxDevices; ++i) {
    const TDevInfo& d = b.Devices[i];
    const std::string p = "Devices[" + std::to_string(i) + "].";
    add_field(f, p + "DevID", std::to_string(d.DevID));
    add_field(f, p + "DevType", coded(d.DevType, kTypes, 3));
    add_field(f, p + "DevTypeName", short_text(d.DevTypeName));
    add_field(f, p + "AtMasterCpu", std::to_string(d.AtMasterCpu));
    add_field(f, p + "Slot", std::to_string(d.Slot));
    add_field(f, p + "Reserved54", hex(d.Reserved54, sizeof d.Reserved54));
    add_field(f, p + "Param252", std::to_string(d.Param252));
    add_field(f, p + "Param253", std::to_string(d.Param253));
    add_field(f, p + "Param254", std::to_string(d.Param254));
    add_field(f, p + "Param256", std::to_string(d.Param256));
    add_field(f, p + "Param258", std::to_string(d.Param258));
    add_field(f, p + "Param260", std::to_string(d.Param260));
    add_field(f, p + "padding@262", hex(d.Pad262, sizeof d.Pad262));
  }
  add_field(f, "ComPort", coded(b.ComPort, kPorts, 16));
  add_field(f, "BaudRate", coded(b.BaudRate, kRates, 15));
  add_field(f, "DataBits", coded(b.DataBits, kBits, 5));
  add_field(f, "StopBits", coded(b.StopBits, kStops, 3));
  add_field(f, "Parity", coded(b.Parity, kParityNames, 5));
  add_field(f, "PhoneNum", short_text(b.PhoneNum));
  add_field(f, "ModemInit", short_text(b.ModemInit));
  add_field(f, "padding@26505", hex(b.Pad26505, sizeof b.Pad26505));
  return f;
}

}  // namespace

bool set_field(PDB& b, const std::string& assignment, std::string& err) {
  const size_t eq = assignment.find('=');
  if (eq == std::string::npos) {
    err = "name=value expected: '" + assignment + "'";
    return false;
  }
  const std::string name = plat::trim(assignment.substr(0, eq));
  const std::string value = plat::trim(assignment.substr(eq + 1));
  long long v = 0;
  const bool isNumber = parse_int(value, v);

  // Settings in the user's terms.
  if (name == "Baud") {
    const int i = isNumber && v > 0 && v <= 0xFFFFFFFFLL ? baud_index(static_cast<uint32_t>(v)) : -1;
    if (i < 0) return refuse(err, name, std::string("one of the rates ") + kRateList, value);
    b.BaudRate = static_cast<uint8_t>(i);
    return true;
  }
  if (name == "Port") {
    long long n = 0;
    if (value.size() < 4 || !plat::iequals(value.substr(0, 3), "COM") || !parse_int(value.substr(3), n) ||
        n < 1 || n > 16 || value[3] == '+' || value[3] == '-')
      return refuse(err, name, "COM1..COM16", value);
    b.ComPort = static_cast<uint8_t>(n - 1);
    return true;
  }
  if (name == "Parity" && !isNumber) {
    for (uint8_t i = 0; i < 5; ++i)
      if (plat::iequals(value, kParityNames[i])) {
        b.Parity = i;
        return true;
      }
    return refuse(err, name, num_field("Parity")->allowed, value);
  }
  if (name == "DataBits") {
    if (!isNumber || v < 4 || v > 8)
      return refuse(err, name, "4, 5, 6, 7 or 8 (data bits; DataBitsCode=0..4 sets the raw code)", value);
    b.DataBits = static_cast<uint8_t>(v - 4);
    return true;
  }
  if (name == "StopBits") {
    for (uint8_t i = 0; i < 3; ++i)
      if (value == kStopBitNames[i]) {
        b.StopBits = i;
        return true;
      }
    return refuse(err, name, "1, 1.5 or 2 (stop bits; StopBitsCode=0..2 sets the raw code)", value);
  }
  if (name == "PhoneNum" || name == "ModemInit") {
    std::string gbk;
    // Texts keep the blanks the user quoted; only the name is trimmed.
    if (!to_gbk(name, assignment.substr(eq + 1), gbk, err)) return false;
    return put_text(b, name, name == "PhoneNum" ? plat::trim(gbk) : gbk, err);
  }

  // Raw fields under their JSON names; the two codes whose names the settings use are spelt apart.
  const std::string raw = name == "DataBitsCode" ? "DataBits" : name == "StopBitsCode" ? "StopBits" : name;
  const NumField* f = (raw == "DataBits" || raw == "StopBits") && raw == name ? nullptr : num_field(raw);
  if (f == nullptr) {
    err = "unknown field '" + name + "' (fields: " + field_names() + ")";
    return false;
  }
  if (!isNumber) return refuse(err, name, f->allowed, value);
  return put_num(b, *f, v, value, err);
}

std::string field_names() {
  return "settings Baud Port Parity DataBits StopBits TimeOut; raw fields DebugLog ErrorLog TraceLog TimeOut "
         "WriteCount LinkMode SingleDevID ComPort BaudRate DataBitsCode StopBitsCode Parity PhoneNum "
         "ModemInit";
}

std::string json_string(const std::string& utf8) {
  return Json(utf8).dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string block_json(const PDB& b) {
  std::string j = "{\n";
  for (const NumField& f : kNumFields) {
    j += "  \"" + std::string(f.name) + "\": " + std::to_string(f.get(b)) + ",\n";
    if (std::strcmp(f.name, "BaudRate") == 0)
      j += "  \"Baud\": " + std::to_string(b.BaudRate < 15 ? kBaudRates[b.BaudRate] : 0) + ",\n";
  }
  j += "  " + text_member("PhoneNum", b.PhoneNum.str(), ",\n  ") + ",\n";
  j += "  " + text_member("ModemInit", b.ModemInit.str(), ",\n  ") + ",\n";
  j += "  \"Modules\": [";
  bool first = true;
  for (int i = 0; i < kMaxDevices; ++i) {
    const TDevInfo& d = b.Devices[i];
    if (d.DevType == 2) continue;
    j += first ? "\n" : ",\n";
    first = false;
    j += "    {\"entry\": " + std::to_string(i) + ", \"DevID\": " + std::to_string(d.DevID) +
         ", \"DevType\": " + std::to_string(d.DevType) + ", " +
         text_member("DevTypeName", d.DevTypeName.str(), ", ") + "}";
  }
  j += first ? "]\n}\n" : "\n  ]\n}\n";
  return j;
}

bool block_from_json(const std::string& text, PDB& out, std::string& err) {
  Json j;
  try {
    j = Json::parse(text);
  } catch (const Json::exception& e) {
    err = std::string("not JSON: ") + e.what();
    return false;
  }
  if (!j.is_object()) {
    err = "a block is a JSON object";
    return false;
  }
  std::unique_ptr<PDB> b = new_block();
  // Entries the JSON does not list are unused, as in the defaults.
  for (TDevInfo& d : b->Devices) {
    d.DevType = 2;
    d.DevTypeName.set("");
  }
  for (const auto& [key, value] : j.items()) {
    long long v = 0;
    if (const NumField* f = num_field(key)) {
      if (!json_int(value, key, v, err) || !put_num(*b, *f, v, value.dump(), err)) return false;
    } else if (key == "Baud") {
      if (!json_int(value, key, v, err)) return false;
    } else if (key == "PhoneNum" || key == "ModemInit" || key == "PhoneNumHex" || key == "ModemInitHex") {
      const std::string base = key.substr(0, key.find("Hex"));
      std::string gbk;
      if (!json_text(j, base, gbk, err) || !put_text(*b, base, gbk, err)) return false;
    } else if (key == "Modules") {
      if (!value.is_array()) {
        err = "Modules takes a list";
        return false;
      }
      std::set<long long> seen;
      for (const Json& m : value)
        if (!module_from_json(m, *b, seen, err)) return false;
    } else {
      err = "unknown field '" + key + "'";
      return false;
    }
  }
  // "Baud" is shown beside the index for the reader; when both are given they must agree.
  if (j.contains("Baud")) {
    const long long rate = j["Baud"].get<long long>();
    const int i = rate > 0 && rate <= 0xFFFFFFFFLL ? baud_index(static_cast<uint32_t>(rate)) : -1;
    if (i < 0) return refuse(err, "Baud", std::string("one of the rates ") + kRateList, j["Baud"].dump());
    if (j.contains("BaudRate") && i != b->BaudRate) {
      err = "Baud " + std::to_string(rate) + " and BaudRate " + std::to_string(b->BaudRate) + " (" +
            std::to_string(kBaudRates[b->BaudRate]) + ") disagree";
      return false;
    }
    b->BaudRate = static_cast<uint8_t>(i);
  }
  std::memcpy(&out, b.get(), sizeof(PDB));
  return true;
}

std::vector<std::string> block_diff(const PDB& a, const PDB& b) {
  const auto fa = all_fields(a);
  const auto fb = all_fields(b);
  std::vector<std::string> lines;
  for (size_t i = 0; i < fa.size(); ++i)
    if (fa[i].second != fb[i].second)
      lines.push_back(fa[i].first + ": " + fa[i].second + " -> " + fb[i].second);
  return lines;
}

}  // namespace korvel::cli
