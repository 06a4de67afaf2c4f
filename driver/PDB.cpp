#include "driver/PDB.h"

#include <cstring>

#include "platform/text.h"

namespace korvel {

const std::string& DevTypeNameOf(uint8_t devType) {
  static const std::string empty;
  switch (devType) {
    case 0:
      return GBK("PLNE");
    case 1:
      return GBK("PLNK");
    case 2:
      return GBK("无效");
    default:
      return empty;
  }
}

const std::string& DevTypeDescription(uint8_t devType) {
  static const std::string empty;
  switch (devType) {
    case 0:
      return GBK("PLNE系列模块支持PV,PV_ALARM,PARM,AO,SetPassWord标签");
    case 1:
      return GBK("PLNK系列模块支持PV,PV_ALARM,PARM,AO,SetPassWord标签");
    default:
      return empty;
  }
}

uint8_t DevTypeFromListIndex(int index) {
  return index == 0 ? 0 : index == 1 ? 1 : 2;
}

void FillPDBDefaults(PDB* b) {
  if (b == nullptr) return;
  b->SingleDevID = 0;
  b->DebugLog = b->ErrorLog = b->TraceLog = b->LinkMode = 0;
  b->ComPort = 0;
  b->BaudRate = 6;
  b->DataBits = 4;
  b->StopBits = 0;
  b->Parity = 0;
  b->Reserved6 = 0;
  b->TimeOut = 100;
  b->WriteCount = 2;
  for (int i = 0; i < kMaxDevices; ++i) {
    TDevInfo& d = b->Devices[i];
    d.DevID = i;
    d.DevType = 2;
    d.Param252 = 0;
    d.Param253 = 0;
    d.Param258 = 8;
    d.Param260 = 49;
    d.Param256 = 32;
    d.Param254 = 80;
    std::memset(d.Reserved54, 0, sizeof d.Reserved54);
  }
  b->Devices[0].DevType = 1;
}

bool CheckPDB(PDB* b) {
  if (b == nullptr) return false;
  bool voided = false;
  for (TDevInfo& d : b->Devices) {
    if (d.DevType == 2) continue;
    const std::string& want = DevTypeNameOf(d.DevType);
    // A stored length beyond the field's capacity cannot match any name.
    const bool matches = !want.empty() && d.DevTypeName.len == want.size() &&
                         std::memcmp(d.DevTypeName.chars, want.data(), want.size()) == 0;
    if (!matches) {
      d.DevTypeName.len = 0;
      d.DevType = 2;
      voided = true;
    }
  }
  return voided;
}

void CopyPDB(const PDB& s, PDB& d) {
  if (&s == &d) return;
  d.DebugLog = s.DebugLog;
  d.ErrorLog = s.ErrorLog;
  d.TraceLog = s.TraceLog;
  d.LinkMode = s.LinkMode;
  d.SingleDevID = s.SingleDevID;
  d.Reserved6 = s.Reserved6;
  d.TimeOut = s.TimeOut;
  d.WriteCount = s.WriteCount;
  d.PhoneNum.set(s.PhoneNum.str());
  for (int i = 0; i < kMaxDevices; ++i) {
    const TDevInfo& a = s.Devices[i];
    TDevInfo& b = d.Devices[i];
    b.DevID = a.DevID;
    b.DevType = a.DevType;
    b.DevTypeName.set(DevTypeNameOf(a.DevType));
    b.Param252 = a.Param252;
    b.Param253 = a.Param253;
    b.Param258 = a.Param258;
    b.Param260 = a.Param260;
    b.Param256 = a.Param256;
    b.Param254 = a.Param254;
    std::memcpy(b.Reserved54, a.Reserved54, sizeof b.Reserved54);
  }
  d.ComPort = s.ComPort;
  d.BaudRate = s.BaudRate;
  d.DataBits = s.DataBits;
  d.StopBits = s.StopBits;
  d.Parity = s.Parity;
  d.ModemInit.set(s.ModemInit.str());
}

}  // namespace korvel
