// Serial devices through the Win32 communications API, opened exclusively for overlapped I/O.
// Reads take only what ClearCommError reports as queued: with nothing queued, an overlapped read
// may not return at once on every system (Wine's, for one), whatever the time-outs say.
#include <windows.h>

#include <algorithm>
#include <deque>
#include <memory>
#include <string>

#include "platform/serial.h"

namespace korvel::plat {
namespace {

constexpr DWORD kReadWaitMs = 1000;    // a read of queued bytes that takes longer than this failed
constexpr DWORD kCancelWaitMs = 1000;  // a cancelled write that a driver has not ended by then is let go
constexpr uint32_t kDefaultOutQueue = 2048;

// A write left running: a serial driver ends a write only once its bytes have left, so a send
// that must not wait leaves it in flight with its own copy of the bytes and its own event.
struct InFlight {
  OVERLAPPED ov{};
  std::string bytes;
  InFlight() { ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr); }
  ~InFlight() {
    if (ov.hEvent != nullptr) CloseHandle(ov.hEvent);
  }
  InFlight(const InFlight&) = delete;
  InFlight& operator=(const InFlight&) = delete;
};

// Errors after which the handle is useless: the device was removed or its line closed.
bool means_gone(DWORD err) {
  switch (err) {
    case ERROR_INVALID_HANDLE:
    case ERROR_ACCESS_DENIED:  // a removed USB adapter
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_BROKEN_PIPE:
    case ERROR_NOT_READY:  // Wine, on a terminal whose other side has hung up
      return true;
    default:
      return false;
  }
}

}  // namespace

struct SerialPort::Impl {
  HANDLE handle = INVALID_HANDLE_VALUE;
  HANDLE io_event = nullptr;  // manual reset, one for every transfer
  CRITICAL_SECTION lock;      // one transfer at a time on the shared event
  bool gone = false;
  std::deque<std::unique_ptr<InFlight>> in_flight;  // writes queued without waiting, oldest first
  uint32_t out_queue = kDefaultOutQueue;            // bytes that may be in flight at once

  Impl() {
    InitializeCriticalSection(&lock);
    io_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  }
  ~Impl() {
    abort_writes();
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    if (io_event != nullptr) CloseHandle(io_event);
    DeleteCriticalSection(&lock);
  }
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;

  void note_error(DWORD err) {
    if (means_gone(err)) gone = true;
  }

  // Forgets the writes that have ended; the bytes of those still running.
  size_t reap_writes() {
    size_t pending = 0;
    for (auto it = in_flight.begin(); it != in_flight.end();) {
      DWORD done = 0;
      if (GetOverlappedResult(handle, &(*it)->ov, &done, FALSE)) {
        it = in_flight.erase(it);
      } else if (GetLastError() == ERROR_IO_INCOMPLETE) {
        pending += (*it)->bytes.size();
        ++it;
      } else {
        note_error(GetLastError());
        it = in_flight.erase(it);
      }
    }
    return pending;
  }

  // Aborts every write in flight and waits (bounded) until the driver lets go of their buffers.
  void abort_writes() {
    if (in_flight.empty()) return;
    if (handle != INVALID_HANDLE_VALUE && !PurgeComm(handle, PURGE_TXABORT | PURGE_TXCLEAR))
      note_error(GetLastError());
    for (auto& w : in_flight) {
      if (handle != INVALID_HANDLE_VALUE &&
          WaitForSingleObject(w->ov.hEvent, kCancelWaitMs) != WAIT_OBJECT_0) {
        // A driver that never ends the write still owns the buffer: it must outlive the I/O.
        (void)w.release();
      }
    }
    in_flight.clear();
  }

  // Starts a write that must fit the output queue at once. n, or -1 when the queue is full (a line
  // that stopped draining: what it held is aborted) or the write failed.
  long queue_write(const void* buf, DWORD n) {
    if (reap_writes() + n > out_queue) {
      abort_writes();
      return -1;
    }
    auto w = std::make_unique<InFlight>();
    if (w->ov.hEvent == nullptr) return -1;
    w->bytes.assign(static_cast<const char*>(buf), n);
    DWORD done = 0;
    if (WriteFile(handle, w->bytes.data(), n, &done, &w->ov)) return done == n ? static_cast<long>(n) : -1;
    const DWORD err = GetLastError();
    if (err != ERROR_IO_PENDING) {
      note_error(err);
      return -1;
    }
    in_flight.push_back(std::move(w));
    return static_cast<long>(n);
  }

  // One overlapped transfer, waiting at most wait_ms. A transfer still running then is cancelled
  // and waited for, so it never outlives its buffer or leaves the event set for the next one.
  // Returns the byte count, or -1; *timed_out tells a transfer the wait (or the system's own
  // time-out, error 1460) ended from one that failed.
  long transfer(bool reading, void* buf, DWORD n, DWORD wait_ms, bool* timed_out) {
    *timed_out = false;
    if (handle == INVALID_HANDLE_VALUE || io_event == nullptr) return -1;
    EnterCriticalSection(&lock);
    OVERLAPPED ov{};
    ov.hEvent = io_event;
    ResetEvent(io_event);
    DWORD done = 0;
    const BOOL started =
        reading ? ReadFile(handle, buf, n, &done, &ov) : WriteFile(handle, buf, n, &done, &ov);
    long result = -1;
    if (started) {
      result = static_cast<long>(done);
    } else if (GetLastError() != ERROR_IO_PENDING) {
      const DWORD err = GetLastError();
      *timed_out = err == ERROR_TIMEOUT;
      note_error(err);
    } else if (WaitForSingleObject(io_event, wait_ms) == WAIT_OBJECT_0) {
      if (GetOverlappedResult(handle, &ov, &done, FALSE)) {
        result = static_cast<long>(done);
      } else {
        const DWORD err = GetLastError();
        *timed_out = err == ERROR_TIMEOUT;
        note_error(err);
      }
    } else {
      *timed_out = true;
      CancelIo(handle);
      GetOverlappedResult(handle, &ov, &done, TRUE);
      result = -1;
    }
    ResetEvent(io_event);
    LeaveCriticalSection(&lock);
    return result;
  }
};

SerialPort::SerialPort() : impl_(std::make_unique<Impl>()) {}

SerialPort::~SerialPort() {
  close();
}

bool SerialPort::is_open() const {
  return impl_->handle != INVALID_HANDLE_VALUE;
}

bool SerialPort::gone() const {
  return impl_->gone;
}

OpenResult SerialPort::open(const std::string& path) {
  close();
  impl_->gone = false;
  // No sharing: a second opener gets ERROR_ACCESS_DENIED (Wine does not enforce this).
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_FLAG_OVERLAPPED, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD err = GetLastError();
    set_last_error_text(path + ": error " + std::to_string(err));
    switch (err) {
      case ERROR_FILE_NOT_FOUND:
      case ERROR_PATH_NOT_FOUND:
      case ERROR_INVALID_NAME:
      case ERROR_BAD_PATHNAME:
        return OpenResult::Missing;
      case ERROR_ACCESS_DENIED:
      case ERROR_SHARING_VIOLATION:
        return OpenResult::Busy;
      default:
        return OpenResult::Failed;
    }
  }
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (GetFileType(h) != FILE_TYPE_CHAR || !GetCommState(h, &dcb)) {
    CloseHandle(h);
    set_last_error_text(path + ": not a serial device");
    return OpenResult::NotTerminal;
  }
  // Reads return at once with what is queued; a write may take up to five seconds.
  COMMTIMEOUTS t{};
  t.ReadIntervalTimeout = MAXDWORD;
  t.WriteTotalTimeoutConstant = 5000;
  SetCommTimeouts(h, &t);
  impl_->handle = h;
  return OpenResult::Ok;
}

bool SerialPort::apply(const SerialLine& line) {
  if (!is_open()) return false;
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(impl_->handle, &dcb)) {
    impl_->note_error(GetLastError());
    return false;
  }
  // The hardware handshake flags stay as the port had them; software flow control is switched
  // off, as on POSIX: left on by an earlier program, one stray XOFF from the line would stop every
  // request until an XON that modules never send. The tables share the DCB's orders.
  dcb.BaudRate = line.baud;
  dcb.ByteSize = static_cast<BYTE>(line.data_bits);
  dcb.Parity = static_cast<BYTE>(line.parity);
  dcb.StopBits = static_cast<BYTE>(line.stop_bits);
  dcb.fBinary = TRUE;
  dcb.fParity = line.parity_check;
  dcb.fDsrSensitivity = line.dsr_sensitivity;
  dcb.fTXContinueOnXoff = line.tx_continue_on_xoff;
  dcb.fErrorChar = line.error_char_replace;
  dcb.fNull = line.discard_null;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.XonChar = line.xon_char;
  dcb.XoffChar = line.xoff_char;
  dcb.ErrorChar = line.error_char;
  dcb.EofChar = line.eof_char;
  dcb.EvtChar = line.evt_char;
  dcb.XonLim = line.xon_limit;
  dcb.XoffLim = line.xoff_limit;
  if (SetCommState(impl_->handle, &dcb)) return true;
  impl_->note_error(GetLastError());
  if (impl_->gone) return false;
  // Refused: keep the port's own word size (4 bits is rare), then its own rate, so that the rest
  // still applies.
  DCB before{};
  before.DCBlength = sizeof before;
  if (!GetCommState(impl_->handle, &before)) return false;
  dcb.ByteSize = before.ByteSize;
  if (SetCommState(impl_->handle, &dcb)) return false;
  dcb.BaudRate = before.BaudRate;
  SetCommState(impl_->handle, &dcb);
  return false;
}

bool SerialPort::read_back(SerialLine* line) const {
  if (!is_open() || line == nullptr) return false;
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(impl_->handle, &dcb)) return false;
  SerialLine out;
  out.baud = dcb.BaudRate;
  out.data_bits = dcb.ByteSize;
  out.parity = dcb.Parity <= 4 ? static_cast<SerialParity>(dcb.Parity) : SerialParity::None;
  out.stop_bits = dcb.StopBits <= 2 ? static_cast<SerialStopBits>(dcb.StopBits) : SerialStopBits::One;
  out.parity_check = dcb.fParity;
  out.dsr_sensitivity = dcb.fDsrSensitivity;
  out.tx_continue_on_xoff = dcb.fTXContinueOnXoff;
  out.error_char_replace = dcb.fErrorChar;
  out.discard_null = dcb.fNull;
  out.xon_char = dcb.XonChar;
  out.xoff_char = dcb.XoffChar;
  out.error_char = dcb.ErrorChar;
  out.eof_char = dcb.EofChar;
  out.evt_char = dcb.EvtChar;
  out.xon_limit = dcb.XonLim;
  out.xoff_limit = dcb.XoffLim;
  *line = out;
  return true;
}

bool SerialPort::set_queue_sizes(uint32_t in_bytes, uint32_t out_bytes) {
  if (!is_open()) return false;
  impl_->out_queue = out_bytes > 0 ? out_bytes : kDefaultOutQueue;
  if (SetupComm(impl_->handle, in_bytes, out_bytes)) return true;
  impl_->note_error(GetLastError());
  return false;
}

long SerialPort::queued_input() {
  if (!is_open()) return -1;
  DWORD errors = 0;
  COMSTAT stat{};
  if (!ClearCommError(impl_->handle, &errors, &stat)) {
    impl_->note_error(GetLastError());
    return -1;
  }
  return static_cast<long>(stat.cbInQue);
}

long SerialPort::read(void* buf, size_t n) {
  if (!is_open()) return -1;
  if (n == 0) return 0;
  // Never more than is queued: a read of more might wait for bytes that are not coming.
  const long queued = queued_input();
  if (queued <= 0) return queued;
  const DWORD want = static_cast<DWORD>(std::min<size_t>(n, static_cast<size_t>(queued)));
  bool timed_out = false;
  const long got = impl_->transfer(true, buf, want, kReadWaitMs, &timed_out);
  // A read ended by the system's time-out (error 1460) simply found nothing more.
  return got < 0 && timed_out ? 0 : got;
}

long SerialPort::write(const void* buf, size_t n, uint32_t timeout_ms) {
  if (!is_open()) return -1;
  if (n == 0) return 0;
  if (timeout_ms == 0) {
    EnterCriticalSection(&impl_->lock);
    const long queued = impl_->queue_write(buf, static_cast<DWORD>(n));
    LeaveCriticalSection(&impl_->lock);
    return queued;
  }
  bool timed_out = false;
  const long put =
      impl_->transfer(false, const_cast<void*>(buf), static_cast<DWORD>(n), timeout_ms, &timed_out);
  if (put == static_cast<long>(n)) return put;
  // Cancelled or cut short: the unsent rest must not reach the line glued to the next frame.
  if (!PurgeComm(impl_->handle, PURGE_TXABORT | PURGE_TXCLEAR)) impl_->note_error(GetLastError());
  return -1;
}

void SerialPort::purge_input() {
  if (!is_open()) return;
  if (!PurgeComm(impl_->handle, PURGE_RXABORT | PURGE_RXCLEAR)) impl_->note_error(GetLastError());
}

void SerialPort::close() {
  if (!is_open()) return;
  impl_->abort_writes();
  CloseHandle(impl_->handle);
  impl_->handle = INVALID_HANDLE_VALUE;
}

// "Com1".."Com9" are device names as they stand; from five characters on ("Com10") the name
// needs the "\\?\" prefix to reach the device namespace.
std::string serial_device_path(const std::string& port_name) {
  if (port_name.size() < 5) return port_name;
  if (port_name.rfind("\\\\", 0) == 0) return port_name;
  return "\\\\?\\" + port_name;
}

}  // namespace korvel::plat
