#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include <utility>

#include "platform/clock.h"
#include "platform/posix/serial_posix.h"
#include "platform/pty.h"

namespace korvel::plat {

struct Pty::Impl {
  int fd = -1;       // master of a pair, or a terminal opened by path
  int hold_fd = -1;  // slave descriptor held by a pair
  int wake_rd = -1;
  int wake_wr = -1;
  SerialPort device;  // a serial device opened by open_device(); its descriptor serves as fd
  std::string path;

  int line() const { return device.is_open() ? device.impl_->fd : fd; }
};

namespace {

// Keeps the OS's words for a failure of what; the result for the caller.
OpenResult say(const std::string& what) {
  const int err = errno;
  set_last_error_text(what + ": " + strerror(err));
  return err == ENOENT || err == ENXIO || err == ENODEV ? OpenResult::Missing : OpenResult::Failed;
}

void close_fd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

// Raw mode keeps the line 8-bit clean; speed and framing stay as the device has them.
bool set_raw(int fd) {
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) {
    say("tcgetattr");
    return false;
  }
  cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  if (tcsetattr(fd, TCSANOW, &tio) != 0) {
    say("tcsetattr");
    return false;
  }
  return true;
}

bool make_wake_pipe(int* rd, int* wr) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
    say("pipe");
    return false;
  }
  *rd = fds[0];
  *wr = fds[1];
  return true;
}

const std::string kNoPath;

}  // namespace

Pty::Pty() : impl_(std::make_unique<Impl>()) {}

Pty::~Pty() {
  close();
}

Pty::Pty(Pty&& other) noexcept : impl_(std::exchange(other.impl_, nullptr)) {}

Pty& Pty::operator=(Pty&& other) noexcept {
  if (this != &other) {
    close();
    impl_ = std::exchange(other.impl_, nullptr);
  }
  return *this;
}

bool Pty::is_open() const {
  return impl_ && impl_->line() >= 0;
}

const std::string& Pty::path() const {
  return impl_ ? impl_->path : kNoPath;
}

OpenResult Pty::open_pair() {
  close();
  if (!impl_) impl_ = std::make_unique<Impl>();
  Impl& d = *impl_;
  d.fd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (d.fd < 0) {
    say("posix_openpt");
    return OpenResult::Failed;
  }
  char name[128] = {};
  if (grantpt(d.fd) != 0 || unlockpt(d.fd) != 0 || ptsname_r(d.fd, name, sizeof name) != 0) {
    say("grantpt/unlockpt/ptsname");
    close();
    return OpenResult::Failed;
  }
  d.hold_fd = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (d.hold_fd < 0) {
    say(std::string("open ") + name);
    close();
    return OpenResult::Failed;
  }
  if (!set_raw(d.hold_fd) || !make_wake_pipe(&d.wake_rd, &d.wake_wr)) {
    close();
    return OpenResult::Failed;
  }
  int flags = fcntl(d.fd, F_GETFL);
  fcntl(d.fd, F_SETFL, flags | O_NONBLOCK);
  d.path = name;
  return OpenResult::Ok;
}

OpenResult Pty::open_path(const std::string& path) {
  close();
  if (!impl_) impl_ = std::make_unique<Impl>();
  Impl& d = *impl_;
  d.fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (d.fd < 0) return say("open " + path);
  if (!isatty(d.fd)) {
    errno = ENOTTY;
    say(path);
    close();
    return OpenResult::NotTerminal;
  }
  if (!set_raw(d.fd) || !make_wake_pipe(&d.wake_rd, &d.wake_wr)) {
    close();
    return OpenResult::Failed;
  }
  d.path = path;
  return OpenResult::Ok;
}

OpenResult Pty::open_device(const std::string& path, const SerialLine& line) {
  close();
  if (!impl_) impl_ = std::make_unique<Impl>();
  Impl& d = *impl_;
  const OpenResult opened = d.device.open(path);
  if (opened != OpenResult::Ok) return opened;  // the serial service kept the words
  SerialLine wanted = line;
  if (wanted.baud == 0) d.device.read_back(&wanted);
  if (wanted.baud == 0 || !d.device.apply(wanted)) {
    set_last_error_text(path + ": the device refuses " + std::to_string(line.baud) + " bit/s or the framing");
    close();
    return OpenResult::Failed;
  }
  if (!make_wake_pipe(&d.wake_rd, &d.wake_wr)) {
    close();
    return OpenResult::Failed;
  }
  d.path = path;
  return OpenResult::Ok;
}

long Pty::read(void* buf, size_t n, int timeout_ms) {
  if (!is_open()) return -1;
  const int fd = impl_->line();
  const uint64_t deadline = timeout_ms < 0 ? 0 : monotonic_ms() + static_cast<uint64_t>(timeout_ms);
  for (;;) {
    pollfd pfd[2] = {{fd, POLLIN, 0}, {impl_->wake_rd, POLLIN, 0}};
    int wait = -1;
    if (timeout_ms >= 0) {
      const uint64_t now = monotonic_ms();
      wait = now >= deadline ? 0 : static_cast<int>(deadline - now);
    }
    const int rc = poll(pfd, 2, wait);
    if (rc < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (rc == 0) return 0;
    if (pfd[1].revents & POLLIN) {
      char drain[64];
      while (::read(impl_->wake_rd, drain, sizeof drain) > 0) {
      }
      return 0;
    }
    if (pfd[0].revents & POLLIN) {
      const ssize_t got = ::read(fd, buf, n);
      if (got > 0) return static_cast<long>(got);
      if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      return -1;  // EIO or end of file: the other side has gone
    }
    if (pfd[0].revents & (POLLHUP | POLLERR | POLLNVAL)) return -1;
  }
}

bool Pty::write(const void* buf, size_t n, int timeout_ms) {
  if (!is_open()) return false;
  const int fd = impl_->line();
  const auto* p = static_cast<const unsigned char*>(buf);
  const uint64_t deadline = monotonic_ms() + static_cast<uint64_t>(timeout_ms < 0 ? 0 : timeout_ms);
  while (n > 0) {
    const ssize_t put = ::write(fd, p, n);
    if (put > 0) {
      p += put;
      n -= static_cast<size_t>(put);
      continue;
    }
    if (put < 0 && errno != EAGAIN && errno != EINTR) return false;
    const uint64_t now = monotonic_ms();
    if (now >= deadline) return false;
    pollfd pfd{fd, POLLOUT, 0};
    if (poll(&pfd, 1, static_cast<int>(deadline - now)) < 0 && errno != EINTR) return false;
  }
  return true;
}

bool Pty::hold_output(bool hold) {
  // Stopped output of the slave makes the pair refuse its writes at once, the same as a full queue.
  return impl_ && impl_->hold_fd >= 0 && tcflow(impl_->hold_fd, hold ? TCOOFF : TCOON) == 0;
}

void Pty::flush() {
  if (is_open()) tcflush(impl_->line(), TCIOFLUSH);
}

void Pty::wake() {
  if (impl_ && impl_->wake_wr >= 0) {
    const char c = 1;
    [[maybe_unused]] ssize_t ignored = ::write(impl_->wake_wr, &c, 1);
  }
}

void Pty::close() {
  if (!impl_) return;
  Impl& d = *impl_;
  d.device.close();
  close_fd(d.hold_fd);
  close_fd(d.fd);
  close_fd(d.wake_rd);
  close_fd(d.wake_wr);
  d.path.clear();
}

}  // namespace korvel::plat
