// What goes over the broker: a tag's value message, the value of a set, the time stamp text.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "driver/records.h"
#include "gateway/publisher.h"

namespace korvel::gateway {

// The largest set payload taken; a longer one is refused unread.
constexpr size_t kMaxSetPayload = 256;

// The module number of a tag address ("PV3:1" -> 3, "DEVICELINK7" -> 7); none for COMMLINK and
// the other internal tags without one.
std::optional<int> module_of(const std::string& address);

// "2026-12-07T20:41:03.123+08:00": a local calendar date-time with the zone's offset at that moment.
std::string iso_time(double datetime);

// Milliseconds since 1970 UTC of a local calendar date-time.
uint64_t epoch_ms(double datetime);

// {"value": ..., "status": ..., "flags": [...], "module": n, "ts": "..."} of a reported value;
// a value never read (kNoValueRead) is null.
std::string value_message(const Report& v, std::optional<int> module);

// A set's payload turned into the value of a tag of type (kTypeReal/Bool/String): a JSON number,
// boolean or string, or plain text. False with the reason in err; string values come back in GBK.
struct SetValue {
  double real = 0;
  bool boolean = false;
  std::string text;
};
bool parse_set(const std::string& payload, uint8_t type, SetValue& out, std::string& err);

// {"ok": true} or {"ok": false, "error": "..."}.
std::string write_result(bool ok, const std::string& error = std::string());

}  // namespace korvel::gateway
