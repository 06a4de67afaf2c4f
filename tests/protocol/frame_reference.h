// The answer check as the protocol states it: build the whole frame the answer should be (the
// check source, its check characters, the terminator, without the address digits) and compare.
// The library checks in place; tests and the fuzzer hold it to this definition.
#pragma once
#include <string>
#include <string_view>

#include "protocol/Frames.h"

namespace korvel::proto {

inline bool AnswerValidByFrame(int32_t dev, std::string_view answer) {
  if (!AnswerComplete(answer) || answer.size() < 2) return false;
  const std::string prefix = DevAddrText(dev);
  std::string expected = CheckCRC(CrcSource(dev, answer)).substr(prefix.size());
  expected += kTerminator;
  return expected == answer;
}

}  // namespace korvel::proto
