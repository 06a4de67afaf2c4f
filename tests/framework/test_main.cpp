// Test entry: the log goes into the build tree; heap blocks are counted so that a test can
// show that commands are released.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "framework/DLLBase.h"
#include "platform/env.h"
#include "script_object.h"

namespace korvel::test {

std::atomic<long> g_live_blocks{0};

std::string TestLogPath() {
  return std::string(KORVEL_FW_TEST_DIR) + "/KorvelPLNK.Log";
}

}  // namespace korvel::test

void* operator new(std::size_t n) {
  void* p = std::malloc(n == 0 ? 1 : n);
  if (p == nullptr) throw std::bad_alloc();
  ++korvel::test::g_live_blocks;
  return p;
}
void operator delete(void* p) noexcept {
  if (p == nullptr) return;
  --korvel::test::g_live_blocks;
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  operator delete(p);
}

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // A host without its settings: the log file is the one the tests name.
  korvel::plat::set_env("ORVANE_PATH", KORVEL_FW_TEST_DIR);
  korvel::SetLogFileName(korvel::test::TestLogPath());
  return RUN_ALL_TESTS();
}
