#include "platform/clock.h"

#include <time.h>

#include <atomic>
#include <mutex>

namespace korvel::plat {
namespace {

uint64_t monotonic_ms() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

const uint64_t g_base = monotonic_ms();
std::atomic<bool> g_has_test_clock{false};
std::mutex g_test_mutex;
std::function<uint64_t()> g_test_clock;

}  // namespace

uint64_t tick_ms() {
  if (g_has_test_clock.load(std::memory_order_acquire)) {
    std::lock_guard<std::mutex> lock(g_test_mutex);
    if (g_test_clock) return g_test_clock();
  }
  return monotonic_ms() - g_base;
}

void set_test_clock(std::function<uint64_t()> clock) {
  std::lock_guard<std::mutex> lock(g_test_mutex);
  g_test_clock = std::move(clock);
  g_has_test_clock.store(static_cast<bool>(g_test_clock), std::memory_order_release);
}

void sleep_ms(uint32_t ms) {
  timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0) {
  }
}

}  // namespace korvel::plat
