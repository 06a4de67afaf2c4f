// The answer path of one exchange (send, GetResult per poll, time-out test, probing) and the run-state
// machine over whole polls, on an in-memory line that the simulator serves, with a hand-driven clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "driver/getfileinfo.h"
#include "platform/clock.h"
#include "platform/env.h"
#include "platform/text.h"
#include "protocol/DLLRealize.h"
#include "protocol/Frames.h"
#include "sim/faults.h"
#include "sim/module_sim.h"
#include "tests/protocol/memory_line.h"

namespace korvel {
namespace {

namespace tl = sim::test_line;

class AnswerPath : public ::testing::Test {
 protected:
  void SetUp() override {
    sim_.load_test_line();
    plat::set_test_clock([this] { return now_; });
    obj_ = std::make_unique<TDLLObject>(true);
    obj_->UseLine(std::make_unique<test::MemoryLine>(sim_, wire_));
    block_ = std::make_unique<PDB>();
    FillPDBDefaults(block_.get());
    block_->ComPort = 0;
    block_->TimeOut = 200;
    ASSERT_TRUE(obj_->IniParm(block_.get())) << obj_->sErrEvent;
    obj_->TagListReady = true;
  }
  void TearDown() override {
    obj_->CurCommand = nullptr;
    obj_->TagListReady = false;
    for (TCommand*& c : obj_->CommandList) obj_->FreeCommand(c);
    obj_->CommandList.clear();
    obj_->Stop();
    obj_.reset();
    plat::set_test_clock({});
  }

  TDLLTag* AddTag(int32_t kind, int32_t dev, int32_t channel, uint8_t type) {
    auto t = std::make_unique<TDLLTag>();
    t->TagIndex = static_cast<int32_t>(obj_->TagList.size());
    t->TagName = "T" + std::to_string(t->TagIndex);
    t->AddrType = kind;
    t->Address = dev;
    t->ChannelAddr = channel;
    t->TagType = type;
    t->ScanPeriod = 100;
    t->AddrValid = 1;
    t->Status = kStatusAddrChecked;
    t->Value = type == 1 ? Variant(false) : type == 2 ? Variant("") : Variant(0.0);
    obj_->TagList.push_back(std::move(t));
    return obj_->TagList.back().get();
  }

  TCommand* Command(TDLLTag* tag) {
    TCommand* c = obj_->CreatCommand(tag, obj_->CommandList, false);
    if (c != nullptr) obj_->CommandList.push_back(c);
    obj_->OptimizeCommParm();
    return c;
  }

  // Sends cmd; the simulator takes the request and (answers) replies at once.
  void Send(TCommand* cmd, bool answers = true) {
    obj_->CurCommand = cmd;
    obj_->RunStatus = rsReading;
    obj_->RunEvent = opNone;
    const size_t before = sim_.log_size();
    obj_->RealComm(cmd);
    ASSERT_EQ(sim_.log_size(), before + (answers ? 2 : 1));
  }

  // One exchange's GetResult calls until it finishes one way or the other: a bounded number of polls
  // while the clock stands still, then one poll past the time-out.
  bool Finish() {
    for (int i = 0; i < 50; ++i) {
      if (obj_->GetResult()) return true;
      if (obj_->RunEvent != opNone) return false;
    }
    now_ += static_cast<uint64_t>(obj_->CommTimeOut) + 1;
    return obj_->GetResult();
  }

  sim::ModuleSim sim_;
  std::shared_ptr<test::MemoryLine::Control> wire_ = std::make_shared<test::MemoryLine::Control>();
  uint64_t now_ = 1000000;
  std::unique_ptr<TDLLObject> obj_;
  std::unique_ptr<PDB> block_;
};

TEST_F(AnswerPath, WorkedAnswerDecodedIntoEveryKindOfTag) {
  TDLLTag* pv = AddTag(0, tl::kGood, 1, 0);
  TCommand* c = Command(pv);
  TDLLTag* sw1 = AddTag(1, tl::kGood, 1, 1);
  TDLLTag* sw2 = AddTag(1, tl::kGood, 2, 1);
  TDLLTag* an = AddTag(1, tl::kGood, 1, 0);
  TDLLTag* text = AddTag(0, tl::kGood, 1, 2);
  for (TDLLTag* t : {sw1, sw2, an, text}) ASSERT_EQ(Command(t), nullptr);  // all share the "#" frame
  ASSERT_EQ(c->TagIndex.size(), 5u);
  pv->Status |= kStatusNoAnswer | kStatusLateFailure | 0x3;
  obj_->DevRun[tl::kGood].TimeoutCount = 4;
  Send(c);
  ASSERT_TRUE(Finish());
  EXPECT_EQ(c->AnswerStr, "=12.5AJE\r");
  EXPECT_EQ(pv->Value, Variant(12.5));
  EXPECT_EQ(sw1->Value, Variant(true));
  EXPECT_EQ(sw2->Value, Variant(false));
  EXPECT_EQ(an->Value, Variant(65));
  EXPECT_EQ(text->Value, Variant("12.5A"));
  // Success clears the failure bits and keeps only the masked rest.
  EXPECT_EQ(pv->Status,
            (kStatusNoAnswer | kStatusLateFailure | kStatusAddrChecked | 0x3) & kStatusSuccessMask);
  EXPECT_EQ(obj_->DevRun[tl::kGood].TimeoutCount, 0u);
  EXPECT_EQ(obj_->GoodReadCount, 1);
  EXPECT_EQ(obj_->RunEvent, opNone);
}

TEST_F(AnswerPath, ValueTagsOfOneDeviceOnDifferentChannelsShareTheAnswer) {
  TDLLTag* a = AddTag(0, tl::kGood, 1, 0);
  TCommand* c = Command(a);
  TDLLTag* b = AddTag(0, tl::kGood, 2, 0);
  ASSERT_EQ(Command(b), nullptr);
  ASSERT_EQ(c->TagIndex.size(), 2u);
  Send(c);
  ASSERT_TRUE(Finish());
  EXPECT_EQ(a->Value, Variant(12.5));
  EXPECT_EQ(b->Value, Variant(12.5));
}

TEST_F(AnswerPath, ParameterAndOutputAnswers) {
  TDLLTag* p = AddTag(2, tl::kGood, 0x1A, 0);
  TCommand* c = Command(p);
  Send(c);
  ASSERT_TRUE(Finish());
  EXPECT_EQ(p->Value, Variant(26.0));
  TDLLTag* ao = AddTag(3, tl::kGood, 1, 0);
  c = Command(ao);
  Send(c);
  ASSERT_TRUE(Finish());
  EXPECT_EQ(ao->Value, Variant(4.5));
}

// A byte sum does not see every damage: station 70's output answer cut before its CR, then station
// 77's value answer, carries check characters right for station 70 (the randomized campaign found
// it). Its number does not read, so it is a damaged answer, not a good reading of the old value.
TEST_F(AnswerPath, AnAnswerWhoseNumberDoesNotReadIsDamagedWhateverItsCheck) {
  TDLLTag* ao = AddTag(3, 70, 1, 0);
  TDLLTag* text = AddTag(3, 70, 1, 2);
  TCommand* c = Command(ao);
  ASSERT_EQ(Command(text), nullptr);
  obj_->CurCommand = c;
  const std::string crossed = "=70.25@N@=77.5@KL\r";
  ASSERT_TRUE(proto::AnswerValid(70, crossed));
  EXPECT_FALSE(obj_->CheckResult(crossed));
  EXPECT_TRUE(obj_->CheckResult(proto::CheckCRC(proto::DevAddrText(70) + "=70.25@").substr(2) + "\r"));
  EXPECT_TRUE(
      obj_->CheckResult(proto::CheckCRC(proto::DevAddrText(70) + "?").substr(2) + "\r"));  // a refusal
  // The answer is the same frame whatever tags it serves: a text tag alone refuses it too.
  c->TagIndex = {text->TagIndex};
  EXPECT_FALSE(obj_->CheckResult(crossed));
}

// Every failure kind: failures 1 and 2 give the plain code, from 3 on the late bit and a new time
// stamp; the good module's value stays untouched.
struct FailureCase {
  int station;
  uint32_t code;
  bool answers;
  bool clearsRead;  // the protocol layer itself asks for the read to be given up
};

class Failures : public AnswerPath, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(Failures, StatusWordsPerFailureNumber) {
  const FailureCase fc = GetParam();
  TDLLTag* t = AddTag(0, fc.station, 1, 0);
  t->Value = Variant(7.0);
  TCommand* c = Command(t);
  for (int n = 1; n <= 3; ++n) {
    t->TimeStamp = 0;
    Send(c, fc.answers);
    EXPECT_FALSE(Finish()) << n;
    EXPECT_EQ(c->FailCount, n);
    const uint32_t want = n < 3 ? fc.code : (fc.code | kStatusLateFailure);
    EXPECT_EQ(t->Status & 0x01F00000u, want) << n;
    EXPECT_EQ(t->Status & ~kStatusFailureMask, 0u);
    EXPECT_EQ(t->TimeStamp != 0, n >= 3) << n;
    EXPECT_EQ(obj_->RunEvent, fc.clearsRead ? opClrReadError : opNone) << n;
    EXPECT_EQ(t->Value, Variant(7.0));
  }
  EXPECT_EQ(obj_->GoodReadCount, 0);
}

INSTANTIATE_TEST_SUITE_P(Protocol, Failures,
                         ::testing::Values(FailureCase{tl::kSilent, kStatusNoAnswer, false, false},
                                           FailureCase{tl::kCut, kStatusIncomplete, true, false},
                                           FailureCase{tl::kBadCheck, kStatusBadCheck, true, true},
                                           FailureCase{tl::kWrongStation, kStatusBadCheck, true, true},
                                           FailureCase{tl::kGarbageBefore, kStatusBadCheck, true, true},
                                           FailureCase{tl::kGarbageAfter, kStatusBadCheck, true, true},
                                           FailureCase{tl::kRefuse, kStatusRefused, true, true}),
                         [](const ::testing::TestParamInfo<FailureCase>& p) {
                           return "Station" + std::to_string(p.param.station);
                         });

TEST_F(AnswerPath, LateAnswerBeforeTheTimeOutPollIsAccepted) {
  TDLLTag* t = AddTag(0, tl::kDelayed, 1, 0);
  TCommand* c = Command(t);
  Send(c);
  // The answer arrives after the time-out has run out, but before a poll has declared it.
  ASSERT_GT(tl::kDelayMs, obj_->CommTimeOut);
  now_ += tl::kDelayMs;
  EXPECT_TRUE(obj_->GetResult());
  EXPECT_EQ(t->Value, Variant(3.5));
}

TEST_F(AnswerPath, ExactlyTheTimeOutIsNoTimeOut) {
  TDLLTag* t = AddTag(0, tl::kSilent, 1, 0);
  TCommand* c = Command(t);
  Send(c, false);
  now_ += static_cast<uint64_t>(obj_->CommTimeOut);
  EXPECT_FALSE(obj_->GetResult());
  EXPECT_EQ(c->FailCount, 0);
  now_ += 1;
  EXPECT_FALSE(obj_->GetResult());
  EXPECT_EQ(c->FailCount, 1);
}

TEST_F(AnswerPath, RepeatedSilenceProbesWithTheBestCommandThenMarksTheDeviceFaulty) {
  TDLLTag* pv = AddTag(0, tl::kSilent, 1, 0);
  TCommand* c = Command(pv);
  TDLLTag* parm = AddTag(2, tl::kSilent, 16, 0);
  TCommand* best = Command(parm);
  TDevRunInfo& run = obj_->DevRun[tl::kSilent];
  run.BestCommand = best;
  for (uint32_t n = 1; n <= 5; ++n) {
    Send(c, false);
    EXPECT_FALSE(Finish());
    EXPECT_EQ(run.TimeoutCount, n);
    EXPECT_FALSE(run.ProbeActive);
    EXPECT_EQ(obj_->CurCommand, c);
  }
  // The sixth silence starts a probe with the best command at once.
  Send(c, false);
  EXPECT_FALSE(Finish());
  EXPECT_TRUE(run.ProbeActive);
  EXPECT_EQ(obj_->CurCommand, best);
  EXPECT_EQ(obj_->RunStatus, rsReady);
  EXPECT_EQ(obj_->RunEvent, opReadCmd);
  EXPECT_EQ(obj_->AnswerFailCount, 1);
  // The probe goes unanswered too: the device is faulty and the probe is over.
  Send(best, false);
  EXPECT_FALSE(Finish());
  EXPECT_FALSE(run.ProbeActive);
  EXPECT_TRUE(run.DeviceFault);
  EXPECT_EQ(best->FailCount, 1);
  EXPECT_EQ(obj_->AnswerFailCount, 2);
}

TEST_F(AnswerPath, WritesCompleteAtOnceWithoutReading) {
  TDLLTag* pw = AddTag(4, tl::kGood, 0, 1);
  pw->Value = Variant(true);
  TCommand* w = obj_->CreatCommand(pw, obj_->CommandList, true);
  ASSERT_NE(w, nullptr);
  obj_->CommandList.push_back(w);
  const size_t before = sim_.log_size();
  obj_->CurCommand = w;
  obj_->RealComm(w);
  EXPECT_TRUE(obj_->GetResult());
  ASSERT_GE(sim_.log_size(), before + 1);
  EXPECT_EQ(sim_.record(tl::kGood).password_writes, 1);
  const auto log = sim_.log();
  EXPECT_EQ(log.back().bytes, proto::CheckCRC("%0110+07342") + "\r");
}

TEST_F(AnswerPath, NothingIsSentWhileCommunicationOrTheDeviceIsOff) {
  TDLLTag* t = AddTag(0, tl::kGood, 1, 0);
  TCommand* c = Command(t);
  const size_t before = sim_.log_size();
  obj_->CommEnabled = false;
  obj_->RealComm(c);
  obj_->CommEnabled = true;
  obj_->DevEnabled[tl::kGood] = false;
  obj_->RealComm(c);
  obj_->DevEnabled[tl::kGood] = true;
  // A command for a device number outside the table must not index past it.
  c->DeviceAddr = 250;
  obj_->RealComm(c);
  ASSERT_GE(sim_.log_size(), before + 2);
  int requests = 0;
  const auto log = sim_.log();
  for (size_t i = before; i < log.size(); ++i) requests += log[i].dir == sim::WireEvent::Dir::Received;
  EXPECT_EQ(requests, 1);
}

TEST_F(AnswerPath, AnAnswerOfAnotherKindIsRefusedWhateverItsCheckCharacters) {
  // The check characters cover only the station's digits: a late "=" answer of a PV request fits a
  // PARM request of the same station, and the other way round, unless the start character counts.
  TDLLTag* parm = AddTag(2, tl::kGood, 0x1A, 0);
  TCommand* p = Command(parm);
  TDLLTag* pv = AddTag(0, tl::kGood, 1, 0);
  TCommand* v = Command(pv);
  const std::string pvAnswer = proto::CheckCRC("01=12.5A").substr(2) + "\r";
  const std::string parmAnswer = proto::CheckCRC("01!26@").substr(2) + "\r";
  const std::string refusal = proto::CheckCRC("01?").substr(2) + "\r";
  obj_->CurCommand = p;
  EXPECT_FALSE(obj_->CheckResult(pvAnswer));
  EXPECT_TRUE(obj_->CheckResult(parmAnswer));
  EXPECT_TRUE(obj_->CheckResult(refusal));
  obj_->CurCommand = v;
  EXPECT_TRUE(obj_->CheckResult(pvAnswer));
  EXPECT_FALSE(obj_->CheckResult(parmAnswer));
  EXPECT_TRUE(obj_->CheckResult(refusal));
  obj_->CurCommand = nullptr;
}

// The whole machine, one ReadExecute per host poll, on the simulator's line. The clock moves one
// millisecond per poll and never faster than real time, so an answer on its way is not timed out
// early; every wait is bounded by a poll count.
class LineMachine : public ::testing::Test {
 protected:
  void SetUp() override {
    plat::set_test_clock([this] { return now_; });
    std::memset(&block_, 0, sizeof block_);
    FillPDBDefaults(&block_);
    block_.ComPort = 0;
    block_.TimeOut = 100;
    block_.WriteCount = 2;
  }
  void TearDown() override {
    obj_.reset();
    plat::set_test_clock({});
  }

  void Module(int id, double pv) {
    sim::ModuleConfig m = sim::ModuleConfig::with_defaults(sim::Family::PLNK);
    m.pv = sim::Signal(pv);
    for (int n = 0; n <= 0xFF; ++n) m.params[n] = sim::Signal(1000 + n);
    sim_.set_module(id, std::move(m));
    block_.Devices[id].DevID = id;
    block_.Devices[id].DevType = 1;
    block_.Devices[id].DevTypeName.set("PLNK");
  }
  // A tag with scan period 0 (due at every selection); its position in the tag list.
  size_t Tag(const std::string& addr, uint8_t type) {
    TTagInfo t;
    std::memset(&t, 0, sizeof t);
    t.TagID = static_cast<int32_t>(infos_.size());
    const std::string name = "T" + std::to_string(t.TagID);
    std::memcpy(t.TagName, name.data(), name.size());
    std::memcpy(t.TagAddr, addr.data(), std::min(addr.size(), sizeof t.TagAddr - 1));
    t.TagType = type;
    infos_.push_back(t);
    return infos_.size() - 1;
  }
  void Start() {
    obj_ = std::make_unique<TDLLObject>(true);
    Open();
  }
  void Open() {
    std::vector<const TTagInfo*> list;
    for (const TTagInfo& t : infos_) list.push_back(&t);
    obj_->UseLine(std::make_unique<test::MemoryLine>(sim_, wire_));
    ASSERT_TRUE(obj_->IniDLLObj(&block_, list)) << obj_->sErrEvent;
  }
  // A host's reload: the instance stops (FreeDriver), then it or a new one starts on the same port
  // (IniDriver), the old instance's answer perhaps still on its way.
  void Reload(bool newInstance) {
    obj_->Stop();
    std::unique_ptr<TDLLObject> old;
    if (newInstance) {
      old = std::move(obj_);
      obj_ = std::make_unique<TDLLObject>(false);
    }
    Open();
  }
  TDLLTag& T(size_t i) { return *obj_->TagList.at(i); }
  static bool Good(const TDLLTag& t) { return (t.Status & 0x01F00000u) == 0; }
  std::string Text(size_t i) { return plat::gbk_to_utf8(T(i).Value.toString()); }
  bool EndsWith(size_t i, const std::string& tail) {
    const std::string s = Text(i);
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
  }

  // One millisecond per poll.
  void Poll() {
    ++now_;
    obj_->ReadExecute();
    if (check_) check_();
  }
  bool PollUntil(const std::function<bool()>& pred, int maxPolls = 4000) {
    for (int i = 0; i < maxPolls; ++i) {
      Poll();
      if (pred()) return true;
    }
    return false;
  }

  sim::ModuleSim sim_;
  std::shared_ptr<test::MemoryLine::Control> wire_ = std::make_shared<test::MemoryLine::Control>();
  uint64_t now_ = 1000000;
  PDB block_;
  std::vector<TTagInfo> infos_;
  std::unique_ptr<TDLLObject> obj_;
  std::function<void()> check_;  // run after every poll
};

TEST_F(LineMachine, AProbeEndsWithItsOutcomeAndACutAnswerNeverStopsTheLine) {
  Module(1, 12.5);
  Module(5, 5.0);
  const size_t good = Tag("PV1:1", 0), five = Tag("PV5:1", 0);
  Start();
  sim_.add_fault(5, {sim::FaultKind::Silent, -1, 0});
  ASSERT_TRUE(PollUntil([&] { return obj_->DevRun[5].ProbeActive; }));
  // The probe's answer is cut before its CR.
  sim_.clear_faults(5);
  sim_.add_fault(5, {sim::FaultKind::Cut, -1, 1});
  ASSERT_TRUE(PollUntil([&] { return !obj_->DevRun[5].ProbeActive; }));
  EXPECT_FALSE(obj_->DevRun[5].DeviceFault);  // it answered, if badly
  const int32_t reads = T(good).ReadTotal;
  const int requests = sim_.record(5).requests;
  // The line goes on: the good module keeps being read, and module 5 is asked again and recovers.
  ASSERT_TRUE(PollUntil([&] { return Good(T(five)) && T(five).Value == Variant(5.0); }));
  EXPECT_GT(T(good).ReadTotal, reads);
  EXPECT_GT(sim_.record(5).requests, requests);
}

TEST_F(LineMachine, AModuleThatWasProbedOnceTreatsALaterMissAsAnyOtherMiss) {
  Module(5, 5.0);
  const size_t five = Tag("PV5:1", 0), link = Tag("DEVICELINK5", 2);
  Start();
  sim_.add_fault(5, {sim::FaultKind::Silent, -1, 0});
  ASSERT_TRUE(PollUntil([&] { return obj_->DevRun[5].ProbeActive; }));
  sim_.clear_faults(5);  // the probe is answered
  ASSERT_TRUE(PollUntil([&] { return EndsWith(link, "通讯正常!"); }));
  EXPECT_FALSE(obj_->DevRun[5].ProbeActive);
  sim_.add_fault(5, {sim::FaultKind::Silent, -1, 1});  // one miss
  ASSERT_TRUE(PollUntil([&] { return obj_->DevFailCount[5] == 1; }));
  EXPECT_TRUE(EndsWith(link, "通讯出现干扰!")) << Text(link);
  EXPECT_FALSE(obj_->DevRun[5].DeviceFault);
  EXPECT_EQ(T(five).Value, Variant(5.0));  // not forced to 0 as for a powered-off module
}

TEST_F(LineMachine, ALateAnswerIsNeverTakenForALaterRequest) {
  // 1 and 10, 12 and 21 share their check characters; 10 and 12 answer after the time-out (100 ms)
  // but before a second time-out period has passed. Each of their requests costs the line three
  // time-outs.
  Module(1, 1.5);
  Module(10, 10.5);
  Module(12, 12.5);
  Module(21, 21.5);
  sim_.add_fault(10, {sim::FaultKind::Delay, 150, 0});
  sim_.add_fault(12, {sim::FaultKind::Delay, 150, 0});
  struct Expect {
    size_t tag;
    double value;
  };
  const std::vector<Expect> expect = {{Tag("PV1:1", 0), 1.5},   {Tag("PV10:1", 0), 10.5},
                                      {Tag("PV12:1", 0), 12.5}, {Tag("PARM12:3", 0), 1003},
                                      {Tag("PV21:1", 0), 21.5}, {Tag("PARM21:3", 0), 1003}};
  Start();
  int wrong = 0;
  check_ = [&] {
    for (const Expect& e : expect)
      if (Good(T(e.tag)) && T(e.tag).ReadTotal > 0 && T(e.tag).Value != Variant(e.value)) ++wrong;
  };
  for (int i = 0; i < 6000; ++i) Poll();
  EXPECT_EQ(wrong, 0);
  EXPECT_GT(sim_.record(10).requests, 2);
  EXPECT_GT(sim_.record(12).requests, 2);
  // The punctual modules keep flowing.
  EXPECT_GT(T(expect[0].tag).ReadTotal, 5);
  EXPECT_GT(T(expect[4].tag).ReadTotal, 5);
}

// Requests whose answers carry the same check characters (stations with the same digit sum) under
// the faults that used to hand one request's answer to the next: noise ending in CR ahead of a
// punctual answer, a single slipped answer, a module answering twice, answers late by up to three
// time-outs, a short pause while an answer is due. No tag may ever show a value that is not its own
// with a good status, and the line must keep reading every module.
enum class Kinds {
  Pv,        // a PV tag per station
  All,       // PV, AO and PARM tags per station
  NoNumber,  // tags that take no number: an alarm bit (channel 1) and the PV answer as text
};

struct Crossing {
  const char* name;
  std::vector<int> stations;
  Kinds kinds;
  int timeOut;
  std::function<void(sim::ModuleSim&, TDLLObject&, long poll)> drive;  // before each poll
  int polls = 4000;
  std::map<int, double> pv = {};  // a station's value, when not its number + 0.5
  std::map<int, int> alarm = {};  // a station's alarm bits, when not 0
  int reloadEvery = 0;            // > 0: the host reloads once in every that many polls
};

void PrintTo(const Crossing& c, std::ostream* os) {
  *os << c.name;
}

class Crossings : public LineMachine, public ::testing::WithParamInterface<Crossing> {};

TEST_P(Crossings, NoRequestTakesAnotherOnesAnswer) {
  const Crossing& p = GetParam();
  block_.TimeOut = static_cast<uint16_t>(p.timeOut);
  struct Own {
    size_t tag;
    Variant value;
  };
  std::vector<Own> own;
  for (const int st : p.stations) {
    const double pv = p.pv.count(st) ? p.pv.at(st) : st + 0.5;
    const int alarm = p.alarm.count(st) ? p.alarm.at(st) : 0;
    Module(st, pv);
    sim_.set_alarm(st, alarm);
    sim_.set_ao(st, sim::Signal(st + 0.25));
    sim_.set_param(st, 3, sim::Signal(100.0 * st + 3));
    const std::string n = std::to_string(st);
    if (p.kinds == Kinds::NoNumber) {
      own.push_back({Tag("PV_ALARM" + n + ":1", 1), Variant((alarm & 1) != 0)});
      own.push_back(
          {Tag("PV" + n + ":1", 2), Variant(sim::format_value(pv, -1) + static_cast<char>(0x40 + alarm))});
      continue;
    }
    own.push_back({Tag("PV" + n + ":1", 0), Variant(pv)});
    if (p.kinds == Kinds::All) {
      own.push_back({Tag("AO" + n + ":1", 0), Variant(st + 0.25)});
      own.push_back({Tag("PARM" + n + ":3", 0), Variant(100.0 * st + 3)});
    }
  }
  Start();
  std::vector<std::string> wrong;
  long poll = 0;
  check_ = [&] {
    for (const Own& o : own)
      if (Good(T(o.tag)) && T(o.tag).ReadTotal > 0 && T(o.tag).Value != o.value)
        wrong.push_back(T(o.tag).TagName + "=" + T(o.tag).Value.toString() + " at poll " +
                        std::to_string(poll));
  };
  wire_->device = "/dev/crossing";
  for (; poll < p.polls; ++poll) {
    p.drive(sim_, *obj_, poll);
    // Once in every reloadEvery polls, at a point that moves from one period to the next.
    const long period = p.reloadEvery > 0 ? poll / p.reloadEvery : 0;
    if (p.reloadEvery > 0 && poll % p.reloadEvery == period * 89 % p.reloadEvery) Reload(period % 2 == 0);
    Poll();
  }
  EXPECT_TRUE(wrong.empty()) << wrong.size() << " values of another request, first " << wrong.front();
  // Faults over: every module is read again.
  sim_.clear_faults(-1);
  obj_->SetCommEnabled(true);
  EXPECT_TRUE(PollUntil([&] {
    return std::all_of(own.begin(), own.end(), [&](const Own& o) { return Good(T(o.tag)); });
  })) << "the line did not recover";
}

// A pair answering punctually against a 100 ms time-out, the first with a fault on every answer:
// noise ending in CR 5 ms ahead of its answer (answers in 30 and 60 ms), or each answer sent again
// 20 ms later (both in 30 ms).
Crossing PairWith(const char* name, int a, int b, sim::Fault fault, int delayB) {
  return {name, {a, b}, Kinds::Pv, 100, [=](sim::ModuleSim& sim, TDLLObject&, long poll) {
            if (poll != 0) return;
            sim.add_fault(a, {sim::FaultKind::Delay, 30, 0});
            sim.add_fault(a, fault);
            sim.add_fault(b, {sim::FaultKind::Delay, delayB, 0});
          }};
}
Crossing NoiseBefore(int a, int b) {
  return PairWith("noise_cr", a, b, {sim::FaultKind::NoiseCr, 5, 0}, 60);
}
Crossing Twice(int a, int b) {
  return PairWith("repeat", a, b, {sim::FaultKind::Repeat, 20, 0}, 30);
}

// A healthy line slips once: one noise CR, later one repeated answer.
void SlipOnce(sim::ModuleSim& sim, TDLLObject&, long poll) {
  if (poll == 0)
    for (const int st : {19, 28, 5}) sim.add_fault(st, {sim::FaultKind::Delay, 30, 0});
  if (poll == 500) sim.add_fault(19, {sim::FaultKind::NoiseCr, 5, 1});
  if (poll == 2000) sim.add_fault(28, {sim::FaultKind::Repeat, 20, 1});
}

// Station 19 answers 0.95 to 3 time-outs late, a new delay for each request; the others at once.
void LateUpToThree(sim::ModuleSim& sim, TDLLObject&, long poll) {
  static int k = 0;
  if (poll == 0) k = 0;
  if (sim.faults(19).empty()) sim.add_fault(19, {sim::FaultKind::Delay, 95 + (k++ * 37) % 206, 1});
}

// Communication paused for 53 ms, 200 ms into a read whose answer comes after 300 (250) ms.
void PauseWhileDue(sim::ModuleSim& sim, TDLLObject& obj, long poll) {
  static long resumeAt = -1;
  if (poll == 0) {
    resumeAt = -1;
    sim.add_fault(19, {sim::FaultKind::Delay, 300, 0});
    sim.add_fault(28, {sim::FaultKind::Delay, 250, 0});
  }
  if (poll == resumeAt) obj.SetCommEnabled(true);
  if (obj.CommEnabled && obj.RunStatus == rsReading && plat::tick_ms() - obj.SendTick == 200) {
    obj.SetCommEnabled(false);
    resumeAt = poll + 53;
  }
}

// Station 77 answers every request twice, 20 ms apart; station 70's request goes out in between and
// its answer, cut before its CR, runs together with 77's repeat. With these values the check
// characters of the whole fit station 70, so only its body tells: its number does not read.
void RunTogether(sim::ModuleSim& sim, TDLLObject&, long poll) {
  if (poll != 0) return;
  for (const int st : {70, 77}) sim.add_fault(st, {sim::FaultKind::Delay, 5, 0});
  sim.add_fault(77, {sim::FaultKind::Repeat, 20, 0});
  sim.add_fault(70, {sim::FaultKind::Cut, -1, 0});
}

// Station 28 answers in 30 ms; its twin 19 in turn in 30 ms and half a time-out late.
void LateTwin(sim::ModuleSim& sim, TDLLObject&, long poll) {
  if (poll == 0) sim.add_fault(28, {sim::FaultKind::Delay, 30, 0});
  if (sim.faults(19).empty()) sim.add_fault(19, {sim::FaultKind::Delay, poll % 2 == 0 ? 30 : 150, 1});
}

INSTANTIATE_TEST_SUITE_P(
    Line, Crossings,
    ::testing::Values(
        NoiseBefore(19, 28), NoiseBefore(23, 32), NoiseBefore(45, 54), NoiseBefore(9, 90),
        Crossing{"slip", {19, 28, 5}, Kinds::Pv, 100, SlipOnce, 5000}, Twice(19, 28), Twice(23, 32),
        Twice(45, 54), Twice(9, 90), Crossing{"late", {19, 28, 37, 46}, Kinds::All, 100, LateUpToThree, 8000},
        Crossing{"pause", {19, 28}, Kinds::Pv, 500, PauseWhileDue, 8000},
        Crossing{"run_together", {70, 77}, Kinds::NoNumber, 100, RunTogether, 4000, {{70, 70.25}}, {{77, 1}}},
        Crossing{"reload", {28, 19}, Kinds::All, 100, LateTwin, 20000, {}, {}, 397}),
    [](const ::testing::TestParamInfo<Crossing>& i) {
      return std::string(i.param.name) + "_" + std::to_string(i.param.stations[0]) + "_" +
             std::to_string(i.param.stations[1]);
    });

TEST_F(LineMachine, DamagedAndRefusedAnswersShowInTheLinkTexts) {
  Module(5, 5.0);
  const size_t five = Tag("PV5:1", 0), link = Tag("DEVICELINK5", 2), line = Tag("COMMLINK", 0);
  Start();
  for (const sim::FaultKind kind : {sim::FaultKind::BadCheck, sim::FaultKind::Refuse}) {
    sim_.clear_faults(5);
    ASSERT_TRUE(PollUntil([&] { return EndsWith(link, "通讯正常!"); }));
    sim_.add_fault(5, {kind, -1, 0});
    ASSERT_TRUE(PollUntil([&] { return EndsWith(link, "通讯出现干扰!"); })) << Text(link);
    ASSERT_TRUE(PollUntil([&] { return EndsWith(link, "通讯线路断路!"); })) << Text(link);
    EXPECT_EQ(T(line).Value, Variant(3));
    EXPECT_FALSE(Good(T(five)));
  }
}

TEST_F(LineMachine, AVanishedPortFailsWritesAndShowsTheOutageUntilItComesBack) {
  Module(1, 1.5);
  const size_t pv = Tag("PV1:1", 0), pw = Tag("SetPassWord1:0", 1), link = Tag("DEVICELINK1", 2),
               line = Tag("COMMLINK", 0);
  Start();
  ASSERT_TRUE(PollUntil([&] { return EndsWith(link, "通讯正常!"); }));
  wire_->present = false;  // the device is gone
  ASSERT_TRUE(obj_->WriteExecute(static_cast<int32_t>(pw), Variant(true)));
  // Every poll tries the port once, without waiting; the write fails after its retries.
  // (A read sent just before may first have to time out and the line to rest: 200 polls.)
  ASSERT_TRUE(PollUntil([&] { return obj_->WriteFailCount == 1; }, 600));
  EXPECT_EQ(T(pw).Value, Variant(false));
  EXPECT_FALSE(Good(T(pw)));
  EXPECT_EQ(T(pw).WriteErrors, 1);
  ASSERT_TRUE(PollUntil([&] { return EndsWith(link, "通讯线路断路!"); }, 200)) << Text(link);
  EXPECT_EQ(T(line).Value, Variant(3));
  EXPECT_FALSE(Good(T(pv)));
  EXPECT_EQ(sim_.record(1).password_writes, 0);
  // The device returns: the next poll's send finds it.
  wire_->present = true;
  ASSERT_TRUE(PollUntil([&] { return EndsWith(link, "通讯正常!"); }, 400)) << Text(link);
  ASSERT_TRUE(obj_->WriteExecute(static_cast<int32_t>(pw), Variant(true)));
  ASSERT_TRUE(PollUntil([&] { return sim_.record(1).password_writes == 1; }, 400));
  EXPECT_TRUE(PollUntil([&] { return Good(T(pw)) && T(pw).Value == Variant(true); }, 10));
}

}  // namespace
}  // namespace korvel
