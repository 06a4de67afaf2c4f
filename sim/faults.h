// Faults the simulated modules can show on demand, and the fixed test line that tests and the
// simulator program share (the same station numbers mean the same behaviour everywhere).
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace korvel::sim {

enum class FaultKind : uint8_t {
  Silent,         // no answer at all
  Delay,          // answer after param ms (default 500)
  GarbageBefore,  // param noise bytes (default 3) before the frame
  GarbageAfter,   // param noise bytes (default 3) after the CR
  BadCheck,       // the second check character is wrong
  Cut,            // frame cut before its CR: param bytes kept (default: all but the CR)
  WrongStation,   // check characters computed for station param (default: the next station)
  Refuse,         // the "?" refusal instead of the answer
  Vanish,         // the line disappears for param ms (default 1000) instead of an answer
};

// One fault of one module. param -1 takes the kind's default; times 0 applies the fault to every
// request of that module, otherwise to that many requests, after which it is dropped.
struct Fault {
  FaultKind kind = FaultKind::Silent;
  int32_t param = -1;
  uint32_t times = 0;
};

// Name used on the command line and in configuration files ("silent", "delay", ...).
std::string_view fault_name(FaultKind kind);

// Parses "KIND[=PARAM][,times=N]", for example "delay=300" or "silent,times=2".
// Returns false and says why in *err (may be null).
bool parse_fault(std::string_view text, Fault* out, std::string* err);

// Text form of a fault, the inverse of parse_fault.
std::string fault_text(const Fault& f);

// Noise used by the garbage faults: printable, never CR, never '?'.
std::string garbage(size_t n);

// The test line: stations and their behaviour, loaded by ModuleSim::load_test_line() and by
// "korvel-sim --test-line". Good stations answer; every fault station shows one fault always.
namespace test_line {

inline constexpr int kGood = 1;      // PLNK, pv 12.5, alarm bits 1 (status 'A'), ao 4.5
inline constexpr int kGoodPlne = 2;  // PLNE, pv -3.75, alarm bits 10 (status 'J'), ao 0
inline constexpr int kDelayed = 3;   // answers after kDelayMs
inline constexpr int kSilent = 90;
inline constexpr int kBadCheck = 91;
inline constexpr int kGarbageBefore = 92;
inline constexpr int kGarbageAfter = 93;
inline constexpr int kCut = 94;
inline constexpr int kWrongStation = 95;  // checks computed for station 96
inline constexpr int kRefuse = 96;
inline constexpr int kVanish = 97;        // the line vanishes for kVanishMs
inline constexpr int kUnconfigured = 99;  // never configured: silent

inline constexpr int kDelayMs = 300;
inline constexpr int kVanishMs = 500;

// Parameters 0..255 of every test station hold their own number (parameter 0x1A holds 26);
// higher ones are refused.
struct Station {
  int station;
  bool plnk;
  double pv;
  int alarm;
  double ao;
  bool faulty;
  Fault fault;
};

inline constexpr Station kStations[] = {
    {kGood, true, 12.5, 1, 4.5, false, {}},
    {kGoodPlne, false, -3.75, 10, 0, false, {}},
    {kDelayed, true, 3.5, 0, 0, true, {FaultKind::Delay, kDelayMs, 0}},
    {kSilent, true, 90, 0, 0, true, {FaultKind::Silent, -1, 0}},
    {kBadCheck, true, 91, 0, 0, true, {FaultKind::BadCheck, -1, 0}},
    {kGarbageBefore, true, 92, 0, 0, true, {FaultKind::GarbageBefore, 3, 0}},
    {kGarbageAfter, true, 93, 0, 0, true, {FaultKind::GarbageAfter, 3, 0}},
    {kCut, true, 94, 0, 0, true, {FaultKind::Cut, -1, 0}},
    {kWrongStation, true, 95, 0, 0, true, {FaultKind::WrongStation, 96, 0}},
    {kRefuse, true, 96, 0, 0, true, {FaultKind::Refuse, -1, 0}},
    {kVanish, true, 97, 0, 0, true, {FaultKind::Vanish, kVanishMs, 0}},
};

}  // namespace test_line
}  // namespace korvel::sim
