#include "platform/clock.h"

#include <atomic>
#include <mutex>

namespace korvel::plat {
namespace {

// The base is taken on first use; the library reads the clock while it loads.
uint64_t base_ms() {
  static const uint64_t base = monotonic_ms();
  return base;
}

std::atomic<bool> g_has_test_clock{false};
std::mutex g_test_mutex;
std::function<uint64_t()> g_test_clock;

}  // namespace

uint64_t tick_ms() {
  if (g_has_test_clock.load(std::memory_order_acquire)) {
    std::lock_guard<std::mutex> lock(g_test_mutex);
    if (g_test_clock) return g_test_clock();
  }
  return monotonic_ms() - base_ms();
}

void set_test_clock(std::function<uint64_t()> clock) {
  std::lock_guard<std::mutex> lock(g_test_mutex);
  g_test_clock = std::move(clock);
  g_has_test_clock.store(static_cast<bool>(g_test_clock), std::memory_order_release);
}

// Loading the library fixes the base, as before the first poll.
[[maybe_unused]] const uint64_t g_base_at_load = base_ms();

}  // namespace korvel::plat
