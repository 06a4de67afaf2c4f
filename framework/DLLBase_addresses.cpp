// Tag addresses: the kind table, the readers that split an address into its parts, the
// address check at initialisation and the tag editor's normal form.
//
// Syntax: kind, module number, ":" or "：", channel, then "." or "。" before the bit and each
// further segment. Every reader works on GBK text and never reads past its end.
#include <climits>
#include <cstdio>

#include "driver/getfileinfo.h"
#include "framework/DLLBase.h"
#include "platform/datetime.h"
#include "platform/text.h"

namespace korvel {
namespace {

const TTagKindInfo kKinds[kTagKindCount] = {
    {"PV", 1, 1, -1, -1, -1, 0}, {"PV_ALARM", 1, 4, -1, -1, -1, 0},    {"PARM", 16, 79, -1, -1, -1, 0},
    {"AO", 1, 1, -1, -1, -1, 0}, {"SetPassWord", 0, 0, -1, -1, -1, 1},
};

bool is_lead_byte(unsigned char c) {
  return c >= 0x81 && c <= 0xFE;
}

// A GBK character is a lead byte followed by a trail byte (0x40..0xFE without 0x7F). A lead byte
// before anything else (a separator, a digit) stands alone: the separator after it still counts.
bool starts_character(const std::string& text, size_t i) {
  if (!is_lead_byte(static_cast<unsigned char>(text[i])) || i + 1 >= text.size()) return false;
  const unsigned char t = static_cast<unsigned char>(text[i + 1]);
  return t >= 0x40 && t <= 0xFE && t != 0x7F;
}

const std::string& colon_fw() {
  return GBK("：");
}
const std::string& dot_fw() {
  return GBK("。");
}

// The earlier of two separators at or after from: its position and length (npos when neither).
size_t find_sep(const std::string& text, const char* ascii, const std::string& wide, size_t from,
                size_t& len) {
  const size_t a = GbkFind(text, ascii, from);
  const size_t w = GbkFind(text, wide, from);
  if (a == std::string::npos && w == std::string::npos) return std::string::npos;
  if (w == std::string::npos || (a != std::string::npos && a < w)) {
    len = 1;
    return a;
  }
  len = wide.size();
  return w;
}

// Module numbers in messages: at least four digits, sign in front.
std::string four_digits(int32_t n) {
  char buf[24];
  if (n < 0)
    std::snprintf(buf, sizeof buf, "-%04lld", -static_cast<long long>(n));
  else
    std::snprintf(buf, sizeof buf, "%04d", n);
  return buf;
}

std::string message_head(const std::string& name) {
  return plat::datetime_text(plat::now_datetime()) + GBK("：标签") + name;
}

std::string hex_upper(int32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%X", static_cast<unsigned>(v));
  return buf;
}

}  // namespace

const TTagKindInfo* TagKindInfo(int32_t kind) {
  return kind >= 0 && kind < kTagKindCount ? &kKinds[kind] : nullptr;
}

std::string GbkUpper(const std::string& text) {
  std::string out = text;
  for (size_t i = 0; i < out.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(out[i]);
    if (starts_character(out, i)) {
      ++i;  // the trail byte may look like an ASCII letter
    } else if (c >= 'a' && c <= 'z') {
      out[i] = static_cast<char>(c - 'a' + 'A');
    }
  }
  return out;
}

size_t GbkFind(const std::string& text, const std::string& needle, size_t from) {
  if (needle.empty()) return from <= text.size() ? from : std::string::npos;
  size_t i = 0;
  while (i < text.size()) {
    if (i >= from && text.compare(i, needle.size(), needle) == 0) return i;
    i += starts_character(text, i) ? 2 : 1;
  }
  return std::string::npos;
}

bool ParseDecimal(const std::string& text, int32_t& out) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i >= text.size()) return false;
  long long value = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
    if (value > static_cast<long long>(INT32_MAX) + 1) return false;
  }
  if (negative) value = -value;
  if (value > INT32_MAX || value < INT32_MIN) return false;
  out = static_cast<int32_t>(value);
  return true;
}

int32_t TBaseDLLObject::GetTagTypeIndex(const std::string& name, const std::string& addr) {
  (void)name;
  return Guarded("TBaseDLLObject", "GetTagTypeIndex", -1, [&] {
    const std::string upper = GbkUpper(addr);
    int32_t best = -1;
    size_t bestLen = 0;
    for (int32_t k = 0; k < kTagKindCount; ++k) {
      const std::string kindName = GbkUpper(kKinds[k].Name);
      if (upper.compare(0, kindName.size(), kindName) == 0 && kindName.size() > bestLen) {
        best = k;
        bestLen = kindName.size();
      }
    }
    return best;
  });
}

std::string TBaseDLLObject::GetTagTypeStr(const std::string& name, const std::string& addr) {
  return Guarded("TBaseDLLObject", "GetTagTypeStr", std::string(), [&] {
    const int32_t k = GetTagTypeIndex(name, addr);
    return k < 0 ? std::string() : GbkUpper(kKinds[k].Name);
  });
}

int32_t TBaseDLLObject::GetDevAddr(const std::string& name, const std::string& addr) {
  return Guarded("TBaseDLLObject", "GetDevAddr", -1, [&] {
    const int32_t kind = GetTagTypeIndex(name, addr);
    if (kind < 0) return -1;
    const std::string rest = addr.substr(std::string(kKinds[kind].Name).size());
    // An ASCII colon wins over a full-width one wherever each stands.
    size_t cut = GbkFind(rest, ":");
    if (cut == std::string::npos) cut = GbkFind(rest, colon_fw());
    if (cut == std::string::npos) {
      if (Parm.TraceLog)
        SetLogMsg(message_head(name) + GBK("提示：地址=") + addr + GBK("中缺少") + Vocabulary()[fiDevIDName] +
                  GBK("，系统采用缺省值") + std::to_string(MinDevID) + "\r\n");
      return MinDevID;
    }
    int32_t dev = 0;
    if (!ParseDecimal(rest.substr(0, cut), dev)) {
      if (Parm.ErrorLog)
        SetLogMsg(message_head(name) + GBK("错误：标签地址") + addr + GBK("中") + Vocabulary()[fiDevIDName] +
                  GBK("非法。") + "\r\n");
      return -1;
    }
    return dev;
  });
}

int32_t TBaseDLLObject::GetChannelAddr(const std::string& name, const std::string& addr, uint8_t devType) {
  return Guarded("TBaseDLLObject", "GetChannelAddr", -1, [&] {
    if (devType == 2) return -1;
    const int32_t kind = GetTagTypeIndex(name, addr);
    if (kind < 0) return -1;
    const int32_t def = kKinds[kind].ChannelDefault;
    if (def == -1) return -1;
    std::string rest = addr.substr(std::string(kKinds[kind].Name).size());
    size_t len = 0;
    const size_t sep1 = find_sep(rest, ":", colon_fw(), 0, len);
    if (sep1 != std::string::npos) rest = rest.substr(sep1 + len);
    const size_t sep2 = find_sep(rest, ".", dot_fw(), 0, len);
    if (sep2 != std::string::npos) rest = rest.substr(0, sep2);
    if (sep2 == std::string::npos && rest.empty()) {
      if (Parm.TraceLog)
        SetLogMsg(message_head(name) + GBK("提示：地址=") + addr + GBK("中缺少") + Vocabulary()[fiChIDName] +
                  GBK("，系统采用缺省值") + std::to_string(def) + "\r\n");
      return def;
    }
    int32_t channel = 0;
    if (!ParseDecimal(rest, channel)) {
      if (Parm.ErrorLog)
        SetLogMsg(message_head(name) + GBK("错误：标签地址") + addr + GBK("的") + Vocabulary()[fiChIDName] +
                  GBK("非法。") + "\r\n");
      return -1;
    }
    return channel;
  });
}

namespace {

// The text of the n-th segment after the channel (n = 1 for the bit), counting separators
// after separator 1; false when there are not that many separators.
bool segment_text(const std::string& addr, size_t kindLen, int n, std::string& out) {
  std::string rest = addr.substr(kindLen);
  size_t len = 0;
  const size_t sep1 = find_sep(rest, ":", colon_fw(), 0, len);
  if (sep1 != std::string::npos) rest = rest.substr(sep1 + len);
  size_t pos = 0;
  for (int i = 0; i < n; ++i) {
    const size_t s = find_sep(rest, ".", dot_fw(), pos, len);
    if (s == std::string::npos) return false;
    pos = s + len;
  }
  const size_t end = find_sep(rest, ".", dot_fw(), pos, len);
  out = rest.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
  return true;
}

}  // namespace

int32_t TBaseDLLObject::GetBitAddr(const std::string& name, const std::string& addr, uint8_t devType) {
  return Guarded("TBaseDLLObject", "GetBitAddr", -1, [&] {
    if (devType == 2) return -1;
    const int32_t kind = GetTagTypeIndex(name, addr);
    if (kind < 0) return -1;
    const int32_t def = kKinds[kind].BitDefault;
    if (def == -1) return -1;  // no kind of this driver has bits
    std::string text;
    if (!segment_text(addr, std::string(kKinds[kind].Name).size(), 1, text) || text.empty()) {
      if (Parm.TraceLog)
        SetLogMsg(message_head(name) + GBK("提示：地址=") + addr + GBK("中缺少") + Vocabulary()[fiBitIDName] +
                  GBK("，系统采用缺省值") + std::to_string(def) + "\r\n");
      return def;
    }
    int32_t bit = 0;
    if (!ParseDecimal(text, bit)) {
      if (Parm.ErrorLog)
        SetLogMsg(message_head(name) + GBK("错误：标签地址") + addr + GBK("的") + Vocabulary()[fiBitIDName] +
                  GBK("非法。") + "\r\n");
      return -1;
    }
    return bit;
  });
}

namespace {

int32_t read_segment(TBaseDLLObject& obj, const std::string& name, const std::string& addr, uint8_t devType,
                     int n, int vocabIndex) {
  if (devType == 2) return -1;
  const int32_t kind = obj.GetTagTypeIndex(name, addr);
  if (kind < 0) return -1;
  std::string text;
  if (!segment_text(addr, std::string(kKinds[kind].Name).size(), n, text) || text.empty()) return 0;
  int32_t value = 0;
  if (!ParseDecimal(text, value)) {
    if (obj.Parm.ErrorLog)
      obj.SetLogMsg(message_head(name) + GBK("错误：标签地址") + addr + GBK("的") + Vocabulary()[vocabIndex] +
                    GBK("非法。") + "\r\n");
    return -1;
  }
  return value;
}

}  // namespace

int32_t TBaseDLLObject::GetThirdSeg(const std::string& name, const std::string& addr, uint8_t devType) {
  return Guarded("TBaseDLLObject", "GetThirdSeg", -1,
                 [&] { return read_segment(*this, name, addr, devType, 2, fiThirdSegIDName); });
}

int32_t TBaseDLLObject::GetFourSeg(const std::string& name, const std::string& addr, uint8_t devType) {
  return Guarded("TBaseDLLObject", "GetFourSeg", -1,
                 [&] { return read_segment(*this, name, addr, devType, 3, fiFourSegIDName); });
}

int32_t TBaseDLLObject::GetFiveSeg(const std::string& name, const std::string& addr, uint8_t devType) {
  return Guarded("TBaseDLLObject", "GetFiveSeg", -1,
                 [&] { return read_segment(*this, name, addr, devType, 4, fiFiveSegIDName); });
}

bool TBaseDLLObject::CheckAddrValid(TDLLTag* tag) {
  return Guarded("TBaseDLLObject", "CheckAddrValid", false, [&] {
    if (tag == nullptr) return false;
    const TfileInfo& voc = Vocabulary();
    const std::string head = message_head(tag->TagName);
    const std::string pre = head + GBK("错误：标签地址") + tag->TagAddr;
    const std::string x =
        ValidDev(tag->Address) ? Parm.Devices[tag->Address].DevTypeName.str() : std::string();
    const TTagKindInfo* kind = TagKindInfo(tag->AddrType);
    std::string msg;
    if (kind == nullptr) {
      msg = pre + GBK("指定不存在的标签类型。");
    } else if (tag->DevType == 2) {
      msg = pre + GBK("所指定的") + four_digits(tag->Address) + GBK("号") + voc[fiDevTypeName] +
            GBK("不存在。请在设备向导中添加该") + voc[fiDevTypeName] + GBK("！") + "\r\n";
    } else if (tag->ChannelAddr == -1 && kind->ChannelDefault != -1) {
      msg = pre + voc[fiChIDName] + GBK("错误，") + x + GBK("不存在此标签。");
    } else if (tag->BitAddr == -1 && kind->BitDefault != -1) {
      msg = pre + GBK("位号错误，") + x + GBK("不存在此标签。");
    } else {
      // A later failing limit replaces the text of an earlier one.
      if (kind->BitMax != -1 && tag->BitAddr > kind->BitMax)
        msg = pre + GBK("的位号超出") + x + GBK("的最大范围") + std::to_string(kind->BitMax);
      if (kind->BitMin != -1 && tag->BitAddr < kind->BitMin)
        msg = pre + GBK("的位号超出最小范围") + x + GBK("的最小范围") + std::to_string(kind->BitMin);
      if (kind->ChannelMax != -1 && tag->ChannelAddr > kind->ChannelMax)
        msg = pre + GBK("的") + voc[fiChIDName] + GBK("超出") + x + GBK("的最大范围") +
              std::to_string(kind->ChannelMax);
      if (kind->ChannelDefault != -1 && tag->ChannelAddr < kind->ChannelDefault)
        msg = pre + GBK("的") + voc[fiChIDName] + GBK("超出") + x + GBK("的最小范围") +
              std::to_string(kind->ChannelDefault);
    }
    if (msg.empty()) {
      tag->AddrValid = 1;
      return true;
    }
    WriteDevMsg(msg);
    tag->AddrValid = 0;
    tag->Status |= kStatusAddrFailed;
    SetLogMsg(DevMsg + "\r\n");
    SetLogMsg(head + GBK("错误报告：由于出现错误，系统在通讯时丢弃该标签！") + "\r\n");
    return false;
  });
}

bool TBaseDLLObject::CheckTagAddr(const PDB* block, std::string& addr) {
  return Guarded("TBaseDLLObject", "CheckTagAddr", false, [&] {
    const std::string noName;
    const int32_t kind = GetTagTypeIndex(noName, addr);
    const bool valid = kind != -1;
    const std::string typeText = valid ? GetTagTypeStr(noName, addr) : GbkUpper(kKinds[0].Name);
    const int32_t module = GetDevAddr(noName, addr);
    const uint8_t devType = (block != nullptr && ValidDev(module)) ? block->Devices[module].DevType : 2;
    const int32_t bit = GetBitAddr(noName, addr, devType);
    const int32_t channel = GetChannelAddr(noName, addr, devType);
    GetThirdSeg(noName, addr, devType);
    GetFourSeg(noName, addr, devType);
    GetFiveSeg(noName, addr, devType);
    // Nothing to normalise when the kind or the channel cannot be read: the text the user typed
    // is handed back rather than replaced by placeholders.
    if (!valid || channel == -1) return valid;
    // The channel is written in the base the channel reader reads: the form is read back and the
    // first spelling that gives the same channel is kept.
    // Appended piece by piece: g++ 12 at -O3 misreads the chained form as an overlapping copy.
    std::string prefix = typeText;
    prefix += std::to_string(module);
    prefix += ':';
    std::string bitText;
    if (bit != -1) {
      bitText = ".";
      bitText += std::to_string(bit);
    }
    for (const std::string& spelling : {std::to_string(channel), hex_upper(channel)}) {
      const std::string form = prefix + spelling + bitText;
      if (GetChannelAddr(noName, form, devType) == channel) {
        addr = form;
        break;
      }
    }
    return valid;
  });
}

}  // namespace korvel
