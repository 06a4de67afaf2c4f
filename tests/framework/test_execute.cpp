// Host writes: every refusal with its log line, the internal switches, the value a tag shows
// around its write, and the identifiers the host never handed over.
#include "script_object.h"

namespace korvel::test {
namespace {

class Execute : public FrameworkTest {
 protected:
  void SetUp() override {
    FrameworkTest::SetUp();
    PDB block = MakeBlock({3});
    block.ErrorLog = 1;
    ASSERT_TRUE(Init(block, {{0, "PV3:1", 0},
                             {1, "SetPassWord3:0", 1},
                             {2, "SetPassWord3:0", 0, 1000, "PwA"},
                             {3, "COMMLINK", 0},
                             {4, "ENCOMMLINK", 0},
                             {5, "ENLOG", 1},
                             {9, "ENCOMMLINK", 1}}));
    ClearLog();
  }
};

TEST_F(Execute, RefusalsAreReportedAndLogged) {
  EXPECT_FALSE(obj->WriteExecute(0, Variant(1.0)));
  EXPECT_NE(ReadLog().find("：标签T0不可写!\r\n"), std::string::npos);
  EXPECT_FALSE(obj->WriteExecute(3, Variant(1.0)));
  EXPECT_NE(ReadLog().find("：标签T3不可写!\r\n"), std::string::npos);
  EXPECT_FALSE(obj->WriteExecute(1, Variant(1.0)));
  EXPECT_NE(ReadLog().find("：标签T1写错误,标签不是模拟量类型!\r\n"), std::string::npos);
  EXPECT_FALSE(obj->WriteExecute(2, Variant(true)));
  EXPECT_NE(ReadLog().find("：标签PwA写错误,标签不是开关量类型!\r\n"), std::string::npos);
  EXPECT_FALSE(obj->WriteExecute(1, Variant(std::string("x"))));
  EXPECT_NE(ReadLog().find("：标签T1写错误,标签不是字符串类型!\r\n"), std::string::npos);
  EXPECT_EQ(Tag(1).Value, Variant(false));
  EXPECT_TRUE(obj->PendingWrites.empty());
}

TEST_F(Execute, IdentifiersTheHostNeverHandedOverAreRefused) {
  EXPECT_FALSE(obj->WriteExecute(6, Variant(true)));   // inside the map, names no tag
  EXPECT_FALSE(obj->WriteExecute(10, Variant(true)));  // beyond the map
  EXPECT_FALSE(obj->WriteExecute(-1, Variant(true)));
  EXPECT_FALSE(obj->WriteExecute(2147483647, Variant(true)));
  EXPECT_TRUE(obj->WriteExecute(1, Variant(true)));
}

TEST_F(Execute, CommunicationAndLoggingSwitches) {
  EXPECT_TRUE(obj->WriteExecute(4, Variant(0.0)));
  EXPECT_FALSE(obj->CommEnabled);
  EXPECT_EQ(Tag(4).Value, Variant(0));
  // While paused a poll succeeds and changes nothing, and module writes are refused quietly.
  EXPECT_TRUE(obj->ReadExecute());
  EXPECT_TRUE(obj->sent.empty());
  EXPECT_EQ(obj->RunStatus, rsStart);
  EXPECT_FALSE(obj->WriteExecute(1, Variant(true)));
  EXPECT_TRUE(obj->WriteExecute(9, Variant(true)));
  EXPECT_TRUE(obj->CommEnabled);
  EXPECT_EQ(Tag(6).Value, Variant(true));
  EXPECT_TRUE(obj->WriteExecute(4, Variant(1.0)));
  EXPECT_EQ(Tag(4).Value, Variant(1));
  obj->ReadExecute();
  EXPECT_EQ(obj->sent.size(), 1u);

  obj->LogAllowed = false;  // the host's setter could not switch it on; a write does
  EXPECT_TRUE(obj->WriteExecute(5, Variant(false)));
  EXPECT_FALSE(obj->EnLog);
  EXPECT_EQ(Tag(5).Value, Variant(false));
  EXPECT_TRUE(obj->WriteExecute(5, Variant(true)));
  EXPECT_TRUE(obj->EnLog);
  EXPECT_EQ(Tag(5).Value, Variant(true));
}

TEST_F(Execute, TagShowsTheNewValueAtOnceTheOldOneOnTheLineAndTheNewOneWhenConfirmed) {
  obj->ReadExecute();  // start: the PV read goes out
  obj->ReadExecute();  // answered; idle
  ASSERT_TRUE(obj->WriteExecute(1, Variant(true)));
  EXPECT_EQ(Tag(1).Value, Variant(true));
  obj->answers[3] = Answer::Silent;
  obj->ReadExecute();  // the write goes out
  ASSERT_TRUE(obj->CurCommand != nullptr && obj->CurCommand->IsWrite);
  // A second write of the same tag while it is on the line is refused.
  EXPECT_FALSE(obj->WriteExecute(1, Variant(false)));
  EXPECT_NE(ReadLog().find("：标签写入请求未执行：T1正在执行写入操作, 地址=SetPassWord3:0, 标签值=True\r\n"),
            std::string::npos);
  obj->ReadExecute();
  EXPECT_EQ(Tag(1).Value, Variant(false));
  obj->answers[3] = Answer::Good;
  obj->ReadExecute();
  EXPECT_EQ(Tag(1).Value, Variant(true));
  EXPECT_EQ(obj->WriteCommCount, 1);
}

TEST_F(Execute, NothingIsAcceptedBeforeInitialisationOrAfterStop) {
  ScriptObject fresh;
  EXPECT_FALSE(fresh.WriteExecute(0, Variant(true)));
  EXPECT_TRUE(fresh.ReadExecute());
  obj->Stop();
  EXPECT_FALSE(obj->WriteExecute(1, Variant(true)));
  EXPECT_TRUE(obj->ReadExecute());
  EXPECT_TRUE(obj->sent.empty());
}

TEST_F(Execute, SmallHooks) {
  EXPECT_EQ(obj->GetInterval(), 10);
  EXPECT_NE(ReadLog().find("：有效标签个数=7\r\n"), std::string::npos);
  EXPECT_TRUE(obj->ValidTagValFrm(2, 0));
  EXPECT_FALSE(obj->ValidTagValFrm(1, 0));
  EXPECT_TRUE(obj->ValidTagValFrm(0, 1));
  EXPECT_TRUE(obj->ValidTagValFrm(2, 2));
  EXPECT_FALSE(obj->ValidTagValFrm(3, 1));
  EXPECT_FALSE(obj->ValidTagValFrm(0, 3));
  EXPECT_FALSE(obj->ReadExecuteEx());
  obj->SetCommEnabled(false);
  EXPECT_FALSE(obj->ReadExecuteEx());
}

}  // namespace
}  // namespace korvel::test
