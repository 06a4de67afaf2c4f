// The soak's book-keeping, apart from any line: which value each tag may show with a good status,
// and what became of every write the library accepted.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace korvel::cli {

// Status bits that mark a value as not good: the four failure codes and the late bit.
inline constexpr uint32_t kFailureBits = 0x01F00000;

class Ledger {
 public:
  // A value tag and the values it may show with a good status (any one of them).
  void expect(int32_t tag, std::vector<double> values);

  // A report of a value tag. A good status with a value not its own counts as wrong; so does a
  // good 0 once the tag had shown its own value (before its first read a tag may show 0).
  // Returns false for a wrong value; reports of tags without expectations are ignored.
  bool report(int32_t tag, double value, uint32_t status);

  // A write of the password tag of station st the library accepted at ms; at most one per station
  // is open at a time (false when one is).
  bool write_accepted(int st, uint64_t ms);
  bool write_open(int st) const;
  // The simulator counted `reached` password writes of st so far: a rise settles the open write.
  void writes_reached(int st, int reached);
  // The line vanished with `swallowed` password writes of st unread in it so far: a rise settles the
  // open write as swallowed (sent, as far as the library can know, but gone with the device).
  void writes_swallowed(int st, int swallowed);
  // The password tag of st was reported: a failure status that is new, or comes with the value
  // switched back, settles the open write as failed (a failed write leaves the tag at what the
  // module has, which is on when an earlier write put it there); switched back with a good status
  // while the write is open is a lost write (its value was undone without saying it failed).
  // Returns false when this report made the write lost.
  bool password_report(int st, bool on, uint32_t status);
  // Writes open for longer than max_ms at now_ms are lost (each counted once, then dropped); the
  // stations of those that were.
  std::vector<int> expire(uint64_t now_ms, uint64_t max_ms);
  // When the open write of st was accepted (0 when none is open).
  uint64_t open_since(int st) const;

  int64_t wrong() const { return wrong_; }
  const std::string& first_wrong() const { return first_wrong_; }
  int64_t accepted() const { return accepted_; }
  int64_t reached() const { return reached_; }
  int64_t failed() const { return failed_; }
  int64_t lost() const { return lost_; }
  int64_t swallowed() const { return swallowed_; }

 private:
  struct Tag {
    std::vector<double> values;
    bool seen = false;  // has shown its own value
  };
  struct Station {
    bool open = false;
    uint64_t since = 0;
    int reached = 0;  // the simulator's count when last looked at
    int swallowed = 0;
    bool failureShown = false;  // the password tag's last report carried a failure status
  };
  std::map<int32_t, Tag> tags_;
  std::map<int, Station> stations_;
  int64_t wrong_ = 0, accepted_ = 0, reached_ = 0, failed_ = 0, lost_ = 0, swallowed_ = 0;
  std::string first_wrong_;
};

}  // namespace korvel::cli
