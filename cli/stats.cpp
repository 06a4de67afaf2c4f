#include "cli/stats.h"

#include <cctype>
#include <cmath>
#include <cstdio>

#include "exports/KorvelPLNK.h"
#include "sim/wire.h"

namespace korvel::cli {

int station_of(const std::string& address) {
  size_t i = 0;
  while (i < address.size() && (std::isalpha(static_cast<unsigned char>(address[i])) || address[i] == '_'))
    ++i;
  const size_t digits = i;
  int n = 0;
  while (i < address.size() && std::isdigit(static_cast<unsigned char>(address[i])) && i - digits < 3)
    n = n * 10 + (address[i++] - '0');
  if (digits == 0 || i == digits || n > 99) return -1;
  if (i < address.size() && address[i] != ':') return -1;
  return n;
}

uint32_t percentile(const std::map<uint32_t, uint64_t>& histogram, double p) {
  uint64_t total = 0;
  for (const auto& [v, n] : histogram) total += n;
  if (total == 0) return 0;
  const auto rank = static_cast<uint64_t>(std::ceil(p / 100.0 * static_cast<double>(total)));
  uint64_t seen = 0;
  for (const auto& [v, n] : histogram) {
    seen += n;
    if (seen >= rank) return v;
  }
  return histogram.rbegin()->first;
}

Failure judge_answer(int st, const std::string& bytes) {
  if (bytes.empty()) return NoAnswer;
  const size_t cr = bytes.find('\r');
  if (cr == std::string::npos) return Incomplete;
  // Anything after the CR, or check characters not those of st: a complete answer that fails.
  if (cr + 1 != bytes.size() || bytes.size() < 4 ||
      sim::answer_frame(st, std::string_view(bytes).substr(0, bytes.size() - 3)) != bytes)
    return BadCheck;
  return bytes.find('?') != std::string::npos ? Refused : Good;
}

void StatsBoard::tag(int32_t id, const std::string& address, bool linkText) {
  const int st = station_of(address);
  if (st < 0) return;
  tags_[id] = {st, linkText};
  rows_[st].station = st;
}

void StatsBoard::begin_poll() {
  seenThisPoll_.clear();
}

void StatsBoard::report(int32_t id, uint32_t status, const std::string& text) {
  const auto it = tags_.find(id);
  if (it == tags_.end()) return;
  Row& row = rows_[it->second.first];
  if (it->second.second) {
    row.link = text;
    return;
  }
  if (wire_) return;  // the wire log counts every exchange
  static constexpr uint32_t kCodes[kFailures] = {KORVEL_STATUS_NO_ANSWER, KORVEL_STATUS_INCOMPLETE,
                                                 KORVEL_STATUS_BAD_CHECK, KORVEL_STATUS_REFUSED};
  unsigned& seen = seenThisPoll_[row.station];
  for (int k = 0; k < kFailures; ++k) {
    if ((status & kCodes[k]) == 0 || (seen & (1u << k)) != 0) continue;
    seen |= 1u << k;
    ++row.failures[k];
  }
}

void StatsBoard::fail(Row& r, Failure f, uint64_t at) {
  ++r.failures[f];
  if (f == NoAnswer || f == Incomplete) {
    lastTimedOut_ = r.station;
    lastTimedOutAt_ = at;
  }
}

void StatsBoard::request(int st, uint64_t ms, bool expectsAnswer) {
  const auto it = rows_.find(st);
  if (it == rows_.end()) return;
  if (!wire_) {
    // From here on the wire counts the failures; the status changes seen so far do not mix in.
    for (auto& [n, r] : rows_)
      for (uint64_t& f : r.failures) f = 0;
  }
  wire_ = true;
  Row& r = it->second;
  if (r.pending) fail(r, NoAnswer, r.pendingSince + timeout_);
  ++r.exchanges;
  r.pending = expectsAnswer;
  r.pendingSince = ms;
}

void StatsBoard::answer(int st, uint64_t ms, const std::string& bytes) {
  const auto it = rows_.find(st);
  if (it == rows_.end() || !it->second.pending) return;
  Row& r = it->second;
  r.pending = false;
  const uint64_t took = ms - r.pendingSince;
  ++r.answerMs[static_cast<uint32_t>(took)];
  const Failure f = took > timeout_ ? NoAnswer : judge_answer(st, bytes);
  if (f != Good) fail(r, f, ms);
}

void StatsBoard::settle(uint64_t now) {
  for (auto& [st, r] : rows_)
    if (r.pending && now > r.pendingSince + timeout_) {
      r.pending = false;
      fail(r, NoAnswer, r.pendingSince + timeout_);
    }
}

int StatsBoard::last_timed_out(uint64_t now) {
  // One exchange at a time per line: a read still waiting is the one the driver gave up on. After a
  // failed read the line waits three time-outs before the next request, so a failure the log saw
  // that long ago is an earlier one: the read given up now never reached the log (a line that
  // stopped taking bytes, a simulator behind), and the log cannot name its module.
  const uint64_t recent = 3ull * timeout_;
  const Row* waiting = nullptr;
  for (const auto& [st, r] : rows_)
    if (r.pending && (waiting == nullptr || r.pendingSince > waiting->pendingSince)) waiting = &r;
  if (waiting != nullptr && waiting->pendingSince >= lastTimedOutAt_)
    return now < waiting->pendingSince + recent ? waiting->station : -1;
  settle(now);
  return lastTimedOut_ >= 0 && now < lastTimedOutAt_ + recent ? lastTimedOut_ : -1;
}

std::string StatsBoard::table(std::string (*convert)(const std::string&)) const {
  std::string out;
  char line[256];
  std::snprintf(line, sizeof line, "%-7s %9s %9s %10s %9s %7s %7s %7s %7s  %s\n", "module", "exchanges",
                "no-answer", "incomplete", "bad-check", "refused", "p50 ms", "p99 ms", "timeout", "link");
  out += line;
  for (const auto& [st, r] : rows_) {
    std::string ex = "-", p50 = "-", p99 = "-";
    if (wire_) {
      ex = std::to_string(r.exchanges);
      if (!r.answerMs.empty()) {
        p50 = std::to_string(percentile(r.answerMs, 50));
        p99 = std::to_string(percentile(r.answerMs, 99));
      }
    }
    std::snprintf(line, sizeof line, "%-7d %9s %9llu %10llu %9llu %7llu %7s %7s %7u  ", st, ex.c_str(),
                  static_cast<unsigned long long>(r.failures[NoAnswer]),
                  static_cast<unsigned long long>(r.failures[Incomplete]),
                  static_cast<unsigned long long>(r.failures[BadCheck]),
                  static_cast<unsigned long long>(r.failures[Refused]), p50.c_str(), p99.c_str(), timeout_);
    out += line;
    out += r.link.empty() ? std::string("-") : convert(r.link);
    out += "\n";
  }
  return out;
}

}  // namespace korvel::cli
