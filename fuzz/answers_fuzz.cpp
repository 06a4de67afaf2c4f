// libFuzzer target over answer checking and decoding: any bytes as an answer, for any address type,
// tag type, channel, device number and command kind, through the pure wire functions and through
// TDLLObject's CheckResult and CommAnalyze.
//
// Input: six header bytes, then the answer.
//   0 address type (value % 7 - 1: -1 .. 5)   1 tag type (% 4)   2 channel (signed)
//   3 device (% 128, so also numbers outside the table)   4 CmdKind (low nibble)
//   5 tag selection: bits 0-1 how many tags, bit 2 add an index outside the table,
//     bits 3-4 the kind of the tags' current value
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "protocol/DLLRealize.h"
#include "protocol/Frames.h"
#include "tests/protocol/frame_reference.h"

namespace {

using korvel::Variant;
namespace proto = korvel::proto;

void check(bool ok) {
  if (!ok) std::abort();
}

korvel::TDLLObject& driver() {
  static korvel::TDLLObject* obj = [] {
    auto* o = new korvel::TDLLObject(false);
    o->Parm.ErrorLog = 0;
    o->Parm.DebugLog = 0;
    o->Parm.TraceLog = 0;
    return o;
  }();
  return *obj;
}

Variant current_value(int kind, uint8_t seed) {
  switch (kind) {
    case 0:
      return Variant(static_cast<double>(seed) / 3.0);
    case 1:
      return Variant((seed & 1) != 0);
    case 2:
      return Variant(std::string(1, static_cast<char>(seed)));
    default:
      return Variant();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 6) return 0;
  const int32_t addrType = static_cast<int32_t>(data[0] % 7) - 1;
  const uint8_t tagType = data[1] % 4;
  const int32_t channel = static_cast<int8_t>(data[2]);
  const int32_t dev = data[3] % 128;
  const uint16_t cmdKind = data[4] & 0x0F;
  const uint8_t select = data[5];
  const std::string answer(reinterpret_cast<const char*>(data + 6), size - 6);

  // Pure functions.
  const bool valid = proto::AnswerValid(dev, answer);
  check(valid == proto::AnswerValidByFrame(dev, answer));
  if (valid) {
    check(!answer.empty() && answer.back() == '\r');
    check(proto::AnswerComplete(answer));
  }
  const std::string_view body = proto::AnswerBody(answer);
  check(body.size() <= 255);
  const Variant before = current_value((select >> 3) & 3, data[2]);
  const Variant v = proto::DecodeValue(addrType, tagType, channel, body, before);
  if (tagType == 1 && proto::AddrTypeOf(addrType) != nullptr && addrType != 4) {
    check(v.kind() == Variant::Kind::Bool);
  }
  double number = 0;
  if (proto::ParseNumber(answer, &number)) check(number == number);
  (void)proto::CrcSource(dev, answer);
  (void)proto::CommandStartAddr(addrType, (select & 0x80) != 0, channel, static_cast<int8_t>(data[4]));
  (void)proto::CommandEndAddr(addrType, (select & 0x80) != 0, channel, static_cast<int8_t>(data[4]));

  // The driver class on a command of this kind.
  korvel::TDLLObject& obj = driver();
  obj.TagList.clear();
  const int tags = 1 + (select & 3);
  korvel::TCommand cmd;
  cmd.CmdKind = cmdKind;
  cmd.DeviceAddr = dev;
  cmd.AddrType = addrType;
  for (int i = 0; i < tags; ++i) {
    auto t = std::make_unique<korvel::TDLLTag>();
    t->TagIndex = i;
    t->AddrType = addrType;
    t->TagType = tagType;
    t->ChannelAddr = channel + i;
    t->Address = dev;
    t->Value = before;
    obj.TagList.push_back(std::move(t));
    cmd.TagIndex.push_back(i);
  }
  if (select & 4) cmd.TagIndex.push_back(select & 0x40 ? -1 : tags + 7);
  obj.CurCommand = &cmd;
  // The driver also wants the start character of the request's kind, and a number in the body
  // whatever the tags take (a refusal carries none).
  const bool reads = proto::AnswerRefused(answer) || proto::NumberReads(body);
  check(obj.CheckResult(answer) == (valid && proto::AnswerStartFits(addrType, answer) && reads));
  const bool analyzed = obj.CommAnalyze(answer, &cmd, obj.TagList);
  if (analyzed) check((cmdKind & 2) != 0 && (select & 4) == 0);
  obj.CurCommand = nullptr;
  obj.TagList.clear();
  return 0;
}
