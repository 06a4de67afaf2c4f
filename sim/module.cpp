#include "sim/module.h"

#include <charconv>
#include <cmath>

namespace korvel::sim {
namespace {

bool parse_double(std::string_view t, double* out) {
  if (t.empty()) return false;
  if (t.front() == '+') t.remove_prefix(1);
  double v = 0;
  const auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
  if (ec != std::errc() || p != t.data() + t.size() || !std::isfinite(v)) return false;
  *out = v;
  return true;
}

bool parse_u64(std::string_view t, uint64_t* out) {
  uint64_t v = 0;
  const auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
  if (t.empty() || ec != std::errc() || p != t.data() + t.size()) return false;
  *out = v;
  return true;
}

// Splits at sep; an empty text gives one empty piece.
std::vector<std::string_view> split(std::string_view t, char sep) {
  std::vector<std::string_view> out;
  for (;;) {
    const size_t at = t.find(sep);
    out.push_back(t.substr(0, at));
    if (at == std::string_view::npos) return out;
    t.remove_prefix(at + 1);
  }
}

bool fail(std::string* err, std::string what) {
  if (err) *err = std::move(what);
  return false;
}

}  // namespace

std::string_view family_name(Family f) {
  return f == Family::PLNE ? "PLNE" : "PLNK";
}

Signal Signal::ramp(double from, double to, uint64_t period_ms) {
  Signal s(from);
  s.kind_ = Kind::Ramp;
  s.to_ = to;
  s.period_ = period_ms;
  return s;
}

Signal Signal::schedule(std::vector<std::pair<uint64_t, double>> steps, bool loop) {
  Signal s(steps.empty() ? 0.0 : steps.front().second);
  if (steps.empty()) return s;
  s.kind_ = Kind::Schedule;
  s.steps_ = std::move(steps);
  s.loop_ = loop;
  // One period runs from the first step to the last one and on for as long again as the first
  // step waited, so "0@a/1000@b:loop" alternates every second.
  s.period_ = s.steps_.back().first + (s.steps_.size() > 1 ? s.steps_[1].first - s.steps_[0].first : 1);
  return s;
}

double Signal::at(uint64_t now_ms) const {
  switch (kind_) {
    case Kind::Constant:
      return value_;
    case Kind::Ramp: {
      if (period_ == 0) return value_;
      const double phase = static_cast<double>(now_ms % period_) / static_cast<double>(period_);
      return value_ + (to_ - value_) * phase;
    }
    case Kind::Schedule: {
      const uint64_t t = loop_ && period_ > 0 ? now_ms % period_ : now_ms;
      double v = steps_.front().second;
      for (const auto& [when, value] : steps_) {
        if (when > t) break;
        v = value;
      }
      return v;
    }
  }
  return value_;
}

bool Signal::parse(std::string_view text, Signal* out, std::string* err) {
  if (text.starts_with("ramp:")) {
    const auto parts = split(text.substr(5), ':');
    double from = 0, to = 0;
    uint64_t period = 0;
    if (parts.size() != 3 || !parse_double(parts[0], &from) || !parse_double(parts[1], &to) ||
        !parse_u64(parts[2], &period) || period == 0) {
      return fail(err, "ramp wants ramp:FROM:TO:PERIOD_MS, not \"" + std::string(text) + "\"");
    }
    *out = ramp(from, to, period);
    return true;
  }
  if (text.starts_with("sched:")) {
    std::string_view body = text.substr(6);
    bool loop = false;
    if (body.ends_with(":loop")) {
      loop = true;
      body.remove_suffix(5);
    }
    std::vector<std::pair<uint64_t, double>> steps;
    for (std::string_view step : split(body, '/')) {
      const size_t at = step.find('@');
      uint64_t when = 0;
      double v = 0;
      if (at == std::string_view::npos || !parse_u64(step.substr(0, at), &when) ||
          !parse_double(step.substr(at + 1), &v) || (!steps.empty() && when <= steps.back().first)) {
        return fail(err, "schedule wants sched:MS@VALUE/MS@VALUE/...[:loop] with rising times, not \"" +
                             std::string(text) + "\"");
      }
      steps.emplace_back(when, v);
    }
    *out = schedule(std::move(steps), loop);
    return true;
  }
  double v = 0;
  if (!parse_double(text, &v)) return fail(err, "not a number: \"" + std::string(text) + "\"");
  *out = Signal(v);
  return true;
}

ModuleConfig ModuleConfig::with_defaults(Family f) {
  ModuleConfig m;
  m.family = f;
  for (int n = kFirstParam; n <= kLastParam; ++n) m.params[n] = Signal(0);
  return m;
}

std::string format_value(double v, int digits) {
  if (!std::isfinite(v)) v = 0;
  char buf[400];
  std::to_chars_result r{};
  if (digits >= 0) {
    r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, digits > 15 ? 15 : digits);
  } else {
    r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
  }
  if (r.ec != std::errc()) return "0";
  std::string out(buf, r.ptr);
  // "-0" or "-0.00" would read back as zero anyway; send it the way a module shows zero.
  if (out.front() == '-' && out.find_first_of("123456789") == std::string::npos) out.erase(0, 1);
  return out;
}

char status_char(const ModuleConfig& m, uint64_t now_ms) {
  if (m.status >= 0) return static_cast<char>(m.status & 0xFF);
  long bits = std::lround(m.alarm.at(now_ms));
  if (bits < 0) bits = 0;
  if (bits > 15) bits = 15;
  return static_cast<char>(0x40 + bits);
}

}  // namespace korvel::sim
