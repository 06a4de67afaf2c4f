// Serial devices through the kernel's termios2 interface. <termios.h> is not used: its struct
// termios clashes with the kernel's, and only termios2 carries custom rates (BOTHER) such as
// 14400, 56000, 128000 and 256000.
#include <asm/termbits.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <string.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>

#include "platform/clock.h"
#include "platform/env.h"
#include "platform/posix/serial_posix.h"

namespace korvel::plat {
namespace {

struct RateCode {
  uint32_t baud;
  tcflag_t code;
};

constexpr RateCode kRateCodes[] = {
    {50, B50},         {75, B75},         {110, B110},         {134, B134},         {150, B150},
    {200, B200},       {300, B300},       {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},     {4800, B4800},     {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},   {115200, B115200}, {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000}, {921600, B921600}, {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
};

bool rate_code(uint32_t baud, tcflag_t* code) {
  for (const RateCode& r : kRateCodes) {
    if (r.baud == baud) {
      *code = r.code;
      return true;
    }
  }
  return false;
}

uint32_t rate_of(const termios2& t) {
  const tcflag_t code = t.c_cflag & CBAUD;
  if (code == BOTHER) return t.c_ospeed;
  for (const RateCode& r : kRateCodes) {
    if (r.code == code) return r.baud;
  }
  return t.c_ospeed;
}

// Errors after which the descriptor is useless: the tty was hung up or the device removed.
bool means_gone(int err) {
  return err == EIO || err == ENXIO || err == ENODEV || err == EBADF || err == EPIPE;
}

void set_rate(termios2* t, uint32_t baud) {
  tcflag_t code = 0;
  t->c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));  // input speed follows output
  if (rate_code(baud, &code)) {
    t->c_cflag |= code;
  } else {
    t->c_cflag |= BOTHER;
  }
  t->c_ispeed = baud;
  t->c_ospeed = baud;
}

}  // namespace

void SerialPort::Impl::note_error(int err) {
  if (means_gone(err)) gone = true;
}

SerialPort::SerialPort() : impl_(std::make_unique<Impl>()) {}

SerialPort::~SerialPort() {
  close();
}

bool SerialPort::is_open() const {
  return impl_->fd >= 0;
}

bool SerialPort::gone() const {
  return impl_->gone;
}

OpenResult SerialPort::open(const std::string& path) {
  close();
  impl_->gone = false;
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int err = errno;
    set_last_error_text(path + ": " + strerror(err));
    if (err == ENOENT || err == ENODEV || err == ENXIO || err == ENOTDIR) return OpenResult::Missing;
    if (err == EBUSY) return OpenResult::Busy;  // TIOCEXCL of another opener
    return OpenResult::Failed;
  }
  termios2 t{};
  if (ioctl(fd, TCGETS2, &t) != 0) {
    ::close(fd);
    set_last_error_text(path + ": not a serial device");
    return OpenResult::NotTerminal;
  }
  // TIOCEXCL refuses later opens, but not to a privileged process; the advisory lock catches
  // those openers as well, as long as they play by the same rule.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    set_last_error_text(path + ": locked by another program");
    return OpenResult::Busy;
  }
  ioctl(fd, TIOCEXCL);
  impl_->fd = fd;
  return OpenResult::Ok;
}

namespace {

// The CSIZE bits of a word size; false for a size a terminal cannot express (4 bits).
bool size_bits(int data_bits, tcflag_t* size) {
  switch (data_bits) {
    case 5:
      *size = CS5;
      return true;
    case 6:
      *size = CS6;
      return true;
    case 7:
      *size = CS7;
      return true;
    case 8:
      *size = CS8;
      return true;
    default:
      return false;
  }
}

tcflag_t parity_bits(SerialParity parity) {
  switch (parity) {
    case SerialParity::Odd:
      return PARENB | PARODD;
    case SerialParity::Even:
      return PARENB;
    case SerialParity::Mark:
      return PARENB | CMSPAR | PARODD;
    case SerialParity::Space:
      return PARENB | CMSPAR;
    case SerialParity::None:
    default:
      return 0;
  }
}

// Raw bytes both ways, as a serial port is on Windows, with the line's framing and characters.
// Software flow control is switched off: Linux turns IXON on for every fresh tty, and a stray XOFF
// byte in line noise would then halt sending for good. The hardware handshake (CRTSCTS) stays as
// the device had it.
void make_raw_line(termios2& t, const SerialLine& line, bool size_ok, tcflag_t size) {
  t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON |
                                      IXOFF | IXANY | IGNPAR | INPCK | IUCLC | IMAXBEL);
  if (line.parity_check) t.c_iflag |= INPCK;
  t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ECHOE | ECHOK | ICANON | ISIG | IEXTEN);
  t.c_cflag &= ~static_cast<tcflag_t>(PARENB | PARODD | CMSPAR | CSTOPB);
  if (size_ok) t.c_cflag = (t.c_cflag & ~static_cast<tcflag_t>(CSIZE)) | size;
  t.c_cflag |= CREAD | CLOCAL;
  t.c_cflag |= parity_bits(line.parity);
  // UARTs send 1.5 stop bits for 5-bit words when asked for two; termios has no other way.
  if (line.stop_bits != SerialStopBits::One) t.c_cflag |= CSTOPB;
  t.c_cc[VSTART] = static_cast<cc_t>(line.xon_char);
  t.c_cc[VSTOP] = static_cast<cc_t>(line.xoff_char);
  t.c_cc[VEOF] = static_cast<cc_t>(line.eof_char);
  // Reads never wait (the descriptor is non-blocking). VMIN 1 rather than 0 keeps a read's answer
  // unambiguous: EAGAIN when nothing is queued, 0 only for a line that hung up; with VMIN 0 both
  // read as 0 and a vanished device would need a query of its own on every poll.
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
}

}  // namespace

bool SerialPort::apply(const SerialLine& line) {
  if (impl_->fd < 0) return false;
  // A terminal has no 4-bit words: the word size stays as the device has it, and everything else
  // (raw mode above all) still applies, or the line would echo and never complete an answer.
  tcflag_t size = 0;
  const bool size_ok = size_bits(line.data_bits, &size);
  if (line.baud == 0) return false;

  termios2 t{};
  if (ioctl(impl_->fd, TCGETS2, &t) != 0) {
    impl_->note_error(errno);
    return false;
  }
  const termios2 before = t;
  make_raw_line(t, line, size_ok, size);

  termios2 wanted = t;
  set_rate(&wanted, line.baud);
  if (ioctl(impl_->fd, TCSETS2, &wanted) == 0) return size_ok;
  impl_->note_error(errno);
  if (impl_->gone) return false;
  // The rate was refused: keep the device's own speed and apply the rest.
  t.c_cflag = (t.c_cflag & ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT))) |
              (before.c_cflag & static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT)));
  t.c_ispeed = before.c_ispeed;
  t.c_ospeed = before.c_ospeed;
  if (ioctl(impl_->fd, TCSETS2, &t) != 0) impl_->note_error(errno);
  return false;
}

bool SerialPort::read_back(SerialLine* line) const {
  if (impl_->fd < 0 || line == nullptr) return false;
  termios2 t{};
  if (ioctl(impl_->fd, TCGETS2, &t) != 0) return false;
  SerialLine out;
  out.baud = rate_of(t);
  switch (t.c_cflag & CSIZE) {
    case CS5:
      out.data_bits = 5;
      break;
    case CS6:
      out.data_bits = 6;
      break;
    case CS7:
      out.data_bits = 7;
      break;
    default:
      out.data_bits = 8;
      break;
  }
  if (!(t.c_cflag & PARENB)) {
    out.parity = SerialParity::None;
  } else if (t.c_cflag & CMSPAR) {
    out.parity = (t.c_cflag & PARODD) ? SerialParity::Mark : SerialParity::Space;
  } else {
    out.parity = (t.c_cflag & PARODD) ? SerialParity::Odd : SerialParity::Even;
  }
  out.stop_bits = (t.c_cflag & CSTOPB) ? SerialStopBits::Two : SerialStopBits::One;
  out.parity_check = (t.c_iflag & INPCK) != 0;
  out.xon_char = static_cast<char>(t.c_cc[VSTART]);
  out.xoff_char = static_cast<char>(t.c_cc[VSTOP]);
  out.eof_char = static_cast<char>(t.c_cc[VEOF]);
  *line = out;
  return true;
}

bool SerialPort::set_queue_sizes(uint32_t, uint32_t) {
  if (impl_->fd < 0) return false;
  termios2 t{};
  if (ioctl(impl_->fd, TCGETS2, &t) != 0) {
    impl_->note_error(errno);
    return false;
  }
  return true;
}

long SerialPort::queued_input() {
  if (impl_->fd < 0) return -1;
  int count = 0;
  if (ioctl(impl_->fd, FIONREAD, &count) != 0) {
    impl_->note_error(errno);
    return -1;
  }
  return count;
}

long SerialPort::read(void* buf, size_t n) {
  if (impl_->fd < 0) return -1;
  if (n == 0) return 0;
  // A terminal's read that finds nothing in its line discipline first waits for the kernel worker
  // that moves freshly received bytes there, however long a busy machine keeps that worker off the
  // processor (84 ms seen on a pseudo-terminal; a UART's bytes take the same path). The count never
  // waits for it, so the read runs only when there is something to take. A count that fails leaves
  // the read to tell a device that hung up.
  int queued = 0;
  if (ioctl(impl_->fd, FIONREAD, &queued) == 0 && queued <= 0) return 0;
  for (;;) {
    const ssize_t got = ::read(impl_->fd, buf, n);
    if (got > 0) return static_cast<long>(got);
    if (got == 0) {  // end of file on a terminal: the other side hung up
      impl_->gone = true;
      return -1;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    impl_->note_error(errno);
    return -1;
  }
}

long SerialPort::write(const void* buf, size_t n, uint32_t timeout_ms) {
  if (impl_->fd < 0) return -1;
  const auto* p = static_cast<const unsigned char*>(buf);
  size_t left = n;
  const uint64_t deadline = monotonic_ms() + timeout_ms;
  while (left > 0) {
    const ssize_t put = ::write(impl_->fd, p, left);
    if (put > 0) {
      p += put;
      left -= static_cast<size_t>(put);
      continue;
    }
    if (put < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
      impl_->note_error(errno);
      return -1;
    }
    const uint64_t now = monotonic_ms();
    if (now >= deadline) break;
    pollfd pfd{impl_->fd, POLLOUT, 0};
    const int rc = poll(&pfd, 1, static_cast<int>(std::min<uint64_t>(deadline - now, 60000)));
    if (rc < 0 && errno != EINTR) {
      impl_->note_error(errno);
      return -1;
    }
    if (rc > 0 && (pfd.revents & (POLLHUP | POLLERR | POLLNVAL)) && !(pfd.revents & POLLOUT)) {
      impl_->gone = true;
      return -1;
    }
  }
  if (left == 0) return static_cast<long>(n);
  // Cancelled: the unsent rest must not reach the line glued to the next frame.
  if (ioctl(impl_->fd, TCFLSH, TCOFLUSH) != 0) impl_->note_error(errno);
  return -1;
}

void SerialPort::purge_input() {
  if (impl_->fd < 0) return;
  if (ioctl(impl_->fd, TCFLSH, TCIFLUSH) != 0) impl_->note_error(errno);
}

void SerialPort::close() {
  if (impl_->fd < 0) return;
  // The exclusive flag belongs to the tty, not to this descriptor: clear it, or a device that
  // someone else still holds open would refuse our own next open.
  ioctl(impl_->fd, TIOCNXCL);
  ::close(impl_->fd);
  impl_->fd = -1;
}

std::string serial_device_path(const std::string& port_name) {
  if (port_name.size() > 3 && std::tolower(static_cast<unsigned char>(port_name[0])) == 'c' &&
      std::tolower(static_cast<unsigned char>(port_name[1])) == 'o' &&
      std::tolower(static_cast<unsigned char>(port_name[2])) == 'm') {
    const std::string digits = port_name.substr(3);
    bool numeric = digits.size() <= 4;
    for (char c : digits) numeric = numeric && c >= '0' && c <= '9';
    if (numeric) {
      const int n = std::stoi(digits);
      const std::string mapped = get_env("KORVELPLNK_COM" + std::to_string(n));
      if (!mapped.empty()) return mapped;
      if (n >= 1) return "/dev/ttyS" + std::to_string(n - 1);
    }
  }
  return port_name;
}

}  // namespace korvel::plat
