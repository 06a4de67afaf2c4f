#include "sim/config.h"

#include <charconv>
#include <fstream>

namespace korvel::sim {
namespace {

bool fail(std::string* err, std::string what) {
  if (err) *err = std::move(what);
  return false;
}

bool parse_int(std::string_view t, int base, int64_t max, int* out) {
  int v = 0;
  const auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), v, base);
  if (t.empty() || ec != std::errc() || p != t.data() + t.size() || v < 0 || v > max) return false;
  *out = v;
  return true;
}

// Decimal, or hexadecimal after "0x".
bool parse_code(std::string_view t, int64_t max, int* out) {
  if (t.starts_with("0x") || t.starts_with("0X")) return parse_int(t.substr(2), 16, max, out);
  return parse_int(t, 10, max, out);
}

bool parse_station(std::string_view t, int* out, std::string* err) {
  if (!parse_int(t, 10, kStations - 1, out))
    return fail(err, "station must be 0..99, not \"" + std::string(t) + "\"");
  return true;
}

std::string_view trim(std::string_view t) {
  while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
  while (!t.empty() && (t.back() == ' ' || t.back() == '\t' || t.back() == '\r' || t.back() == '\n')) {
    t.remove_suffix(1);
  }
  return t;
}

bool is_family(std::string_view t, Family* f) {
  auto eq = [](std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
      const char c = (a[i] >= 'a' && a[i] <= 'z') ? static_cast<char>(a[i] - 32) : a[i];
      if (c != b[i]) return false;
    }
    return true;
  };
  if (eq(t, "PLNE"))
    *f = Family::PLNE;
  else if (eq(t, "PLNK"))
    *f = Family::PLNK;
  else
    return false;
  return true;
}

bool apply_key(ModuleConfig& m, std::string_view key, std::string_view value, std::string* err) {
  Signal s;
  if (key == "pv" || key == "ao" || key == "alarm") {
    if (!Signal::parse(value, &s, err)) return false;
    if (key == "pv") m.pv = s;
    if (key == "ao") m.ao = s;
    if (key == "alarm") {
      m.alarm = s;
      m.status = -1;
    }
    return true;
  }
  if (key == "status") {
    int code = 0;
    if (!parse_code(value, 255, &code) || code == '\r' || code == '?') {
      return fail(err, "status must be a character code 0..255 other than 13 and 63");
    }
    m.status = code;
    return true;
  }
  if (key == "digits") {
    if (!parse_int(value, 10, 15, &m.digits)) return fail(err, "digits must be 0..15");
    return true;
  }
  if (key.size() > 1 && key[0] == 'p') {
    int n = 0;
    if (!parse_code(key.substr(1), 0xFFFF, &n))
      return fail(err, "bad parameter number in \"" + std::string(key) + "\"");
    if (!Signal::parse(value, &s, err)) return false;
    m.params[n] = s;
    return true;
  }
  return fail(err, "unknown module key \"" + std::string(key) + "\" (pv, ao, alarm, status, digits, pN)");
}

}  // namespace

bool apply_module_spec(ModuleSim& sim, std::string_view spec, std::string* err) {
  spec = trim(spec);
  const size_t colon = spec.find(':');
  int station = 0;
  if (!parse_station(spec.substr(0, colon), &station, err)) return false;
  std::string_view rest = colon == std::string_view::npos ? std::string_view{} : spec.substr(colon + 1);

  std::optional<ModuleConfig> existing = sim.module(station);
  Family family = existing ? existing->family : Family::PLNK;
  const size_t next = rest.find(':');
  const bool named_family = is_family(rest.substr(0, next), &family);
  if (named_family) rest = next == std::string_view::npos ? std::string_view{} : rest.substr(next + 1);
  ModuleConfig m = existing ? *existing : ModuleConfig::with_defaults(family);
  m.family = family;

  while (!rest.empty()) {
    const size_t comma = rest.find(',');
    const std::string_view item = rest.substr(0, comma);
    rest = comma == std::string_view::npos ? std::string_view{} : rest.substr(comma + 1);
    const size_t eq = item.find('=');
    if (eq == std::string_view::npos)
      return fail(err, "expected KEY=VALUE, not \"" + std::string(item) + "\"");
    if (!apply_key(m, item.substr(0, eq), item.substr(eq + 1), err)) return false;
  }
  sim.set_module(station, std::move(m));
  return true;
}

bool apply_fault_spec(ModuleSim& sim, std::string_view spec, std::string* err) {
  spec = trim(spec);
  const size_t colon = spec.find(':');
  int station = 0;
  if (colon == std::string_view::npos)
    return fail(err, "fault wants N:KIND, not \"" + std::string(spec) + "\"");
  if (!parse_station(spec.substr(0, colon), &station, err)) return false;
  Fault f;
  if (!parse_fault(spec.substr(colon + 1), &f, err)) return false;
  if (!sim.has_module(station)) return fail(err, "station " + std::to_string(station) + " is not configured");
  sim.add_fault(station, f);
  return true;
}

bool apply_command(ModuleSim& sim, LineTiming& timing, std::string_view line, std::string* err) {
  line = trim(line);
  if (line.empty() || line.front() == '#') return true;
  const size_t sp = line.find_first_of(" \t");
  std::string_view cmd = line.substr(0, sp);
  const std::string_view arg = sp == std::string_view::npos ? std::string_view{} : trim(line.substr(sp));
  if (cmd.starts_with("--")) cmd.remove_prefix(2);

  if (cmd == "module") return apply_module_spec(sim, arg, err);
  if (cmd == "fault") return apply_fault_spec(sim, arg, err);
  if (cmd == "test-line") {
    sim.load_test_line();
    return true;
  }
  if (cmd == "clear" || cmd == "remove") {
    int station = -1;
    if (!(cmd == "clear" && arg == "all") && !parse_station(arg, &station, err)) return false;
    if (cmd == "clear")
      sim.clear_faults(station);
    else
      sim.remove_module(station);
    return true;
  }
  if (cmd == "baud") {
    int baud = 0;
    if (!parse_int(arg, 10, 4000000, &baud)) return fail(err, "baud must be a number (0 turns timing off)");
    timing.baud = static_cast<uint32_t>(baud);
    return true;
  }
  if (cmd == "framing") return parse_framing(arg, &timing, err);
  return fail(err, "unknown command \"" + std::string(cmd) + "\"");
}

bool load_config_file(ModuleSim& sim, LineTiming& timing, const std::string& path, std::string* err) {
  std::ifstream in(path);
  if (!in) return fail(err, "cannot read " + path);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    std::string why;
    if (!apply_command(sim, timing, line, &why)) {
      return fail(err, path + ":" + std::to_string(number) + ": " + why);
    }
  }
  return true;
}

}  // namespace korvel::sim
