// The exports as a host calls them: texts without an instance, string ownership, templates,
// per-thread instances.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <thread>

#include "driver/PDB.h"
#include "driver/records.h"
#include "exports/DLLMain.h"
#include "exports/KorvelPLNK.h"
#include "platform/hoststring.h"
#include "platform/text.h"

using namespace korvel;

namespace {

// Takes a host-owned string and frees it as the host does.
std::string take(char* p) {
  std::string s = p ? p : "";
  korvel::plat::host_free(p);  // free() on POSIX, CoTaskMemFree on Windows
  return s;
}

template <class F>
void on_new_thread(F f) {
  std::thread t(f);
  t.join();
}

std::string short_str(const uint8_t* f) {
  return std::string(reinterpret_cast<const char*>(f + 1), f[0]);
}

}  // namespace

TEST(Exports, RunTimeCallsWithoutAnInstanceSayInitialisationFailed) {
  on_new_thread([] {
    const std::string text = GBK("通讯设备初始化失败");
    char* msg = reinterpret_cast<char*>(1);
    int32_t count = 42;
    TTagValue buf[2];
    EXPECT_EQ(OnDataRead(&count, buf, &msg), 1);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(take(msg), text);

    msg = nullptr;
    TTagValue rec{};
    EXPECT_EQ(OnDataWrite(1, &rec, &msg), 0);
    EXPECT_EQ(take(msg), text);

    EXPECT_EQ(GetDeviceStatus(&msg), 1);
    EXPECT_EQ(take(msg), text);

    WriteLog(1, &msg);
    EXPECT_EQ(take(msg), text);

    EXPECT_EQ(DetectScanTime(), 1000);
    EXPECT_EQ(FreeDriver(), 1);
    EXPECT_EQ(IniDriverEx(5), 1);
    ReleaseDriver();
    EXPECT_EQ(GetPDBLen(), 26508);
  });
}

TEST(Exports, NullPointersFromTheHostGetAClearAnswer) {
  on_new_thread([] {
    char* msg = nullptr;
    auto block = std::make_unique<PDB>();
    std::memset(block.get(), 0, sizeof(PDB));
    FullPDB(block.get());
    TTagInfo info{};
    TTagInfo* tags[1] = {&info};
    EXPECT_EQ(IniDriver(1, nullptr, block.get(), &msg), 0);
    EXPECT_EQ(take(msg), GBK("无效的标签列表。"));
    EXPECT_EQ(IniDriver(1, tags, nullptr, &msg), 0);
    EXPECT_EQ(take(msg), GBK("无效的参数信息。"));
    EXPECT_EQ(IniDriver(1, nullptr, block.get(), nullptr), 0);  // no message pointer at all

    // No output pointers: nothing is written, nothing crashes.
    EXPECT_EQ(OnDataRead(nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(OnDataWrite(0, nullptr, nullptr), 0);
    EXPECT_EQ(GetDeviceStatus(nullptr), 1);
    WriteLog(0, nullptr);
    GetTagAddrList(0, nullptr, nullptr);
    EXPECT_EQ(TagEdAddr(block.get(), nullptr, 0, &msg), 0);
    take(msg);
    EXPECT_EQ(DLLTestDev(nullptr, 0), 0);
    EXPECT_EQ(DLLEdDev(0, nullptr), 2);
  });
}

TEST(Exports, TagAddrListCountsAndTemplates) {
  int32_t count = 0;
  GetTagAddrList(0, &count, nullptr);
  ASSERT_EQ(count, 7);
  std::vector<TTagAddrInfo> items(7);
  std::memset(items.data(), 0xCC, items.size() * sizeof(TTagAddrInfo));
  GetTagAddrList(123, &count, items.data());
  const char* prefixes[] = {"PV", "PV_ALARM", "PARM", "AO", "SetPassWord", "CommLink", "DeviceLink"};
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(short_str(items[i].Prefix), prefixes[i]);
    EXPECT_EQ(items[i].Reserved532, 0);
    EXPECT_EQ(items[i].Flag, i == 4 ? 1 : 0);
  }
  EXPECT_EQ(short_str(items[0].Hint), GBK("模块测量值"));
  EXPECT_EQ(short_str(items[6].Hint), GBK("设备通讯连接状态(-系统标签-)"));
  // Packed doubles: read by value, never through a reference.
  const double max0 = items[0].MaxValue, min0 = items[0].MinValue, max2 = items[2].MaxValue,
               max5 = items[5].MaxValue;
  EXPECT_EQ(max0, 99999);
  EXPECT_EQ(min0, -99999);
  EXPECT_EQ(items[1].DataType, 1);
  EXPECT_EQ(max2, 65535);
  EXPECT_EQ(max5, 5);

  // A smaller count fills only that many; the rest of the array is untouched.
  std::vector<TTagAddrInfo> two(3);
  std::memset(two.data(), 0xCC, two.size() * sizeof(TTagAddrInfo));
  count = 2;
  GetTagAddrList(0, &count, two.data());
  EXPECT_EQ(short_str(two[1].Prefix), "PV_ALARM");
  EXPECT_EQ(two[2].Prefix[0], 0xCC);
  count = 1000;  // more than the table holds: only 7 are written
  GetTagAddrList(0, &count, items.data());
}

TEST(Exports, TagEdAddrWithSkipCheckHandsBackTheSameText) {
  auto block = std::make_unique<PDB>();
  FullPDB(block.get());
  char original[] = "pv5";
  char* addr = original;
  char* msg = reinterpret_cast<char*>(1);
  EXPECT_EQ(TagEdAddr(block.get(), &addr, 1, &msg), 1);
  ASSERT_NE(addr, original) << "a new copy is handed out";
  EXPECT_STREQ(addr, "pv5");
  EXPECT_EQ(msg, nullptr);
  korvel::plat::host_free(addr);
  EXPECT_STREQ(original, "pv5") << "the host's text is not touched";

  char empty[] = "";
  addr = empty;
  EXPECT_EQ(TagEdAddr(block.get(), &addr, 1, &msg), 1);
  EXPECT_EQ(addr, nullptr) << "an empty address comes back as a null pointer";

  addr = original;
  EXPECT_EQ(TagEdAddr(nullptr, &addr, 0, &msg), 0);
  EXPECT_EQ(take(msg), GBK("通讯设备初始化失败"));
  EXPECT_STREQ(addr, "pv5");
  korvel::plat::host_free(addr);
}

TEST(Exports, AnInstanceEndsWithItsThread) {
  const int before = SlotInstanceCount();
  auto block = std::make_unique<PDB>();
  FullPDB(block.get());
  on_new_thread([&] {
    TTagInfo info{};
    info.TagID = 1;
    std::strcpy(info.TagAddr, "PV1");
    TTagInfo* tags[1] = {&info};
    char* msg = nullptr;
    IniDriver(1, tags, block.get(), &msg);
    take(msg);
    EXPECT_NE(ThreadInstance(), nullptr);
    EXPECT_EQ(SlotInstanceCount(), before + 1);
    // A second initialisation on the same thread replaces the earlier instance.
    IniDriver(1, tags, block.get(), &msg);
    take(msg);
    EXPECT_EQ(SlotInstanceCount(), before + 1);
  });
  EXPECT_EQ(SlotInstanceCount(), before);
}

TEST(Exports, DeviceTestDestroysTheCallingThreadsInstance) {
  on_new_thread([] {
    auto block = std::make_unique<PDB>();
    FullPDB(block.get());
    TTagInfo info{};
    std::strcpy(info.TagAddr, "PV1");
    TTagInfo* tags[1] = {&info};
    char* msg = nullptr;
    IniDriver(1, tags, block.get(), &msg);
    take(msg);
    ASSERT_NE(ThreadInstance(), nullptr);
    DLLTestDev(block.get(), 0);
    EXPECT_EQ(ThreadInstance(), nullptr);
  });
}

TEST(Exports, ABlockOfRandomBytesGetsAClearAnswer) {
  on_new_thread([] {
    std::mt19937 rng(11);
    for (int round = 0; round < 5; ++round) {
      auto block = std::make_unique<PDB>();
      auto* raw = reinterpret_cast<uint8_t*>(block.get());
      for (size_t i = 0; i < sizeof(PDB); ++i) raw[i] = static_cast<uint8_t>(rng());
      block->ComPort = 200;  // a port number no line has: refused at once, without the open retry
      TTagInfo info{};
      info.TagID = 3;
      std::strcpy(info.TagAddr, "PV1:1");
      TTagInfo* tags[2] = {&info, nullptr};  // a null entry names no tag
      char* msg = nullptr;
      EXPECT_EQ(IniDriver(2, tags, block.get(), &msg), 0);
      EXPECT_EQ(take(msg), GBK("设备参数中的串口设置有误!"));
      int32_t count = -1;
      TTagValue buf[4];
      EXPECT_EQ(OnDataRead(&count, buf, &msg), 1);
      take(msg);
      EXPECT_EQ(count, 0) << "no tag table after a failed start";
    }
  });
}
