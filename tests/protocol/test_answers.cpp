// The answer path of one exchange (send, GetResult per poll, time-out test, probing) over a real
// port on a pseudo-terminal, with the simulator's test line answering and a hand-driven clock.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/clock.h"
#include "protocol/DLLRealize.h"
#include "protocol/Frames.h"
#include "serial/DLLComm.h"
#include "sim/sim_line.h"

namespace korvel {
namespace {

namespace tl = sim::test_line;

class AnswerPath : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(line_.ok()) << line_.error();
    plat::set_test_clock([this] { return now_; });
    obj_ = std::make_unique<TDLLObject>(true);
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

  // Sends cmd and waits until the simulator has taken the request and (answers) written its reply.
  void Send(TCommand* cmd, bool answers = true) {
    obj_->CurCommand = cmd;
    obj_->RunStatus = rsReading;
    obj_->RunEvent = opNone;
    const size_t before = line_.sim().log_size();
    obj_->RealComm(cmd);
    ASSERT_TRUE(line_.sim().wait_log(before + (answers ? 2 : 1), 5000));
    if (!answers) return;
    // The pseudo-terminal hands written bytes to the reader a moment later: wait (bounded) until
    // the whole reply can be read. The port keeps what it read for the driver's next ReadAll.
    const auto log = line_.sim().log();
    size_t sent = 0;
    for (size_t i = before; i < log.size(); ++i) {
      if (log[i].dir == sim::WireEvent::Dir::Sent) sent += log[i].bytes.size();
    }
    for (int i = 0; i < 5000 && obj_->Port()->ReadAll().size() < sent; ++i) plat::sleep_ms(1);
    ASSERT_EQ(obj_->Port()->ReadAll().size(), sent);
  }

  // One exchange's GetResult calls until it finishes one way or the other: a bounded number of polls
  // while the clock stands still, then one poll past the time-out.
  bool Finish() {
    for (int i = 0; i < 50; ++i) {
      if (obj_->GetResult()) return true;
      if (obj_->RunEvent != opNone) return false;
    }
    now_ += static_cast<uint64_t>(CommTimeOut) + 1;
    return obj_->GetResult();
  }

  sim::SimLine line_{1, true};
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
  now_ += static_cast<uint64_t>(CommTimeOut) + 50;  // the answer is there when the poll comes
  EXPECT_TRUE(obj_->GetResult());
  EXPECT_EQ(t->Value, Variant(3.5));
}

TEST_F(AnswerPath, ExactlyTheTimeOutIsNoTimeOut) {
  TDLLTag* t = AddTag(0, tl::kSilent, 1, 0);
  TCommand* c = Command(t);
  Send(c, false);
  now_ += static_cast<uint64_t>(CommTimeOut);
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
  const size_t before = line_.sim().log_size();
  obj_->CurCommand = w;
  obj_->RealComm(w);
  EXPECT_TRUE(obj_->GetResult());
  ASSERT_TRUE(line_.sim().wait_log(before + 1, 5000));
  EXPECT_EQ(line_.sim().record(tl::kGood).password_writes, 1);
  const auto log = line_.sim().log();
  EXPECT_EQ(log.back().bytes, proto::CheckCRC("%0110+07342") + "\r");
}

TEST_F(AnswerPath, NothingIsSentWhileCommunicationOrTheDeviceIsOff) {
  TDLLTag* t = AddTag(0, tl::kGood, 1, 0);
  TCommand* c = Command(t);
  const size_t before = line_.sim().log_size();
  obj_->CommEnabled = false;
  obj_->RealComm(c);
  obj_->CommEnabled = true;
  obj_->DevEnabled[tl::kGood] = false;
  obj_->RealComm(c);
  obj_->DevEnabled[tl::kGood] = true;
  // A command for a device number outside the table must not index past it.
  c->DeviceAddr = 250;
  obj_->RealComm(c);
  ASSERT_TRUE(line_.sim().wait_log(before + 2, 5000));
  int requests = 0;
  const auto log = line_.sim().log();
  for (size_t i = before; i < log.size(); ++i) requests += log[i].dir == sim::WireEvent::Dir::Received;
  EXPECT_EQ(requests, 1);
}

}  // namespace
}  // namespace korvel
