// The host's fault event handed to IniDriverEx. On Windows an event handle; on POSIX a
// descriptor (eventfd or the write end of a pipe) that the host polls.
#pragma once
#include <cstdint>

namespace korvel::plat {

using HostEvent = intptr_t;  // 0 = none

// Signals the event; false when the handle is 0 or not usable. Never blocks.
bool signal_host_event(HostEvent handle);

}  // namespace korvel::plat
