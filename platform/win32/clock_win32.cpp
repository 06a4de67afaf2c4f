#include <windows.h>

#include <mutex>

#include "platform/clock.h"

namespace korvel::plat {

// GetTickCount wraps after 49.7 days; the widener carries the wraps so the clock never runs back.
// GetTickCount64 would do the same but does not exist on the oldest systems hosts still run.
uint64_t monotonic_ms() {
  static std::mutex mu;
  static TickWidener widener;
  std::lock_guard<std::mutex> lock(mu);
  return widener.widen(GetTickCount());
}

void sleep_ms(uint32_t ms) {
  Sleep(ms);
}

}  // namespace korvel::plat
