// The clocks benchmarks and tag time stamps rest on: CPU time counts work, not waiting, and the
// calendar time of day follows the C library's local time across second boundaries.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <ctime>
#include <thread>

#include "platform/clock.h"
#include "platform/datetime.h"

namespace korvel::plat {
namespace {

TEST(CpuClock, CountsWorkNotSleep) {
  const uint64_t thread0 = thread_cpu_ns();
  const uint64_t process0 = process_cpu_ns();
  // Work for 20 ms of the thread's own time (its clock may move by scheduler ticks).
  constexpr uint64_t kWork = 20000000;
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  volatile uint64_t sink = 0;
  while (thread_cpu_ns() - thread0 < kWork && std::chrono::steady_clock::now() < until) {
    for (int i = 0; i < 100000; ++i) sink = sink + static_cast<uint64_t>(i);
  }
  const uint64_t worked = thread_cpu_ns() - thread0;
  EXPECT_GE(worked, kWork);
  // Wine's process times stand still; where they move, they hold the thread's (a millisecond of
  // slack for the two clocks being read one after the other).
  const uint64_t process = process_cpu_ns();
  if (process != process0) {
    EXPECT_GE(process - process0 + 1000000, worked) << "the process's time includes its threads'";
  }
  // A sleeping thread uses next to nothing.
  const uint64_t before = thread_cpu_ns();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_LT(thread_cpu_ns() - before, 150000000u);
}

// The local calendar time of a time_t, as now_datetime() encodes it (whole seconds).
double local_seconds(std::time_t t) {
  const std::tm local = *std::localtime(&t);  // one thread: the shared result is safe here
  return encode_datetime(
      {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, 0});
}

TEST(CalendarClock, FollowsLocalTimeAcrossSeconds) {
  const double second = 1.0 / 86400.0;
  double last = 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(2200);
  int checked = 0;
  while (std::chrono::steady_clock::now() < end) {
    const std::time_t before = std::time(nullptr);
    const double now = now_datetime();
    const std::time_t after = std::time(nullptr);
    // Within the seconds read around it, and never backwards. time() may run a scheduler tick
    // behind the precise clock: 50 ms of slack on either side.
    const double slack = 0.05 * second;
    EXPECT_GE(now, local_seconds(before) - slack);
    EXPECT_LT(now, local_seconds(after) + second + slack);
    EXPECT_GE(now, last);
    last = now;
    ++checked;
    std::this_thread::sleep_for(std::chrono::milliseconds(7));
  }
  EXPECT_GT(checked, 10);
}

}  // namespace
}  // namespace korvel::plat
