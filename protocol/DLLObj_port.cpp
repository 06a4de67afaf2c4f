// The protocol layer's use of the serial port: one TCommClass per driver object.
#include "platform/text.h"
#include "protocol/DLLObj.h"
#include "serial/DLLComm.h"

namespace korvel {

void TCustomDLLObject::CreatePort() {
  Comm = new TCommClass(this, true);
  PortExists = true;
}

bool TCustomDLLObject::OpenPort(const PDB& block, std::string& msg) {
  if (Comm == nullptr) return false;
  const bool open = Comm->Open(&block, msg);
  if (open && !Comm->SettingsNote.empty()) LogLine(GBK("：") + Comm->SettingsNote + "\r\n");
  return open;
}

bool TCustomDLLObject::SendToPort(const std::string& text) {
  return Comm != nullptr && Comm->SendText(text);
}

std::string TCustomDLLObject::ReadPort() {
  return Comm != nullptr ? Comm->ReadAll() : std::string();
}

void TCustomDLLObject::DestroyPort() {
  // Destroying the port closes it.
  delete Comm;
  Comm = nullptr;
  PortExists = false;
}

}  // namespace korvel
