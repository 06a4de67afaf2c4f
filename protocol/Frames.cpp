#include "protocol/Frames.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace korvel::proto {

const AddrTypeInfo kAddrTypes[kAddrTypeCount] = {
    {"PV", true, false, '#', '\0', '=', 1, Decoding::Numeric},
    {"PV_ALARM", true, false, '#', '\0', '=', 4, Decoding::Status},
    {"PARM", true, false, '$', '\0', '!', 1, Decoding::Numeric},
    {"AO", true, false, '#', '\0', '=', 1, Decoding::Numeric},
    {"SetPassWord", false, true, '\0', '%', '\0', 1, Decoding::None},
};

const AddrTypeInfo* AddrTypeOf(int32_t addrType) {
  if (addrType < 0 || addrType >= kAddrTypeCount) return nullptr;
  return &kAddrTypes[addrType];
}

bool IsReadable(int32_t addrType) {
  const AddrTypeInfo* t = AddrTypeOf(addrType);
  return t != nullptr && t->readable;
}

bool IsWritable(int32_t addrType) {
  const AddrTypeInfo* t = AddrTypeOf(addrType);
  return t != nullptr && t->writable;
}

uint8_t ByteSum(std::string_view text) {
  unsigned sum = 0;
  for (const char c : text) sum += static_cast<unsigned char>(c);
  return static_cast<uint8_t>(sum & 0xFF);
}

std::string CheckChars(std::string_view text) {
  const uint8_t s = ByteSum(text);
  return {static_cast<char>(0x40 + (s >> 4)), static_cast<char>(0x40 + (s & 0x0F))};
}

std::string CheckCRC(std::string_view text) {
  std::string out(text);
  out += CheckChars(text);
  return out;
}

std::string DevAddrText(int32_t dev) {
  // Every answer check needs the station's digits: stations 0..99 without the formatter.
  if (dev >= 0 && dev <= 99) return {static_cast<char>('0' + dev / 10), static_cast<char>('0' + dev % 10)};
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d", static_cast<int>(dev));
  return buf;
}

std::string ParmNoText(int32_t parm) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02X", static_cast<unsigned>(parm));
  return buf;
}

std::string RequestFrame(int32_t addrType, int32_t dev, int32_t channel, bool isWrite, bool writeOn) {
  const AddrTypeInfo* t = AddrTypeOf(addrType);
  if (t == nullptr) return {};
  std::string text;
  if (isWrite) {
    if (t->writable && addrType == 4) {
      // Switching the password off sends nothing at all.
      if (!writeOn) return {};
      text = std::string(1, t->writePrefix) + DevAddrText(dev) + std::string(kPasswordText);
    }
  } else if (t->readable) {
    text = std::string(1, t->readPrefix) + DevAddrText(dev);
    if (addrType == 2) text += ParmNoText(channel);
    if (addrType == 3) text += "0001";
  }
  return CheckCRC(text) + kTerminator;
}

std::string AnswerHead(int32_t addrType, int32_t dev, bool isWrite) {
  const AddrTypeInfo* t = AddrTypeOf(addrType);
  if (t == nullptr || isWrite || t->answerStart == '\0') return {};
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02X", static_cast<unsigned>(dev));
  return std::string(1, t->answerStart) + buf;
}

int32_t CommandAddrLength(int32_t addrType, bool frameReady, int32_t low, int32_t high) {
  const AddrTypeInfo* t = AddrTypeOf(addrType);
  if (t == nullptr) return 1;
  if (frameReady) return high - low + 1;
  return t->blockSize;
}

int32_t CommandStartAddr(int32_t addrType, bool frameReady, int32_t low, int32_t high) {
  if (AddrTypeOf(addrType) == nullptr) return 0;
  const int32_t len = CommandAddrLength(addrType, frameReady, low, high);
  if (len == 0) return 0;
  if (frameReady) return low;
  // Floor division, so that a negative channel cannot land above itself.
  int32_t q = low / len;
  if ((low % len != 0) && ((low < 0) != (len < 0))) --q;
  return len * q;
}

int32_t CommandEndAddr(int32_t addrType, bool frameReady, int32_t low, int32_t high) {
  if (AddrTypeOf(addrType) == nullptr) return 0;
  const int32_t len = CommandAddrLength(addrType, frameReady, low, high);
  if (len == 0) return 0;
  if (frameReady) return high;
  return CommandStartAddr(addrType, frameReady, low, high) + len - 1;
}

std::string CrcSource(int32_t dev, std::string_view answer) {
  std::string src = DevAddrText(dev);
  if (answer.size() > 3) src.append(answer.substr(0, answer.size() - 3));
  return src;
}

bool AnswerComplete(std::string_view answer) {
  return answer.find(kTerminator) != std::string_view::npos;
}

bool AnswerValid(int32_t dev, std::string_view answer) {
  if (!AnswerComplete(answer) || answer.size() < 2) return false;
  // The whole frame of CrcSource(dev, answer) is its text, its check characters and the
  // terminator; the address digits lead the check source but are not part of the frame. Compared
  // in place: an answer check allocates nothing.
  const std::string_view part = answer.size() > 3 ? answer.substr(0, answer.size() - 3) : std::string_view();
  if (answer.size() != part.size() + 3) return false;
  const auto sum =
      static_cast<uint8_t>(ByteSum(DevAddrText(dev)) + ByteSum(part));  // no allocation: two or three digits
  return answer[part.size()] == static_cast<char>(0x40 + (sum >> 4)) &&
         answer[part.size() + 1] == static_cast<char>(0x40 + (sum & 0x0F)) && answer.back() == kTerminator;
}

bool AnswerStartFits(int32_t addrType, std::string_view answer) {
  const AddrTypeInfo* info = AddrTypeOf(addrType);
  if (info == nullptr || info->answerStart == '\0' || answer.empty()) return false;
  return answer[0] == info->answerStart || answer[0] == '?';
}

int32_t AnswerClass(int32_t addrType, int32_t dev) {
  const AddrTypeInfo* info = AddrTypeOf(addrType);
  if (info == nullptr || info->answerStart == '\0') return -1;
  return ByteSum(DevAddrText(dev)) * 2 + (info->answerStart == '!' ? 1 : 0);
}

bool AnswerRefused(std::string_view answer) {
  return answer.find('?') != std::string_view::npos;
}

std::string_view AnswerBody(std::string_view answer) {
  if (answer.size() <= 4) return {};
  return answer.substr(1, std::min<size_t>(answer.size() - 4, 255));
}

bool ParseNumber(std::string_view text, double* out) {
  size_t b = 0, e = text.size();
  while (b < e && (text[b] == ' ' || text[b] == '\t')) ++b;
  while (e > b && (text[e - 1] == ' ' || text[e - 1] == '\t')) --e;
  std::string_view s = text.substr(b, e - b);
  bool negative = false;
  if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
    negative = s[0] == '-';
    s.remove_prefix(1);
  }
  // Only the plain decimal form: from_chars alone would also take "inf", "nan" and hex digits.
  size_t i = 0, digits = 0;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++digits;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    size_t expDigits = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++expDigits;
    if (expDigits == 0) return false;
  }
  if (i != s.size()) return false;
  double v = 0;
  const auto r = std::from_chars(s.data(), s.data() + s.size(), v, std::chars_format::general);
  if (r.ec != std::errc() || r.ptr != s.data() + s.size() || !std::isfinite(v)) return false;
  *out = negative ? -v : v;
  return true;
}

Variant DecodeValue(int32_t addrType, uint8_t tagType, int32_t channel, std::string_view body,
                    const Variant& current) {
  const AddrTypeInfo* t = AddrTypeOf(addrType);
  if (t == nullptr || t->decoding == Decoding::None) return current;
  if (tagType == kTypeString) return Variant(std::string(body));
  if (tagType != kTypeReal && tagType != kTypeBool) return current;
  const bool isSwitch = tagType == kTypeBool;
  if (t->decoding == Decoding::Numeric) {
    double v = 0;
    if (body.empty() || !ParseNumber(body.substr(0, body.size() - 1), &v)) {
      // The fallback keeps what the tag showed.
      if (!isSwitch) return current;
      return Variant(current.toBool());
    }
    if (!isSwitch) return Variant(v);
    return Variant(std::nearbyint(v) == 1.0);
  }
  // Status character: its bits are the alarm channels, bit 0 for channel 1.
  if (body.empty()) return isSwitch ? Variant(current.toBool()) : current;
  const unsigned c = static_cast<unsigned char>(body.back());
  if (!isSwitch) return Variant(static_cast<int>(c));
  const int32_t bit = channel - 1;
  if (bit < 0 || bit > 7) return Variant(false);
  return Variant(((c >> bit) & 1u) != 0);
}

bool NumberReads(std::string_view body) {
  double v = 0;
  return !body.empty() && ParseNumber(body.substr(0, body.size() - 1), &v);
}

}  // namespace korvel::proto
