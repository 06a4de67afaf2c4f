// The protocol classes' command building: grouping of tags into shared requests, frames, write
// commands and the protocol parameters, on tag records built by hand.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>

#include "driver/getfileinfo.h"
#include "platform/clock.h"
#include "platform/text.h"
#include "protocol/DLLRealize.h"
#include "protocol/Frames.h"
#include "sim/sim_line.h"

namespace korvel {
namespace {

class Grouping : public ::testing::Test {
 protected:
  void SetUp() override {
    plat::set_test_clock([this] { return now_; });
    obj_ = std::make_unique<TDLLObject>(true);
    obj_->TagListReady = true;
  }
  void TearDown() override {
    obj_->TagListReady = false;
    for (TCommand*& c : obj_->CommandList) obj_->FreeCommand(c);
    obj_->CommandList.clear();
    for (TCommand*& c : obj_->PendingWrites) obj_->FreeCommand(c);
    obj_->PendingWrites.clear();
    obj_.reset();
    plat::set_test_clock({});
  }

  TDLLTag* AddTag(int32_t kind, int32_t dev, int32_t channel, uint8_t type = 0, int32_t period = 1000) {
    auto t = std::make_unique<TDLLTag>();
    t->TagIndex = static_cast<int32_t>(obj_->TagList.size());
    t->TagID = t->TagIndex;
    t->TagName = "T" + std::to_string(t->TagIndex);
    t->AddrType = kind;
    t->Address = dev;
    t->ChannelAddr = channel;
    t->TagType = type;
    t->ScanPeriod = period;
    t->AddrValid = 1;
    t->BitAddr = -1;
    t->Value = type == 1 ? Variant(false) : Variant(0.0);
    obj_->TagList.push_back(std::move(t));
    return obj_->TagList.back().get();
  }

  // What the framework's command build does with the protocol layer's operations.
  void Build() {
    for (const auto& t : obj_->TagList) {
      if (!proto::IsReadable(t->AddrType) && proto::IsWritable(t->AddrType)) continue;
      if (TCommand* c = obj_->CreatCommand(t.get(), obj_->CommandList, false)) obj_->CommandList.push_back(c);
    }
    obj_->OptimizeCommParm();
  }

  uint64_t now_ = 50000;
  std::unique_ptr<TDLLObject> obj_;
};

TEST_F(Grouping, PvAndAlarmTagsOfADeviceShareOneFrame) {
  AddTag(0, 3, 1);
  AddTag(0, 3, 1, 0, 500);
  AddTag(1, 3, 2, 1, 2000);
  Build();
  ASSERT_EQ(obj_->CommandList.size(), 1u);
  const TCommand* c = obj_->CommandList[0];
  EXPECT_EQ(c->TagIndex, (std::vector<int32_t>{0, 1, 2}));
  EXPECT_EQ(c->AskStr, "#03HF\r");
  EXPECT_EQ(c->AnswerMainStr, "=03");
  EXPECT_EQ(c->Period, 500);  // the shortest period of its tags
  EXPECT_TRUE(c->FrameReady);
  EXPECT_EQ(c->CmdKind, 2);
  EXPECT_EQ(c->RetryMode, 2);
  EXPECT_FALSE(c->IsWrite);
  EXPECT_EQ(c->DeviceAddr, 3);
}

TEST_F(Grouping, ParametersAndDevicesGetCommandsOfTheirOwn) {
  AddTag(2, 1, 16);
  AddTag(2, 1, 17);
  AddTag(2, 1, 16);
  AddTag(0, 2, 1);
  AddTag(3, 2, 1);
  AddTag(3, 2, 1);
  Build();
  ASSERT_EQ(obj_->CommandList.size(), 4u);
  EXPECT_EQ(obj_->CommandList[0]->AskStr, proto::CheckCRC("$0110") + "\r");
  EXPECT_EQ(obj_->CommandList[0]->TagIndex, (std::vector<int32_t>{0, 2}));
  EXPECT_EQ(obj_->CommandList[1]->AskStr, proto::CheckCRC("$0111") + "\r");
  EXPECT_EQ(obj_->CommandList[1]->AnswerMainStr, "!01");
  EXPECT_EQ(obj_->CommandList[2]->AskStr, "#02HE\r");
  EXPECT_EQ(obj_->CommandList[3]->AskStr, proto::CheckCRC("#020001") + "\r");
  EXPECT_EQ(obj_->CommandList[3]->TagIndex, (std::vector<int32_t>{4, 5}));
}

TEST_F(Grouping, AlarmChannelsWidenTheirCommandsRange) {
  AddTag(1, 5, 2, 1);
  AddTag(1, 5, 1, 1);
  AddTag(1, 5, 3, 1);
  Build();
  ASSERT_EQ(obj_->CommandList.size(), 1u);
  EXPECT_EQ(obj_->CommandList[0]->StartAddr, 1);
  EXPECT_EQ(obj_->CommandList[0]->EndAddr, 3);
}

TEST_F(Grouping, RejectedAddressesAndPasswordTagsGetNoReadCommand) {
  TDLLTag* bad = AddTag(0, 4, 1);
  bad->AddrValid = 0;
  AddTag(4, 4, 0, 1);
  TDLLTag* noKind = AddTag(-1, 4, 1);
  (void)noKind;
  Build();
  // The kind-less tag passes NeedCreatCommand but still gets no command.
  EXPECT_TRUE(obj_->CommandList.empty());
}

TEST_F(Grouping, ReadCommandsAreDueAtOnce) {
  now_ = 100;  // earlier than the period: the due time must not wrap into the far future
  AddTag(0, 1, 1, 0, 1000);
  Build();
  ASSERT_EQ(obj_->CommandList.size(), 1u);
  const TCommand* c = obj_->CommandList[0];
  const int64_t dueIn = static_cast<int64_t>(static_cast<uint64_t>(c->Period) - now_ + c->LastSendTick);
  EXPECT_EQ(dueIn, 0);
}

TEST_F(Grouping, PasswordWriteFramesAndRepeatedWrites) {
  TDLLTag* pw = AddTag(4, 7, 0, 1);
  pw->Value = Variant(true);
  TCommand* w = obj_->CreatCommand(pw, obj_->CommandList, true);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->AskStr, proto::CheckCRC("%0710+07342") + "\r");
  EXPECT_EQ(w->CmdKind, 11);
  EXPECT_EQ(w->RetryMode, 1);
  EXPECT_TRUE(w->FrameReady);
  EXPECT_TRUE(w->IsWrite);
  EXPECT_EQ(w->AnswerMainStr, "");
  w->Values = {pw->Value};
  obj_->PendingWrites.push_back(w);
  // The same value again while the first is queued: refused.
  EXPECT_EQ(obj_->CreatCommand(pw, obj_->CommandList, true), nullptr);
  // Another value is a new write; switching off sends nothing at all.
  pw->Value = Variant(false);
  TCommand* off = obj_->CreatCommand(pw, obj_->CommandList, true);
  ASSERT_NE(off, nullptr);
  EXPECT_EQ(off->AskStr, "");
  obj_->FreeCommand(off);
  // Read-only kinds refuse writes.
  TDLLTag* pv = AddTag(0, 7, 1);
  EXPECT_EQ(obj_->CreatCommand(pv, obj_->CommandList, true), nullptr);
}

TEST_F(Grouping, WriteRawImageAndRounding) {
  TDLLTag* sw = AddTag(4, 1, 0, 1);
  sw->BitAddr = 15;
  sw->RawValue = 0x30001;  // bits above 15 are dropped
  sw->Value = Variant(true);
  TCommand* c = obj_->CreatCommand(sw, obj_->CommandList, true);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(sw->RawValue, 0x8001);
  EXPECT_EQ(c->RawValue, 0x8001);
  obj_->FreeCommand(c);
  // A switch without a bit part changes no bit (no shift by -1).
  TDLLTag* nobit = AddTag(4, 1, 0, 1);
  nobit->RawValue = 5;
  nobit->Value = Variant(true);
  c = obj_->CreatCommand(nobit, obj_->CommandList, true);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(nobit->RawValue, 5);
  obj_->FreeCommand(c);
  // An analog write keeps the number in the raw image and the tag takes the rounded integer.
  TDLLTag* an = AddTag(4, 1, 0, 0);
  an->Value = Variant(2.5);
  c = obj_->CreatCommand(an, obj_->CommandList, true);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(an->RawValue, 2.5);
  EXPECT_EQ(c->RawValue, 2);
  EXPECT_EQ(an->Value.kind(), Variant::Kind::Int);
  EXPECT_EQ(an->Value, Variant(2));
  EXPECT_EQ(c->WriteValue, Variant(2.5));
  obj_->FreeCommand(c);
  // A huge analog value saturates instead of overflowing.
  TDLLTag* huge = AddTag(4, 1, 0, 0);
  huge->Value = Variant(1e300);
  c = obj_->CreatCommand(huge, obj_->CommandList, true);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->RawValue, 2147483647);
  obj_->FreeCommand(c);
}

TEST_F(Grouping, IntervalIsAlwaysTen) {
  for (int i = 0; i < 5; ++i) AddTag(0, i, 1, 0, 7);
  Build();
  EXPECT_EQ(obj_->GetInterval(), 10);
}

TEST_F(Grouping, CommandAndRefusedWriteLines) {
  const std::string saved = LogFileName();
  const std::string log =
      ::testing::TempDir() + "korvel-grouping-" + std::to_string(std::random_device{}()) + ".Log";
  std::remove(log.c_str());
  SetLogFileName(log);
  obj_->Parm.DebugLog = 1;
  obj_->Parm.ErrorLog = 1;
  obj_->Parm.Devices[3].DevID = 3;
  obj_->Parm.Devices[3].DevType = 1;
  obj_->Parm.Devices[3].DevTypeName.set(DevTypeNameOf(1));
  TDLLTag* pv = AddTag(0, 3, 1);
  pv->TagAddr = "PV3:1";
  TDLLTag* pw = AddTag(4, 3, 0, 1);
  pw->TagAddr = "SetPassWord3:0";
  Build();
  pw->Value = Variant(true);
  TCommand* w = obj_->CreatCommand(pw, obj_->CommandList, true);
  ASSERT_NE(w, nullptr);
  w->Values = {pw->Value};
  obj_->PendingWrites.push_back(w);
  EXPECT_EQ(obj_->CreatCommand(pw, obj_->CommandList, true), nullptr);
  SetLogFileName(saved);
  std::ifstream in(log, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::remove(log.c_str());
  const TfileInfo& v = Vocabulary();
  const std::string head = GBK("：") + v[fiDevTypeName] + GBK("类型=PLNK，") + v[fiDevIDName] + "=3[";
  EXPECT_NE(text.find(head + GBK("T0 地址=PV3:1 ]生成读标签命令串=#03HF\r\r\n")), std::string::npos) << text;
  EXPECT_NE(text.find(head + GBK("T1 地址=SetPassWord3:0 写入值=True,]生成写标签命令串=") +
                      proto::CheckCRC("%0310+07342") + "\r\r\n"),
            std::string::npos);
  EXPECT_NE(text.find(GBK("：标签写入请求未执行：T1重复写入, 地址=SetPassWord3:0, 标签值=True\r\n")),
            std::string::npos);
}

TEST(ProtocolParameters, TimeOutIsClampedAndBudgetLoaded) {
  sim::SimLine line(16, false);
  ASSERT_TRUE(line.ok()) << line.error();
  auto obj = std::make_unique<TDLLObject>(true);
  auto block = std::make_unique<PDB>();
  FillPDBDefaults(block.get());
  block->ComPort = 15;
  block->TimeOut = 0;
  block->WriteCount = 4;
  EXPECT_TRUE(obj->IniParm(block.get()));
  EXPECT_TRUE(obj->PortExists);
  EXPECT_EQ(obj->sErrEvent, "Com16" + GBK("打开成功"));
  EXPECT_EQ(obj->CommTimeOut, 10);
  EXPECT_EQ(obj->WriteRetryBudget, 4);
  block->TimeOut = 65535;
  obj->IniParm(block.get());
  EXPECT_EQ(obj->CommTimeOut, 60000);
  block->TimeOut = 1000;
  obj->IniParm(block.get());
  EXPECT_EQ(obj->CommTimeOut, 1000);
  EXPECT_FALSE(obj->IniParm(nullptr));
  obj->Stop();
  EXPECT_FALSE(obj->PortExists);
  EXPECT_FALSE(obj->LineOpen());
}

TEST(ChannelAddress, HexadecimalChannelsWithKindDefaults) {
  TDLLObject obj(false);
  EXPECT_EQ(obj.GetChannelAddr("t", "PARM3:1A", 1), 26);
  EXPECT_EQ(obj.GetChannelAddr("t", "PARM3:4f", 0), 79);
  EXPECT_EQ(obj.GetChannelAddr("t", "PARM3:", 1), 16);
  EXPECT_EQ(obj.GetChannelAddr("t", "PV5:", 1), 1);
  EXPECT_EQ(obj.GetChannelAddr("t", "PV_ALARM5:3.0", 1), 3);
  EXPECT_EQ(obj.GetChannelAddr("t", "pv5" + GBK("：") + "1", 1), 1);
  EXPECT_EQ(obj.GetChannelAddr("t", "PV5:zz", 1), 1);  // not hexadecimal
  EXPECT_EQ(obj.GetChannelAddr("t", "PV5", 1), 5);     // no separator: the digits are the channel
  EXPECT_EQ(obj.GetChannelAddr("t", "PV5:1", 2), -1);  // module not configured
  EXPECT_EQ(obj.GetChannelAddr("t", "XYZ5:1", 1), -1);
}

}  // namespace
}  // namespace korvel
