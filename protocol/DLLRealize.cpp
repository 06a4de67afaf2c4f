#include "protocol/DLLRealize.h"

#include <cmath>

#include "driver/getfileinfo.h"
#include "platform/datetime.h"
#include "platform/text.h"
#include "protocol/Frames.h"

namespace korvel {
namespace {

constexpr const char* kClass = "TDLLObject";

// Reads 1..8 hexadecimal digits; false for anything else or a value above the 32-bit range.
bool parse_hex(const std::string& s, int32_t* out) {
  if (s.empty() || s.size() > 8) return false;
  uint32_t v = 0;
  for (const char c : s) {
    uint32_t d;
    if (c >= '0' && c <= '9') {
      d = static_cast<uint32_t>(c - '0');
    } else if (c >= 'A' && c <= 'F') {
      d = static_cast<uint32_t>(c - 'A' + 10);
    } else if (c >= 'a' && c <= 'f') {
      d = static_cast<uint32_t>(c - 'a' + 10);
    } else {
      return false;
    }
    v = v * 16 + d;
  }
  if (v > 0x7FFFFFFFu) return false;
  *out = static_cast<int32_t>(v);
  return true;
}

// Position of the earlier of two separators (npos when neither occurs); *len gets its length.
// The full-width forms are found on GBK character boundaries only.
size_t first_of(const std::string& s, const std::string& a, const std::string& b, size_t* len) {
  const size_t pa = GbkFind(s, a), pb = GbkFind(s, b);
  if (pa == std::string::npos && pb == std::string::npos) return std::string::npos;
  if (pb == std::string::npos || (pa != std::string::npos && pa <= pb)) {
    *len = a.size();
    return pa;
  }
  *len = b.size();
  return pb;
}

}  // namespace

TDLLObject::TDLLObject(bool firstInstance) : TCustomDLLObject(firstInstance) {}

TDLLObject::~TDLLObject() = default;

int32_t TDLLObject::GetChannelAddr(const std::string& name, const std::string& addr, uint8_t devType) {
  return Guarded(kClass, "GetChannelAddr", -1, [&]() -> int32_t {
    if (devType == 2) return -1;
    const TTagKindInfo* info = TagKindInfo(GetTagTypeIndex(name, addr));
    if (info == nullptr) return -1;
    const int32_t def = info->ChannelDefault;
    if (def == -1) return -1;
    const size_t kindLen = std::string(info->Name).size();
    std::string r = addr.size() > kindLen ? addr.substr(kindLen) : std::string();
    size_t sepLen = 0;
    const size_t p1 = first_of(r, ":", GBK("："), &sepLen);
    if (p1 != std::string::npos) r = r.substr(p1 + sepLen);
    const size_t p2 = first_of(r, ".", GBK("。"), &sepLen);
    if (p2 != std::string::npos) r = r.substr(0, p2);
    if (p2 == std::string::npos && r.empty()) {
      if (Parm.TraceLog) {
        LogLine(GBK("：标签") + name + GBK("提示：地址=") + addr + GBK("中缺少") + Vocabulary()[fiChIDName] +
                GBK("，系统采用缺省值") + std::to_string(def) + "\r\n");
      }
      return def;
    }
    int32_t ch = 1;
    if (!parse_hex(r, &ch)) return 1;
    return ch;
  });
}

std::string TDLLObject::GetAskStr(TCommand* cmd, TDLLTag* tag, bool isWrite) {
  return Guarded(kClass, "GetAskStr", std::string(), [&] {
    if (cmd == nullptr || tag == nullptr) return std::string();
    return proto::RequestFrame(tag->AddrType, tag->Address, tag->ChannelAddr, isWrite, tag->Value.toBool());
  });
}

std::string TDLLObject::GetAnswerMainStr(TCommand* cmd, TDLLTag* tag, bool isWrite) {
  return Guarded(kClass, "GetAnswerMainStr", std::string(), [&] {
    if (cmd == nullptr || tag == nullptr) return std::string();
    return proto::AnswerHead(tag->AddrType, tag->Address, isWrite);
  });
}

TCommand* TDLLObject::CreatCommand(TDLLTag* tag, std::vector<TCommand*>& list, bool isWrite) {
  return Guarded<TCommand*>(kClass, "CreatCommand", nullptr, [&]() -> TCommand* {
    TCommand* cmd = TCustomDLLObject::CreatCommand(tag, list, isWrite);
    if (cmd != nullptr && isWrite && tag->Value.kind() == Variant::Kind::Double) {
      const double v = tag->Value.toDouble();
      if (std::isfinite(v)) tag->Value = Variant(static_cast<int64_t>(std::nearbyint(v)));
    }
    return cmd;
  });
}

int32_t TDLLObject::GetInterval() {
  Guarded(kClass, "GetInterval", [&] { TCustomDLLObject::GetInterval(); });
  return 10;
}

bool TDLLObject::GetResult() {
  return Guarded(kClass, "GetResult", false, [&] { return TCustomDLLObject::GetResult(); });
}

std::string TDLLObject::CheckCRC(const std::string& text) {
  return Guarded(kClass, "CheckCRC", std::string(), [&] { return proto::CheckCRC(text); });
}

std::string TDLLObject::GetCrcSourceStr(const std::string& answer) {
  return Guarded(kClass, "GetCrcSourceStr", std::string(), [&] {
    if (CurCommand == nullptr) return std::string();
    return proto::CrcSource(CurCommand->DeviceAddr, answer);
  });
}

bool TDLLObject::CheckResult(const std::string& answer) {
  return Guarded(kClass, "CheckResult", false, [&] {
    if (CurCommand == nullptr) return false;
    if (!proto::AnswerComplete(answer) || answer.size() < 2) return false;
    // The check characters cover only the station's digits, and stations whose digits have the
    // same sum share them: the start character at least tells a PV answer from a PARM answer.
    if (!proto::AnswerStartFits(CurCommand->AddrType, answer)) return false;
    // The frame GetCrcSourceStr and CheckCRC would build, checked in place without building it.
    if (!proto::AnswerValid(CurCommand->DeviceAddr, answer)) return false;
    if (proto::AnswerRefused(answer)) return true;
    // An answer whose number does not read is damaged, whatever its check characters say; taken
    // as good it would show another answer's bits or text, or the tags' old values, with a good
    // status. Every read is answered with a number, so this holds whatever tags the command serves.
    return proto::NumberReads(proto::AnswerBody(answer));
  });
}

bool TDLLObject::CommAnalyze(const std::string& answer, TCommand* cmd,
                             std::vector<std::unique_ptr<TDLLTag>>& tags) {
  return Guarded(kClass, "CommAnalyze", false, [&] {
    if (cmd == nullptr || (cmd->CmdKind & kCmdServesTags) == 0) return false;
    const std::string_view body = proto::AnswerBody(answer);
    const double now = plat::now_datetime();
    bool all = true;
    for (const int32_t idx : cmd->TagIndex) {
      if (idx < 0 || static_cast<size_t>(idx) >= tags.size() || !tags[static_cast<size_t>(idx)]) {
        all = false;
        continue;
      }
      TDLLTag& t = *tags[static_cast<size_t>(idx)];
      t.Value = proto::DecodeValue(t.AddrType, t.TagType, t.ChannelAddr, body, t.Value);
      t.TimeStamp = now;
    }
    return all;
  });
}

}  // namespace korvel
