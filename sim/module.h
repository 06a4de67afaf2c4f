// The state of one simulated module: its family, values that may change over time, parameters.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace korvel::sim {

enum class Family : uint8_t { PLNE = 0, PLNK = 1 };

std::string_view family_name(Family f);

// A value as a function of the simulator's time (milliseconds since it started): a constant,
// a saw-tooth ramp, or a schedule of steps.
class Signal {
 public:
  Signal(double value = 0) : value_(value) {}  // NOLINT: a number is a constant signal

  // from → to over period_ms, then again from `from` (period 0 stays at `from`).
  static Signal ramp(double from, double to, uint64_t period_ms);

  // Each step (time, value) holds from its time on; before the first step the first value holds.
  // With loop the last step holds as long as the gap between the first two, then the schedule
  // starts over (steps in rising time order).
  static Signal schedule(std::vector<std::pair<uint64_t, double>> steps, bool loop);

  double at(uint64_t now_ms) const;

  // Parses "12.5", "ramp:FROM:TO:PERIOD_MS" or "sched:MS@V/MS@V/...[:loop]".
  // Returns false and says why in *err (may be null).
  static bool parse(std::string_view text, Signal* out, std::string* err);

 private:
  enum class Kind : uint8_t { Constant, Ramp, Schedule };
  Kind kind_ = Kind::Constant;
  double value_ = 0;
  double to_ = 0;
  uint64_t period_ = 0;
  bool loop_ = false;
  std::vector<std::pair<uint64_t, double>> steps_;
};

inline constexpr int kFirstParam = 16;  // parameters a module has from the start
inline constexpr int kLastParam = 79;

struct ModuleConfig {
  Family family = Family::PLNK;
  Signal pv;
  Signal ao;
  Signal alarm;                  // alarm bits 0..15; the status character is 0x40 + bits
  int status = -1;               // a fixed status character code instead (any byte but CR and '?'), -1: none
  int digits = -1;               // decimals of value texts; -1: the shortest text that reads back exactly
  std::map<int, Signal> params;  // every parameter the module answers; others are refused

  // A module with parameters 16..79 at 0.
  static ModuleConfig with_defaults(Family f);
};

// Value text as a module sends it: "." as decimal point, no exponent for ordinary values.
std::string format_value(double v, int digits);

// Status character of a module at a time.
char status_char(const ModuleConfig& m, uint64_t now_ms);

}  // namespace korvel::sim
