// A serial device opened exclusively, with non-blocking reads of queued input and bounded writes.
// The driver's port object (serial/DLLComm) keeps the rules; this is only the OS work.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/result.h"

namespace korvel::plat {

enum class SerialParity : uint8_t { None, Odd, Even, Mark, Space };
enum class SerialStopBits : uint8_t { One, OneAndHalf, Two };

// Line settings as the driver states them. What an OS cannot express is handled by apply().
struct SerialLine {
  uint32_t baud = 19200;
  int data_bits = 8;  // 4..8; 4 bits cannot be set on POSIX terminals (apply() keeps the device's size)
  SerialParity parity = SerialParity::Even;
  SerialStopBits stop_bits = SerialStopBits::One;
  // The five line options. On POSIX only parity_check has a counterpart (INPCK); the others
  // are Windows driver features and are accepted without effect.
  bool parity_check = false;
  bool dsr_sensitivity = false;
  bool tx_continue_on_xoff = false;
  bool error_char_replace = false;
  bool discard_null = false;
  // Special characters; POSIX keeps xon/xoff (VSTART/VSTOP) and eof (VEOF).
  char xon_char = 0x11;
  char xoff_char = 0x13;
  char error_char = 0;
  char eof_char = 0;
  char evt_char = 0;
  uint16_t xon_limit = 80;
  uint16_t xoff_limit = 200;
};

// One serial device. Not copyable. Single-threaded: the owner serialises its calls.
class SerialPort {
 public:
  SerialPort();
  ~SerialPort();
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  // Opens the device for reading and writing, refusing to share it: a second opener in this or
  // another process gets Busy. Afterwards read() never waits. An open port is closed first.
  OpenResult open(const std::string& path);
  bool is_open() const;

  // Applies the line settings, leaving the hardware handshake (RTS/CTS) as the device had it.
  // False when the OS refused part of them; the rest still applies: a word size it cannot express
  // (4 data bits) stays as the device had it, and so does a rate the device refuses (some drivers
  // and pseudo-terminals take no custom rates).
  bool apply(const SerialLine& line);

  // The settings the OS holds now. A pseudo-terminal always reports 8 data bits without parity
  // whatever was applied; speed, stop bits and characters read back as set.
  bool read_back(SerialLine* line) const;

  // Asks for driver queues of these sizes. POSIX terminals have fixed queues: true while the
  // device is still there.
  bool set_queue_sizes(uint32_t in_bytes, uint32_t out_bytes);

  // Count of received bytes waiting to be read; -1 on failure.
  long queued_input();

  // Reads at most n of the queued bytes without waiting; 0 when none, -1 on failure (a device
  // that hung up or vanished is then gone()).
  long read(void* buf, size_t n);

  // Writes n bytes, waiting at most timeout_ms for room. Returns n, or -1 when the write failed
  // or did not finish in time; then whatever had not left is discarded, so nothing of this write
  // remains pending after the call returns. timeout_ms 0 never waits: the bytes must fit the
  // output queue (set_queue_sizes' out_bytes on Windows, the terminal's own queue on POSIX) at
  // once, and a write that does not fit discards the whole queue, earlier writes included (a line
  // that stopped draining must not send stale frames once it moves again).
  long write(const void* buf, size_t n, uint32_t timeout_ms);

  // Discards received bytes not yet read.
  void purge_input();

  // True once a call failed because the device has gone (unplugged adapter, closed
  // pseudo-terminal); the owner should close the port and open it again later.
  bool gone() const;

  void close();

  // The OS handle and its state, kept out of this header (posix/ or win32/ define it).
  struct Impl;

 private:
  friend class Pty;  // a simulator line serves a device this class opened
  std::unique_ptr<Impl> impl_;
};

// The device path of a port name. "ComN" (any letter case) maps to the environment variable
// KORVELPLNK_COMN when it is set and not empty, else to /dev/ttyS(N-1); any other name is taken
// as a path as it stands. (On Windows the name is the device, prefixed with "\\?\" from five
// characters on, as "Com10" needs.)
std::string serial_device_path(const std::string& port_name);

}  // namespace korvel::plat
