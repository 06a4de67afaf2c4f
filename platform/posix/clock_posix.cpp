#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/clock.h"

namespace korvel::plat {

uint64_t monotonic_ms() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

namespace {
uint64_t cpu_ns(clockid_t id) {
  timespec ts{};
  if (clock_gettime(id, &ts) != 0) return 0;
  return static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
}
}  // namespace

uint64_t thread_cpu_ns() {
  return cpu_ns(CLOCK_THREAD_CPUTIME_ID);
}

uint64_t process_cpu_ns() {
  return cpu_ns(CLOCK_PROCESS_CPUTIME_ID);
}

uint64_t thread_runqueue_ns() {
  // "cpu-ns runqueue-ns slices"; the second figure is the wait for a processor.
  const int fd = open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  char text[96];
  const ssize_t n = read(fd, text, sizeof text - 1);
  close(fd);
  if (n <= 0) return 0;
  text[n] = '\0';
  char* rest = nullptr;
  std::strtoull(text, &rest, 10);
  return std::strtoull(rest, nullptr, 10);
}

void sleep_ms(uint32_t ms) {
  timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0) {
  }
}

}  // namespace korvel::plat
