// How every platform service reports failure. A call that can fail returns what the caller acts
// on: a bool, or an OpenResult where callers tell the causes apart (the serial port, the line ends,
// loaded libraries). The OS's own words for the last failure on the calling thread are kept apart,
// for logs and test messages only, as errno and GetLastError are.
#pragma once
#include <cstdint>
#include <string>

namespace korvel::plat {

enum class OpenResult : uint8_t {
  Ok,
  Missing,      // no such device or file
  Busy,         // held by another opener
  NotTerminal,  // the path is not a serial device (nothing is kept open)
  Failed,       // any other refusal (see last_error_text())
};

// The OS's words for the last failure a platform call met on this thread; "" when none was kept.
std::string last_error_text();
// Kept by the implementations when they fail (this thread only).
void set_last_error_text(std::string text);

}  // namespace korvel::plat
