// The run-state machine: read success, time-out, retry and give-up; write success and write
// retries on the shared budget; DEVICELINK and COMMLINK through a device's life; the severe
// fault; and the states that must never keep the driver silent.
#include <algorithm>
#include <set>
#include <utility>
#include <vector>

#include "platform/event.h"
#include "script_object.h"

namespace korvel::test {
namespace {

class RunStates : public FrameworkTest {
 protected:
  // Module 3 with a PV tag, the link tags of the line and of module 3, and a password tag.
  void Standard(bool errorLog = false, uint8_t writeCount = 2) {
    PDB block = MakeBlock({3});
    block.ErrorLog = errorLog;
    block.WriteCount = writeCount;
    ASSERT_TRUE(Init(block, {{0, "PV3:1", 0, 1000},
                             {1, "DEVICELINK3", 2},
                             {2, "COMMLINK", 2},
                             {3, "COMMLINK", 1},
                             {4, "SetPassWord3:0", 1},
                             {5, "COMMLINK", 0}}));
    obj->WriteRetryBudget = writeCount;
    obj->CommTimeOut = 300;  // shorter than the read period: a given-up read is not due at once
  }
  std::string DeviceText() { return Utf8(Tag(1).Value); }
  // One poll after the answer time has run out.
  void PollAfterTimeout() {
    Advance(static_cast<uint64_t>(obj->CommTimeOut) + 1);
    obj->ReadExecute();
  }
};

TEST_F(RunStates, FirstPollStartsAndSendsTheFirstRequest) {
  Standard();
  EXPECT_EQ(obj->RunStatus, rsStart);
  obj->ReadExecute();
  EXPECT_EQ(obj->RunStatus, rsReading);
  EXPECT_EQ(obj->sent, std::vector<std::string>{"R3/0/1"});
  EXPECT_EQ(obj->SendTick, g_now);
  EXPECT_EQ(obj->ScanTime, 10);
}

TEST_F(RunStates, ReadySendsNothingWhenNothingIsDue) {
  Standard();
  obj->ReadExecute();
  obj->ReadExecute();  // the answer is taken, nothing else is due
  EXPECT_EQ(obj->RunStatus, rsReady);
  EXPECT_EQ(obj->RunEvent, opNone);
  EXPECT_EQ(obj->sent.size(), 1u);
  obj->ReadExecute();
  EXPECT_EQ(obj->sent.size(), 1u);
  EXPECT_EQ(obj->RunEvent, opNone);
}

TEST_F(RunStates, ReadSuccessPublishesTheLinkAndSendsTheNextRequestInTheSamePoll) {
  Standard();
  obj->ReadExecute();
  EXPECT_EQ(DeviceText(), "3号智能模块PLNK通讯始终不成功!");
  Advance(1000);  // the read comes due again while its answer is collected
  obj->ReadExecute();
  EXPECT_EQ(Tag(0).Value, Variant(42.0));
  EXPECT_EQ(Tag(0).ReadTotal, 1);
  EXPECT_EQ(obj->ReadCommCount, 1);
  EXPECT_EQ(obj->CommStatus, 1);
  EXPECT_TRUE(obj->LastCommOK);
  EXPECT_EQ(DeviceText(), "3号智能模块PLNK通讯正常!");
  EXPECT_EQ(Tag(3).Value, Variant(true));
  EXPECT_EQ(Tag(5).Value, Variant(1));
  EXPECT_EQ(obj->sent.size(), 2u);
  EXPECT_EQ(obj->RunStatus, rsReading);
  EXPECT_EQ(obj->DevRun[3].BestCommand, obj->CommandList[0]);
  EXPECT_FLOAT_EQ(obj->CommandList[0]->SuccessRatio, 1.0f);
}

TEST_F(RunStates, TimeOutIsDeclaredOnlyAfterMoreThanTheTimeOutAndALateAnswerStillCounts) {
  Standard();
  obj->answers[3] = Answer::Silent;
  obj->ReadExecute();
  Advance(300);  // exactly the time-out
  obj->ReadExecute();
  EXPECT_EQ(obj->RunStatus, rsReading);
  EXPECT_EQ(obj->ReadTimeoutCount, 0);
  // The answer arrives late but before the poll that would time it out.
  obj->answers[3] = Answer::Good;
  Advance(5000);
  obj->ReadExecute();
  EXPECT_EQ(obj->ReadCommCount, 1);
  EXPECT_EQ(obj->ReadTimeoutCount, 0);
  EXPECT_EQ(Tag(0).Value, Variant(42.0));
}

TEST_F(RunStates, ReadTimeOutGivesUpAndTheCommandComesDueAgain) {
  Standard(true);
  obj->answers[3] = Answer::Silent;
  obj->ReadExecute();
  ClearLog();
  PollAfterTimeout();
  EXPECT_EQ(obj->ReadTimeoutCount, 1);
  EXPECT_EQ(obj->ReadFailCount, 1);
  EXPECT_EQ(Tag(0).ReadErrors, 1);
  EXPECT_EQ(Tag(0).ReadTotal, 1);
  EXPECT_EQ(plat::gbk_to_utf8(obj->sErrEvent), "通讯超时错，期待设备应答");
  EXPECT_EQ(obj->RunStatus, rsReady);
  EXPECT_FLOAT_EQ(obj->CommandList[0]->SuccessRatio, 0.01f);  // 0 halved, raised to the floor
  const std::string log = ReadLog();
  EXPECT_NE(log.find("：通讯读超时错，执行操作=R3/0/1\r\n"), std::string::npos);
  EXPECT_NE(log.find("：通讯读超时错，期待应答==3\r\n"), std::string::npos);
  EXPECT_NE(log.find("：没有接收到应答信息！\r\n"), std::string::npos);
  EXPECT_NE(log.find("：通讯读失败，执行操作=R3/0/1"), std::string::npos);
  // The read stays in the list and goes out again after its period.
  EXPECT_EQ(obj->CommandList.size(), 1u);
  obj->ReadExecute();
  EXPECT_EQ(obj->sent.size(), 1u);
  Advance(1000);
  obj->ReadExecute();
  EXPECT_EQ(obj->sent.size(), 2u);
}

TEST_F(RunStates, ReadWithRetryModeOneIsSentOnceMore) {
  Standard();
  obj->answers[3] = Answer::Silent;
  obj->CommandList[0]->RetryMode = 1;
  obj->ReadExecute();
  PollAfterTimeout();
  EXPECT_EQ(obj->sent.size(), 1u);  // the line rests first: a late answer must find no request
  // until three time-outs after the request went out.
  Advance(2 * static_cast<uint64_t>(obj->CommTimeOut) - 2);
  obj->ReadExecute();
  EXPECT_EQ(obj->sent.size(), 1u);
  Advance(1);
  obj->ReadExecute();
  EXPECT_EQ(obj->sent.size(), 2u);  // then the retry goes out
  EXPECT_EQ(obj->ReadFailCount, 0);
  PollAfterTimeout();
  EXPECT_EQ(obj->ReadFailCount, 1);  // the second time it is given up
}

TEST_F(RunStates, DeviceLinkTextFollowsTheDevicesHistory) {
  Standard();
  obj->ReadExecute();
  // Never answered: the module's own tags are marked.
  obj->answers[3] = Answer::Silent;
  PollAfterTimeout();
  EXPECT_EQ(DeviceText(), "3号智能模块PLNK通讯始终不成功!");
  EXPECT_EQ(Tag(0).Status & kStatusDevMarkSet, kStatusDevMarkSet);
  EXPECT_EQ(Tag(0).Status & kStatusAddrChecked, 0u);
  EXPECT_EQ(Tag(3).Value, Variant(false));  // the line never worked
  EXPECT_EQ(obj->DevFailCount[3], 0xFFFFFFFFu);

  obj->answers[3] = Answer::Good;
  Advance(1000);
  obj->ReadExecute();  // sent
  obj->ReadExecute();  // answered
  EXPECT_EQ(DeviceText(), "3号智能模块PLNK通讯正常!");
  obj->answers[3] = Answer::Silent;
  const char* expected[] = {"通讯出现干扰!", "通讯出现干扰!", "通讯出现干扰!", "通讯出现故障!",
                            "通讯出现故障!", "通讯出现故障!", "通讯出现故障!", "通讯出现故障!",
                            "通讯线路断路!", "通讯线路断路!"};
  for (int i = 0; i < 10; ++i) {
    Advance(1000);
    obj->ReadExecute();  // the read goes out
    PollAfterTimeout();
    EXPECT_EQ(DeviceText(), std::string("3号智能模块PLNK") + expected[i]) << i + 1;
    EXPECT_EQ(obj->CommStatus, 3);
    EXPECT_EQ(Tag(3).Value, Variant(true)) << "a switch COMMLINK reads true while the line is faulty";
    EXPECT_EQ(Tag(5).Value, Variant(3));
  }
  EXPECT_EQ(plat::gbk_to_utf8(Tag(2).Value.toString()),
            plat::gbk_to_utf8(Vocabulary()[fiDeviceName]) + "通讯出现故障!");
}

TEST_F(RunStates, DeviceFaultMarksItsTags) {
  Standard();
  obj->ReadExecute();
  obj->DevRun[3].DeviceFault = true;
  obj->answers[3] = Answer::Silent;
  PollAfterTimeout();
  EXPECT_EQ(DeviceText(), "3号智能模块PLNK设备掉电或设备故障!");
  EXPECT_EQ(Tag(0).Value, Variant(0));
  EXPECT_EQ(Tag(4).Value, Variant(false));
  EXPECT_EQ(Tag(4).Status & kStatusDevMarkSet, kStatusDevMarkSet);
}

TEST_F(RunStates, SevereFaultFromTheEleventhTimeOutSignalsTheHost) {
  Standard();
  const plat::HostEvent event = plat::create_host_event();
  ASSERT_NE(event, 0);
  obj->NotifyEvent = event;
  obj->answers[3] = Answer::Silent;
  obj->ReadExecute();
  for (int i = 1; i <= 11; ++i) {
    PollAfterTimeout();
    const bool severe = plat::gbk_to_utf8(obj->sErrEvent) == "严重故障：连续通讯失败，请检查线路和设备";
    EXPECT_EQ(plat::take_host_event(event), i == 11) << i;
    EXPECT_EQ(severe, i == 11) << i;
    obj->sErrEvent.clear();
    Advance(1000);
    obj->ReadExecute();
  }
  plat::close_host_event(event);
}

TEST_F(RunStates, HundredthTimeOutSwitchesLoggingOn) {
  Standard();
  obj->answers[3] = Answer::Silent;
  obj->ReadExecute();
  obj->ReadTimeoutCount = 98;
  obj->EnLog = false;
  PollAfterTimeout();
  EXPECT_FALSE(obj->EnLog);  // 99
  Advance(1000);
  obj->ReadExecute();
  PollAfterTimeout();
  EXPECT_TRUE(obj->EnLog);  // 100
  obj->EnLog = false;
  obj->ReadTimeoutCount = 10099;
  Advance(1000);
  obj->ReadExecute();
  PollAfterTimeout();
  EXPECT_TRUE(obj->EnLog);  // 10100
}

TEST_F(RunStates, WriteSuccessReleasesTheWriteAndReloadsTheBudget) {
  Standard();
  obj->ReadExecute();
  obj->ReadExecute();  // idle in ready
  obj->WriteRetryBudget = 0;
  ASSERT_TRUE(obj->WriteExecute(4, Variant(true)));
  obj->ReadExecute();
  EXPECT_EQ(obj->RunStatus, rsWriting);
  EXPECT_EQ(obj->sent.back(), "W3=True");
  EXPECT_EQ(obj->ReadExecute(), true);
  EXPECT_EQ(obj->RunStatus, rsReady);
  EXPECT_EQ(obj->CurCommand, nullptr);
  EXPECT_EQ(obj->HeadCommand, nullptr);
  EXPECT_EQ(obj->WriteCommCount, 1);
  EXPECT_EQ(obj->WriteRetryBudget, 2);
  EXPECT_EQ(Tag(4).Value, Variant(true));
  EXPECT_EQ(Tag(4).WriteTotal, 1);
  EXPECT_EQ(obj->DevRun[3].BestCommand, obj->CommandList[0]);  // a write is never the probe
}

TEST_F(RunStates, UnansweredWriteGoesOutWriteCountPlusOneTimesThenIsGivenUp) {
  Standard(true, 2);
  obj->answers[3] = Answer::Silent;
  obj->ReadExecute();
  PollAfterTimeout();                                    // the read is given up
  Advance(2 * static_cast<uint64_t>(obj->CommTimeOut));  // and the line has rested
  ASSERT_TRUE(obj->WriteExecute(4, Variant(true)));
  obj->sent.clear();
  ClearLog();
  obj->ReadExecute();
  // While the write is on the line the tag shows its value from before.
  obj->ReadExecute();
  EXPECT_EQ(Tag(4).Value, Variant(false));
  for (int i = 0; i < 5; ++i) PollAfterTimeout();
  EXPECT_EQ(std::count(obj->sent.begin(), obj->sent.end(), "W3=True"), 3);
  EXPECT_EQ(obj->WriteFailCount, 1);
  EXPECT_EQ(obj->WriteTimeoutCount, 3);
  EXPECT_EQ(Tag(4).WriteErrors, 1);
  EXPECT_EQ(Tag(4).Value, Variant(false));
  EXPECT_NE(ReadLog().find("：通讯写失败，执行操作=W3=True"), std::string::npos);
  EXPECT_EQ(obj->WriteRetryBudget, 1);  // reloaded when it ran out, then spent on the last send
}

TEST_F(RunStates, WithWriteCountZeroAWriteGoesOutTwice) {
  Standard(false, 0);
  obj->answers[3] = Answer::Silent;
  obj->ReadExecute();
  PollAfterTimeout();
  ASSERT_TRUE(obj->WriteExecute(4, Variant(true)));
  obj->sent.clear();
  obj->ReadExecute();
  for (int i = 0; i < 4; ++i) PollAfterTimeout();
  EXPECT_EQ(std::count(obj->sent.begin(), obj->sent.end(), "W3=True"), 2);
  EXPECT_EQ(obj->WriteFailCount, 1);
}

TEST_F(RunStates, SystemErrorRecoversAndPollingGoesOn) {
  Standard();
  obj->ReadExecute();
  // The command under way disappears: the answer handler finds none.
  obj->CurCommand = nullptr;
  PollAfterTimeout();
  EXPECT_EQ(obj->RunStatus, rsSysError);
  EXPECT_EQ(obj->RunEvent, opLink);
  Advance(1000);
  obj->ReadExecute();  // clear the error, link at once, choose and send
  EXPECT_EQ(obj->RunStatus, rsReading);
  EXPECT_EQ(obj->sent.size(), 2u);

  // A system error with a code nobody handles there does not loop and polling goes on.
  for (uint8_t code : {uint8_t(opNone), uint8_t(opReadACK), uint8_t(opParmNAK)}) {
    obj->RunStatus = rsSysError;
    obj->RunEvent = code;
    Advance(1000);
    obj->ReadExecute();
    EXPECT_EQ(obj->RunStatus, rsReading) << int(code);
  }
  obj->RunStatus = rsSysErrorUnLinked;
  obj->RunEvent = opInit;
  Advance(1000);
  obj->ReadExecute();
  EXPECT_EQ(obj->RunStatus, rsStopping);  // an init while unlinked stops the instance
}

TEST_F(RunStates, StatusesWithoutAnEventSourceCompleteAtOnce) {
  Standard();
  obj->ReadExecute();
  obj->ReadExecute();
  for (uint8_t status : {uint8_t(rsLinking), uint8_t(rsUnLinking), uint8_t(rsUnLinked), uint8_t(rsIniting),
                         uint8_t(rsParm), uint8_t(rsResvLink1), uint8_t(rsResvLink2), uint8_t(rsResvLink3)}) {
    obj->RunStatus = status;
    obj->RunEvent = opNone;
    Advance(1000);
    const size_t before = obj->sent.size();
    obj->ReadExecute();
    EXPECT_EQ(obj->sent.size(), before + 1) << int(status);
    obj->ReadExecute();  // take the answer
    EXPECT_EQ(obj->RunStatus, rsReady) << int(status);
  }
  // A new start while ready unlinks and links again and keeps polling.
  obj->RunEvent = opInit;
  Advance(1000);
  obj->ReadExecute();
  EXPECT_EQ(obj->RunStatus, rsReading);
  // A stray code in the exchange cycle is dropped instead of stopping the machine.
  obj->RunEvent = opWriteACK;
  obj->ReadExecute();
  EXPECT_EQ(obj->RunEvent, opNone);
  obj->ReadExecute();
  EXPECT_EQ(obj->RunStatus, rsReady);
}

// The table behind SwitchRunStatus: no pair is listed twice (a later row would never run), an
// answer status meets exactly the ACK / NAK / clear-error codes of its own request, and the send
// codes of the ready status lead to their own handlers.
TEST(RunStateTable, EachPairOnceAndEveryAnswerStatusMeetsItsOwnGroup) {
  std::set<std::pair<int, int>> seen;
  for (const TTransition& t : TBaseDLLObject::Transitions()) {
    EXPECT_TRUE(seen.insert({t.Status, t.Event}).second) << int(t.Status) << "/" << int(t.Event);
    EXPECT_NE(t.Exec, nullptr);
  }
  const std::pair<uint8_t, uint8_t> groups[] = {
      {rsStopping, opStop},       {rsIniting, opInit},       {rsLinking, opLink},
      {rsUnLinking, opUnLink},    {rsReading, opReadCmd},    {rsWriting, opWriteCmd},
      {rsParm, opParmCmd},        {rsRail, opRailCmd},       {rsResvLink1, opResvLink1},
      {rsResvLink2, opResvLink2}, {rsResvLink3, opResvLink3}};
  for (auto [status, request] : groups) {
    std::vector<int> codes;
    for (const TTransition& t : TBaseDLLObject::Transitions())
      if (t.Status == status) codes.push_back(t.Event);
    std::sort(codes.begin(), codes.end());
    EXPECT_EQ(codes, (std::vector<int>{request + 1, request + 2, request + 3})) << int(status);
  }
  using B = TBaseDLLObject;
  EXPECT_EQ(B::HandlerFor(rsReady, opReadCmd), &B::opReadCmd_Exec);
  EXPECT_EQ(B::HandlerFor(rsReady, opWriteCmd), &B::opWriteCmd_Exec);
  EXPECT_EQ(B::HandlerFor(rsReading, opReadACK), &B::opReadACK_Exec);
  EXPECT_EQ(B::HandlerFor(rsSysError, opReadACK), &B::opClrSystemError_Exec);
  EXPECT_EQ(B::HandlerFor(rsReading, opWriteACK), nullptr);
  EXPECT_EQ(B::HandlerFor(rsStart, opLink), nullptr);
}

TEST_F(RunStates, AWriteWithAModemHangUpGoesOutAsAWrite) {
  Standard();
  obj->writeAsk = "ATH0";
  obj->ReadExecute();
  obj->ReadExecute();
  ASSERT_TRUE(obj->WriteExecute(4, Variant(true)));
  obj->ReadExecute();
  EXPECT_EQ(obj->sent.back(), "ATH03=True");
  EXPECT_EQ(obj->RunStatus, rsWriting);
  obj->ReadExecute();
  EXPECT_EQ(obj->RunStatus, rsReady);
  Advance(1000);
  obj->ReadExecute();
  EXPECT_EQ(obj->sent.back(), "R3/0/1");
}

TEST_F(RunStates, PausedCommunicationFreezesTheLinkTags) {
  Standard();
  obj->ReadExecute();
  obj->ReadExecute();
  const Variant device = Tag(1).Value, line = Tag(2).Value;
  obj->SetCommEnabled(false);
  Advance(5000);
  EXPECT_TRUE(obj->ReadExecute());
  EXPECT_EQ(obj->sent.size(), 1u);
  EXPECT_EQ(Tag(1).Value, device);
  EXPECT_EQ(Tag(2).Value, line);
  obj->SetCommEnabled(true);
  obj->ReadExecute();
  EXPECT_EQ(obj->sent.size(), 2u);
}

TEST_F(RunStates, AFailingHandlerIsLoggedAndTheNextPollStartsAfresh) {
  PDB block = MakeBlock({3});
  block.ErrorLog = 1;
  ASSERT_TRUE(Init(block, {{0, "PV3:1"}}));
  ClearLog();
  obj->throwOnSend = true;
  EXPECT_TRUE(obj->ReadExecute());
  EXPECT_EQ(obj->RunStatus, rsReady);
  EXPECT_EQ(obj->RunEvent, opNone);
  EXPECT_NE(ReadLog().find("：TBaseDLLObject.opReadCmd_Exec异常！\r\n"), std::string::npos);
  obj->throwOnSend = false;
  Advance(1000);
  obj->ReadExecute();
  EXPECT_EQ(obj->sent.size(), 1u);
  EXPECT_EQ(obj->RunStatus, rsReading);
}

TEST_F(RunStates, StoppedInstanceDoesNothing) {
  Standard();
  obj->ReadExecute();
  obj->Stop();
  EXPECT_TRUE(obj->Stopped);
  Advance(5000);
  EXPECT_TRUE(obj->ReadExecute());
  EXPECT_EQ(obj->sent.size(), 1u);
  EXPECT_FALSE(obj->WriteExecute(4, Variant(true)));
}

// ---- the link tells the truth

TEST_F(RunStates, AWriteToAModuleThatNeverAnsweredLeavesItsLinkAsItWas) {
  Standard();
  obj->writesWaitForAnswer = false;
  obj->answers[3] = Answer::Silent;
  obj->ReadExecute();
  PollAfterTimeout();
  Advance(2 * static_cast<uint64_t>(obj->CommTimeOut));  // the line has rested
  ASSERT_TRUE(obj->WriteExecute(4, Variant(true)));
  obj->ReadExecute();  // the write goes out
  obj->ReadExecute();  // and is done: modules do not answer writes
  EXPECT_EQ(obj->WriteCommCount, 1);
  EXPECT_EQ(Tag(4).Value, Variant(true));
  EXPECT_EQ(obj->CommStatus, 0);
  EXPECT_EQ(DeviceText(), "3号智能模块PLNK通讯始终不成功!");
  EXPECT_EQ(Tag(3).Value, Variant(false));
  EXPECT_EQ(Tag(5).Value, Variant(0));
}

TEST_F(RunStates, SevereFaultCountsConsecutiveTimeOutsOnly) {
  Standard();
  const plat::HostEvent event = plat::create_host_event();
  ASSERT_NE(event, 0);
  obj->NotifyEvent = event;
  obj->ReadExecute();
  obj->ReadExecute();  // the first answer is taken
  // Each step starts when the read is due again, after the rest that follows a time-out.
  const uint64_t rest = std::max<uint64_t>(1000, 3 * static_cast<uint64_t>(obj->CommTimeOut));
  auto timeOut = [&] {
    obj->answers[3] = Answer::Silent;
    Advance(rest);
    obj->ReadExecute();
    PollAfterTimeout();
  };
  auto answered = [&] {
    obj->answers[3] = Answer::Good;
    Advance(rest);
    obj->ReadExecute();
    obj->ReadExecute();
  };
  // Hours of good traffic with a time-out now and then: never a severe fault.
  for (int i = 0; i < 30; ++i) {
    timeOut();
    answered();
  }
  EXPECT_EQ(obj->ReadTimeoutCount, 30);
  EXPECT_FALSE(plat::take_host_event(event));
  EXPECT_EQ(obj->sErrEvent.find(GBK("严重故障")), std::string::npos);
  // Eleven in a row are one.
  for (int i = 1; i <= 11; ++i) {
    timeOut();
    EXPECT_EQ(plat::take_host_event(event), i == 11) << i;
  }
  plat::close_host_event(event);
}

// The count is each module's own: a dead module among live ones raises the fault, however often
// its neighbour answers in between.
TEST_F(RunStates, SevereFaultFromADeadModuleAmongLiveOnes) {
  ASSERT_TRUE(Init(MakeBlock({3, 4}), {{0, "PV3:1", 0, 1000}, {1, "PV4:1", 0, 1000}}));
  obj->CommTimeOut = 300;
  const plat::HostEvent event = plat::create_host_event();
  ASSERT_NE(event, 0);
  obj->NotifyEvent = event;
  obj->answers[3] = Answer::Silent;
  int firstSevere = 0;
  for (int poll = 1; poll <= 400 && firstSevere == 0; ++poll) {
    Advance(50);
    obj->ReadExecute();
    if (plat::take_host_event(event)) firstSevere = poll;
  }
  EXPECT_GT(firstSevere, 0) << "the dead module never raised the severe fault";
  EXPECT_GE(obj->DevFailRun[3], 11u);
  EXPECT_EQ(obj->DevFailRun[4], 0u);
  plat::close_host_event(event);
}

// A write-only line: good writes reset their module's count too, so after an outage one lost write
// is an isolated miss, not a severe fault.
TEST_F(RunStates, AfterGoodWritesOneLostWriteIsNoSevereFault) {
  PDB block = MakeBlock({5});
  block.WriteCount = 2;
  ASSERT_TRUE(Init(block, {{0, "SetPassWord5:0", 1}}));
  obj->CommTimeOut = 300;
  obj->WriteRetryBudget = 2;
  const plat::HostEvent event = plat::create_host_event();
  ASSERT_NE(event, 0);
  obj->NotifyEvent = event;
  bool on = false;
  // One write until it is done or given up; whether the severe fault was raised on the way.
  auto write = [&](Answer a) {
    obj->answers[5] = a;
    on = !on;
    EXPECT_TRUE(obj->WriteExecute(0, Variant(on)));
    bool severe = false;
    for (int i = 0; i < 20; ++i) {
      Advance(static_cast<uint64_t>(obj->CommTimeOut) + 1);
      obj->ReadExecute();
      severe = plat::take_host_event(event) || severe;
    }
    return severe;
  };
  bool outage = false;
  for (int i = 0; i < 6; ++i) outage = write(Answer::Silent) || outage;
  EXPECT_TRUE(outage) << "six lost writes in a row are a severe fault";
  for (int i = 0; i < 5; ++i) EXPECT_FALSE(write(Answer::Good)) << i;
  EXPECT_EQ(obj->DevFailRun[5], 0u);
  EXPECT_FALSE(write(Answer::Silent)) << "one lost write after good ones raised the severe fault";
  plat::close_host_event(event);
}

TEST_F(RunStates, PausingAbandonsTheReadOnTheLine) {
  Standard();
  obj->ReadExecute();
  obj->ReadExecute();  // first answer taken
  Advance(1000);
  obj->ReadExecute();
  ASSERT_EQ(obj->RunStatus, rsReading);
  const int results = obj->results;
  obj->SetCommEnabled(false);
  EXPECT_EQ(obj->RunStatus, rsReady);
  EXPECT_EQ(obj->CurCommand, nullptr);
  Advance(3000);
  obj->SetCommEnabled(true);
  obj->readValue = 7.0;
  obj->ReadExecute();
  // The old request's answer is never looked for: a new request went out first.
  EXPECT_EQ(obj->results, results);
  EXPECT_EQ(obj->sent.size(), 3u);
  EXPECT_EQ(obj->RunStatus, rsReading);
  EXPECT_EQ(obj->ReadCommCount, 1);
}

TEST_F(RunStates, AWriteThatExpiresInTheQueueIsRestoredCountedAndLogged) {
  PDB block = MakeBlock({3, 4});
  block.ErrorLog = true;
  ASSERT_TRUE(Init(block, {{0, "SetPassWord3:0", 1}, {1, "SetPassWord4:0", 1}}));
  ASSERT_TRUE(obj->WriteExecute(0, Variant(true)));
  EXPECT_EQ(Tag(0).Value, Variant(true));
  Advance(10001);  // no poll in between: the write is still queued
  ASSERT_TRUE(obj->WriteExecute(1, Variant(true)));
  EXPECT_EQ(obj->PendingWrites.size(), 1u);
  EXPECT_EQ(Tag(0).Value, Variant(false));  // never sent: the value from before is the true one
  EXPECT_EQ(Tag(0).Status & kStatusNotDelivered, kStatusNotDelivered);  // and the host is told
  EXPECT_EQ(Tag(1).Status & kStatusNotDelivered, 0u);
  EXPECT_EQ(Tag(0).WriteErrors, 1);
  EXPECT_EQ(obj->WriteFailCount, 1);
  EXPECT_EQ(Tag(1).Value, Variant(true));
  EXPECT_NE(ReadLog().find("：标签写入请求未执行：T0写入请求超时,"), std::string::npos);
}

// The module took true; a write of false was queued and replaced by one of true before it left.
// When that write is given up, the tag shows what the module has, not the replaced write's value.
TEST_F(RunStates, AReplacedQueuedWriteIsNeverTheValueRestored) {
  Standard(false, 0);
  obj->ReadExecute();
  obj->ReadExecute();  // first answer; idle
  ASSERT_TRUE(obj->WriteExecute(4, Variant(true)));
  obj->ReadExecute();
  obj->ReadExecute();
  ASSERT_EQ(obj->WriteCommCount, 1);
  obj->answers[3] = Answer::Silent;
  ASSERT_TRUE(obj->WriteExecute(4, Variant(false)));
  ASSERT_TRUE(obj->WriteExecute(4, Variant(true)));
  ASSERT_EQ(obj->PendingWrites.size(), 1u);
  for (int i = 0; i < 6; ++i) PollAfterTimeout();
  EXPECT_EQ(obj->WriteFailCount, 1);
  EXPECT_EQ(Tag(4).Value, Variant(true));
}

// A stop sends nothing more; every write still queued is counted failed and logged, whatever the
// log switches; a write already on the line went out and is not.
TEST_F(RunStates, AStopAccountsForEveryWriteThatWillNotGoOut) {
  ASSERT_TRUE(Init(MakeBlock({3, 4}), {{0, "SetPassWord3:0", 1}, {1, "SetPassWord4:0", 1}}));
  ASSERT_TRUE(obj->WriteExecute(0, Variant(true)));
  ASSERT_TRUE(obj->WriteExecute(1, Variant(true)));
  obj->ReadExecute();  // the first goes out; the second waits
  ASSERT_EQ(obj->RunStatus, rsWriting);
  ClearLog();
  obj->Stop();
  const std::string log = ReadLog();
  EXPECT_EQ(log.find("：标签写入请求未执行：T0"), std::string::npos);
  EXPECT_NE(log.find("：标签写入请求未执行：T1驱动停止时未发送,"), std::string::npos);
  EXPECT_NE(log.find("：写操作失败总次数= 1\r"), std::string::npos);
}

}  // namespace
}  // namespace korvel::test
