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

// Sleep for a few milliseconds (used by retry loops, never by the poll path).
void sleep_ms(uint32_t ms);

}  // namespace korvel::plat
