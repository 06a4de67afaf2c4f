// The line both exchange benchmarks poll: module 1 (PLNK) on Com1, 8 data bits, no parity, one
// stop bit, a second's time-out, and one tag reading its PV.
#pragma once
#include <cstdint>
#include <cstring>
#include <memory>

#include "driver/PDB.h"
#include "driver/records.h"
#include "exports/KorvelPLNK.h"

namespace korvel::bench {

inline std::unique_ptr<PDB> OneModuleBlock(uint8_t baudIndex) {
  auto block = std::make_unique<PDB>();
  FullPDB(block.get());
  block->ComPort = 0;
  block->BaudRate = baudIndex;
  block->DataBits = 4;
  block->Parity = 0;
  block->StopBits = 0;
  block->TimeOut = 1000;
  TDevInfo& d = block->Devices[1];
  d.DevID = 1;
  d.DevType = 1;
  d.DevTypeName.set(DevTypeNameOf(1));
  return block;
}

inline TTagInfo PvTag() {
  TTagInfo info;
  std::memset(&info, 0, sizeof info);
  std::strcpy(info.TagName, "pv");
  std::strcpy(info.TagAddr, "PV1:1");
  return info;
}

}  // namespace korvel::bench
