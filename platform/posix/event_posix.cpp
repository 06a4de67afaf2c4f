#include "platform/event.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace korvel::plat {

bool signal_host_event(HostEvent handle) {
  if (handle <= 0 || handle > 0x7fffffff) return false;
  const int fd = static_cast<int>(handle);
  // Eight bytes suit an eventfd; a pipe simply receives them. A full pipe counts as
  // already signalled rather than blocking the polling thread.
  pollfd p{fd, POLLOUT, 0};
  if (::poll(&p, 1, 0) <= 0 || !(p.revents & POLLOUT)) return false;
  const uint64_t one = 1;
  ssize_t n;
  do {
    n = ::write(fd, &one, sizeof one);
  } while (n < 0 && errno == EINTR);
  return n == static_cast<ssize_t>(sizeof one);
}

}  // namespace korvel::plat
