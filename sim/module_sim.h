// A line of simulated modules on a byte stream: requests in, answer frames out, every byte logged.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/faults.h"
#include "sim/module.h"
#include "sim/wire.h"

namespace korvel::sim {

inline constexpr int kStations = 100;  // station numbers 0..99

// What the line should do after a request: send bytes (after a delay), or vanish for a while.
struct Reply {
  int station = -1;
  std::string bytes;       // may be empty (a vanish)
  uint32_t delay_ms = 0;   // wait before the first byte
  uint32_t vanish_ms = 0;  // > 0: close the line for this long instead of answering
  uint32_t gap_ms = 0;     // > 0: bytes go out one at a time with this pause between them
  std::string after;       // sent on its own after_ms once bytes are out (stray noise)
  uint32_t after_ms = 0;
  std::string note;      // faults applied, for the log
  uint32_t hold_ms = 0;  // > 0: take nothing from the line for this long instead of answering
};

// One entry of the wire log.
struct WireEvent {
  enum class Dir : uint8_t { Received, Sent, Line };
  Dir dir = Dir::Received;
  uint64_t at_ms = 0;  // the simulator's time
  int station = -1;    // -1 when no station could be read
  std::string bytes;   // exact bytes (Received: the frame with its CR; Sent: what went out; Line: what a
                       // vanishing line took with it unread)
  std::string note;    // Received: request kind and outcome; Sent: faults applied; Line: what happened
};

// Everything a module was sent that it does not answer.
struct ModuleRecord {
  std::vector<std::string> writes;  // payloads of "%" requests, in order (the latest ones: see
                                    // set_write_limit)
  int password_writes = 0;          // how many were the password write
  int requests = 0;                 // valid requests addressed to it
};

// Answers, with S the status character (0x40 + alarm bits unless fixed) and CC the check characters
// over the station's two decimal digits followed by the text before them:
//   "#AA"     -> "=" value S CC CR        (PV and PV_ALARM: value, then the alarm bits)
//   "#AA0001" -> "=" ao S CC CR
//   "$AANN"   -> "!" parameter S CC CR   (a parameter the module lacks: refusal)
//   "%AA..."  -> nothing (recorded; "10+07342" counts as the password write)
//   other commands to a configured station -> the refusal "?" CC CR
// Frames with wrong check characters, and anything for an unconfigured station: no answer.
// Serves stations 0..99; unconfigured ones stay silent. Thread-safe: configuration, faults and the
// log may be changed and read from any thread while another thread feeds bytes.
class ModuleSim {
 public:
  ModuleSim() = default;

  // --- configuration ---
  void set_module(int station, ModuleConfig config);  // ignored outside 0..99
  void remove_module(int station);
  bool has_module(int station) const;
  std::optional<ModuleConfig> module(int station) const;
  // Convenience setters for a configured station; false when it is not configured.
  bool set_pv(int station, Signal v);
  bool set_ao(int station, Signal v);
  bool set_alarm(int station, int bits);
  bool set_param(int station, int param, Signal v);
  // Loads the stations of test_line::kStations (others are left as they are).
  void load_test_line();

  // --- faults ---
  void add_fault(int station, Fault f);
  void clear_faults(int station);  // -1: every station
  std::vector<Fault> faults(int station) const;
  // The bytes the noise faults send from now on, repeated as far as needed (default "~z*"). Neither
  // CR nor "?": those would make the noise a frame end or a refusal of its own.
  void set_noise(std::string bytes);

  // --- serving ---
  // Takes bytes from the line; for each complete request frame (up to CR) decides the reply.
  // now_ms is the simulator's time (values that change over time are taken at it).
  std::vector<Reply> feed(std::string_view bytes, uint64_t now_ms);
  // Records that the bytes of a reply went out (the line calls this once they are written).
  void record_sent(const Reply& r, uint64_t now_ms);
  // Records a line event (closed, reopened ...), with the bytes it concerns (those a vanishing line
  // took with it unread).
  void record_line(std::string note, uint64_t now_ms, std::string bytes = {});
  // feed() plus record_sent() of every reply, ignoring delays, gaps and vanishes: the answer bytes
  // (with any stray noise that follows them).
  std::string exchange(std::string_view bytes, uint64_t now_ms);
  // Forgets a partly received frame; returns its bytes.
  std::string reset_input();

  // --- what happened ---
  std::vector<WireEvent> log() const;
  size_t log_size() const;
  void clear_log();
  // Waits until the log holds at least n entries; false after timeout_ms.
  bool wait_log(size_t n, int timeout_ms) const;
  // Waits until pred(log) holds (pred runs under the lock on each new entry); false after timeout_ms.
  bool wait_for(const std::function<bool(const std::vector<WireEvent>&)>& pred, int timeout_ms) const;
  // Keeps at most n entries (when full, the older half goes); 0, the default, keeps everything.
  // wait_log() counts the entries held, so a test that waits on counts leaves the limit at 0.
  void set_log_limit(size_t n);
  // Keeps at most the n latest write payloads per module (the counts stay whole); 0, the default,
  // keeps them all. A long run sets it so that the simulator's memory stays flat.
  void set_write_limit(size_t n);
  // Called with every new entry, under the simulator's lock (keep it short; do not call back).
  void set_log_sink(std::function<void(const WireEvent&)> sink);
  ModuleRecord record(int station) const;

 private:
  struct Station {
    ModuleConfig config;
    std::vector<Fault> faults;
    ModuleRecord record;
  };

  std::optional<Reply> serve_frame(std::string_view frame, uint64_t now_ms);
  // A "%" request: its payload kept for the record (the password write counted).
  void record_write(Station& st, const Request& req, WireEvent& in);
  // The station's faults that act on this request; counted ones are used up.
  static std::vector<Fault> take_faults(Station& st);
  // Damages and times the answer in r.bytes (its body, without CR) as the active faults say.
  void apply_faults(const std::vector<Fault>& active, Reply& r) const;
  std::string noise(size_t n) const;
  std::string answer_text(const Station& s, const Request& req, uint64_t now_ms) const;
  void push_log(WireEvent e);

  mutable std::mutex mu_;
  mutable std::condition_variable log_cv_;
  std::map<int, Station> stations_;
  std::string pending_;
  bool discarding_ = false;  // an over-long frame is dropped up to its CR
  std::string noise_;        // empty: garbage()
  std::vector<WireEvent> log_;
  size_t log_limit_ = 0;
  size_t write_limit_ = 0;
  std::function<void(const WireEvent&)> sink_;
};

}  // namespace korvel::sim
