#include "platform/event.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/quiet_signals.h"

namespace korvel::plat {

bool signal_host_event(HostEvent handle) {
  if (handle <= 0 || handle > 0x7fffffff) return false;
  const int fd = static_cast<int>(handle);
  // Eight bytes suit an eventfd; a pipe simply receives them. A full pipe counts as
  // already signalled rather than blocking the polling thread.
  pollfd p{fd, POLLOUT, 0};
  if (::poll(&p, 1, 0) <= 0 || !(p.revents & POLLOUT)) return false;
  const uint64_t one = 1;
  // A host that closed its end of the pipe gets no signal: the write fails quietly.
  QuietSignals quiet;
  ssize_t n;
  do {
    n = ::write(fd, &one, sizeof one);
  } while (n < 0 && errno == EINTR);
  return n == static_cast<ssize_t>(sizeof one);
}

HostEvent create_host_event() {
  const int fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  return fd < 0 ? 0 : static_cast<HostEvent>(fd);
}

bool take_host_event(HostEvent handle) {
  if (handle <= 0 || handle > 0x7fffffff) return false;
  uint64_t count = 0;
  ssize_t n;
  do {
    n = ::read(static_cast<int>(handle), &count, sizeof count);
  } while (n < 0 && errno == EINTR);
  return n == static_cast<ssize_t>(sizeof count) && count > 0;
}

void close_host_event(HostEvent handle) {
  if (handle > 0 && handle <= 0x7fffffff) ::close(static_cast<int>(handle));
}

}  // namespace korvel::plat

namespace korvel::plat {

SocketWait wait_event_or_socket(HostEvent event, int socket, bool want_write, int timeout_ms) {
  SocketWait out;
  pollfd p[2] = {{static_cast<int>(event), POLLIN, 0},
                 {socket, static_cast<short>(POLLIN | (want_write ? POLLOUT : 0)), 0}};
  const nfds_t n = socket >= 0 ? 2 : 1;
  if (::poll(p, n, timeout_ms) <= 0) return out;
  if ((p[0].revents & POLLIN) != 0) out.event = take_host_event(event);
  if (n == 2) {
    out.readable = (p[1].revents & (POLLIN | POLLHUP)) != 0;
    out.writable = (p[1].revents & POLLOUT) != 0;
    out.failed = (p[1].revents & (POLLERR | POLLNVAL)) != 0;
  }
  return out;
}

bool hold_socket_output(int socket, bool on) {
#ifdef TCP_CORK
  const int value = on ? 1 : 0;
  return socket >= 0 && ::setsockopt(socket, IPPROTO_TCP, TCP_CORK, &value, sizeof value) == 0;
#else
  (void)socket;
  (void)on;
  return false;
#endif
}

}  // namespace korvel::plat
