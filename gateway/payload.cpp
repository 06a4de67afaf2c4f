#include "gateway/payload.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <nlohmann/json.hpp>

#include "cli/blockfile.h"
#include "cli/status_names.h"
#include "platform/datetime.h"
#include "platform/text.h"

namespace korvel::gateway {
namespace {

using nlohmann::json;

// The zone's offset from UTC, in minutes, at the local time p.
int utc_offset_minutes(const plat::DateTimeParts& p) {
  std::tm tm{};
  tm.tm_year = p.year - 1900;
  tm.tm_mon = p.month - 1;
  tm.tm_mday = p.day;
  tm.tm_hour = p.hour;
  tm.tm_min = p.minute;
  tm.tm_sec = p.second;
  tm.tm_isdst = -1;
  const std::time_t t = std::mktime(&tm);
  if (t == static_cast<std::time_t>(-1)) return 0;
  // The same wall-clock time read as UTC, less the instant it is here, is the offset.
  const auto day = std::chrono::sys_days{std::chrono::year{p.year} / p.month / p.day};
  const long long as_utc = std::chrono::duration_cast<std::chrono::seconds>(day.time_since_epoch()).count() +
                           p.hour * 3600LL + p.minute * 60LL + p.second;
  return static_cast<int>((as_utc - static_cast<long long>(t)) / 60);
}

// The offset changes at most on the half hour: asking the C library once per half hour keeps
// its time-zone work out of every message.
int cached_offset_minutes(const plat::DateTimeParts& p) {
  thread_local long long cached_key = -1;
  thread_local int cached_offset = 0;
  const long long key = ((p.year * 13LL + p.month) * 32 + p.day) * 48 + p.hour * 2 + (p.minute >= 30 ? 1 : 0);
  if (key != cached_key) {
    cached_offset = utc_offset_minutes(p);
    cached_key = key;
  }
  return cached_offset;
}

bool valid_utf8(const std::string& s) {
  return plat::gbk_to_utf8(plat::utf8_to_gbk(s)) == s;
}

}  // namespace

std::optional<int> module_of(const std::string& address) {
  size_t i = 0;
  while (i < address.size() && (std::isalpha(static_cast<unsigned char>(address[i])) || address[i] == '_'))
    ++i;
  size_t j = i;
  while (j < address.size() && std::isdigit(static_cast<unsigned char>(address[j]))) ++j;
  if (j == i || j - i > 3) return std::nullopt;
  return std::atoi(address.substr(i, j - i).c_str());
}

std::string iso_time(double datetime) {
  const plat::DateTimeParts p = plat::decode_datetime(datetime);
  const int off = cached_offset_minutes(p);
  const int a = off < 0 ? -off : off;
  char text[48];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d", p.year, p.month, p.day,
                p.hour, p.minute, p.second, p.millisecond, off < 0 ? '-' : '+', a / 60, a % 60);
  return text;
}

uint64_t epoch_ms(double datetime) {
  const plat::DateTimeParts p = plat::decode_datetime(datetime);
  if (p.year < 1970) return 0;
  const auto day = std::chrono::sys_days{std::chrono::year{p.year} / p.month / p.day};
  const long long local_s = std::chrono::duration_cast<std::chrono::seconds>(day.time_since_epoch()).count() +
                            p.hour * 3600LL + p.minute * 60LL + p.second;
  const long long utc_s = local_s - cached_offset_minutes(p) * 60LL;
  return utc_s < 0 ? 0 : static_cast<uint64_t>(utc_s) * 1000 + static_cast<uint64_t>(p.millisecond);
}

std::string value_message(const Report& v, std::optional<int> module) {
  // Built by hand in the documented key order: this runs for every reported change.
  std::string m;
  m.reserve(128);
  m += "{\"value\": ";
  if (v.type == kTypeReal) {
    if (std::isfinite(v.real)) {
      char num[32];
      const auto r = std::to_chars(num, num + sizeof num, v.real);
      m.append(num, r.ptr);
    } else {
      m += "null";
    }
  } else if (v.type == kTypeBool) {
    m += v.boolean ? "true" : "false";
  } else if (v.type == kTypeString) {
    m += cli::json_string(v.text);
  } else {
    m += "null";  // never read
  }
  m += ", \"status\": ";
  m += std::to_string(v.status);
  m += ", \"flags\": [";
  bool first = true;
  for (const std::string& f : cli::status_flag_names(v.status)) {
    m += first ? "" : ", ";
    m += cli::json_string(f);
    first = false;
  }
  m += "], \"module\": ";
  m += module ? std::to_string(*module) : "null";
  m += ", \"ts\": \"";
  m += iso_time(v.time);
  m += "\"}";
  return m;
}

bool parse_set(const std::string& payload, uint8_t type, SetValue& out, std::string& err) {
  if (payload.size() > kMaxSetPayload) {
    err = "payload too large (" + std::to_string(payload.size()) + " bytes, at most " +
          std::to_string(kMaxSetPayload) + ")";
    return false;
  }
  if (payload.find('\0') != std::string::npos || !valid_utf8(payload)) {
    err = "bad value: the payload is not UTF-8 text";
    return false;
  }
  // JSON when it parses as JSON, else the plain text itself.
  json j = json::parse(payload, nullptr, false);
  const bool is_json = !j.is_discarded();
  if (is_json && (j.is_object() || j.is_array() || j.is_null())) {
    err = "bad value: a number, a boolean or a string is expected";
    return false;
  }
  const std::string text = is_json && j.is_string() ? j.get<std::string>() : payload;
  if (type == kTypeReal) {
    if (is_json && j.is_number()) {
      out.real = j.get<double>();
    } else {
      char* end = nullptr;
      const std::string t = plat::trim(text);
      out.real = std::strtod(t.c_str(), &end);
      if (t.empty() || *end != '\0') {
        err = "bad value: a number is expected";
        return false;
      }
    }
    if (!std::isfinite(out.real)) {
      err = "bad value: a finite number is expected";
      return false;
    }
    return true;
  }
  if (type == kTypeBool) {
    if (is_json && j.is_boolean()) {
      out.boolean = j.get<bool>();
      return true;
    }
    const std::string t = plat::trim(is_json && j.is_number() ? j.dump() : text);
    if (t == "true" || t == "1" || t == "on") {
      out.boolean = true;
    } else if (t == "false" || t == "0" || t == "off") {
      out.boolean = false;
    } else {
      err = "bad value: true or false is expected";
      return false;
    }
    return true;
  }
  if (is_json && !j.is_string()) {
    err = "bad value: a string is expected";
    return false;
  }
  out.text = plat::utf8_to_gbk(text);
  if (out.text.size() > 255) {
    err = "bad value: a text of at most 255 bytes is expected";
    return false;
  }
  return true;
}

std::string write_result(bool ok, const std::string& error) {
  // In the documented key order and spacing, as the value messages: "ok" first.
  return ok ? std::string("{\"ok\": true}") : "{\"ok\": false, \"error\": " + cli::json_string(error) + "}";
}

}  // namespace korvel::gateway
