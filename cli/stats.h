// What a commissioning engineer looks at first: per module, how many exchanges, which failures,
// how fast the answers come, and what its link text says. Fed by the host's reports and, when the
// simulator runs in-process, by its wire log: then every exchange is judged as the driver judges
// it (the exports report a tag only when its status changes, so they cannot count failures).
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace korvel::cli {

// The module number in a tag address ("PV12:1", "PV_ALARM3:2", "PARM1:1A", "SetPassWord7:0",
// "DEVICELINK5"); -1 for addresses without one (COMMLINK, ENCOMMLINK ...) or out of 0..99.
int station_of(const std::string& address);

// Nearest-rank percentile (0 < p <= 100) of a histogram value -> count; 0 when it is empty.
uint32_t percentile(const std::map<uint32_t, uint64_t>& histogram, double p);

enum Failure { NoAnswer, Incomplete, BadCheck, Refused, kFailures, Good = kFailures };

// How the driver takes the bytes station st sent in answer to a read: complete (CR last, nothing
// after it) with the check characters of st, and refused when it holds a "?". Empty: NoAnswer.
Failure judge_answer(int st, const std::string& bytes);

class StatsBoard {
 public:
  using Failure = cli::Failure;
  static constexpr Failure NoAnswer = cli::NoAnswer, Incomplete = cli::Incomplete, BadCheck = cli::BadCheck,
                           Refused = cli::Refused;

  // A tag the host polls: its module (from station_of) and whether it is that module's link text.
  void tag(int32_t id, const std::string& address, bool linkText);

  // One poll's reports begin; failures are counted once per module and kind within a poll, since
  // one poll finishes at most one exchange and every tag of a request carries the same code.
  void begin_poll();
  void report(int32_t id, uint32_t status, const std::string& text);

  // The driver's answer time-out (ms): a read with no answer, or an answer that left later, failed
  // for lack of one (incomplete when it began in time but had not ended).
  void set_timeout(uint32_t ms) { timeout_ = ms; }
  uint32_t timeout() const { return timeout_; }

  // From the simulator's wire log: a request to station st arrived (a write expects no answer), or
  // its answer (bytes) left, at ms. A read still unanswered when the next request of its module
  // arrives, or when settle() finds it older than the time-out, counts as no answer.
  void request(int st, uint64_t ms, bool expectsAnswer);
  void answer(int st, uint64_t ms, const std::string& bytes = std::string());
  void settle(uint64_t now);
  bool has_wire() const { return wire_; }

  // The module of the latest read that failed for lack of a (complete) answer by now, -1 if none
  // or if that failure is too old to be the one the driver reports now: the module a time-out
  // message of the driver is about.
  int last_timed_out(uint64_t now);

  struct Row {
    int station = -1;
    uint64_t exchanges = 0;             // requests the module received (wire log)
    uint64_t failures[kFailures] = {};  // failed exchanges by kind (wire log), else status changes
    std::map<uint32_t, uint64_t> answerMs;
    std::string link;  // the DEVICELINK text as reported (GBK)
    uint64_t pendingSince = 0;
    bool pending = false;
  };
  const std::map<int, Row>& rows() const { return rows_; }

  // The table; texts converted by the caller's function (GBK to the terminal's encoding).
  std::string table(std::string (*convert)(const std::string&)) const;

 private:
  std::map<int32_t, std::pair<int, bool>> tags_;  // id -> module, link text
  std::map<int, Row> rows_;
  std::map<int, unsigned> seenThisPoll_;  // module -> failure kinds already counted this poll
  void fail(Row& r, Failure f, uint64_t at);
  uint32_t timeout_ = 100;
  int lastTimedOut_ = -1;
  uint64_t lastTimedOutAt_ = 0;
  bool wire_ = false;
};

}  // namespace korvel::cli
