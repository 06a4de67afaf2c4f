// Where a line's reports and the outcomes of its orders go when they do not go to the per-tag
// JSON topics: the line polls and writes the same way, the publisher says it its own way.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace korvel::gateway {

// The type of a Report of a tag never read: the library's placeholder (0, false, "Error" for a
// module it takes for faulty) is no value anybody read, and is not handed on.
constexpr uint8_t kNoValueRead = 0xFF;

// A reported value of a tag of the line's list: the last value read, also when the status carries
// failure flags.
struct Report {
  size_t tag = 0;    // its place in the line's list
  uint8_t type = 0;  // kTypeReal, kTypeBool, kTypeString, or kNoValueRead
  double real = 0;
  bool boolean = false;
  std::string text;  // UTF-8
  uint32_t status = 0;
  double time = 0;  // local date-time, days since 30 Dec 1899
};

class Publisher {
 public:
  virtual ~Publisher() = default;
  // A poll's reports (line: the number the publisher gave the line); may be empty.
  virtual void values(int line, const std::vector<Report>& reports) = 0;
  // The line's state (COMMLINK as a number and its text, ENCOMMLINK), when it changed.
  virtual void link(int line, int state, const std::string& text, bool enabled) = 0;
  virtual void availability(int line, int module, bool online) = 0;
  // The one outcome of an order for a tag of the line (by its name): from the line's thread, or
  // from the thread that offered the order when the line cannot take it.
  virtual void write_result(int line, const std::string& tag, bool ok, const std::string& error) = 0;
};

}  // namespace korvel::gateway
