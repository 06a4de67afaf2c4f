// Pseudo-terminals and plain tty devices as a byte line: the module simulator serves on the master
// side, the driver (or a test) opens the slave path like any serial port.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/serial.h"

namespace korvel::plat {

// One end of a line. Not copyable; movable. All calls are safe on a closed line (they fail).
// read() and write() may run on one thread while wake() is called from another.
class Pty {
 public:
  Pty();
  ~Pty();
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;
  Pty(Pty&& other) noexcept;
  Pty& operator=(Pty&& other) noexcept;

  // Creates a new pseudo-terminal pair and keeps its master side. The slave is put in raw mode
  // (no echo, no line editing, no CR/LF mapping) so that only the settings its user applies count;
  // a slave descriptor is held open as well, so the master never sees a hang-up while the user of
  // the slave closes and reopens it. Failed when the OS refuses (last_error_text() says why).
  OpenResult open_pair();

  // Opens an existing terminal (the slave path of a pair) for reading and writing in raw mode,
  // keeping its speed. The path is kept as path(). Missing, NotTerminal or Failed when it cannot
  // (last_error_text() says why).
  OpenResult open_path(const std::string& path);

  // Opens a serial device through the serial service (exclusively) with the given line settings;
  // line.baud 0 keeps the device's speed and framing. The serial service's result when the device
  // cannot be opened, Failed when it refuses the settings (last_error_text() says why).
  OpenResult open_device(const std::string& path, const SerialLine& line);

  bool is_open() const;

  // The slave path of a pair, or the device path given to open_path(); empty when closed.
  const std::string& path() const;

  // Waits at most timeout_ms (negative: no limit) for input and reads up to n bytes.
  // Returns the byte count, 0 on time-out or wake(), -1 when the line is closed or gone.
  long read(void* buf, size_t n, int timeout_ms);

  // Writes all n bytes, waiting at most timeout_ms in total for room. False when not all went out.
  bool write(const void* buf, size_t n, int timeout_ms);

  // A pair only: holds (true) or releases the slave side's output as a line stopped by flow control
  // does, so that its user's writes find no room while held. False when not a pair.
  bool hold_output(bool hold);

  // Discards input not yet read and output not yet taken by the other side.
  void flush();

  // Makes a read() that is waiting (or the next one) return 0 at once. Callable from any thread.
  void wake();

  // Closes every descriptor; a pair disappears with its master, so its slave users see a hang-up.
  void close();

 private:
  struct Impl;  // the OS descriptors, defined by the platform's file
  std::unique_ptr<Impl> impl_;
};

}  // namespace korvel::plat
