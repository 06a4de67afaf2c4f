// The protocol layer's line: the serial port unless a line was plugged in with UseLine.
#include "platform/text.h"
#include "protocol/DLLObj.h"
#include "protocol/Line.h"
#include "serial/DLLComm.h"

namespace korvel {
namespace {

// The serial port as a line.
class SerialLine final : public Line {
 public:
  explicit SerialLine(TBaseDLLObject* owner) : comm_(owner, true) {}
  bool open(const PDB& block, std::string& message) override { return comm_.Open(&block, message); }
  bool is_open() const override { return comm_.IsOpen(); }
  std::string device() const override { return comm_.DevicePath; }
  std::string settings_note() const override { return comm_.SettingsNote; }
  std::string open_failure() const override { return comm_.IsOpen() ? std::string() : comm_.OpenFailure; }
  bool send(const std::string& text) override { return comm_.SendText(text); }
  const std::string& received() override { return comm_.ReadAll(); }

 private:
  TCommClass comm_;
};

}  // namespace

void TCustomDLLObject::UseLine(std::unique_ptr<Line> line) {
  Line_ = std::move(line);
  PortExists = Line_ != nullptr;
}

bool TCustomDLLObject::LineOpen() const {
  return Line_ != nullptr && Line_->is_open();
}

void TCustomDLLObject::CreatePort() {
  Line_ = std::make_unique<SerialLine>(this);
  PortExists = true;
}

bool TCustomDLLObject::OpenPort(const PDB& block, std::string& msg) {
  if (Line_ == nullptr) return false;
  const bool open = Line_->open(block, msg);
  // An answer to another instance's request on this device may still be due.
  TakeOverLine(Line_->device());
  const std::string note = open ? Line_->settings_note() : std::string();
  if (!note.empty()) LogLine(GBK("：") + note + "\r\n");
  return open;
}

bool TCustomDLLObject::SendToPort(const std::string& text) {
  return Line_ != nullptr && Line_->send(text);
}

const std::string& TCustomDLLObject::ReadPort() {
  static const std::string none;
  return Line_ != nullptr ? Line_->received() : none;
}

void TCustomDLLObject::DestroyPort() {
  // Destroying the line closes it; its rest stays with the device for the next instance.
  if (Line_ != nullptr) LeaveLine(Line_->device());
  Line_.reset();
  PortExists = false;
}

}  // namespace korvel
