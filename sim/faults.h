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
  Dribble,        // the answer one byte at a time, param ms (default 20) between bytes
  OverLong,       // param bytes (default 600) of answer text that never reach a CR
  Double,         // the answer twice, back to back in one write
  Stray,          // the answer, then param noise bytes (default 3) alone kStrayGapMs later
  // Noise ending in CR ("~~" CR) param ms (default 5) before the answer: a frame that fails its
  // check arrives first, the real answer right behind it. Does not combine with Stray or Repeat.
  NoiseCr,
  // The answer, and the same answer again on its own param ms (default 20) later: a module that
  // answers one request twice. Does not combine with Stray or NoiseCr.
  Repeat,
  // Instead of an answer the line takes nothing for param ms (default 1000): the master's output
  // is held as by flow control, so its sends find no room.
  NoDrain,
};

// How long after its answer a module with the stray fault sends its noise: long enough that the
// master has taken the answer and sent its next request, so the noise lands in another exchange.
inline constexpr uint32_t kStrayGapMs = 20;

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
// Neighbours whose check characters collide with stations 1 and 12: the check characters are a
// byte sum over the address digits, so "01" and "10" (and "12" and "21") give the same ones.
inline constexpr int kTwinOfGood = 10;  // PLNK, pv 10.25, ao 1.5
inline constexpr int kPairA = 12;       // PLNK, pv 120.5, alarm bits 2 (status 'B'), ao 2.5
inline constexpr int kPairB = 21;       // PLNK, pv -21.5, alarm bits 4 (status 'D'), ao 3.5
inline constexpr int kDribble = 80;     // answers one byte every kDribbleMs
inline constexpr int kOverLong = 81;    // kOverLongBytes of answer text without a CR
inline constexpr int kDouble = 82;      // the answer twice in one write
inline constexpr int kStray = 83;       // noise after each answer, landing in the next exchange
inline constexpr int kLate = 84;        // answers after kLateMs: later than kCampaignTimeOutMs
inline constexpr int kNoiseCr = 85;     // noise ending in CR kNoiseLeadMs before each answer
inline constexpr int kRepeat = 86;      // each answer again kRepeatGapMs after the first
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
// Longer than the campaign's time-out and the rest after it, so that the master's next sends meet it.
inline constexpr int kNoDrainMs = 1000;
inline constexpr int kDribbleMs = 10;
inline constexpr int kOverLongBytes = 600;
// The time-out the fault campaign gives the master; kLateMs is past it, but within twice it.
inline constexpr int kCampaignTimeOutMs = 200;
inline constexpr int kLateMs = 300;
inline constexpr int kNoiseLeadMs = 5;
inline constexpr int kRepeatGapMs = 20;

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
    {kTwinOfGood, true, 10.25, 0, 1.5, false, {}},
    {kPairA, true, 120.5, 2, 2.5, false, {}},
    {kPairB, true, -21.5, 4, 3.5, false, {}},
    {kDribble, true, 80, 0, 0, true, {FaultKind::Dribble, kDribbleMs, 0}},
    {kOverLong, true, 81, 0, 0, true, {FaultKind::OverLong, kOverLongBytes, 0}},
    {kDouble, true, 82, 0, 0, true, {FaultKind::Double, -1, 0}},
    {kStray, true, 83, 0, 0, true, {FaultKind::Stray, 3, 0}},
    {kLate, true, 84, 0, 0, true, {FaultKind::Delay, kLateMs, 0}},
    {kNoiseCr, true, 85, 0, 0, true, {FaultKind::NoiseCr, kNoiseLeadMs, 0}},
    {kRepeat, true, 86, 0, 0, true, {FaultKind::Repeat, kRepeatGapMs, 0}},
};

// The fault campaign: each scenario puts its fault on one station of a colliding pair while the
// other keeps answering. The soak draws its injected faults from the same table.
struct Scenario {
  std::string_view name;
  Fault fault;
};

inline constexpr Scenario kScenarios[] = {
    {"silent", {FaultKind::Silent, -1, 0}},
    {"late", {FaultKind::Delay, kLateMs, 0}},
    {"cut", {FaultKind::Cut, -1, 0}},
    {"stray", {FaultKind::Stray, 3, 0}},
    {"badcheck", {FaultKind::BadCheck, -1, 0}},
    {"refuse", {FaultKind::Refuse, -1, 0}},
    {"wrong-station", {FaultKind::WrongStation, -1, 0}},
    {"dribble", {FaultKind::Dribble, kDribbleMs, 0}},
    {"over-long", {FaultKind::OverLong, kOverLongBytes, 0}},
    {"double", {FaultKind::Double, -1, 0}},
    {"vanish", {FaultKind::Vanish, kVanishMs, 0}},
    {"noise-cr", {FaultKind::NoiseCr, kNoiseLeadMs, 0}},
    {"repeat", {FaultKind::Repeat, kRepeatGapMs, 0}},
    {"no-drain", {FaultKind::NoDrain, kNoDrainMs, 0}},
};

}  // namespace test_line
}  // namespace korvel::sim
