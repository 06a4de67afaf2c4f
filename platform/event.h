// The host's fault event handed to IniDriverEx. On Windows an event handle; on POSIX a
// descriptor (eventfd or the write end of a pipe) that the host polls.
#pragma once
#include <cstdint>

namespace korvel::plat {

using HostEvent = intptr_t;  // 0 = none

// Signals the event; false when the handle is 0 or not usable (also a pipe whose reader has gone:
// no signal reaches the process). Never blocks.
bool signal_host_event(HostEvent handle);

}  // namespace korvel::plat

namespace korvel::plat {

// The host's side of the event, for a host in a box (the polling tool) and for tests: creates
// an event that signal_host_event() can signal; 0 on failure.
HostEvent create_host_event();
// True when the event was signalled since the last call (which clears it). Never blocks.
bool take_host_event(HostEvent handle);
void close_host_event(HostEvent handle);

}  // namespace korvel::plat

#ifndef _WIN32
namespace korvel::plat {

// What wait_event_or_socket() saw.
struct SocketWait {
  bool event = false;     // the event was signalled (and is now cleared)
  bool readable = false;  // the socket has data, or was closed by the peer
  bool writable = false;  // asked for and possible
  bool failed = false;    // the socket is in error or hung up
};

// Waits up to timeout_ms until the event is signalled or the socket (when >= 0) is readable, or
// writable when want_write. A signal that interrupts the wait returns an empty result.
SocketWait wait_event_or_socket(HostEvent event, int socket, bool want_write, int timeout_ms);

// Holds a TCP socket's small writes back while on, so that a batch of them leaves in full segments
// instead of one segment (and one wake-up of the peer) each; off sends what is held. False when
// the socket does not allow it (not TCP, closed, or a system without the option).
bool hold_socket_output(int socket, bool on);

}  // namespace korvel::plat
#endif
