// The module side of the wire format: check characters, answer frames and request parsing.
// Pure functions: no I/O, no clock.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace korvel::sim {

inline constexpr char kCR = '\r';

// Sum of the bytes modulo 256.
uint8_t byte_sum(std::string_view text);

// The two check characters of text: 0x40 + high nibble, 0x40 + low nibble of byte_sum(text).
std::string check_chars(std::string_view text);

// A request frame as the master sends it: text, its check characters, CR.
std::string request_frame(std::string_view text);

// An answer frame of station: text (start character included), the check characters computed over
// the station as two decimal digits followed by text, then CR. The station does not appear in the
// frame itself, only in its check characters.
std::string answer_frame(int station, std::string_view text);

// The answer of station with its check characters computed for that station, without the CR
// (building block for faults that damage the tail of a frame).
std::string answer_body(int station, std::string_view text);

enum class RequestKind : uint8_t {
  Malformed,  // not a request this line knows; no station can be told
  BadCheck,   // well formed, but its check characters are wrong
  Pv,         // "#AA": value and status character (PV and PV_ALARM)
  Parm,       // "$AANN": parameter NN (hexadecimal)
  Ao,         // "#AA0001": analogue output
  Write,      // "%AA...": a write; the master waits for no answer
  Unknown,    // addressed to a station, with a command this line does not know
};

struct Request {
  RequestKind kind = RequestKind::Malformed;
  int station = -1;     // 0..99 when the address digits could be read
  int param = -1;       // Parm: parameter number
  std::string payload;  // Write: the text after the address, before the check characters
};

// Parses one frame (its bytes up to, not including, the CR). Noise before the first start
// character ('#', '$', '%') is skipped.
Request parse_request(std::string_view frame);

// Text form of a kind, for logs.
std::string_view kind_name(RequestKind kind);

// The password write a module accepts: "%" AA "10+07342".
inline constexpr std::string_view kPasswordPayload = "10+07342";

}  // namespace korvel::sim
