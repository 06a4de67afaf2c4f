#include "sim/timing.h"

namespace korvel::sim {

bool parse_framing(std::string_view text, LineTiming* t, std::string* err) {
  const bool ok = (text.size() == 3 || (text.size() == 5 && text.substr(3) == ".5")) && text[0] >= '5' &&
                  text[0] <= '8' && std::string_view("NOEMS").find(text[1]) != std::string_view::npos &&
                  (text[2] == '1' || (text[2] == '2' && text.size() == 3));
  if (!ok) {
    if (err) *err = "framing must look like 8N1, 7E2 or 8E1.5, not \"" + std::string(text) + "\"";
    return false;
  }
  t->data_bits = text[0] - '0';
  t->parity = text[1];
  t->stop_halves = text.size() == 5 ? 3 : (text[2] - '0') * 2;
  return true;
}

std::string timing_text(const LineTiming& t) {
  std::string out = std::to_string(t.baud) + " " + std::to_string(t.data_bits) + t.parity;
  out += t.stop_halves == 3 ? "1.5" : std::to_string(t.stop_halves / 2);
  return out;
}

}  // namespace korvel::sim
