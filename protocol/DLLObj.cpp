#include "protocol/DLLObj.h"

#include <cmath>
#include <cstdio>

#include "driver/getfileinfo.h"
#include "platform/clock.h"
#include "platform/datetime.h"
#include "platform/text.h"
#include "protocol/Frames.h"
#include "protocol/Line.h"

namespace korvel {
namespace {

constexpr const char* kClass = "TCustomDLLObject";

std::string number_text(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15g", v);
  return buf;
}

// A double rounded into the 32-bit range (halves to even); out-of-range and NaN saturate or give 0.
int64_t round_clamped(double v) {
  if (std::isnan(v)) return 0;
  const double r = std::nearbyint(v);
  if (r > 2147483647.0) return 2147483647;
  if (r < -2147483648.0) return -2147483647 - 1;
  return static_cast<int64_t>(r);
}

}  // namespace

TCustomDLLObject::TCustomDLLObject(bool firstInstance) : TBaseDLLObject(firstInstance) {
  // The protocol layer starts with logging off; the host switches it with WriteLog.
  EnLog = false;
}

TCustomDLLObject::~TCustomDLLObject() {
  // The base destructor can only reach the base Stop: the report lines and the port release of
  // this layer must run while this layer still exists.
  try {
    EnLog = true;
    LastCommOK = false;
    CommEnabled = true;
    if (!Stopped) StopPart();
    DestroyPort();
  } catch (...) {
  }
}

bool TCustomDLLObject::AddrTypeReadable(int32_t addrType) {
  return proto::IsReadable(addrType);
}

bool TCustomDLLObject::AddrTypeWritable(int32_t addrType) {
  return proto::IsWritable(addrType);
}

std::string TCustomDLLObject::DevEntryTypeName(int32_t dev) const {
  for (const TDevInfo& d : Parm.Devices) {
    if (d.DevType != 2 && d.DevID == dev) return d.DevTypeName.str();
  }
  if (ValidDev(dev)) return Parm.Devices[dev].DevTypeName.str();
  return {};
}

std::string TCustomDLLObject::CommandLogHead(const TCommand* cmd) const {
  const TfileInfo& v = Vocabulary();
  return plat::datetime_text(plat::now_datetime()) + GBK("：") + v[fiDevTypeName] + GBK("类型=") +
         DevEntryTypeName(cmd->DeviceAddr) + GBK("，") + v[fiDevIDName] + "=" +
         std::to_string(cmd->DeviceAddr) + "[";
}

std::string TCustomDLLObject::ValueText(const TDLLTag* tag, const Variant& v) {
  switch (tag->TagType) {
    case kTypeBool:
      return v.toBool() ? "True" : "False";
    case kTypeReal:
      return number_text(v.toDouble());
    default:
      return v.toString();
  }
}

size_t TCustomDLLObject::LogCommands(bool logLines) {
  size_t largest = 0;
  for (TCommand* head : CommandList) {
    for (TCommand* c = head; c != nullptr; c = c->NextCommand) {
      if (c->TagIndex.size() > largest) largest = c->TagIndex.size();
      if (!logLines) continue;
      std::string line = CommandLogHead(c);
      for (const int32_t idx : c->TagIndex) {
        if (const TDLLTag* t = TagAt(idx)) line += t->TagName + GBK(" 地址=") + t->TagAddr + " ";
      }
      line += GBK("]生成读标签命令串=") + c->AskStr + "\r\n";
      SetLogMsg(line);
    }
  }
  return largest;
}

bool TCustomDLLObject::IniParm(const PDB* block) {
  return Guarded(kClass, "IniParm", false, [&] {
    const bool baseOk = TBaseDLLObject::IniParm(block);
    if (block == nullptr || !baseOk) return false;
    int32_t t = block->TimeOut;
    if (t > 60000) t = 60000;
    if (t < 10) t = 10;
    CommTimeOut = t;
    WriteRetryBudget = block->WriteCount;
    LogLine(GBK("：通讯最大允许超时时间=") + std::to_string(CommTimeOut) + "\r\n");
    if (Line_ == nullptr) CreatePort();
    std::string msg;
    const bool open = OpenPort(*block, msg);
    WriteCommEvent(msg);
    // The host gets the library's text; the log adds which device and the system's reason, so that
    // a missing device, a refused permission and a busy port can be told apart.
    const std::string why = open || Line_ == nullptr ? std::string() : Line_->open_failure();
    if (Parm.DebugLog || (!open && Parm.ErrorLog))
      LogLine(GBK("：") + msg + (why.empty() ? std::string() : " (" + why + ")") + "\r\n");
    return open;
  });
}

bool TCustomDLLObject::NeedCreatCommand(std::vector<TCommand*>& list, TDLLTag* tag, bool isWrite) {
  return Guarded(kClass, "NeedCreatCommand", true, [&] {
    if (tag == nullptr || tag->AddrValid == 0) return false;
    if (isWrite) {
      if (!proto::IsWritable(tag->AddrType)) return false;
      for (const TCommand* w : PendingWrites) {
        if (w == nullptr || w->TagIndex.empty() || w->Values.empty()) continue;
        if (w->TagIndex[0] != tag->TagIndex || w->Values[0] != tag->Value) continue;
        if (Parm.ErrorLog) {
          SetLogMsg(plat::datetime_text(plat::now_datetime()) + GBK("：标签写入请求未执行：") + tag->TagName +
                    GBK("重复写入,") + GBK(" 地址=") + tag->TagAddr + GBK(", 标签值=") +
                    ValueText(tag, tag->Value) + "\r\n");
        }
        return false;
      }
      return true;
    }
    TCommand scratch;
    scratch.LowChannel = tag->ChannelAddr;
    scratch.HighChannel = tag->ChannelAddr;
    scratch.FrameReady = false;
    const std::string frame = GetAskStr(&scratch, tag, false);
    for (TCommand* c : list) {
      if (c == nullptr || c->DeviceAddr != tag->Address) continue;
      if (c->AddrType == tag->AddrType && tag->ChannelAddr >= c->StartAddr &&
          tag->ChannelAddr <= c->EndAddr) {
        if (tag->ChannelAddr < c->LowChannel) c->LowChannel = tag->ChannelAddr;
        if (tag->ChannelAddr > c->HighChannel) c->HighChannel = tag->ChannelAddr;
      }
      if (c->AskStr == frame) {
        c->TagIndex.push_back(tag->TagIndex);
        if (tag->ScanPeriod < c->Period) c->Period = tag->ScanPeriod;
        return false;
      }
    }
    return true;
  });
}

void TCustomDLLObject::UpdateRawImage(TDLLTag& tag) {
  if (tag.TagType == kTypeReal) {
    tag.RawValue = tag.Value.toDouble();
    return;
  }
  int set = -1;  // -1 leave, 0 clear, 1 set
  if (tag.TagType == kTypeBool) {
    set = tag.Value.toBool() ? 1 : 0;
  } else if (tag.Value.isString()) {
    const std::string s = tag.Value.toString();
    if (s == "1") set = 1;
    if (s == "0") set = 0;
  }
  if (set < 0) return;
  int64_t raw = round_clamped(tag.RawValue);
  // A tag without a bit part has no bit to change; only the 16-bit image is kept.
  if (tag.BitAddr >= 0 && tag.BitAddr < 32) {
    const int64_t mask = int64_t{1} << tag.BitAddr;
    raw = set ? (raw | mask) : (raw & ~mask);
  }
  tag.RawValue = static_cast<double>(raw & 0xFFFF);
}

TCommand* TCustomDLLObject::CreatCommand(TDLLTag* tag, std::vector<TCommand*>& list, bool isWrite) {
  return Guarded<TCommand*>(kClass, "CreatCommand", nullptr, [&]() -> TCommand* {
    if (tag == nullptr) return nullptr;
    if (!NeedCreatCommand(list, tag, isWrite) || tag->AddrType == -1) return nullptr;

    UpdateRawImage(*tag);
    auto cmd = std::make_unique<TCommand>();
    cmd->TagIndex.push_back(tag->TagIndex);
    cmd->LowChannel = tag->ChannelAddr;
    cmd->HighChannel = tag->ChannelAddr;
    cmd->FrameReady = false;
    cmd->AddrType = tag->AddrType;
    cmd->StartAddr = GetCommandStartAddr(cmd.get(), tag);
    cmd->EndAddr = GetCommandEndAddr(cmd.get(), tag);
    cmd->AskStr = GetAskStr(cmd.get(), tag, isWrite);
    if (cmd->AskStr.size() > 255) cmd->AskStr.resize(255);
    cmd->AnswerMainStr = GetAnswerMainStr(cmd.get(), tag, isWrite);
    if (cmd->AnswerMainStr.size() > 255) cmd->AnswerMainStr.resize(255);
    cmd->DeviceAddr = tag->Address;
    cmd->InternalKey = tag->InternalKey;
    cmd->IsWrite = isWrite;
    cmd->RawValue = static_cast<int32_t>(round_clamped(tag->RawValue));
    cmd->WriteValue = tag->Value;
    cmd->NextCommand = nullptr;
    cmd->SuccessRatio = 1.0f;
    cmd->FailCount = 0;
    const uint64_t now = plat::tick_ms();
    if (isWrite) {
      cmd->CmdKind = kCmdKindWrite;
      cmd->RetryMode = rmSendAgain;
      cmd->FrameReady = true;
      cmd->Period = -10000;
      cmd->LastSendTick = now;
      cmd->CreateTick = now;
    } else {
      cmd->CmdKind = kCmdKindRead;
      cmd->RetryMode = rmGiveUp;
      cmd->Period = tag->ScanPeriod;
      // Due at once: the scheduler works modulo 2^64, so an early clock does not matter.
      cmd->LastSendTick = now - static_cast<uint64_t>(static_cast<int64_t>(tag->ScanPeriod));
    }

    if (isWrite && Parm.DebugLog && DetailLogCount >= 1) {
      --DetailLogCount;
      std::string line = CommandLogHead(cmd.get());
      line += tag->TagName + GBK(" 地址=") + tag->TagAddr + " " + GBK("写入值=") +
              ValueText(tag, tag->Value) + ",";
      line += GBK("]生成写标签命令串=") + cmd->AskStr + "\r\n";
      SetLogMsg(line);
    }
    return cmd.release();
  });
}

void TCustomDLLObject::OptimizeCommParm() {
  Guarded(kClass, "OptimizeCommParm", [&] {
    for (TCommand* head : CommandList) {
      for (TCommand* c = head; c != nullptr; c = c->NextCommand) {
        if (c->FrameReady || (c->CmdKind & kCmdServesTags) == 0 || c->TagIndex.empty()) continue;
        TDLLTag* first = TagAt(c->TagIndex[0]);
        if (first == nullptr) continue;
        c->FrameReady = true;
        c->StartAddr = c->LowChannel;
        c->EndAddr = c->HighChannel;
        c->AskStr = GetAskStr(c, first, false);
        if (c->AskStr.size() > 255) c->AskStr.resize(255);
        c->AnswerMainStr = GetAnswerMainStr(c, first, false);
        if (c->AnswerMainStr.size() > 255) c->AnswerMainStr.resize(255);
      }
    }
    if (Parm.DebugLog) LogCommands(true);
  });
}

int32_t TCustomDLLObject::GetInterval() {
  TBaseDLLObject::GetInterval();
  Guarded(kClass, "GetInterval", [&] {
    const size_t largest = LogCommands(false);
    LogLine(GBK("：最长通讯报包含的标签个数=") + std::to_string(largest) + GBK("个") + "\r\n");
    LogLine(GBK("：包含的通讯报总计=") + std::to_string(CommandList.size()) + GBK("条") + "\r\n\r\n");
  });
  return 10;
}

void TCustomDLLObject::RealComm(TCommand* cmd) {
  TBaseDLLObject::RealComm(cmd);
  Guarded(kClass, "RealComm", [&] {
    if (cmd == nullptr || !CommEnabled) return;
    // A request that does not reach the line must not be reported as done (a write) or waited
    // for (a read): the exchange fails at its next check.
    if (ValidDev(cmd->DeviceAddr) && !DevEnabled[cmd->DeviceAddr]) {
      SendFailed = true;
      return;
    }
    SendTick = plat::tick_ms();
    if (!cmd->AskStr.empty() && !SendToPort(cmd->AskStr)) SendFailed = true;
  });
}

int32_t TCustomDLLObject::AnswerClass(const TCommand* cmd) {
  if (cmd == nullptr || cmd->IsWrite) return -1;
  return proto::AnswerClass(cmd->AddrType, cmd->DeviceAddr);
}

void TCustomDLLObject::EndProbe(const TCommand* cmd) {
  if (cmd != nullptr && ValidDev(cmd->DeviceAddr)) DevRun[cmd->DeviceAddr].ProbeActive = false;
}

void TCustomDLLObject::MarkFailure(TCommand* cmd, uint32_t code) {
  ++cmd->FailCount;
  const bool late = cmd->FailCount >= 3;
  const double now = plat::now_datetime();
  for (const int32_t idx : cmd->TagIndex) {
    TDLLTag* t = TagAt(idx);
    if (t == nullptr) continue;
    t->Status |= late ? (code | kStatusLateFailure) : code;
    t->Status &= kStatusFailureMask;
    if (late) t->TimeStamp = now;
  }
}

bool TCustomDLLObject::CheckAnswerTimeOut(std::string& text) {
  TCommand* c = CurCommand;
  if (c == nullptr) return false;
  const uint64_t now = plat::tick_ms();
  const bool expired = now > SendTick && now - SendTick > static_cast<uint64_t>(CommTimeOut);
  if (text.empty()) {
    if (!expired) return false;
    if (c->IsWrite) return true;
    MarkFailure(c, kStatusNoAnswer);
    if (!ValidDev(c->DeviceAddr)) return true;
    TDevRunInfo& r = DevRun[c->DeviceAddr];
    try {
      ++r.TimeoutCount;
      if (r.ProbeActive) {
        r.ProbeActive = false;
        r.DeviceFault = true;
        ++AnswerFailCount;
      } else if (r.TimeoutCount > 5 && r.BestCommand != nullptr) {
        // Ask the device with its most reliable command before calling it faulty; the probe, too,
        // waits until a late answer to the request that just timed out can no longer arrive.
        RestLine();
        CurCommand = r.BestCommand;
        RunStatus = rsReady;
        RunEvent = opReadCmd;
        r.ProbeActive = true;
        ++AnswerFailCount;
      }
    } catch (...) {
      r.TimeoutCount = 0;
    }
    return true;
  }
  // A second read matters only for the verdict at the time-out: an answer still without its
  // terminator gets the bytes that came since the first read before it is called incomplete.
  // Before that, the next poll's read collects them, so a poll makes one read, not two.
  if (!expired || proto::AnswerComplete(text)) return false;
  text = ReadPort();
  if (&text != &c->AnswerStr) c->AnswerStr = text;
  if (!proto::AnswerComplete(text)) {
    if (!c->IsWrite) {
      MarkFailure(c, kStatusIncomplete);
      ++AnswerFailCount;
      EndProbe(c);
    }
    return true;
  }
  return false;
}

bool TCustomDLLObject::GetResult() {
  return Guarded(kClass, "GetResult", false, [&] {
    TCommand* c = CurCommand;
    if (c == nullptr) return false;
    const double now = plat::now_datetime();
    if (SendFailed) {
      // Nothing went out: the exchange fails now, as a missing answer, without touching the
      // device's no-answer count (the module was never asked).
      MarkFailure(c, kStatusNoAnswer);
      ++AnswerFailCount;
      if (!c->IsWrite) EndProbe(c);
      RunEvent = c->IsWrite ? opWriteNAK : opReadNAK;
      return false;
    }
    if (c->IsWrite) {
      // Modules do not answer writes: a write that went out is done, and clears an earlier
      // failure of its tags.
      for (const int32_t idx : c->TagIndex) {
        if (TDLLTag* t = TagAt(idx)) {
          t->Status &= kStatusSuccessMask;
          t->TimeStamp = now;
        }
      }
      return true;
    }
    // The command's own buffer keeps the answer, so a poll copies it without allocating.
    std::string& text = c->AnswerStr;
    text = ReadPort();
    if (CheckAnswerTimeOut(text)) return false;
    if (text.empty()) return false;
    if (!CheckResult(text)) {
      if (proto::AnswerComplete(text)) {
        MarkFailure(c, kStatusBadCheck);
        ++AnswerFailCount;
        EndProbe(c);
        RunEvent = opClrReadError;
      }
      return false;
    }
    EndProbe(c);
    if (proto::AnswerRefused(text)) {
      MarkFailure(c, kStatusRefused);
      ++RefusedCount;
      RunEvent = opClrReadError;
      return false;
    }
    if (ValidDev(c->DeviceAddr)) DevRun[c->DeviceAddr].TimeoutCount = 0;
    for (const int32_t idx : c->TagIndex) {
      if (TDLLTag* t = TagAt(idx)) {
        t->Status &= kStatusSuccessMask;
        t->TimeStamp = now;
      }
    }
    CommAnalyze(text, c, TagList);
    ++GoodReadCount;
    return true;
  });
}

std::string TCustomDLLObject::CheckCRC(const std::string& text) {
  return text;
}

bool TCustomDLLObject::CheckResult(const std::string&) {
  return false;
}

std::string TCustomDLLObject::GetCrcSourceStr(const std::string&) {
  return {};
}

bool TCustomDLLObject::CommAnalyze(const std::string&, TCommand*, std::vector<std::unique_ptr<TDLLTag>>&) {
  return false;
}

int32_t TCustomDLLObject::GetCommandAddrLength(TCommand* cmd, TDLLTag* tag) {
  return Guarded(kClass, "GetCommandAddrLength", 0, [&] {
    if (cmd == nullptr || tag == nullptr) return 0;
    return proto::CommandAddrLength(tag->AddrType, cmd->FrameReady, cmd->LowChannel, cmd->HighChannel);
  });
}

int32_t TCustomDLLObject::GetCommandStartAddr(TCommand* cmd, TDLLTag* tag) {
  return Guarded(kClass, "GetCommandStartAddr", 0, [&] {
    if (cmd == nullptr || tag == nullptr) return 0;
    if (GetCommandAddrLength(cmd, tag) == 0) return 0;
    return proto::CommandStartAddr(tag->AddrType, cmd->FrameReady, cmd->LowChannel, cmd->HighChannel);
  });
}

int32_t TCustomDLLObject::GetCommandEndAddr(TCommand* cmd, TDLLTag* tag) {
  return Guarded(kClass, "GetCommandEndAddr", 0, [&] {
    if (cmd == nullptr || tag == nullptr) return 0;
    if (GetCommandAddrLength(cmd, tag) == 0) return 0;
    return proto::CommandEndAddr(tag->AddrType, cmd->FrameReady, cmd->LowChannel, cmd->HighChannel);
  });
}

void TCustomDLLObject::StopPart() {
  Guarded(kClass, "Stop", [&] {
    // The command summary belongs to a run; an instance that never built its table has none.
    if (TagListReady) {
      SetLogMsg("\r\n");
      const size_t largest = LogCommands(Parm.DebugLog != 0);
      LogLine(GBK("：有效标签个数共计=") + std::to_string(TagList.size()) + "\r\n");
      LogLine(GBK("：包含的通讯报总计=") + std::to_string(CommandList.size()) + GBK("条") + "\r\n");
      LogLine(GBK("：最长通讯报包含的标签个数=") + std::to_string(largest) + GBK("个") + "\r\n");
    }
  });
  TBaseDLLObject::Stop();
  Guarded(kClass, "Stop", [&] { DestroyPort(); });
}

void TCustomDLLObject::Stop() {
  StopPart();
}

}  // namespace korvel
