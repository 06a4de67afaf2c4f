#include "sim/faults.h"

#include <charconv>

namespace korvel::sim {
namespace {

struct Named {
  FaultKind kind;
  std::string_view name;
};

constexpr Named kNames[] = {
    {FaultKind::Silent, "silent"},
    {FaultKind::Delay, "delay"},
    {FaultKind::GarbageBefore, "garbage-before"},
    {FaultKind::GarbageAfter, "garbage-after"},
    {FaultKind::BadCheck, "badcheck"},
    {FaultKind::Cut, "cut"},
    {FaultKind::WrongStation, "wrong-station"},
    {FaultKind::Refuse, "refuse"},
    {FaultKind::Vanish, "vanish"},
    {FaultKind::Dribble, "dribble"},
    {FaultKind::OverLong, "over-long"},
    {FaultKind::Double, "double"},
    {FaultKind::Stray, "stray"},
    {FaultKind::NoiseCr, "noise-cr"},
    {FaultKind::Repeat, "repeat"},
    {FaultKind::NoDrain, "no-drain"},
};

bool parse_number(std::string_view t, int64_t max, int64_t* out) {
  int64_t v = 0;
  const auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
  if (t.empty() || ec != std::errc() || p != t.data() + t.size() || v < 0 || v > max) return false;
  *out = v;
  return true;
}

bool fail(std::string* err, std::string what) {
  if (err) *err = std::move(what);
  return false;
}

}  // namespace

std::string_view fault_name(FaultKind kind) {
  for (const Named& n : kNames) {
    if (n.kind == kind) return n.name;
  }
  return "?";
}

bool parse_fault(std::string_view text, Fault* out, std::string* err) {
  Fault f;
  const size_t comma = text.find(',');
  if (comma != std::string_view::npos) {
    const std::string_view opt = text.substr(comma + 1);
    int64_t times = 0;
    if (!opt.starts_with("times=") || !parse_number(opt.substr(6), 1000000, &times) || times == 0) {
      return fail(err, "fault option must be times=N (N >= 1), not \"" + std::string(opt) + "\"");
    }
    f.times = static_cast<uint32_t>(times);
    text = text.substr(0, comma);
  }
  const size_t eq = text.find('=');
  const std::string_view name = text.substr(0, eq);
  bool known = false;
  for (const Named& n : kNames) {
    if (n.name == name) {
      f.kind = n.kind;
      known = true;
    }
  }
  if (!known) {
    return fail(err, "unknown fault \"" + std::string(name) +
                         "\" (silent, delay, garbage-before, garbage-after, badcheck, cut, wrong-station, "
                         "refuse, vanish, dribble, over-long, double, stray, noise-cr, repeat, no-drain)");
  }
  if (eq != std::string_view::npos) {
    const bool takes = f.kind == FaultKind::Delay || f.kind == FaultKind::GarbageBefore ||
                       f.kind == FaultKind::GarbageAfter || f.kind == FaultKind::Cut ||
                       f.kind == FaultKind::WrongStation || f.kind == FaultKind::Vanish ||
                       f.kind == FaultKind::Dribble || f.kind == FaultKind::OverLong ||
                       f.kind == FaultKind::Stray || f.kind == FaultKind::NoiseCr ||
                       f.kind == FaultKind::Repeat || f.kind == FaultKind::NoDrain;
    const int64_t max = f.kind == FaultKind::WrongStation ? 99 : 600000;
    int64_t v = 0;
    if (!takes || !parse_number(text.substr(eq + 1), max, &v)) {
      return fail(err, "bad value in fault \"" + std::string(text) + "\"");
    }
    f.param = static_cast<int32_t>(v);
  }
  *out = f;
  return true;
}

std::string fault_text(const Fault& f) {
  std::string out(fault_name(f.kind));
  if (f.param >= 0) out += "=" + std::to_string(f.param);
  if (f.times > 0) out += ",times=" + std::to_string(f.times);
  return out;
}

std::string garbage(size_t n) {
  static constexpr std::string_view kNoise = "~z*";
  std::string out;
  out.reserve(n);
  for (size_t i = 0; i < n; ++i) out += kNoise[i % kNoise.size()];
  return out;
}

}  // namespace korvel::sim
