#include "serial/DLLComm.h"

#include <algorithm>
#include <vector>

#include "platform/clock.h"
#include "platform/text.h"

namespace korvel {
namespace {

constexpr int kDataBits[5] = {4, 5, 6, 7, 8};
constexpr plat::SerialParity kParities[5] = {plat::SerialParity::None, plat::SerialParity::Odd,
                                             plat::SerialParity::Even, plat::SerialParity::Mark,
                                             plat::SerialParity::Space};
constexpr plat::SerialStopBits kStopBits[3] = {plat::SerialStopBits::One, plat::SerialStopBits::OneAndHalf,
                                               plat::SerialStopBits::Two};
constexpr int kComPorts = 16;

template <typename T, size_t N>
bool InTable(int index, const T (&)[N]) {
  return index >= 0 && static_cast<size_t>(index) < N;
}

}  // namespace

// ---- TCommEventChars

void TCommEventChars::SetXonChar(char c) {
  Xon_ = c;
  Changed();
}
void TCommEventChars::SetXoffChar(char c) {
  Xoff_ = c;
  Changed();
}
void TCommEventChars::SetErrorChar(char c) {
  Error_ = c;
  Changed();
}
void TCommEventChars::SetEofChar(char c) {
  Eof_ = c;
  Changed();
}
void TCommEventChars::SetEvtChar(char c) {
  Evt_ = c;
  Changed();
}

void TCommEventChars::Assign(const TCommEventChars& src) {
  if (&src == this) return;
  Xon_ = src.Xon_;
  Xoff_ = src.Xoff_;
  Error_ = src.Error_;
  Eof_ = src.Eof_;
  Evt_ = src.Evt_;
  Changed();
}

void TCommEventChars::Changed() {
  if (Port_ != nullptr && Port_->IsOpen()) Port_->ApplySettings();
}

// ---- TCommClass

TCommClass::TCommClass(TBaseDLLObject* owner, bool clearOnSend) : Owner(owner), ClearOnSend(clearOnSend) {}

TCommClass::~TCommClass() {
  Close();
}

bool TCommClass::Open(const PDB* block, std::string& message) {
  try {
    // A damaged block must not open some other port or run the line with unknown settings.
    if (block == nullptr || block->ComPort >= kComPorts || !InTable(block->BaudRate, kBaudRates) ||
        !InTable(block->DataBits, kDataBits) || !InTable(block->StopBits, kStopBits) ||
        !InTable(block->Parity, kParities)) {
      StatusText = GBK("设备参数中的串口设置有误!");
      message = StatusText;
      return false;
    }
    PortName = "Com" + std::to_string(block->ComPort + 1);
    BaudIndex = block->BaudRate;
    DataBitsIndex = block->DataBits;
    StopBitsIndex = block->StopBits;
    ParityIndex = block->Parity;
    Options = kOptParityCheck;
    OpenPort(true);
    message = StatusText;
    return IsOpen();
  } catch (...) {
    return false;
  }
}

void TCommClass::OpenPort(bool retry) {
  OpenHandle(retry);
  if (!IsOpen()) return;
  ApplySettings();
  // Reads return at once with what is queued: the platform port never waits for input.
  bool queues = false;
  {
    std::lock_guard<std::mutex> lock(Lock_);
    queues = Port_.set_queue_sizes(InBufSize, OutBufSize);
  }
  if (queues) {
    StatusText = PortName + GBK("打开成功");
  } else {
    StatusText = "Error initializing Read/Write Buffers";
    CloseIfGone();
  }
}

void TCommClass::OpenHandle(bool retry) {
  if (IsOpen()) return;  // an open port keeps its device
  const std::string path = plat::serial_device_path(PortName);
  DevicePath = path;
  const uint64_t start = plat::tick_ms();
  // The try count also bounds the loop when a test has stopped the clock.
  constexpr uint64_t kMaxTries = kOpenRetryMs / kOpenRetryPauseMs + 1;
  plat::OpenResult result = plat::OpenResult::Failed;
  for (uint64_t tries = 0;;) {
    {
      std::lock_guard<std::mutex> lock(Lock_);
      result = Port_.open(path);
    }
    // Only a busy or missing device may change while we wait (another program lets go, an adapter
    // is plugged in); a refused permission or a file that is no serial device will not.
    if (result != plat::OpenResult::Busy && result != plat::OpenResult::Missing) break;
    if (!retry) break;
    if (++tries >= kMaxTries || plat::tick_ms() - start > kOpenRetryMs) break;
    plat::sleep_ms(kOpenRetryPauseMs);
  }
  OpenFailure = IsOpen() ? std::string() : plat::last_error_text();
  if (!IsOpen()) StatusText = PortName + GBK("不存在或被其它程序占用！");
}

bool TCommClass::LineSettings(plat::SerialLine& line) const {
  if (!InTable(BaudIndex, kBaudRates) || !InTable(DataBitsIndex, kDataBits) ||
      !InTable(ParityIndex, kParities) || !InTable(StopBitsIndex, kStopBits)) {
    return false;
  }
  line.baud = kBaudRates[BaudIndex];
  line.data_bits = kDataBits[DataBitsIndex];
  line.parity = kParities[ParityIndex];
  line.stop_bits = kStopBits[StopBitsIndex];
  line.parity_check = (Options & kOptParityCheck) != 0;
  line.dsr_sensitivity = (Options & kOptDsrSensitivity) != 0;
  line.tx_continue_on_xoff = (Options & kOptTxContinueOnXoff) != 0;
  line.error_char_replace = (Options & kOptErrorChar) != 0;
  line.discard_null = (Options & kOptNullStrip) != 0;
  line.xon_char = EventChars.XonChar();
  line.xoff_char = EventChars.XoffChar();
  line.error_char = EventChars.ErrorChar();
  line.eof_char = EventChars.EofChar();
  line.evt_char = EventChars.EvtChar();
  line.xon_limit = 80;
  line.xoff_limit = 200;
  return true;
}

bool TCommClass::ReadLineSettings(plat::SerialLine& line) const {
  try {
    std::lock_guard<std::mutex> lock(Lock_);
    return Port_.read_back(&line);
  } catch (...) {
    return false;
  }
}

void TCommClass::ApplySettings() {
  plat::SerialLine line;
  if (!IsOpen() || !LineSettings(line)) return;
  {
    // A refusal does not fail the open: the port stays open with what the OS kept, and the
    // driver logs what did not apply.
    std::lock_guard<std::mutex> lock(Lock_);
    if (Port_.apply(line))
      SettingsNote.clear();
    else
      SettingsNote = DataBitsIndex == 0 ? GBK("串口不能使用4位数据位，其余设置已生效")
                                        : GBK("串口没有接受全部设置，其余设置已生效");
  }
  CloseIfGone();
}

void TCommClass::CloseIfGone() {
  if (Port_.gone()) Close();
}

bool TCommClass::SendText(const std::string& text) {
  try {
    if (ClearOnSend) ReceivedText.clear();
    const std::string frame = text.substr(0, std::min(text.size(), kMaxSendLength));
    if (!IsOpen()) OpenPort(false);
    if (!IsOpen()) return false;
    PurgeInput();
    if (!IsOpen()) return false;
    long sent = -1;
    {
      std::lock_guard<std::mutex> lock(Lock_);
      // No wait for room: the host's polling thread is ours only for a moment.
      sent = Port_.write(frame.data(), frame.size(), 0);
    }
    CloseIfGone();
    return sent == static_cast<long>(frame.size());
  } catch (...) {
    return false;
  }
}

const std::string& TCommClass::ReadAll() {
  try {
    if (IsOpen()) {
      long got = 0;
      {
        // The port's read never waits and asks the queue first: one system call on a poll that
        // finds nothing. The buffer is kept, so a poll allocates nothing.
        std::lock_guard<std::mutex> lock(Lock_);
        if (ReadBuf_.size() != InBufSize) ReadBuf_.assign(InBufSize, '\0');
        if (!ReadBuf_.empty()) got = Port_.read(ReadBuf_.data(), ReadBuf_.size());
      }
      if (got > 0) ReceivedText.append(ReadBuf_.data(), static_cast<size_t>(got));
      CloseIfGone();
    }
    return ReceivedText;
  } catch (...) {
    static const std::string none;
    return none;
  }
}

void TCommClass::PurgeInput() {
  try {
    if (IsOpen()) {
      {
        std::lock_guard<std::mutex> lock(Lock_);
        Port_.purge_input();
      }
      CloseIfGone();
    }
    ReceivedText.clear();
  } catch (...) {
  }
}

void TCommClass::Close() {
  std::lock_guard<std::mutex> lock(Lock_);
  Port_.close();
}

}  // namespace korvel
