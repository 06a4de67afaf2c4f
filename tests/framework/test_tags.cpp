// The tag table: identifier map, internal tags with their first values, module defaults,
// initial values from the host and the load failures.
#include <cstring>
#include <limits>

#include "exports/DLLMain.h"
#include "script_object.h"

namespace korvel::test {
namespace {

using Tags = FrameworkTest;

TEST_F(Tags, IdentifierMapFollowsSparseIdentifiers) {
  ASSERT_TRUE(Init(MakeBlock({1}), {{0, "PV1:1"}, {5, "PV1:1"}, {2, "PV1:1"}}));
  ASSERT_EQ(obj->TagIDMap.size(), 6u);
  EXPECT_EQ(obj->TagIDMap[0], 0);
  EXPECT_EQ(obj->TagIDMap[5], 1);
  EXPECT_EQ(obj->TagIDMap[2], 2);
  for (int unused : {1, 3, 4}) EXPECT_EQ(obj->TagIDMap[unused], -1) << unused;
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Tag(i).TagIndex, i);
  EXPECT_EQ(obj->TagCount, 3);

  ASSERT_TRUE(Init(MakeBlock({1}), {{40, "PV1:1"}, {7, "PV1:1"}}));
  EXPECT_EQ(obj->TagIDMap.size(), 41u);
  EXPECT_EQ(obj->TagIDMap[40], 0);
  EXPECT_EQ(obj->TagIDMap[7], 1);
  // A wild identifier does not make the map huge, and a negative one is not mapped.
  ASSERT_TRUE(Init(MakeBlock({1}), {{2000000000, "PV1:1"}, {-3, "PV1:1"}, {1, "PV1:1"}}));
  EXPECT_LT(obj->TagIDMap.size(), 100u);
  EXPECT_EQ(obj->TagIDMap[1], 2);
  EXPECT_EQ(obj->TagList.size(), 3u);
}

TEST_F(Tags, InternalTagsGetTheirKeysAndFirstValues) {
  PDB block = MakeBlock({3});
  ASSERT_TRUE(Init(block, {{0, "CommLink", 2},
                           {1, "COMMLINK", 0},
                           {2, "commlink", 1},
                           {3, "EnCommLink", 0},
                           {4, "ENCOMMLINK", 2},
                           {5, "DeviceLink3", 2},
                           {6, "DEVICELINK7:x", 0},
                           {7, "DEVICELINK150", 0},
                           {8, "DEVICELINKab", 1},
                           {9, "ENDEVICELINK12", 0},
                           {10, "EnLog", 1},
                           {11, "PV3:1", 0}}));
  const std::string device = plat::gbk_to_utf8(Vocabulary()[fiDeviceName]);
  EXPECT_EQ(Utf8(Tag(0).Value), device + "通讯始终不成功!");
  EXPECT_EQ(Tag(1).Value, Variant(0));
  EXPECT_EQ(Tag(2).Value, Variant(false));
  EXPECT_EQ(Tag(3).Value, Variant(1));
  EXPECT_EQ(Utf8(Tag(4).Value), "打开通信线路");
  EXPECT_EQ(Utf8(Tag(5).Value), "3号智能模块PLNK通讯始终不成功!");
  EXPECT_EQ(Tag(5).Address, 3);
  EXPECT_EQ(Tag(6).Address, 7);
  EXPECT_EQ(Tag(7).Address, 0);
  EXPECT_EQ(Tag(8).Address, 0);
  EXPECT_EQ(Tag(8).Value, Variant(false));
  EXPECT_EQ(Tag(9).Address, 12);
  EXPECT_EQ(Tag(10).Value, Variant(true));
  EXPECT_EQ(Tag(0).InternalKey, "COMMLINK");
  EXPECT_EQ(Tag(5).InternalKey, "DEVICELINK3");
  EXPECT_EQ(Tag(10).InternalKey, "ENLOG");
  EXPECT_EQ(Tag(11).InternalKey, "PV");
  for (int i = 0; i <= 10; ++i) {
    EXPECT_EQ(Tag(i).IsInternal, 1) << i;
    EXPECT_EQ(Tag(i).AddrValid, 0) << i;
    EXPECT_EQ(Tag(i).Status, 0u) << i;  // internal tags skip the address check
  }
  EXPECT_EQ(Tag(11).IsInternal, 0);
  EXPECT_EQ(Tag(11).AddrValid, 1);
  EXPECT_EQ(obj->DevFailCount[3], 0xFFFFFFFFu);
  // Only the module tag gets a command.
  ASSERT_EQ(obj->CommandList.size(), 1u);
  EXPECT_EQ(obj->CommandList[0]->TagIndex, std::vector<int32_t>{11});
}

TEST_F(Tags, EnDeviceLinkSwitchesItsModuleOn) {
  obj->DevEnabled[12] = false;
  ASSERT_TRUE(Init(MakeBlock({12}), {{0, "ENDEVICELINK12"}, {1, "PV12:1"}}));
  EXPECT_TRUE(obj->DevEnabled[12]);
  EXPECT_EQ(Tag(0).Address, 12);
}

TEST_F(Tags, DefaultModuleAndModuleTypes) {
  PDB none = MakeBlock({});
  ASSERT_TRUE(obj->IniParm(&none));
  EXPECT_EQ(obj->MinDevID, 99);
  PDB block = MakeBlock({7, 3, 40});
  block.DebugLog = 1;
  ClearLog();
  ASSERT_TRUE(obj->IniParm(&block));
  EXPECT_EQ(obj->MinDevID, 3);
  EXPECT_NE(ReadLog().find("：工程中存在0003号智能模块：PLNK\r\n"), std::string::npos);
  EXPECT_EQ(obj->GetDevType(3), 1);
  EXPECT_EQ(obj->GetDevType(4), 2);
  EXPECT_EQ(obj->GetDevType(100), 2);
  EXPECT_EQ(obj->GetDevType(-1), 2);
  // The type is found by the number an entry carries, not by the entry's place.
  block.Devices[0].DevID = 55;
  block.Devices[0].DevType = 0;
  block.Devices[55].DevType = 2;
  ASSERT_TRUE(obj->IniParm(&block));
  EXPECT_EQ(obj->GetDevType(55), 0);
  // A damaged number does not become the default module.
  block.Devices[1].DevID = -8;
  block.Devices[1].DevType = 1;
  ASSERT_TRUE(obj->IniParm(&block));
  EXPECT_EQ(obj->MinDevID, 3);
  EXPECT_FALSE(obj->IniParm(nullptr));
}

TEST_F(Tags, RecordTakesTheHostsFieldsAndInitialValue) {
  std::vector<TTagInfo> one = MakeInfos({{9, "PARM3:20.0.7", 0, 250}});
  std::memset(one[0].TagName, 'N', sizeof one[0].TagName);  // all 32 bytes used, no NUL
  one[0].Value.vt = VT_R8;
  one[0].Value.dblVal = 3.5;
  PDB block = MakeBlock({3});
  obj->IniParm(&block);
  std::unique_ptr<TDLLTag> t(obj->CreatInternalTag(one[0]));
  ASSERT_TRUE(t);
  EXPECT_EQ(t->TagName, std::string(32, 'N'));
  EXPECT_EQ(t->TagAddr, "PARM3:20.0.7");
  EXPECT_EQ(t->ScanPeriod, 250);
  EXPECT_EQ(t->Address, 3);
  EXPECT_EQ(t->DevType, 1);
  EXPECT_EQ(t->ChannelAddr, 20);
  EXPECT_EQ(t->ThirdSeg, 7);
  EXPECT_EQ(t->Value, Variant(3.5));
  EXPECT_EQ(t->LastValue, Variant(3.5));
  EXPECT_EQ(t->OldValue, Variant(3.5));
  EXPECT_EQ(t->WriteOnly, 0);

  std::vector<TTagInfo> pw = MakeInfos({{1, "SetPassWord3:0", 1}, {2, "PV3:1", 2}, {3, "zz", 0}});
  std::unique_ptr<TDLLTag> a(obj->CreatInternalTag(pw[0])), b(obj->CreatInternalTag(pw[1])),
      c(obj->CreatInternalTag(pw[2]));
  EXPECT_EQ(a->WriteOnly, 1);
  EXPECT_EQ(a->Value, Variant(false));
  EXPECT_EQ(b->Value, Variant(std::string()));
  EXPECT_EQ(c->Value, Variant(0));
  EXPECT_EQ(c->Address, -1);
  EXPECT_EQ(c->DevType, 2);
  EXPECT_EQ(c->AddrType, -1);
}

TEST_F(Tags, LoadFailuresLeaveAClearText) {
  ASSERT_FALSE(Init(MakeBlock({1}), {}));
  EXPECT_EQ(plat::gbk_to_utf8(obj->sErrEvent), "驱动程序加载失败：无合法标签！\r\n");
  EXPECT_NE(ReadLog().find("：驱动程序加载失败：无合法标签！"), std::string::npos);
  EXPECT_TRUE(obj->Stopped);
  EXPECT_FALSE(obj->TagListReady);

  obj = std::make_unique<ScriptObject>();
  ClearLog();
  std::vector<TTagInfo> some = MakeInfos({{0, "PV1:1"}});
  EXPECT_FALSE(obj->IniDLLObj(nullptr, Pointers(some)));
  EXPECT_NE(ReadLog().find("：设备加载失败！"), std::string::npos);
  EXPECT_FALSE(obj->TagListReady);
  EXPECT_EQ(obj->RunEvent, opNone);
}

TEST_F(Tags, SecondInitialisationStartsFromAStoppedInstanceAndPollsAgain) {
  ASSERT_TRUE(Init(MakeBlock({1}), {{0, "PV1:1"}}));
  EXPECT_EQ(obj->RunEvent, opInit);
  obj->ReadExecute();
  EXPECT_EQ(obj->sent.size(), 1u);
  ASSERT_TRUE(Init(MakeBlock({2}), {{0, "PV2:1"}, {1, "PV2:1"}}));
  EXPECT_FALSE(obj->Stopped);
  EXPECT_EQ(obj->TagCount, 2);
  obj->sent.clear();
  // The machine was waiting for an answer; the new start unlinks and links at once and polls.
  obj->ReadExecute();
  ASSERT_EQ(obj->sent.size(), 1u);
  EXPECT_EQ(obj->sent[0], "R2/0/1");
  EXPECT_EQ(obj->RunStatus, rsReading);
}

TEST_F(Tags, AddTagListsExtendsTheTable) {
  ASSERT_TRUE(Init(MakeBlock({1}), {{0, "PV1:1"}}));
  std::vector<TTagInfo> more = MakeInfos({{3, "PV1:1"}, {4, "COMMLINK"}, {5, "ENLOG", 1}});
  std::vector<const TTagInfo*> list = Pointers(more);
  list.insert(list.begin() + 1, nullptr);
  std::vector<int32_t> results;
  EXPECT_TRUE(obj->AddTagLists(list, results));
  EXPECT_EQ(results, (std::vector<int32_t>{0, 1, 0, 0}));
  EXPECT_EQ(obj->TagCount, 4);
  EXPECT_EQ(obj->TagIDMap[3], 1);
  EXPECT_EQ(obj->TagIDMap[5], 3);
  EXPECT_EQ(Tag(3).InternalKey, "ENLOG");
  EXPECT_EQ(Tag(2).IsInternal, 1);
  // The tags of one module share the rebuilt command.
  ASSERT_EQ(obj->CommandList.size(), 1u);
  EXPECT_EQ(obj->CommandList[0]->TagIndex, (std::vector<int32_t>{0, 1}));
}

// A host may store an initial value in any numeric OLE type; each one reaches the tag.
TEST_F(Tags, InitialValuesOfEveryNumericOleTypeAreKept) {
  PDB block = MakeBlock({3});
  obj->IniParm(&block);
  struct Case {
    uint16_t vt;
    uint64_t bits;
    Variant expected;
  };
  double date = 45000.25;
  uint64_t dateBits = 0;
  std::memcpy(&dateBits, &date, sizeof date);
  const Case cases[] = {
      {VT_UI1, 200, Variant(200)},
      {VT_I1, 0xFB, Variant(-5)},
      {VT_UI2, 65535, Variant(65535)},
      {VT_UI4, 4000000000u, Variant(int64_t{4000000000})},
      {VT_INT, 0xFFFFFFFEu, Variant(-2)},
      {VT_UINT, 7, Variant(7)},
      {VT_I8, static_cast<uint64_t>(-9000000000LL), Variant(int64_t{-9000000000LL})},
      {VT_UI8, 9000000000ULL, Variant(int64_t{9000000000LL})},
      {VT_DATE, dateBits, Variant(45000.25)},
  };
  for (const Case& c : cases) {
    std::vector<TTagInfo> info = MakeInfos({{1, "PV3:1", 0}});
    info[0].Value.vt = c.vt;
    std::memcpy(info[0].Value.bytes, &c.bits, sizeof c.bits);
    std::unique_ptr<TDLLTag> t(obj->CreatInternalTag(info[0]));
    ASSERT_TRUE(t) << c.vt;
    EXPECT_EQ(t->Value, c.expected) << "type " << c.vt;
    EXPECT_EQ(t->LastValue, c.expected) << "type " << c.vt;
  }
}

// Hosts place records at any address: a record at every offset from an 8-byte boundary keeps
// its initial value (under UBSan a misaligned read of the variant member aborts).
TEST_F(Tags, RecordsAtAnyAlignmentKeepTheirInitialValue) {
  PDB block = MakeBlock({3});
  obj->IniParm(&block);
  TTagInfo info = MakeInfos({{1, "PV3:1", 0}})[0];
  info.Value.vt = VT_R8;
  info.Value.dblVal = -2.25;
  alignas(8) unsigned char raw[sizeof(TTagInfo) + 8];
  for (size_t offset = 0; offset < 8; ++offset) {
    std::memcpy(raw + offset, &info, sizeof info);
    const auto* placed = reinterpret_cast<const TTagInfo*>(raw + offset);
    std::unique_ptr<TDLLTag> t(obj->CreatInternalTag(*placed));
    ASSERT_TRUE(t) << "offset " << offset;
    EXPECT_EQ(t->Value, Variant(-2.25)) << "offset " << offset;
  }
}

// A value that stays NaN is reported once, not on every poll.
TEST_F(Tags, ATagHoldingNaNIsReportedOnlyWhenItBecomesNaN) {
  ASSERT_TRUE(Init(MakeBlock({3}), {{1, "PV3:1", 0}}));
  std::vector<TTagValue> buf(2);
  int32_t count = 0;
  ReportChangedTags(*obj, count, buf.data());
  Tag(0).Value = Variant(std::numeric_limits<double>::quiet_NaN());
  count = 0;
  ReportChangedTags(*obj, count, buf.data());
  EXPECT_EQ(count, 1);
  for (int poll = 0; poll < 3; ++poll) {
    count = 0;
    ReportChangedTags(*obj, count, buf.data());
    EXPECT_EQ(count, 0) << "poll " << poll;
  }
  Tag(0).Value = Variant(1.5);
  count = 0;
  ReportChangedTags(*obj, count, buf.data());
  EXPECT_EQ(count, 1);
}

}  // namespace
}  // namespace korvel::test
