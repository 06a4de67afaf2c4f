// Character timing of a serial line: how long one character takes at a baud rate and framing.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace korvel::sim {

struct LineTiming {
  uint32_t baud = 0;    // 0: no character timing, answers go out in one write
  int data_bits = 8;    // 5..8
  char parity = 'N';    // 'N', 'O', 'E', 'M', 'S'
  int stop_halves = 2;  // stop bits in halves: 2 = 1, 3 = 1.5, 4 = 2

  // Bits on the wire per character, in halves (start + data + parity + stop).
  int half_bits() const { return 2 * (1 + data_bits + (parity == 'N' ? 0 : 1)) + stop_halves; }
  // Microseconds per character; 0 without a baud rate.
  uint64_t char_us() const { return baud == 0 ? 0 : static_cast<uint64_t>(half_bits()) * 500000u / baud; }
};

// Parses a framing such as "8N1", "7E2" or "8E1.5" into t (baud untouched).
bool parse_framing(std::string_view text, LineTiming* t, std::string* err);

// "19200 8E1" style text of a timing.
std::string timing_text(const LineTiming& t);

}  // namespace korvel::sim
