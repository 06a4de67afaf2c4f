#include "cli/ledger.h"

#include <algorithm>
#include <cstdio>

namespace korvel::cli {

void Ledger::expect(int32_t tag, std::vector<double> values) {
  tags_[tag].values = std::move(values);
}

bool Ledger::report(int32_t tag, double value, uint32_t status) {
  const auto it = tags_.find(tag);
  if (it == tags_.end() || (status & kFailureBits) != 0) return true;
  Tag& t = it->second;
  if (std::find(t.values.begin(), t.values.end(), value) != t.values.end()) {
    t.seen = true;
    return true;
  }
  if (value == 0 && !t.seen) return true;
  if (++wrong_ == 1) {
    char buf[128];
    std::snprintf(buf, sizeof buf, "tag %d showed %.15g with status 0x%08X", tag, value, status);
    first_wrong_ = buf;
  }
  return false;
}

bool Ledger::write_accepted(int st, uint64_t ms) {
  Station& s = stations_[st];
  if (s.open) return false;
  s.open = true;
  s.since = ms;
  ++accepted_;
  return true;
}

bool Ledger::write_open(int st) const {
  const auto it = stations_.find(st);
  return it != stations_.end() && it->second.open;
}

void Ledger::writes_reached(int st, int reached) {
  Station& s = stations_[st];
  if (reached <= s.reached) return;
  // A retried write may reach the module twice; it is still one write.
  s.reached = reached;
  if (s.open) {
    s.open = false;
    ++reached_;
  }
}

void Ledger::writes_swallowed(int st, int swallowed) {
  Station& s = stations_[st];
  if (swallowed <= s.swallowed) return;
  s.swallowed = swallowed;
  if (s.open) {
    s.open = false;
    ++swallowed_;
  }
}

bool Ledger::password_report(int st, bool on, uint32_t status) {
  Station& s = stations_[st];
  const bool failure = (status & kFailureBits) != 0;
  const bool newFailure = failure && !s.failureShown;
  s.failureShown = failure;
  if (!s.open || (on && !newFailure)) return true;
  s.open = false;
  if (failure) {
    ++failed_;
    return true;
  }
  ++lost_;
  return false;
}

uint64_t Ledger::open_since(int st) const {
  const auto it = stations_.find(st);
  return it != stations_.end() && it->second.open ? it->second.since : 0;
}

std::vector<int> Ledger::expire(uint64_t now_ms, uint64_t max_ms) {
  std::vector<int> gone;
  for (auto& [st, s] : stations_) {
    if (s.open && now_ms - s.since > max_ms) {
      s.open = false;
      ++lost_;
      gone.push_back(st);
    }
  }
  return gone;
}

}  // namespace korvel::cli
