#include "sim/wire.h"

namespace korvel::sim {
namespace {

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string two_digits(int station) {
  const int s = ((station % 100) + 100) % 100;
  return std::string{static_cast<char>('0' + s / 10), static_cast<char>('0' + s % 10)};
}

}  // namespace

uint8_t byte_sum(std::string_view text) {
  unsigned sum = 0;
  for (char c : text) sum += static_cast<unsigned char>(c);
  return static_cast<uint8_t>(sum & 0xFFu);
}

std::string check_chars(std::string_view text) {
  const uint8_t s = byte_sum(text);
  return std::string{static_cast<char>(0x40 + (s >> 4)), static_cast<char>(0x40 + (s & 0x0F))};
}

std::string request_frame(std::string_view text) {
  std::string out(text);
  out += check_chars(text);
  out += kCR;
  return out;
}

std::string answer_body(int station, std::string_view text) {
  std::string out(text);
  out += check_chars(two_digits(station) + std::string(text));
  return out;
}

std::string answer_frame(int station, std::string_view text) {
  return answer_body(station, text) + kCR;
}

Request parse_request(std::string_view frame) {
  Request req;
  const size_t start = frame.find_first_of("#$%");
  if (start == std::string_view::npos) return req;
  frame.remove_prefix(start);
  // start character, two address digits, two check characters
  if (frame.size() < 5 || !is_digit(frame[1]) || !is_digit(frame[2])) return req;
  req.station = (frame[1] - '0') * 10 + (frame[2] - '0');
  const std::string_view text = frame.substr(0, frame.size() - 2);
  if (check_chars(text) != frame.substr(frame.size() - 2)) {
    req.kind = RequestKind::BadCheck;
    return req;
  }
  const std::string_view rest = text.substr(3);
  req.kind = RequestKind::Unknown;
  switch (text[0]) {
    case '#':
      if (rest.empty()) req.kind = RequestKind::Pv;
      if (rest == "0001") req.kind = RequestKind::Ao;
      break;
    case '$': {
      // At least two digits; more than four cannot name a parameter a module has.
      if (rest.size() < 2 || rest.size() > 4) break;
      int n = 0;
      for (char c : rest) {
        const int v = hex_value(c);
        if (v < 0) return req;
        n = n * 16 + v;
      }
      req.kind = RequestKind::Parm;
      req.param = n;
      break;
    }
    default:  // '%'
      req.kind = RequestKind::Write;
      req.payload = std::string(rest);
      break;
  }
  return req;
}

std::string_view kind_name(RequestKind kind) {
  switch (kind) {
    case RequestKind::Malformed:
      return "malformed";
    case RequestKind::BadCheck:
      return "bad check";
    case RequestKind::Pv:
      return "pv";
    case RequestKind::Parm:
      return "parm";
    case RequestKind::Ao:
      return "ao";
    case RequestKind::Write:
      return "write";
    case RequestKind::Unknown:
      return "unknown";
  }
  return "?";
}

}  // namespace korvel::sim
