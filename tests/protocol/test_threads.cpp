// Several lines in one host process: each polling thread drives its own instance on its own line,
// with the settings of its own block. Built also with ThreadSanitizer (scripts/test --tsan).
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "driver/PDB.h"
#include "driver/records.h"
#include "exports/DLLMain.h"
#include "exports/KorvelPLNK.h"
#include "platform/clock.h"
#include "sim/sim_line.h"

namespace korvel {
namespace {

struct LineResult {
  int32_t timeOut = 0;
  int32_t retryBudget = 0;
  bool priority = false;
  int reports = 0;
  double value = 0;
};

// One host thread: its own block on port com (1-based), one PV tag of module 1, polls n times.
void PollLine(int com, uint16_t timeOut, uint8_t writeCount, int polls, LineResult* out) {
  auto block = std::make_unique<PDB>();
  FullPDB(block.get());
  block->ComPort = static_cast<uint8_t>(com - 1);
  block->TimeOut = timeOut;
  block->WriteCount = writeCount;
  block->Devices[1].DevID = 1;
  block->Devices[1].DevType = 1;
  block->Devices[1].DevTypeName.set("PLNK");
  TTagInfo info{};
  info.TagID = 0;
  std::strcpy(info.TagName, "pv");
  std::strcpy(info.TagAddr, "PV1:1");
  TTagInfo* tags[1] = {&info};
  char* msg = nullptr;
  const bool ok = IniDriver(1, tags, block.get(), &msg) != 0;
  std::free(msg);
  if (!ok) return;
  TTagValue values[1];
  for (int i = 0; i < polls; ++i) {
    int32_t n = 0;
    OnDataRead(&n, values, &msg);
    std::free(msg);
    msg = nullptr;
    if (n == 1) {
      ++out->reports;
      std::memcpy(&out->value, &values[0].Data.dbl, sizeof out->value);
    }
    plat::sleep_ms(1);
  }
  if (const TBaseDLLObject* obj = ThreadInstance()) {
    out->timeOut = obj->CommTimeOut;
    out->retryBudget = obj->WriteRetryBudget;
    out->priority = obj->WritePriority;
  }
  FreeDriver();
  DestroyThreadInstance();
}

TEST(Threads, TwoLinesPollAtOnceEachWithTheSettingsOfItsOwnBlock) {
  sim::SimLine a(1, true), b(2, true);
  ASSERT_TRUE(a.ok()) << a.error();
  ASSERT_TRUE(b.ok()) << b.error();
  b.sim().set_pv(1, 7.25);
  LineResult ra, rb;
  // A slow radio link next to a local bus: neither line's start may change the other's settings.
  std::thread slow(PollLine, 1, 1000, 4, 300, &ra);
  std::thread fast(PollLine, 2, 100, 1, 300, &rb);
  slow.join();
  fast.join();
  EXPECT_EQ(ra.timeOut, 1000);
  EXPECT_EQ(rb.timeOut, 100);
  EXPECT_EQ(ra.retryBudget, 4);
  EXPECT_EQ(rb.retryBudget, 1);
  EXPECT_TRUE(ra.priority);
  EXPECT_GE(ra.reports, 1);
  EXPECT_GE(rb.reports, 1);
  EXPECT_EQ(ra.value, 12.5);
  EXPECT_EQ(rb.value, 7.25);
}

}  // namespace
}  // namespace korvel
