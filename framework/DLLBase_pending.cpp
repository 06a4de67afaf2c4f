// Placeholders so the library links while the tag, address, scheduling, run-state and
// execution units are written; each moves to its own unit and leaves this file.
#include "framework/DLLBase.h"

namespace korvel {

bool TBaseDLLObject::IniParm(const PDB* block) {
  if (block == nullptr) return false;
  CopyPDB(*block, Parm);
  ParmReady = true;
  return true;
}
TDLLTag* TBaseDLLObject::CreatInternalTag(const TTagInfo&) {
  return nullptr;
}
std::string TBaseDLLObject::GetTagTypeStr(const std::string&, const std::string&) {
  return {};
}
bool TBaseDLLObject::CheckAddrValid(TDLLTag*) {
  return false;
}
bool TBaseDLLObject::IniDLLObj(const PDB* block, const std::vector<const TTagInfo*>&) {
  return IniParm(block) && false;
}
bool TBaseDLLObject::AddTagLists(const std::vector<const TTagInfo*>&, std::vector<int32_t>&) {
  return false;
}
uint8_t TBaseDLLObject::GetDevType(int32_t) {
  return 2;
}
bool TBaseDLLObject::IniTagList(const std::vector<const TTagInfo*>&) {
  return false;
}
int32_t TBaseDLLObject::GetTagTypeIndex(const std::string&, const std::string&) {
  return -1;
}
int32_t TBaseDLLObject::GetDevAddr(const std::string&, const std::string&) {
  return -1;
}
int32_t TBaseDLLObject::GetChannelAddr(const std::string&, const std::string&, uint8_t) {
  return -1;
}
int32_t TBaseDLLObject::GetBitAddr(const std::string&, const std::string&, uint8_t) {
  return -1;
}
int32_t TBaseDLLObject::GetThirdSeg(const std::string&, const std::string&, uint8_t) {
  return -1;
}
int32_t TBaseDLLObject::GetFourSeg(const std::string&, const std::string&, uint8_t) {
  return -1;
}
int32_t TBaseDLLObject::GetFiveSeg(const std::string&, const std::string&, uint8_t) {
  return -1;
}
bool TBaseDLLObject::CheckTagAddr(const PDB*, std::string&) {
  return false;
}
void TBaseDLLObject::Refresh() {}
int32_t TBaseDLLObject::GetInterval() {
  return 10;
}
bool TBaseDLLObject::ValidTagValFrm(TDLLTag*, const Variant&) {
  return false;
}
void TBaseDLLObject::SyncTagValue(TCommand*) {}
void TBaseDLLObject::RealComm(TCommand*) {}
void TBaseDLLObject::GetNextCommand() {}
void TBaseDLLObject::GetCommandNext() {}
bool TBaseDLLObject::WriteExecute(int32_t, const Variant&) {
  return false;
}
void TBaseDLLObject::ReadExecute() {}
void TBaseDLLObject::ReadExecuteEx() {}

}  // namespace korvel
