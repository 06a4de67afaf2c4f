#include <gtest/gtest.h>

#include <thread>

#include "sim/module_sim.h"

namespace korvel::sim {
namespace {

// Station 1 in the state of the worked answer: value 12.5, status character 'A'.
void worked_line(ModuleSim& sim) {
  ModuleConfig m = ModuleConfig::with_defaults(Family::PLNK);
  m.pv = 12.5;
  m.alarm = 1;
  m.ao = 4.5;
  m.params[10] = 7;
  sim.set_module(1, m);
}

TEST(ModuleSim, WorkedAnswerByteForByte) {
  ModuleSim sim;
  worked_line(sim);
  EXPECT_EQ(sim.exchange("#01HD\r", 0), "\x3D\x31\x32\x2E\x35\x41\x4A\x45\x0D");
}

TEST(ModuleSim, AnswersEachRequestKind) {
  ModuleSim sim;
  worked_line(sim);
  // "01!7A" sums to 250 = 0xFA.
  EXPECT_EQ(sim.exchange("$010AOF\r", 0), "!7AOJ\r");
  // "01=4.5A" sums to 374, 0x76.
  EXPECT_EQ(sim.exchange("#010001DE\r", 0), "=4.5AGF\r");
  // Parameters 16..79 exist from the start, at 0: "01!0A" sums to 243 = 0xF3.
  EXPECT_EQ(sim.exchange(request_frame("$0110"), 0), "!0AOC\r");
  // PLNE answers like PLNK.
  ModuleConfig plne = ModuleConfig::with_defaults(Family::PLNE);
  plne.pv = 12.5;
  plne.alarm = 1;
  sim.set_module(7, plne);
  EXPECT_EQ(sim.exchange("#07HJ\r", 0), answer_frame(7, "=12.5A"));
}

TEST(ModuleSim, RefusesWhatAModuleDoesNotHave) {
  ModuleSim sim;
  worked_line(sim);
  // "01?" sums to 160 = 0xA0.
  EXPECT_EQ(sim.exchange(request_frame("$0150"), 0), "?J@\r");    // parameter 0x50 = 80
  EXPECT_EQ(sim.exchange(request_frame("#010002"), 0), "?J@\r");  // unknown command
  EXPECT_EQ(sim.exchange(request_frame("$010F"), 0), "?J@\r");    // parameter 15
}

TEST(ModuleSim, StaysSilentForDamagedFramesAndUnconfiguredStations) {
  ModuleSim sim;
  worked_line(sim);
  EXPECT_EQ(sim.exchange("#01HE\r", 0), "");  // wrong check
  EXPECT_EQ(sim.exchange("#02HE\r", 0), "");  // station 2 is not configured
  EXPECT_EQ(sim.exchange("garbage\r", 0), "");
  const auto log = sim.log();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0].note, "bad check");
  EXPECT_EQ(log[1].station, 2);
  EXPECT_EQ(log[1].note, "pv, no such module");
  EXPECT_EQ(log[2].note, "malformed");
  // The line still works afterwards.
  EXPECT_EQ(sim.exchange("#01HD\r", 0), "=12.5AJE\r");
}

TEST(ModuleSim, PasswordWriteIsRecordedAndNotAnswered) {
  ModuleSim sim;
  worked_line(sim);
  // "%0110+07342" sums to 530 = 0x212.
  EXPECT_EQ(sim.exchange("%0110+07342AB\r", 0), "");
  EXPECT_EQ(sim.exchange(request_frame("%0110+00000"), 0), "");
  const ModuleRecord rec = sim.record(1);
  ASSERT_EQ(rec.writes.size(), 2u);
  EXPECT_EQ(rec.writes[0], "10+07342");
  EXPECT_EQ(rec.writes[1], "10+00000");
  EXPECT_EQ(rec.password_writes, 1);
  EXPECT_EQ(sim.log()[0].note, "write password");
}

TEST(ModuleSim, FramesSplitAcrossReadsAndSeveralInOneRead) {
  ModuleSim sim;
  worked_line(sim);
  EXPECT_EQ(sim.exchange("#0", 0), "");
  EXPECT_EQ(sim.exchange("1H", 0), "");
  EXPECT_EQ(sim.exchange("D\r#010001DE\r", 0), "=12.5AJE\r=4.5AGF\r");
  // Noise before a request (a line that just came up) does not hide it.
  EXPECT_EQ(sim.exchange("\x00\xFFzz#01HD\r", 0), "");  // the NUL ends the literal: nothing sent
  EXPECT_EQ(sim.exchange(std::string("\x00\xFFzz#01HD\r", 10), 0), "=12.5AJE\r");
}

TEST(ModuleSim, OverlongInputIsDroppedUpToItsCR) {
  ModuleSim sim;
  worked_line(sim);
  EXPECT_EQ(sim.exchange(std::string(600, '#') + "#01HD\r", 0), "");  // part of the noise
  EXPECT_EQ(sim.exchange("#01HD\r", 0), "=12.5AJE\r");
  sim.exchange(std::string(600, 'x'), 0);
  sim.reset_input();
  EXPECT_EQ(sim.exchange("#01HD\r", 0), "=12.5AJE\r");
}

TEST(ModuleSim, ValuesFollowTheSimulatorTime) {
  ModuleSim sim;
  worked_line(sim);
  sim.set_pv(1, Signal::ramp(0, 100, 1000));
  EXPECT_EQ(sim.exchange("#01HD\r", 0), answer_frame(1, "=0A"));
  EXPECT_EQ(sim.exchange("#01HD\r", 250), answer_frame(1, "=25A"));
  EXPECT_EQ(sim.exchange("#01HD\r", 1500), answer_frame(1, "=50A"));
  sim.set_pv(1, Signal::schedule({{0, 1}, {1000, 2}}, true));
  EXPECT_EQ(sim.exchange("#01HD\r", 999), answer_frame(1, "=1A"));
  EXPECT_EQ(sim.exchange("#01HD\r", 1000), answer_frame(1, "=2A"));
  EXPECT_EQ(sim.exchange("#01HD\r", 2000), answer_frame(1, "=1A"));
  EXPECT_TRUE(sim.set_alarm(1, 15));
  EXPECT_EQ(sim.exchange("#01HD\r", 2000), answer_frame(1, "=1O"));
  EXPECT_FALSE(sim.set_alarm(2, 1));
}

TEST(ModuleSim, StatusCharacterAndDigits) {
  ModuleSim sim;
  worked_line(sim);
  ModuleConfig m = *sim.module(1);
  m.status = 0xC1;  // bit 7: channel 8 of the alarm word
  m.digits = 2;
  m.pv = -0.001;
  sim.set_module(1, m);
  EXPECT_EQ(sim.exchange("#01HD\r", 0), answer_frame(1, "=0.00\xC1"));
  EXPECT_EQ(format_value(1234.5678, -1), "1234.5678");
  EXPECT_EQ(format_value(1e20, -1), "100000000000000000000");
  EXPECT_EQ(format_value(-3.75, 1), "-3.8");
}

// --- faults: each kind against the worked answer "=12.5AJE\r" ---

std::vector<Reply> faulted(const char* what, Fault f) {
  SCOPED_TRACE(what);
  ModuleSim sim;
  worked_line(sim);
  sim.add_fault(1, f);
  return sim.feed("#01HD\r", 0);
}

TEST(ModuleSimFaults, EachKindShapesTheAnswer) {
  EXPECT_TRUE(faulted("silent", {FaultKind::Silent}).empty());

  auto r = faulted("delay", {FaultKind::Delay, 300});
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].delay_ms, 300u);
  EXPECT_EQ(r[0].bytes, "=12.5AJE\r");

  r = faulted("garbage before", {FaultKind::GarbageBefore});
  EXPECT_EQ(r.at(0).bytes, "~z*=12.5AJE\r");
  r = faulted("garbage after", {FaultKind::GarbageAfter, 4});
  EXPECT_EQ(r.at(0).bytes, "=12.5AJE\r~z*~");
  r = faulted("bad check", {FaultKind::BadCheck});
  EXPECT_EQ(r.at(0).bytes, "=12.5AJF\r");
  r = faulted("cut", {FaultKind::Cut});
  EXPECT_EQ(r.at(0).bytes, "=12.5AJE");
  r = faulted("cut short", {FaultKind::Cut, 3});
  EXPECT_EQ(r.at(0).bytes, "=12");
  // "05=12.5A" sums to 425, 0xA9.
  r = faulted("wrong station", {FaultKind::WrongStation, 5});
  EXPECT_EQ(r.at(0).bytes, "=12.5AJI\r");
  r = faulted("wrong station default", {FaultKind::WrongStation});
  EXPECT_EQ(r.at(0).bytes, answer_frame(2, "=12.5A"));
  r = faulted("refuse", {FaultKind::Refuse});
  EXPECT_EQ(r.at(0).bytes, "?J@\r");

  r = faulted("dribble", {FaultKind::Dribble, 15});
  EXPECT_EQ(r.at(0).bytes, "=12.5AJE\r");
  EXPECT_EQ(r.at(0).gap_ms, 15u);
  // Over-long: the frame runs on past its check characters and never ends.
  r = faulted("over-long", {FaultKind::OverLong, 20});
  EXPECT_EQ(r.at(0).bytes, "=12.5AJE012345678901");
  r = faulted("double", {FaultKind::Double});
  EXPECT_EQ(r.at(0).bytes, "=12.5AJE\r=12.5AJE\r");
  r = faulted("stray", {FaultKind::Stray, 2});
  EXPECT_EQ(r.at(0).bytes, "=12.5AJE\r");
  EXPECT_EQ(r.at(0).after, "~z");
  EXPECT_EQ(r.at(0).after_ms, kStrayGapMs);
  // Noise with its CR comes in the answer's place, the answer lead ms behind it.
  sim::ModuleSim late;
  worked_line(late);
  late.add_fault(1, {FaultKind::Delay, 40});
  late.add_fault(1, {FaultKind::NoiseCr, 5});
  r = late.feed("#01HD\r", 0);
  EXPECT_EQ(r.at(0).bytes, "~z\r");
  EXPECT_EQ(r.at(0).delay_ms, 35u);
  EXPECT_EQ(r.at(0).after, "=12.5AJE\r");
  EXPECT_EQ(r.at(0).after_ms, 5u);
  r = faulted("repeat", {FaultKind::Repeat, 30});
  EXPECT_EQ(r.at(0).bytes, "=12.5AJE\r");
  EXPECT_EQ(r.at(0).after, "=12.5AJE\r");
  EXPECT_EQ(r.at(0).after_ms, 30u);

  r = faulted("vanish", {FaultKind::Vanish, 250});
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].vanish_ms, 250u);
  EXPECT_TRUE(r[0].bytes.empty());
}

TEST(ModuleSim, WriteLimitKeepsTheLatestPayloadsAndWholeCounts) {
  ModuleSim sim;
  worked_line(sim);
  sim.set_write_limit(2);
  for (const char* w : {"%0110+07342", "%0111+00001", "%0110+07342"}) sim.exchange(request_frame(w), 0);
  const ModuleRecord r = sim.record(1);
  EXPECT_EQ(r.writes, (std::vector<std::string>{"11+00001", "10+07342"}));
  EXPECT_EQ(r.password_writes, 2);
  EXPECT_EQ(r.requests, 3);
}

TEST(ModuleSimFaults, CountedFaultsWearOffAndOthersStay) {
  ModuleSim sim;
  worked_line(sim);
  sim.set_module(2, *sim.module(1));
  sim.add_fault(1, {FaultKind::Silent, -1, 2});
  sim.add_fault(2, {FaultKind::Refuse});
  EXPECT_EQ(sim.exchange("#01HD\r", 0), "");
  EXPECT_EQ(sim.exchange("#01HD\r", 0), "");
  EXPECT_EQ(sim.exchange("#01HD\r", 0), "=12.5AJE\r");
  EXPECT_TRUE(sim.faults(1).empty());
  // Faults are per station.
  EXPECT_EQ(sim.exchange("#02HE\r", 0), answer_frame(2, "?"));
  sim.clear_faults(-1);
  EXPECT_EQ(sim.exchange("#02HE\r", 0), answer_frame(2, "=12.5A"));
}

TEST(ModuleSimFaults, FaultsCombine) {
  ModuleSim sim;
  worked_line(sim);
  sim.add_fault(1, {FaultKind::GarbageBefore, 2});
  sim.add_fault(1, {FaultKind::BadCheck});
  sim.add_fault(1, {FaultKind::Delay, 10});
  const auto r = sim.feed("#01HD\r", 0);
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].bytes, "~z=12.5AJF\r");
  EXPECT_EQ(r[0].delay_ms, 10u);
  EXPECT_EQ(r[0].note, "garbage-before=2 badcheck delay=10");
}

TEST(ModuleSimFaults, TestLineStationsBehaveAsTheTableSays) {
  ModuleSim sim;
  sim.load_test_line();
  using namespace test_line;
  auto ask = [&](int station) {
    const std::string text =
        std::string("#") + static_cast<char>('0' + station / 10) + static_cast<char>('0' + station % 10);
    return sim.feed(request_frame(text), 0);
  };
  EXPECT_EQ(ask(kGood).at(0).bytes, "=12.5AJE\r");
  EXPECT_EQ(ask(kGoodPlne).at(0).bytes, answer_frame(kGoodPlne, "=-3.75J"));
  EXPECT_EQ(ask(kDelayed).at(0).delay_ms, static_cast<uint32_t>(kDelayMs));
  EXPECT_TRUE(ask(kSilent).empty());
  EXPECT_EQ(ask(kBadCheck).at(0).bytes.size(), answer_frame(kBadCheck, "=91@").size());
  EXPECT_NE(ask(kBadCheck).at(0).bytes, answer_frame(kBadCheck, "=91@"));
  EXPECT_EQ(ask(kGarbageBefore).at(0).bytes, "~z*" + answer_frame(kGarbageBefore, "=92@"));
  EXPECT_EQ(ask(kGarbageAfter).at(0).bytes, answer_frame(kGarbageAfter, "=93@") + "~z*");
  EXPECT_EQ(ask(kCut).at(0).bytes, answer_body(kCut, "=94@"));
  EXPECT_EQ(ask(kWrongStation).at(0).bytes, answer_frame(96, "=95@"));
  EXPECT_EQ(ask(kRefuse).at(0).bytes, answer_frame(kRefuse, "?"));
  EXPECT_EQ(ask(kVanish).at(0).vanish_ms, static_cast<uint32_t>(kVanishMs));
  EXPECT_TRUE(ask(kUnconfigured).empty());
  // Parameter 0x1A of a test station holds 26.
  EXPECT_EQ(sim.exchange(request_frame("$011A"), 0), answer_frame(1, "!26A"));
}

// --- the wire log ---

TEST(ModuleSimLog, RecordsExactBytesBothWays) {
  ModuleSim sim;
  worked_line(sim);
  sim.add_fault(1, {FaultKind::BadCheck, -1, 1});
  sim.exchange("#01HD\r", 5);
  sim.exchange("$010AOF\r", 6);
  const auto log = sim.log();
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[0].dir, WireEvent::Dir::Received);
  EXPECT_EQ(log[0].bytes, "#01HD\r");
  EXPECT_EQ(log[0].note, "pv");
  EXPECT_EQ(log[0].at_ms, 5u);
  EXPECT_EQ(log[1].dir, WireEvent::Dir::Sent);
  EXPECT_EQ(log[1].bytes, "=12.5AJF\r");
  EXPECT_EQ(log[1].note, "badcheck,times=1");
  EXPECT_EQ(log[2].note, "parm 10");
  EXPECT_EQ(log[3].bytes, "!7AOJ\r");
  EXPECT_EQ(log[3].station, 1);
  sim.clear_log();
  EXPECT_EQ(sim.log_size(), 0u);
}

TEST(ModuleSimLog, LimitKeepsTheNewestEntries) {
  ModuleSim sim;
  worked_line(sim);
  sim.set_log_limit(10);
  for (int i = 0; i < 20; ++i) sim.exchange("#01HD\r", static_cast<uint64_t>(i));
  const auto log = sim.log();
  EXPECT_LE(log.size(), 10u);
  EXPECT_EQ(log.back().at_ms, 19u);
  EXPECT_EQ(log.back().dir, WireEvent::Dir::Sent);
}

TEST(ModuleSimLog, WaitLogReturnsWhenAnotherThreadFeeds) {
  ModuleSim sim;
  worked_line(sim);
  EXPECT_FALSE(sim.wait_log(1, 0));
  std::thread feeder([&] {
    for (int i = 0; i < 200; ++i) {
      sim.exchange("#01HD\r", 0);
      sim.set_pv(1, i);  // reconfigure while serving
    }
  });
  EXPECT_TRUE(sim.wait_log(400, 10000));
  feeder.join();
  EXPECT_EQ(sim.log_size(), 400u);
}

}  // namespace
}  // namespace korvel::sim
