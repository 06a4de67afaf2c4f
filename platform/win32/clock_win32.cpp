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

namespace {
// Kernel plus user time, each in 100 ns units.
uint64_t cpu_ns(const FILETIME& kernel, const FILETIME& user) {
  const auto units = [](const FILETIME& f) {
    return (static_cast<uint64_t>(f.dwHighDateTime) << 32) | f.dwLowDateTime;
  };
  return (units(kernel) + units(user)) * 100u;
}
}  // namespace

uint64_t thread_cpu_ns() {
  FILETIME created, ended, kernel, user;
  if (!GetThreadTimes(GetCurrentThread(), &created, &ended, &kernel, &user)) return 0;
  return cpu_ns(kernel, user);
}

uint64_t process_cpu_ns() {
  FILETIME created, ended, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user)) return 0;
  return cpu_ns(kernel, user);
}

uint64_t thread_runqueue_ns() {
  return 0;  // Windows keeps no such figure for a thread
}

void sleep_ms(uint32_t ms) {
  Sleep(ms);
}

}  // namespace korvel::plat
