// TCommClass: the driver's serial port. It opens the COM port named in the device parameter
// block, applies the line settings, sends request frames and collects what arrives. It never
// waits for input; the only wait is the open retry (up to 5 s) when a port is busy or missing.
#pragma once
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "driver/PDB.h"
#include "platform/serial.h"

namespace korvel {

class TBaseDLLObject;
class TCommClass;

// The five special characters of the line settings. Assigning one re-applies the settings of
// the port when it is open.
class TCommEventChars {
 public:
  explicit TCommEventChars(TCommClass* port) : Port_(port) {}
  TCommEventChars(const TCommEventChars&) = delete;
  TCommEventChars& operator=(const TCommEventChars&) = delete;

  char XonChar() const { return Xon_; }
  char XoffChar() const { return Xoff_; }
  char ErrorChar() const { return Error_; }
  char EofChar() const { return Eof_; }
  char EvtChar() const { return Evt_; }
  void SetXonChar(char c);
  void SetXoffChar(char c);
  void SetErrorChar(char c);
  void SetEofChar(char c);
  void SetEvtChar(char c);

  // Copies the five characters of src (the port stays this object's own).
  void Assign(const TCommEventChars& src);

 private:
  void Changed();

  TCommClass* Port_;
  char Xon_ = 0x11;
  char Xoff_ = 0x13;
  char Error_ = 0;
  char Eof_ = 0;
  char Evt_ = 0;
};

class TCommClass {
 public:
  // Option bits: each switches one flag of the line settings. The driver sets only the first.
  static constexpr uint8_t kOptParityCheck = 0x01;
  static constexpr uint8_t kOptDsrSensitivity = 0x02;
  static constexpr uint8_t kOptTxContinueOnXoff = 0x04;
  static constexpr uint8_t kOptErrorChar = 0x08;
  static constexpr uint8_t kOptNullStrip = 0x10;

  // Longest request frame SendText puts on the line.
  static constexpr size_t kMaxSendLength = 255;
  // How long the open is retried while the device is busy or missing, and the pause between tries.
  static constexpr uint64_t kOpenRetryMs = 5000;
  static constexpr uint32_t kOpenRetryPauseMs = 10;

  // owner: the driver object the port belongs to (may be null); clearOnSend: empty ReceivedText
  // before every send (the driver passes true).
  TCommClass(TBaseDLLObject* owner, bool clearOnSend);
  ~TCommClass();
  TCommClass(const TCommClass&) = delete;
  TCommClass& operator=(const TCommClass&) = delete;

  // Takes port name and line settings from the block and opens the port. message receives
  // StatusText: PortName + "打开成功" on success, PortName + "不存在或被其它程序占用！" when the
  // device is missing, busy or no serial device, "Error initializing Read/Write Buffers", or
  // "设备参数中的串口设置有误!" for a null block or a port number or line index out of range (the
  // port is then left as it was). Returns whether the port is open. A port that is already open
  // keeps its device, even when the block names another one; only the settings are re-applied.
  // The open retries for up to kOpenRetryMs while the device is busy or missing.
  bool Open(const PDB* block, std::string& message);

  bool IsOpen() const { return Port_.is_open(); }

  // Sends at most the first 255 characters of text. Empties ReceivedText first (ClearOnSend),
  // reopens a closed port with a single attempt (a poll must never wait for a vanished device),
  // and discards unread input before writing. The frame must fit the OS output queue at once: a
  // line that stopped draining (a dead adapter, flow control held) fails the send without waiting
  // for room, and what it still held is discarded so stale requests never go out later. True when
  // every byte was queued; false when the port could not be opened or the write failed (a port that
  // has gone is then closed, and the next send reopens it).
  bool SendText(const std::string& text);

  // Appends the input the OS has queued (at most InBufSize bytes per call) to ReceivedText and
  // returns ReceivedText (valid until the next call on the port). Never waits. A port found gone
  // is closed.
  const std::string& ReadAll();

  // Discards the OS receive queue (when open) and clears ReceivedText.
  void PurgeInput();

  void Close();

  // The line settings the indices and options stand for; false when an index is out of range.
  bool LineSettings(plat::SerialLine& line) const;
  // The settings the OS holds for the open port (see plat::SerialPort::read_back).
  bool ReadLineSettings(plat::SerialLine& line) const;

  TBaseDLLObject* Owner;
  std::string PortName = "Com1";
  uint32_t ReadTimeout = 1000;   // ms
  uint32_t WriteTimeout = 1000;  // ms; not waited for by SendText, which never waits for room
  uint32_t InBufSize = 2048;     // also the most one ReadAll reads
  uint32_t OutBufSize = 2048;
  int BaudIndex = 8;      // 19200
  int DataBitsIndex = 4;  // 8 bits
  int ParityIndex = 2;    // even
  int StopBitsIndex = 0;  // 1 bit
  uint8_t Options = 0;
  TCommEventChars EventChars{this};
  std::string ReceivedText;
  bool ClearOnSend;
  std::string StatusText;
  // What of the line settings the device did not take at the last open, as a log text; empty
  // when it took them all.
  std::string SettingsNote;
  // The device path the port name stands for, from the first open on.
  std::string DevicePath;
  // Why the last open of the device failed: its path and the system's reason; empty after a
  // successful open.
  std::string OpenFailure;

 private:
  friend class TCommEventChars;

  void OpenPort(bool retry);    // open (or keep) the device, apply settings, report
  void OpenHandle(bool retry);  // retry: keep trying for kOpenRetryMs; else one attempt
  void ApplySettings();         // line settings of an open port; failures are not reported
  void CloseIfGone();           // a device the OS reports gone is closed, to be reopened by a send

  plat::SerialPort Port_;
  std::vector<char> ReadBuf_;  // InBufSize bytes, kept between reads
  mutable std::mutex Lock_;    // one transfer at a time
};

}  // namespace korvel
