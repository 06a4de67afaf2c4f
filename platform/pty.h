// Pseudo-terminals and plain tty devices as a byte line: the module simulator serves on the master
// side, the driver (or a test) opens the slave path like any serial port.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace korvel::plat {

// Line settings for open_path(); baud 0 leaves the device's speed and framing as they are.
struct LineParams {
  uint32_t baud = 0;
  int data_bits = 8;  // 5..8
  char parity = 'N';  // 'N', 'O', 'E'
  int stop_bits = 1;  // 1 or 2
};

// One end of a line. Not copyable; movable. All calls are safe on a closed line (they fail).
// read() and write() may run on one thread while wake() is called from another.
class Pty {
 public:
  Pty() = default;
  ~Pty();
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;
  Pty(Pty&& other) noexcept;
  Pty& operator=(Pty&& other) noexcept;

  // Creates a new pseudo-terminal pair and keeps its master side. The slave is put in raw mode
  // (no echo, no line editing, no CR/LF mapping) so that only the settings its user applies count;
  // a slave descriptor is held open as well, so the master never sees a hang-up while the user of
  // the slave closes and reopens it. On failure returns false and says why in *err (may be null).
  bool open_pair(std::string* err);

  // Opens an existing terminal device (a serial port, or the slave path of a pair) for reading and
  // writing in raw mode; params->baud != 0 also sets speed and framing. The device path is kept as
  // path(). On failure returns false and says why in *err (may be null).
  bool open_path(const std::string& path, const LineParams* params, std::string* err);

  bool is_open() const { return fd_ >= 0; }

  // The slave path of a pair, or the device path given to open_path(); empty when closed.
  const std::string& path() const { return path_; }

  // Waits at most timeout_ms (negative: no limit) for input and reads up to n bytes.
  // Returns the byte count, 0 on time-out or wake(), -1 when the line is closed or gone.
  long read(void* buf, size_t n, int timeout_ms);

  // Writes all n bytes, waiting at most timeout_ms in total for room. False when not all went out.
  bool write(const void* buf, size_t n, int timeout_ms);

  // Discards input not yet read and output not yet taken by the other side.
  void flush();

  // Makes a read() that is waiting (or the next one) return 0 at once. Callable from any thread.
  void wake();

  // Closes every descriptor; a pair disappears with its master, so its slave users see a hang-up.
  void close();

 private:
  bool make_wake_pipe(std::string* err);

  int fd_ = -1;       // master of a pair, or the device
  int hold_fd_ = -1;  // slave descriptor held by a pair
  int wake_rd_ = -1;
  int wake_wr_ = -1;
  std::string path_;
};

}  // namespace korvel::plat
