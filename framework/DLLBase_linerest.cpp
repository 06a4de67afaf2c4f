// The line's rest outlives the instance that started it. A host that reloads its configuration
// stops one instance and starts another on the same port while an answer to the old one's request
// may still be on its way; the new one must wait for it as the old one would have. The process
// keeps each port's rest by device path from the close of the port to its next open.
#include <map>
#include <mutex>

#include "framework/DLLBase.h"
#include "platform/clock.h"

namespace korvel {
namespace {

struct LeftLine {
  uint64_t LeftAt = 0;  // the tick at the close
  bool Resting = false;
  uint64_t RestUntil = 0;
  std::array<TBaseDLLObject::TAnswerWindow, TBaseDLLObject::kAnswerClasses> Windows{};
};

std::mutex& left_lines_lock() {
  static std::mutex m;
  return m;
}

// At most one entry per port the process ever used, each a few kilobytes; an entry goes when the
// port is opened again.
std::map<std::string, LeftLine>& left_lines() {
  static std::map<std::string, LeftLine> lines;
  return lines;
}

bool after(uint64_t a, uint64_t b) {
  return static_cast<int64_t>(a - b) > 0;
}

}  // namespace

void TBaseDLLObject::LeaveLine(const std::string& device) {
  if (device.empty()) return;
  const uint64_t now = plat::tick_ms();
  // A read still waiting for its answer ends here unanswered: the line rests as after a miss.
  if (RunStatus == rsReading && !SendFailed) RestLine();
  LeftLine left;
  left.LeftAt = now;
  left.Resting = LineResting();
  left.RestUntil = RestUntil;
  bool pending = left.Resting;
  for (size_t k = 0; k < AnswerWindows.size(); ++k) {
    if (!after(AnswerWindows[k].Until, now)) continue;
    left.Windows[k] = AnswerWindows[k];
    pending = true;
  }
  std::lock_guard<std::mutex> lock(left_lines_lock());
  if (pending) {
    left_lines()[device] = left;
  } else {
    left_lines().erase(device);
  }
}

void TBaseDLLObject::TakeOverLine(const std::string& device) {
  if (device.empty()) return;
  LeftLine left;
  {
    std::lock_guard<std::mutex> lock(left_lines_lock());
    const auto it = left_lines().find(device);
    if (it == left_lines().end()) return;
    left = it->second;
    left_lines().erase(it);
  }
  const uint64_t now = plat::tick_ms();
  // Left in the future: another clock (a test's), not this line's past.
  if (after(left.LeftAt, now)) return;
  if (left.Resting && after(left.RestUntil, now) && (!Resting || after(left.RestUntil, RestUntil))) {
    Resting = true;
    RestUntil = left.RestUntil;
  }
  for (size_t k = 0; k < AnswerWindows.size(); ++k)
    if (after(left.Windows[k].Until, AnswerWindows[k].Until) && after(left.Windows[k].Until, now))
      AnswerWindows[k] = left.Windows[k];
}

}  // namespace korvel
