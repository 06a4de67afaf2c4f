// The run-time exports on a real driver instance: what OnDataRead reports and OnDataWrite
// accepts for the driver's own tags, one answered exchange over a pseudo-terminal, and the
// instance after FreeDriver.
#include <cstdlib>
#include <map>

#include "exports/DLLMain.h"
#include "exports/KorvelPLNK.h"
#include "platform/env.h"
#include "platform/pty.h"
#include "script_object.h"

namespace korvel::test {
namespace {

class Exports : public ::testing::Test {
 protected:
  void SetUp() override {
    g_now = 1000000;
    plat::set_test_clock([] { return g_now; });
    ClearLog();
    ASSERT_EQ(line_.open_pair(), plat::OpenResult::Ok) << plat::last_error_text();
    plat::set_env("KORVELPLNK_COM1", line_.path());
    block_ = MakeBlock({3});
    infos_ = MakeInfos({{0, "COMMLINK", 2},
                        {1, "ENCOMMLINK", 0},
                        {2, "ENLOG", 1},
                        {3, "DEVICELINK3", 2},
                        {4, "PV3:1", 0},
                        {5, "XYZ", 0}});
    for (TTagInfo& t : infos_) pointers_.push_back(&t);
    char* msg = nullptr;
    ASSERT_EQ(IniDriver(static_cast<int32_t>(pointers_.size()), pointers_.data(), &block_, &msg), 1)
        << (msg ? msg : "");
    std::free(msg);
  }
  void TearDown() override {
    FreeDriver();
    DestroyThreadInstance();
    plat::unset_env("KORVELPLNK_COM1");
    plat::set_test_clock({});
  }

  std::vector<TTagValue> Read() {
    std::vector<TTagValue> buf(pointers_.size());
    int32_t count = -1;
    char* msg = nullptr;
    EXPECT_EQ(OnDataRead(&count, buf.data(), &msg), 1);
    std::free(msg);
    buf.resize(static_cast<size_t>(count));
    // String values are the host's to free: keep their text, release them at once.
    for (TTagValue& r : buf)
      if (r.DataType == 2) {
        texts_[r.TagID] = r.Data.str != nullptr ? plat::gbk_to_utf8(r.Data.str) : "<null>";
        std::free(r.Data.str);
        r.Data.str = nullptr;
      }
    return buf;
  }
  KBool Write(int32_t id, uint8_t type, double d, int32_t b = 0, const char* s = nullptr) {
    TTagValue v;
    std::memset(&v, 0, sizeof v);
    v.TagID = id;
    v.DataType = type;
    if (type == 0) v.Data.dbl = d;
    if (type == 1) v.Data.bln = b;
    if (type == 2) v.Data.str = const_cast<char*>(s);
    char* msg = nullptr;
    const KBool r = OnDataWrite(1, &v, &msg);
    std::free(msg);
    return r;
  }
  // The record is packed: its double is read by copy, never through a misaligned reference.
  static double Dbl(const TTagValue* r) {
    double d = 0;
    std::memcpy(&d, &r->Data, sizeof d);
    return d;
  }
  static int32_t Bln(const TTagValue* r) {
    int32_t b = 0;
    std::memcpy(&b, &r->Data, sizeof b);
    return b;
  }
  static const TTagValue* Find(const std::vector<TTagValue>& recs, int32_t id) {
    for (const TTagValue& r : recs)
      if (r.TagID == id) return &r;
    return nullptr;
  }

  plat::Pty line_;
  PDB block_;
  std::vector<TTagInfo> infos_;
  std::vector<TTagInfo*> pointers_;
  std::map<int32_t, std::string> texts_;  // the last string reported per tag (UTF-8)
};

TEST_F(Exports, FirstReadReportsFirstValuesAndStatusesThenOnlyChanges) {
  const std::vector<TTagValue> first = Read();
  ASSERT_EQ(first.size(), 6u);
  EXPECT_EQ(Dbl(Find(first, 1)), 1.0);  // communication on
  EXPECT_EQ(Bln(Find(first, 2)), 1);    // logging on
  EXPECT_EQ(texts_[3], "3号智能模块PLNK通讯始终不成功!");
  EXPECT_EQ(Find(first, 4)->Status, kStatusAddrChecked);
  EXPECT_EQ(Find(first, 5)->Status, kStatusAddrFailed);
  EXPECT_TRUE(Read().empty());
}

TEST_F(Exports, InternalSwitchesAreWrittenAndReportedBack) {
  Read();
  EXPECT_EQ(Write(1, 0, 0.0), 1);
  std::vector<TTagValue> recs = Read();
  ASSERT_EQ(recs.size(), 1u);
  EXPECT_EQ(recs[0].TagID, 1);
  EXPECT_EQ(Dbl(&recs[0]), 0.0);
  EXPECT_EQ(Write(2, 1, 0, 0), 1);
  recs = Read();
  ASSERT_EQ(recs.size(), 1u);
  EXPECT_EQ(recs[0].TagID, 2);
  EXPECT_EQ(Bln(&recs[0]), 0);
  // The link status is not writable; a record of the wrong type and an unknown tag are refused.
  EXPECT_EQ(Write(0, 2, 0, 0, "x"), 0);
  EXPECT_EQ(Write(1, 1, 0, 1), 0);
  EXPECT_EQ(Write(77, 0, 1.0), 0);
  EXPECT_EQ(Write(-5, 0, 1.0), 0);
  EXPECT_EQ(Write(1, 0, 1.0), 1);
  recs = Read();
  ASSERT_NE(Find(recs, 1), nullptr);
  EXPECT_EQ(Dbl(Find(recs, 1)), 1.0);
}

TEST_F(Exports, AnAnsweredExchangeUpdatesTheLinkTextsAsHostOwnedStrings) {
  Read();  // the first request goes out on the line
  // Module 3's answer: value 12.5, status character 'A', check characters over "03" + body.
  const std::string body = "=12.5A";
  unsigned sum = '0' + '3';
  for (char c : body) sum += static_cast<unsigned char>(c);
  const std::string answer = body + char('@' + ((sum & 0xFF) >> 4)) + char('@' + (sum & 0x0F)) + "\r";
  ASSERT_TRUE(line_.write(answer.data(), answer.size(), 1000));
  std::vector<TTagValue> recs;
  for (int i = 0; i < 2000 && Find(recs, 0) == nullptr; ++i) {
    recs = Read();
    if (Find(recs, 0) == nullptr) plat::sleep_ms(1);  // the line delivers in its own time
  }
  const TTagValue* pv = Find(recs, 4);
  ASSERT_NE(pv, nullptr);
  EXPECT_EQ(Dbl(pv), 12.5);
  ASSERT_NE(Find(recs, 0), nullptr);
  EXPECT_EQ(texts_[0], plat::gbk_to_utf8(Vocabulary()[fiDeviceName]) + "通讯正常!");
  ASSERT_NE(Find(recs, 3), nullptr);
  EXPECT_EQ(texts_[3], "3号智能模块PLNK通讯正常!");
}

TEST_F(Exports, AfterFreeDriverTheInstanceHasNoTags) {
  Read();
  EXPECT_EQ(FreeDriver(), 1);
  EXPECT_TRUE(Read().empty());
  EXPECT_EQ(Write(1, 0, 0.0), 0);
  EXPECT_EQ(Write(2, 1, 0, 1), 0);
  char* msg = nullptr;
  EXPECT_EQ(GetDeviceStatus(&msg), 1);
  std::free(msg);
}

// Copying the pending text may fail for want of memory: no exception reaches the host, and the
// text stays pending for the next call.
TEST_F(Exports, StatusTextsSurviveAFailedCopy) {
  ThreadInstance()->sErrEvent = std::string(100, 'x');  // beyond any in-place buffer
  char* msg = reinterpret_cast<char*>(1);
  int threw = 0;
  g_fail_allocations = true;
  try {
    GetDeviceStatus(&msg);
  } catch (...) {
    ++threw;
  }
  try {
    WriteLog(1, nullptr);
  } catch (...) {
    ++threw;
  }
  g_fail_allocations = false;
  EXPECT_EQ(threw, 0);
  EXPECT_EQ(msg, nullptr);
  GetDeviceStatus(&msg);
  ASSERT_NE(msg, nullptr);
  EXPECT_EQ(std::string(msg), std::string(100, 'x'));
  std::free(msg);
}

}  // namespace
}  // namespace korvel::test
