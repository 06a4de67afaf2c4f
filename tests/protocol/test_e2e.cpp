// End to end: the library driven through its exports as a host drives it, against the module
// simulator on a pseudo-terminal (the host is in e2e_host.h).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "driver/PDB.h"
#include "driver/getfileinfo.h"
#include "driver/records.h"
#include "exports/DLLMain.h"
#include "exports/KorvelPLNK.h"
#include "framework/DLLBase.h"
#include "platform/clock.h"
#include "platform/text.h"
#include "protocol/DLLObj.h"
#include "protocol/DLLRealize.h"
#include "protocol/Frames.h"
#include "sim/sim_line.h"
#include "tests/protocol/e2e_host.h"

namespace korvel {
namespace {

namespace tl = sim::test_line;

using e2e::DevLinkText;
using e2e::EndsWith;
using e2e::Host;

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(line_.ok()) << line_.error(); }
  sim::SimLine line_{1, true};
};

TEST_F(EndToEnd, WorkedFramesOnTheWireByteForByte) {
  sim::ModuleConfig seven = sim::ModuleConfig::with_defaults(sim::Family::PLNK);
  seven.pv = sim::Signal(7);
  line_.sim().set_module(7, seven);
  Host h(line_);
  h.Module(tl::kGood);
  h.Module(7);
  h.Tag("PV1:1", 0);
  h.Tag("PV7:1", 0);
  h.Tag("AO1:1", 0);
  h.Tag("PARM1:1A", 0);
  std::string msg;
  ASSERT_TRUE(h.Init(&msg)) << msg;
  EXPECT_EQ(msg, "Com1" + GBK("打开成功"));
  const size_t from = line_.sim().log_size();
  ASSERT_TRUE(h.PollUntil([&] { return h.Requests(from).size() >= 4; }));
  const auto req = h.Requests(from);
  EXPECT_EQ(req[0], std::string("\x23\x30\x31\x48\x44\x0D"));
  EXPECT_EQ(req[1], std::string("\x23\x30\x37\x48\x4A\x0D"));
  EXPECT_EQ(req[2], std::string("\x23\x30\x31\x30\x30\x30\x31\x44\x45\x0D"));
  EXPECT_EQ(req[3], proto::CheckCRC("$011A") + "\r");
}

TEST_F(EndToEnd, WorkedAnswerIntoValueAlarmSwitchAndAnalogTags) {
  Host h(line_);
  h.Module(tl::kGood);
  const int32_t pv = h.Tag("PV1:1", 0);
  const int32_t sw1 = h.Tag("PV_ALARM1:1", 1);
  const int32_t sw2 = h.Tag("PV_ALARM1:2", 1);
  const int32_t an = h.Tag("PV_ALARM1:1", 0);
  const int32_t p1 = h.Tag("PARM1:10", 0);
  const int32_t p2 = h.Tag("PARM1:11", 0);
  ASSERT_TRUE(h.Init());
  const size_t from = line_.sim().log_size();
  ASSERT_TRUE(h.PollUntil([&] {
    return h.Last(pv).number == 12.5 && h.Last(an).number == 65 && h.Last(p1).number == 16 &&
           h.Last(p2).number == 17 && h.Last(sw1).flag;
  }));
  EXPECT_EQ(h.Last(pv).number, 12.5);
  EXPECT_TRUE(h.Last(sw1).flag);
  EXPECT_FALSE(h.Last(sw2).flag);
  EXPECT_EQ(h.Last(an).number, 65);
  EXPECT_EQ(h.Last(p1).number, 16);  // every test parameter holds its own number
  EXPECT_EQ(h.Last(p2).number, 17);
  for (const int32_t id : {pv, sw1, an, p1, p2}) EXPECT_EQ(h.Last(id).status, 0u) << id;
  // Grouping: the value and alarm tags share one "#" frame; each parameter has its own.
  h.Polls(30);
  std::map<std::string, int> frames;
  for (const std::string& r : h.Requests(from)) ++frames[r];
  EXPECT_EQ(frames.size(), 3u);
  EXPECT_GT(frames["#01HD\r"], 0);
  EXPECT_GT(frames[proto::CheckCRC("$0110") + "\r"], 0);
  EXPECT_GT(frames[proto::CheckCRC("$0111") + "\r"], 0);
}

struct FaultCase {
  int station;
  uint32_t code;
};

class FaultyModule : public EndToEnd, public ::testing::WithParamInterface<FaultCase> {};

// A faulty module's tags get the failure code (the late bit from the third failure on) while the
// good modules on the same line keep being polled with their values intact.
TEST_P(FaultyModule, StatusWordsAndTheOtherModulesKeepTheirValues) {
  const FaultCase fc = GetParam();
  Host h(line_);
  h.Module(tl::kGood);
  h.Module(tl::kGoodPlne, 0);
  h.Module(fc.station);
  const int32_t good = h.Tag("PV1:1", 0);
  const int32_t plne = h.Tag("PV2:1", 0);
  const int32_t bad = h.Tag("PV" + std::to_string(fc.station) + ":1", 0);
  ASSERT_TRUE(h.Init());
  // A request that failed for lack of an answer costs three time-out periods (the line rests before
  // the next one), so three failures may take a good many polls on a loaded machine.
  ASSERT_TRUE(h.PollUntil([&] { return (h.Last(bad).status & 0x01F00000u) != 0; }, 10000));
  EXPECT_EQ(h.Last(bad).status & 0x01F00000u, fc.code);
  const double firstTime = h.Last(bad).time;
  ASSERT_TRUE(h.PollUntil([&] { return (h.Last(bad).status & kStatusLateFailure) != 0; }, 10000));
  EXPECT_EQ(h.Last(bad).status & 0x01F00000u, fc.code | kStatusLateFailure);
  EXPECT_GE(h.Last(bad).time, firstTime);
  // The others answered all along.
  const size_t from = line_.sim().log_size();
  EXPECT_TRUE(h.PollUntil(
      [&] {
        int both = 0;
        for (const std::string& r : h.Requests(from))
          both |= (r == "#01HD\r" ? 1 : 0) | (r == "#02HE\r" ? 2 : 0);
        return both == 3;
      },
      10000));
  h.Polls(5);
  EXPECT_EQ(h.Last(good).number, 12.5);
  EXPECT_EQ(h.Last(good).status, 0u);
  EXPECT_EQ(h.Last(plne).number, -3.75);
  EXPECT_EQ(h.Last(plne).status, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Line, FaultyModule,
    ::testing::Values(FaultCase{tl::kSilent, kStatusNoAnswer}, FaultCase{tl::kCut, kStatusIncomplete},
                      FaultCase{tl::kBadCheck, kStatusBadCheck},
                      FaultCase{tl::kGarbageBefore, kStatusBadCheck},
                      FaultCase{tl::kGarbageAfter, kStatusBadCheck},
                      FaultCase{tl::kWrongStation, kStatusBadCheck}, FaultCase{tl::kRefuse, kStatusRefused}),
    [](const ::testing::TestParamInfo<FaultCase>& p) { return "Station" + std::to_string(p.param.station); });

TEST_F(EndToEnd, DelayedModuleWithinTheTimeOutReadsNormally) {
  Host h(line_);
  h.Module(tl::kDelayed);
  h.Block().TimeOut = 2000;  // the delayed station answers after 300 ms
  const int32_t pv = h.Tag("PV3:1", 0);
  ASSERT_TRUE(h.Init());
  ASSERT_TRUE(h.PollUntil([&] { return h.Last(pv).reports > 0 && h.Last(pv).number == 3.5; }));
  EXPECT_EQ(h.Last(pv).status, 0u);
}

TEST_F(EndToEnd, AnswerLaterThanTheTimeOutNeverCorruptsAnotherModule) {
  Host h(line_);
  h.Module(tl::kGood);
  h.Module(tl::kDelayed);
  h.Block().TimeOut = 100;  // the delayed station answers after 300 ms: always too late
  const int32_t good = h.Tag("PV1:1", 0);
  const int32_t late = h.Tag("PV3:1", 0);
  ASSERT_TRUE(h.Init());
  // Late answers land in later exchanges, which then fail their checks (the device address is in
  // the check characters): the line is disturbed, but no tag ever takes another module's value.
  for (int i = 0; i < 1500; ++i) {
    h.Poll();
    ASSERT_TRUE(h.Last(good).number == 0 || h.Last(good).number == 12.5) << h.Last(good).number;
    ASSERT_TRUE(h.Last(late).number == 0 || h.Last(late).number == 3.5) << h.Last(late).number;
  }
  EXPECT_NE(h.Last(late).status & 0x00F00000u, 0u);
  // Once the module answers in time again both are read normally. The simulator first works off
  // the requests that queued up behind its slow answers, so allow a generous number of polls.
  line_.sim().clear_faults(tl::kDelayed);
  ASSERT_TRUE(h.PollUntil(
      [&] {
        return h.Last(good).status == 0 && h.Last(good).number == 12.5 && h.Last(late).status == 0 &&
               h.Last(late).number == 3.5;
      },
      20000))
      << "good: status " << h.Last(good).status << " value " << h.Last(good).number << "; late: status "
      << h.Last(late).status << " value " << h.Last(late).number;
}

TEST(EndToEndVanish, VanishingLineRecoversAndTheValuesComeBack) {
  // The line comes back as a new pseudo-terminal; the port name keeps pointing at it through a link.
  sim::RunnerOptions opts;
  opts.link = ::testing::TempDir() + "korvel-e2e-vanish-" + std::to_string(std::random_device{}());
  sim::SimLine line_(1, true, opts);
  ASSERT_TRUE(line_.ok()) << line_.error();
  Host h(line_);
  h.Module(tl::kGood);
  h.Module(tl::kVanish);
  const int32_t good = h.Tag("PV1:1", 0);
  const int32_t gone = h.Tag("PV97:1", 0);
  const int32_t link = h.Tag("COMMLINK", 2);
  ASSERT_TRUE(h.Init());
  ASSERT_TRUE(h.PollUntil([&] { return line_.runner().reopen_count() > 0; }, 6000));
  // Once the line is back the good module is read again with its value.
  const size_t from = line_.sim().log_size();
  ASSERT_TRUE(h.PollUntil(
      [&] {
        for (const std::string& r : h.Requests(from))
          if (r == "#01HD\r") return true;
        return false;
      },
      6000));
  ASSERT_TRUE(h.PollUntil([&] { return h.Last(good).status == 0 && h.Last(good).number == 12.5; }));
  EXPECT_TRUE(EndsWith(h.Last(link).text, GBK("通讯正常!")) ||
              EndsWith(h.Last(link).text, GBK("通讯出现故障!")));
  EXPECT_NE(h.Last(gone).status, 0u);
}

TEST_F(EndToEnd, LinkTextsAcrossFailuresProbeAndRecovery) {
  Host h(line_);
  h.Module(tl::kGood);
  const int32_t pv = h.Tag("PV1:1", 0);
  const int32_t parm = h.Tag("PARM1:10", 0);
  const int32_t dev = h.Tag("DEVICELINK1", 2);
  const int32_t devNum = h.Tag("DEVICELINK1", 0);
  const int32_t comm = h.Tag("COMMLINK", 2);
  const int32_t commSw = h.Tag("COMMLINK", 1);
  ASSERT_TRUE(h.Init());
  EXPECT_EQ(h.Last(dev).reports, 0);
  h.Poll();
  ASSERT_TRUE(h.PollUntil([&] { return EndsWith(h.Last(dev).text, GBK("通讯正常!")); }));
  EXPECT_EQ(h.Last(dev).text, DevLinkText(1, GBK("通讯正常!")));
  EXPECT_EQ(h.Last(comm).text, Vocabulary()[fiDeviceName] + GBK("通讯正常!"));
  EXPECT_TRUE(h.Last(commSw).flag);
  EXPECT_EQ(h.Last(devNum).number, 1);

  // The module falls silent: interference, then fault, then the probe that finds it dead.
  line_.sim().add_fault(tl::kGood, {sim::FaultKind::Silent, -1, 0});
  ASSERT_TRUE(h.PollUntil([&] { return EndsWith(h.Last(dev).text, GBK("通讯出现干扰!")); }));
  EXPECT_EQ(h.Last(comm).text, Vocabulary()[fiDeviceName] + GBK("通讯出现故障!"));
  EXPECT_TRUE(h.Last(commSw).flag);  // CommStatus 3 still reads true
  EXPECT_EQ(h.Last(devNum).number, 3);
  ASSERT_TRUE(h.PollUntil([&] { return EndsWith(h.Last(dev).text, GBK("通讯出现故障!")); }));
  const size_t beforeProbe = line_.sim().log_size();
  ASSERT_TRUE(h.PollUntil([&] { return EndsWith(h.Last(dev).text, GBK("设备掉电或设备故障!")); }, 8000));
  EXPECT_EQ(h.Last(dev).text, DevLinkText(1, GBK("设备掉电或设备故障!")));
  // A faulty device's other tags are marked and zeroed.
  EXPECT_EQ(h.Last(pv).number, 0);
  EXPECT_NE(h.Last(pv).status & 0x01100000u, 0u);
  EXPECT_GE(h.Requests(beforeProbe).size(), 2u);

  // Back again: normal at the first good answer.
  line_.sim().clear_faults(tl::kGood);
  ASSERT_TRUE(h.PollUntil([&] { return EndsWith(h.Last(dev).text, GBK("通讯正常!")); }, 8000));
  ASSERT_TRUE(h.PollUntil([&] { return h.Last(pv).number == 12.5 && h.Last(parm).number == 16; }, 8000));
  EXPECT_EQ(h.Last(comm).text, Vocabulary()[fiDeviceName] + GBK("通讯正常!"));
}

TEST_F(EndToEnd, ModuleThatNeverAnsweredIsProbedAndCalledFaulty) {
  Host h(line_);
  h.Module(tl::kSilent);
  const int32_t pv = h.Tag("PV90:1", 0);
  h.Tag("PARM90:10", 0);
  const int32_t dev = h.Tag("DEVICELINK90", 2);
  ASSERT_TRUE(h.Init());
  h.Polls(20);
  EXPECT_EQ(h.Last(dev).text, DevLinkText(90, GBK("通讯始终不成功!")));
  const size_t from = line_.sim().log_size();
  // After more than five silences the probe goes out; when it stays unanswered too the module is
  // reported faulty, and its tags are marked and zeroed.
  ASSERT_TRUE(h.PollUntil([&] { return EndsWith(h.Last(dev).text, GBK("设备掉电或设备故障!")); }, 8000));
  EXPECT_EQ(h.Last(dev).text, DevLinkText(90, GBK("设备掉电或设备故障!")));
  EXPECT_GE(h.Requests(from).size(), 6u);
  EXPECT_EQ(h.Last(pv).status & 0x01100000u, 0x01100000u);
}

TEST_F(EndToEnd, PasswordWritesOnTheWire) {
  Host h(line_);
  h.Module(tl::kGood);
  h.Tag("PV1:1", 0);
  const int32_t pw = h.Tag("SetPassWord1:0", 1);
  ASSERT_TRUE(h.Init());
  h.Polls(5);
  size_t from = line_.sim().log_size();
  ASSERT_TRUE(h.Write(pw, true));
  EXPECT_FALSE(h.Write(pw, true));  // the same value is already queued
  ASSERT_TRUE(h.PollUntil([&] { return line_.sim().record(tl::kGood).password_writes == 1; }));
  bool seen = false;
  for (const std::string& r : h.Requests(from)) seen = seen || r == proto::CheckCRC("%0110+07342") + "\r";
  EXPECT_TRUE(seen);
  h.Polls(5);
  EXPECT_TRUE(h.Last(pw).flag);
  // Switching off puts nothing on the wire.
  from = line_.sim().log_size();
  ASSERT_TRUE(h.Write(pw, false));
  h.Polls(20);
  for (const std::string& r : h.Requests(from)) EXPECT_NE(r[0], '%') << r;
  EXPECT_EQ(line_.sim().record(tl::kGood).writes.size(), 1u);
  EXPECT_FALSE(h.Last(pw).flag);
  // Read-only tags refuse writes.
  EXPECT_FALSE(h.Write(0, true));
}

TEST_F(EndToEnd, CommunicationPausesAndResumes) {
  Host h(line_);
  h.Module(tl::kGood);
  const int32_t pv = h.Tag("PV1:1", 0);
  const int32_t en = h.Tag("ENCOMMLINK", 1);
  const int32_t comm = h.Tag("COMMLINK", 2);
  ASSERT_TRUE(h.Init());
  ASSERT_TRUE(h.PollUntil([&] { return h.Last(pv).number == 12.5; }));
  ASSERT_TRUE(h.Write(en, false));
  h.Polls(3);
  EXPECT_FALSE(h.Last(en).flag);
  const std::string commText = h.Last(comm).text;
  const size_t from = line_.sim().log_size();
  h.Polls(50);
  EXPECT_EQ(line_.sim().log_size(), from);  // nothing sent while paused
  EXPECT_EQ(h.Last(comm).text, commText);
  ASSERT_TRUE(h.Write(en, true));
  ASSERT_TRUE(h.PollUntil([&] { return h.Requests(from).size() >= 3; }));
  EXPECT_TRUE(h.Last(en).flag);
  EXPECT_EQ(h.Last(pv).number, 12.5);
  EXPECT_EQ(h.Last(pv).status, 0u);
}

TEST_F(EndToEnd, SecondOpenerOfABusyPortIsRefused) {
  Host h(line_);
  h.Module(tl::kGood);
  h.Tag("PV1:1", 0);
  ASSERT_TRUE(h.Init());
  // Another driver object on the same port: the open is refused with the port's message.
  TDLLObject other(true);
  PDB block = h.Block();
  // The open retry waits on the clock; let it run out by moving the test clock ahead each try.
  plat::set_test_clock([&h] { return h.now_ += 100; });
  EXPECT_FALSE(other.IniParm(&block));
  EXPECT_EQ(other.sErrEvent, "Com1" + GBK("不存在或被其它程序占用！"));
  plat::set_test_clock([&h] { return h.now_; });
}

TEST_F(EndToEnd, DestroyingARunningDriverWritesItsReportAndReleasesThePort) {
  // The log goes to a file of this test alone.
  const std::string savedLog = LogFileName();
  const std::string log =
      ::testing::TempDir() + "korvel-e2e-destroy-" + std::to_string(std::random_device{}()) + ".Log";
  std::remove(log.c_str());
  SetLogFileName(log);
  {
    Host h(line_);
    h.Module(tl::kGood);
    h.Tag("PV1:1", 0);
    h.Tag("PV_ALARM1:1", 1);
    ASSERT_TRUE(h.Init());
    h.Polls(5);
    // The thread's instance ends without FreeDriver, as when the host's thread ends.
    DestroyThreadInstance();
    TDLLObject next(true);
    PDB block = h.Block();
    EXPECT_TRUE(next.IniParm(&block)) << next.sErrEvent;  // the port was closed
  }
  SetLogFileName(savedLog);
  std::ifstream in(log, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find(GBK("：有效标签个数共计=2")), std::string::npos);
  EXPECT_NE(text.find(GBK("：包含的通讯报总计=1条")), std::string::npos);
  EXPECT_NE(text.find(GBK("：最长通讯报包含的标签个数=2个")), std::string::npos);
  // Written once, before the framework's own report.
  EXPECT_EQ(text.find(GBK("：有效标签个数共计=")), text.rfind(GBK("：有效标签个数共计=")));
  EXPECT_LT(text.find(GBK("：有效标签个数共计=")), text.find(GBK("：读操作失败总次数=")));
  std::remove(log.c_str());
}

}  // namespace
}  // namespace korvel
