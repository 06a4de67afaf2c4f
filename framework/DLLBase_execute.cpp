// Read and write execution: the entry points through which the host's polls and writes reach
// the run-state machine, and the rebuild of the read commands.
#include <algorithm>
#include <iterator>

#include "framework/DLLBase.h"
#include "platform/clock.h"
#include "platform/datetime.h"
#include "platform/text.h"

namespace korvel {
namespace {

constexpr const char* kClass = "TBaseDLLObject";

bool is_number(const Variant& v) {
  return v.kind() == Variant::Kind::Double || v.kind() == Variant::Kind::Int;
}

}  // namespace

bool TBaseDLLObject::AddrTypeReadable(int32_t addrType) {
  return addrType >= tkPV && addrType <= tkAO;
}

bool TBaseDLLObject::AddrTypeWritable(int32_t addrType) {
  return addrType == tkSetPassWord;
}

bool TBaseDLLObject::ReadExecute() {
  try {
    if (Stopped || !CommEnabled) return true;
    GetRunEvent();
    SwitchRunStatus();
    return true;
  } catch (...) {
    LogException(kClass, "ReadExecute");
    return false;
  }
}

bool TBaseDLLObject::ReadExecuteEx() {
  try {
    if (!CommEnabled) return false;
    GetRunEvent();
    SwitchRunStatus();
    return false;
  } catch (...) {
    LogException(kClass, "ReadExecuteEx");
    return true;
  }
}

bool TBaseDLLObject::WriteExecute(int32_t tagID, const Variant& value) {
  try {
    if (!ParmReady) IniParm(&Parm);
    if (!TagListReady) return false;
    // An identifier the host never handed over names no tag.
    if (tagID < 0 || static_cast<size_t>(tagID) >= TagIDMap.size()) return false;
    const int32_t p = TagIDMap[static_cast<size_t>(tagID)];
    const int32_t count = static_cast<int32_t>(TagList.size());
    if (p < 0 || p > count) return false;
    if (p == count) {
      LogException(kClass, "WriteExecute");
      return false;
    }
    TDLLTag* tag = TagAt(p);
    if (tag == nullptr) {
      if (Parm.ErrorLog) LogLine(GBK("：写标签错误,标签不存在!") + "\r\n");
      return false;
    }
    if (tag->InternalKey == "ENLOG" || tag->InternalKey == "COMMLINK" || tag->InternalKey == "ENCOMMLINK")
      return WriteInternalTag(*tag, value);
    if (!AddrTypeWritable(tag->AddrType)) return RefuseUnwritable(*tag);
    if (!WriteTypeFits(*tag, value) || !CommEnabled) return false;
    return QueueHostWrite(*tag, p, value);
  } catch (...) {
    LogException(kClass, "WriteExecute");
    return false;
  }
}

bool TBaseDLLObject::RefuseUnwritable(const TDLLTag& tag) {
  if (Parm.ErrorLog) LogLine(GBK("：标签") + tag.TagName + GBK("不可写!") + "\r\n");
  return false;
}

bool TBaseDLLObject::WriteInternalTag(TDLLTag& tag, const Variant& value) {
  const bool isBool = value.kind() == Variant::Kind::Bool;
  if (tag.InternalKey == "ENLOG") {
    // Assigned directly: a host write switches logging even where the setter would not.
    if (is_number(value))
      EnLog = value.toDouble() != 0;
    else if (isBool)
      EnLog = value.toBool();
    SetTypedValue(tag, EnLog ? 1 : 0, EnLog, nullptr);
    return true;
  }
  if (tag.InternalKey == "ENCOMMLINK") {
    if (is_number(value))
      SetCommEnabled(value.toDouble() != 0);
    else if (isBool)
      SetCommEnabled(value.toBool());
    SetTypedValue(tag, CommEnabled ? 1 : 0, CommEnabled, nullptr);
    return true;
  }
  return RefuseUnwritable(tag);  // COMMLINK only reports
}

bool TBaseDLLObject::WriteTypeFits(const TDLLTag& tag, const Variant& value) {
  const char* reason = nullptr;
  if (value.kind() == Variant::Kind::Double && tag.TagType != kTypeReal)
    reason = "标签不是模拟量类型!";
  else if (value.kind() == Variant::Kind::Bool && tag.TagType != kTypeBool)
    reason = "标签不是开关量类型!";
  else if (value.isString() && tag.TagType != kTypeString)
    reason = "标签不是字符串类型!";
  if (reason == nullptr) return true;
  if (Parm.ErrorLog)
    LogLine(GBK("：标签") + tag.TagName + GBK("写错误,") + plat::utf8_to_gbk(reason) + "\r\n");
  return false;
}

bool TBaseDLLObject::QueueHostWrite(TDLLTag& tag, int32_t p, const Variant& value) {
  if (CurCommand != nullptr && CurCommand->IsWrite && !CurCommand->TagIndex.empty() &&
      CurCommand->TagIndex[0] == p) {
    if (Parm.ErrorLog)
      LogLine(GBK("：标签写入请求未执行：") + tag.TagName + GBK("正在执行写入操作,") + GBK(" 地址=") +
              tag.TagAddr + GBK(", 标签值=") + ValueText(tag) + "\r\n");
    return false;
  }
  // The write stamps the tag; a link stamp still pending for it is older and must land first.
  if (tag.IsInternal) FlushLinkStamp();
  // The host reads the new value at once; a refused write leaves the tag as it was.
  const Variant previousValue = tag.Value, previousOld = tag.OldValue;
  const double previousStamp = tag.TimeStamp;
  // A queued write this one replaces never left: the module still has the value from before it,
  // and that stays the one to restore should this write fail.
  if (!WriteQueued(p)) tag.OldValue = tag.Value;
  tag.Value = value;
  tag.TimeStamp = plat::now_datetime();
  TCommand* w = CreatCommand(&tag, CommandList, true);
  if (w == nullptr || !QueueWrite(tag, w)) {
    tag.Value = previousValue;
    tag.OldValue = previousOld;
    tag.TimeStamp = previousStamp;
    return false;
  }
  return true;
}

void TBaseDLLObject::Refresh() {
  Guarded(kClass, "Refresh", [&] {
    if (!TagListReady) return;
    // Commands of an earlier build are released, not just forgotten.
    ReleaseCommands();
    for (const auto& tag : TagList) {
      if (tag->IsInternal) continue;
      if (!AddrTypeReadable(tag->AddrType) && AddrTypeWritable(tag->AddrType)) continue;
      if (TCommand* c = CreatCommand(tag.get(), CommandList, false)) {
        c->FailCount = 0;
        CommandList.push_back(c);
      }
    }
    ReadFailCount = WriteFailCount = 0;
    ReadCommCount = WriteCommCount = 0;
    ReadTimeoutCount = WriteTimeoutCount = 0;
    std::fill(std::begin(DevFailRun), std::end(DevFailRun), 0u);
    StartDateTime = plat::now_datetime();
    OptimizeCommParm();
    ScanTime = GetInterval();
    EnLog = EnLogStart;
    StartTick = plat::tick_ms();
  });
}

int32_t TBaseDLLObject::GetInterval() {
  Guarded(kClass, "GetInterval",
          [&] { LogLine(GBK("：有效标签个数=") + std::to_string(TagList.size()) + "\r\n"); });
  return 10;
}

void TBaseDLLObject::RealComm(TCommand* cmd) {
  Guarded(kClass, "RealComm", [&] {
    if (cmd == nullptr || !CommEnabled) return;
    cmd->AnswerStr.clear();
    SendTick = plat::tick_ms();
    SendFailed = false;
  });
}

// A hook for protocols whose tags share a register: the framework propagates nothing.
void TBaseDLLObject::SyncTagValue(TCommand*) {}

bool TBaseDLLObject::ValidTagValFrm(uint8_t a, uint8_t b) {
  return (b == 0 && a == 2) || ((b == 1 || b == 2) && a <= 2);
}

}  // namespace korvel
