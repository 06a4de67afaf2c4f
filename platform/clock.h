// The driver's 64-bit millisecond clock: never runs backwards, replaceable in tests.
#pragma once
#include <cstdint>
#include <functional>

namespace korvel::plat {

// Milliseconds since the clock base (taken when the library was loaded).
uint64_t tick_ms();

// Tests drive time by hand: while a test clock is set, tick_ms() returns its value.
// Pass an empty function to return to the real clock.
void set_test_clock(std::function<uint64_t()> clock);

// The OS's monotonic source in milliseconds from an arbitrary origin. Never replaced by the test
// clock: real waits (a bounded write, a line's read time-out) are measured with it.
uint64_t monotonic_ms();

// CPU time (user and system) used so far by the calling thread and by the whole process, in
// nanoseconds; benchmarks measure what a call costs with them, whatever else runs on the machine.
// Under Wine the process's figure stands still.
uint64_t thread_cpu_ns();
uint64_t process_cpu_ns();

// Time the calling thread has spent ready to run but kept off every processor by the scheduler, in
// nanoseconds (Linux's schedstat); 0 where the system does not say. A long call minus this growth is
// what the call itself took.
uint64_t thread_runqueue_ns();

// Sleep for a few milliseconds (used by retry loops, never by the poll path).
void sleep_ms(uint32_t ms);

// Extends a 32-bit millisecond counter that wraps (after about 49.7 days) to 64 bits. The counter
// must be sampled at least once per wrap period for the result to stay right; it never goes back.
class TickWidener {
 public:
  uint64_t widen(uint32_t raw) {
    if (started_ && raw < last_) high_ += uint64_t{1} << 32;
    started_ = true;
    last_ = raw;
    return high_ | raw;
  }

 private:
  uint64_t high_ = 0;
  uint32_t last_ = 0;
  bool started_ = false;
};

}  // namespace korvel::plat
