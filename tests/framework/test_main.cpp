// Test entry: the log goes into the build tree; heap blocks are counted so that a test can
// show that commands are released.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <random>
#include <string>
#include <system_error>

#include "framework/DLLBase.h"
#include "platform/env.h"
#include "script_object.h"

namespace korvel::test {

std::atomic<long> g_live_blocks{0};
std::atomic<bool> g_fail_allocations{false};

// Each test process logs into a directory of its own: ctest runs test processes side by side,
// and a test that empties or reads the log must see only its own lines.
const std::string& TestLogDir() {
  static const std::string dir =
      std::string(KORVEL_FW_TEST_DIR) + "/run-" + std::to_string(std::random_device{}()) + "/Debug";
  return dir;
}

std::string TestLogPath() {
  return TestLogDir() + "/KorvelPLNK.Log";
}

}  // namespace korvel::test

void* operator new(std::size_t n) {
  if (korvel::test::g_fail_allocations) throw std::bad_alloc();
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
  const int result = RUN_ALL_TESTS();
  std::error_code ec;
  std::filesystem::remove_all(std::filesystem::path(korvel::test::TestLogDir()).parent_path(), ec);
  return result;
}
