// The scheduler's choice (periods, overdue times, back-off, write priority) and the write
// queue's rules (replace, repeat, expire, full), all on the test clock.
#include "script_object.h"

namespace korvel::test {
namespace {

class Schedule : public FrameworkTest {
 protected:
  // Two modules with one read command each, plus a password tag on module 1.
  void TwoReads(int32_t p1, int32_t p2) {
    ASSERT_TRUE(
        Init(MakeBlock({1, 2}), {{0, "PV1:1", 0, p1}, {1, "PV2:1", 0, p2}, {2, "SetPassWord1:0", 1}}));
    ASSERT_EQ(obj->CommandList.size(), 2u);
  }
  // The device of the command the scheduler picks now (-1: none), as the run-state machine sees it.
  int Pick() {
    obj->GetNextCommand();
    return obj->CurCommand == nullptr ? -1 : (obj->CurCommand->IsWrite ? 100 : obj->CurCommand->DeviceAddr);
  }
  // Queues a host write of the password tag.
  bool Write(bool value) { return obj->WriteExecute(2, Variant(value)); }
};

TEST_F(Schedule, MostOverdueFirstAndShorterPeriodsMoreOften) {
  TwoReads(1000, 500);
  EXPECT_EQ(Pick(), 1);  // both due at once: the earlier in the list
  int counts[3] = {0, 0, 0};
  for (int step = 0; step < 200; ++step) {  // 10 s in 50 ms steps
    Advance(50);
    const int d = Pick();
    if (d >= 0) ++counts[d];
  }
  EXPECT_EQ(counts[1], 10);
  EXPECT_EQ(counts[2], 20);
}

TEST_F(Schedule, NothingIsChosenBeforeItIsDue) {
  TwoReads(1000, 1000);
  EXPECT_EQ(Pick(), 1);
  EXPECT_EQ(Pick(), 2);
  Advance(999);
  EXPECT_EQ(Pick(), -1);
  EXPECT_EQ(obj->HeadCommand, nullptr);
  Advance(1);
  EXPECT_EQ(Pick(), 1);
}

TEST_F(Schedule, FailingCommandsBackOff) {
  TwoReads(1000, 1000000);
  TCommand* c = obj->CommandList[0];
  EXPECT_EQ(Pick(), 1);
  Pick();  // the other one is due once too
  // Three failures add nothing.
  c->FailCount = 3;
  obj->RescheduleAll();  // changed behind the scheduler's back
  Advance(1000);
  EXPECT_EQ(Pick(), 1);
  // Five: due after (1 + 5) periods.
  c->FailCount = 5;
  obj->RescheduleAll();  // changed behind the scheduler's back
  Advance(5999);
  EXPECT_EQ(Pick(), -1);
  Advance(1);
  EXPECT_EQ(Pick(), 1);
  // Exactly ten adds nothing either.
  c->FailCount = 10;
  obj->RescheduleAll();  // changed behind the scheduler's back
  Advance(1000);
  EXPECT_EQ(Pick(), 1);
  // Eleven: every eleven periods.
  c->FailCount = 11;
  obj->RescheduleAll();  // changed behind the scheduler's back
  Advance(10999);
  EXPECT_EQ(Pick(), -1);
  Advance(1);
  EXPECT_EQ(Pick(), 1);
}

TEST_F(Schedule, SlowestBackOffIsLiftedAfterTwoMinutes) {
  TwoReads(20000, 1000000);
  TCommand* c = obj->CommandList[0];
  Pick();
  Pick();
  c->FailCount = 11;
  obj->RescheduleAll();  // changed behind the scheduler's back
  for (int i = 0; i < 120; ++i) {
    Advance(1000);
    EXPECT_EQ(Pick(), -1) << i;
  }
  Advance(1);
  EXPECT_EQ(Pick(), 1);
  EXPECT_EQ(c->FailCount, 0);
}

TEST_F(Schedule, WritePriorityDecidesBetweenQueuedWritesAndLateReads) {
  TwoReads(1000, 1000);
  Pick();
  Pick();
  ASSERT_TRUE(Write(true));
  Advance(1000);  // both reads due again
  EXPECT_EQ(Pick(), 100);
  EXPECT_EQ(obj->HeadCommand, obj->CurCommand);
  EXPECT_TRUE(obj->PendingWrites.empty());
  obj->FreeCommand(obj->HeadCommand);
  obj->CurCommand = nullptr;

  obj->WritePriority = false;
  ASSERT_TRUE(Write(false));
  Advance(5000);
  // A write counts 10000 ms overdue plus its wait: it beats reads that are 6000 ms late.
  EXPECT_EQ(Pick(), 100);
  obj->FreeCommand(obj->HeadCommand);
  obj->CurCommand = nullptr;
  ASSERT_TRUE(Write(true));
  // A read more than 10000 ms plus the wait overdue goes first.
  obj->CommandList[1]->LastSendTick = g_now - 12000;
  obj->RescheduleAll();
  Advance(1000);
  EXPECT_EQ(Pick(), 2);
  EXPECT_EQ(obj->PendingWrites.size(), 1u);
}

TEST_F(Schedule, NewerWritesReplaceQueuedOnesAndRepeatsAreRefused) {
  PDB block = MakeBlock({1});
  block.ErrorLog = 1;
  ASSERT_TRUE(Init(block, {{0, "SetPassWord1:0", 0}}));
  ClearLog();
  EXPECT_TRUE(obj->WriteExecute(0, Variant(1.0)));
  EXPECT_TRUE(obj->WriteExecute(0, Variant(2.0)));
  EXPECT_TRUE(obj->WriteExecute(0, Variant(3.0)));
  ASSERT_EQ(obj->PendingWrites.size(), 1u);
  EXPECT_EQ(obj->PendingWrites[0]->Values, std::vector<Variant>{Variant(3.0)});
  const std::string log = ReadLog();
  const std::string line = "：标签执行覆盖写入操作：T0, 地址=SetPassWord1:0, 标签值=";
  size_t lines = 0;
  for (size_t p = log.find(line); p != std::string::npos; p = log.find(line, p + 1)) ++lines;
  EXPECT_EQ(lines, 2u);
  // The same value again while it is queued is a repeat.
  EXPECT_FALSE(obj->WriteExecute(0, Variant(3.0)));
  EXPECT_EQ(obj->PendingWrites.size(), 1u);
  EXPECT_EQ(Tag(0).Value, Variant(3.0));
}

TEST_F(Schedule, OldWritesExpireWhenTheNextArrivesEvenPastTheThirtyTwoBitWrap) {
  g_now = (uint64_t{1} << 32) - 5000;  // the clock is about to pass 2^32 ms
  ASSERT_TRUE(Init(MakeBlock({1, 2}), {{0, "SetPassWord1:0", 1}, {1, "SetPassWord2:0", 1}}));
  ASSERT_TRUE(obj->WriteExecute(0, Variant(true)));
  Advance(10000);
  ASSERT_TRUE(obj->WriteExecute(1, Variant(true)));
  EXPECT_EQ(obj->PendingWrites.size(), 2u);  // exactly 10000 ms is not too old
  Advance(20000);
  EXPECT_EQ(obj->PendingWrites.size(), 2u);  // time alone drops nothing
  ASSERT_TRUE(obj->WriteExecute(0, Variant(false)));
  ASSERT_EQ(obj->PendingWrites.size(), 1u);
  EXPECT_EQ(obj->PendingWrites[0]->TagIndex[0], 0);
  EXPECT_EQ(obj->PendingWrites[0]->Values[0], Variant(false));
}

TEST_F(Schedule, FullQueueRefusesTheWriteAndKeepsTheTagAsItWas) {
  std::vector<TagSpec> specs;
  for (int i = 0; i < 301; ++i) specs.push_back({i, "SetPassWord1:0", 1});
  PDB block = MakeBlock({1});
  block.ErrorLog = 1;
  ASSERT_TRUE(Init(block, specs));
  ClearLog();
  for (int i = 0; i < 300; ++i) ASSERT_TRUE(obj->WriteExecute(i, Variant(true))) << i;
  EXPECT_FALSE(obj->WriteExecute(300, Variant(true)));
  EXPECT_EQ(obj->PendingWrites.size(), 300u);
  EXPECT_EQ(Tag(300).Value, Variant(false));
  EXPECT_NE(ReadLog().find("：标签写入请求未执行：T300写入队列已满, 地址=SetPassWord1:0, 标签值=True"),
            std::string::npos);
  // Once the old writes are stale, a new write finds room.
  Advance(10001);
  EXPECT_TRUE(obj->WriteExecute(300, Variant(true)));
  EXPECT_EQ(obj->PendingWrites.size(), 1u);
}

TEST_F(Schedule, RefreshReleasesTheCommandsItRebuilds) {
  std::vector<TagSpec> specs;
  for (int i = 0; i < 50; ++i) specs.push_back({i, "PV" + std::to_string(i) + ":1"});
  specs.push_back({50, "SetPassWord1:0", 1});
  std::vector<int> modules;
  PDB block = MakeBlock({});
  for (int i = 0; i < 50; ++i) {
    block.Devices[i].DevType = 1;
    block.Devices[i].DevTypeName.set("PLNK");
  }
  ASSERT_TRUE(Init(block, specs));
  obj->WriteExecute(50, Variant(true));
  obj->ReadExecute();  // a write on the line, owned through HeadCommand
  obj->DevRun[3].BestCommand = obj->CommandList[3];
  obj->Refresh();  // first rebuild: settle any one-time allocations
  const long before = g_live_blocks.load();
  for (int i = 0; i < 100; ++i) {
    obj->WriteExecute(50, Variant(i % 2 == 0));
    obj->Refresh();
  }
  EXPECT_EQ(g_live_blocks.load(), before);
  EXPECT_EQ(obj->CommandList.size(), 50u);
  EXPECT_TRUE(obj->PendingWrites.empty());
  EXPECT_EQ(obj->DevRun[3].BestCommand, nullptr);
}

TEST_F(Schedule, ChainIsWalkedBeforeTheNextChoiceAndTransientChainsAreReleased) {
  TwoReads(1000, 1000);
  TCommand* head = obj->CommandList[0];
  auto* second = new TCommand(*head);
  auto* third = new TCommand(*head);
  second->NextCommand = third;
  head->NextCommand = second;
  second->AskStr = "second";
  third->AskStr = "third";
  obj->ReadExecute();  // start: the chain's head goes out
  ASSERT_EQ(obj->sent.size(), 1u);
  obj->ReadExecute();
  obj->ReadExecute();
  obj->ReadExecute();
  EXPECT_EQ(obj->sent, (std::vector<std::string>{"R1/0/1", "second", "third", "R2/0/1"}));
}

}  // namespace
}  // namespace korvel::test
