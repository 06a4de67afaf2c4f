#include "platform/pty.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <utility>

namespace korvel::plat {
namespace {

void say(std::string* err, const std::string& what) {
  if (err) *err = what + ": " + strerror(errno);
}

void close_fd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

uint64_t now_ms() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

bool speed_code(uint32_t baud, speed_t* code) {
  struct Entry {
    uint32_t baud;
    speed_t code;
  };
  static const Entry table[] = {{50, B50},         {75, B75},         {110, B110},       {134, B134},
                                {150, B150},       {200, B200},       {300, B300},       {600, B600},
                                {1200, B1200},     {1800, B1800},     {2400, B2400},     {4800, B4800},
                                {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600},
                                {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600}};
  for (const Entry& e : table) {
    if (e.baud == baud) {
      *code = e.code;
      return true;
    }
  }
  return false;
}

// Raw mode keeps the line 8-bit clean; the framing bits follow params when given.
bool set_raw(int fd, const LineParams* params, std::string* err) {
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) {
    say(err, "tcgetattr");
    return false;
  }
  cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  if (params && params->baud != 0) {
    speed_t code{};
    if (!speed_code(params->baud, &code)) {
      errno = EINVAL;
      say(err, "baud rate " + std::to_string(params->baud));
      return false;
    }
    cfsetispeed(&tio, code);
    cfsetospeed(&tio, code);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB);
    switch (params->data_bits) {
      case 5:
        tio.c_cflag |= CS5;
        break;
      case 6:
        tio.c_cflag |= CS6;
        break;
      case 7:
        tio.c_cflag |= CS7;
        break;
      default:
        tio.c_cflag |= CS8;
        break;
    }
    if (params->parity == 'E' || params->parity == 'e') tio.c_cflag |= PARENB;
    if (params->parity == 'O' || params->parity == 'o') tio.c_cflag |= PARENB | PARODD;
    if (params->stop_bits >= 2) tio.c_cflag |= CSTOPB;
  }
  if (tcsetattr(fd, TCSANOW, &tio) != 0) {
    say(err, "tcsetattr");
    return false;
  }
  return true;
}

}  // namespace

Pty::~Pty() {
  close();
}

Pty::Pty(Pty&& other) noexcept {
  *this = std::move(other);
}

Pty& Pty::operator=(Pty&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = std::exchange(other.fd_, -1);
    hold_fd_ = std::exchange(other.hold_fd_, -1);
    wake_rd_ = std::exchange(other.wake_rd_, -1);
    wake_wr_ = std::exchange(other.wake_wr_, -1);
    path_ = std::exchange(other.path_, std::string());
  }
  return *this;
}

bool Pty::make_wake_pipe(std::string* err) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
    say(err, "pipe");
    return false;
  }
  wake_rd_ = fds[0];
  wake_wr_ = fds[1];
  return true;
}

bool Pty::open_pair(std::string* err) {
  close();
  fd_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd_ < 0) {
    say(err, "posix_openpt");
    return false;
  }
  char name[128] = {};
  if (grantpt(fd_) != 0 || unlockpt(fd_) != 0 || ptsname_r(fd_, name, sizeof name) != 0) {
    say(err, "grantpt/unlockpt/ptsname");
    close();
    return false;
  }
  hold_fd_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (hold_fd_ < 0) {
    say(err, std::string("open ") + name);
    close();
    return false;
  }
  if (!set_raw(hold_fd_, nullptr, err) || !make_wake_pipe(err)) {
    close();
    return false;
  }
  int flags = fcntl(fd_, F_GETFL);
  fcntl(fd_, F_SETFL, flags | O_NONBLOCK);
  path_ = name;
  return true;
}

bool Pty::open_path(const std::string& path, const LineParams* params, std::string* err) {
  close();
  fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) {
    say(err, "open " + path);
    return false;
  }
  if (!isatty(fd_)) {
    errno = ENOTTY;
    say(err, path);
    close();
    return false;
  }
  if (!set_raw(fd_, params, err) || !make_wake_pipe(err)) {
    close();
    return false;
  }
  path_ = path;
  return true;
}

long Pty::read(void* buf, size_t n, int timeout_ms) {
  if (fd_ < 0) return -1;
  const uint64_t deadline = timeout_ms < 0 ? 0 : now_ms() + static_cast<uint64_t>(timeout_ms);
  for (;;) {
    pollfd pfd[2] = {{fd_, POLLIN, 0}, {wake_rd_, POLLIN, 0}};
    int wait = -1;
    if (timeout_ms >= 0) {
      const uint64_t now = now_ms();
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
      while (::read(wake_rd_, drain, sizeof drain) > 0) {
      }
      return 0;
    }
    if (pfd[0].revents & POLLIN) {
      const ssize_t got = ::read(fd_, buf, n);
      if (got > 0) return static_cast<long>(got);
      if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      return -1;  // EIO or end of file: the other side has gone
    }
    if (pfd[0].revents & (POLLHUP | POLLERR | POLLNVAL)) return -1;
  }
}

bool Pty::write(const void* buf, size_t n, int timeout_ms) {
  if (fd_ < 0) return false;
  const auto* p = static_cast<const unsigned char*>(buf);
  const uint64_t deadline = now_ms() + static_cast<uint64_t>(timeout_ms < 0 ? 0 : timeout_ms);
  while (n > 0) {
    const ssize_t put = ::write(fd_, p, n);
    if (put > 0) {
      p += put;
      n -= static_cast<size_t>(put);
      continue;
    }
    if (put < 0 && errno != EAGAIN && errno != EINTR) return false;
    const uint64_t now = now_ms();
    if (now >= deadline) return false;
    pollfd pfd{fd_, POLLOUT, 0};
    if (poll(&pfd, 1, static_cast<int>(deadline - now)) < 0 && errno != EINTR) return false;
  }
  return true;
}

void Pty::flush() {
  if (fd_ >= 0) tcflush(fd_, TCIOFLUSH);
}

void Pty::wake() {
  if (wake_wr_ >= 0) {
    const char c = 1;
    [[maybe_unused]] ssize_t ignored = ::write(wake_wr_, &c, 1);
  }
}

void Pty::close() {
  close_fd(hold_fd_);
  close_fd(fd_);
  close_fd(wake_rd_);
  close_fd(wake_wr_);
  path_.clear();
}

}  // namespace korvel::plat
