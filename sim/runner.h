// Serves a ModuleSim on a line (a new pseudo-terminal, or an existing serial device) on a thread of
// its own. start() returns only once the line exists, so its path can be handed to the driver at once.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "platform/pty.h"
#include "sim/module_sim.h"
#include "sim/timing.h"

namespace korvel::sim {

struct RunnerOptions {
  std::string device;  // serve on this device; empty: on a new pseudo-terminal
  std::string link;    // pseudo-terminal only: keep a symbolic link here to the current slave path,
                       // so that a line that vanished and came back keeps one name
  LineTiming timing;   // baud 0: answers are written at once; otherwise one character at a time
  // The simulator's time in ms (values that change over time follow it); default: ms since start().
  std::function<uint64_t()> clock;
  // Called on the serving thread after the line came back (with its path).
  std::function<void(const std::string&)> on_reopen;
};

class Runner {
 public:
  explicit Runner(ModuleSim& sim) : sim_(sim) {}
  ~Runner() { stop(); }
  Runner(const Runner&) = delete;
  Runner& operator=(const Runner&) = delete;

  // Opens the line and starts serving. False, with the reason in *err (may be null), when the line
  // cannot be opened or the runner already runs.
  bool start(RunnerOptions opts, std::string* err);

  // Stops serving and closes the line (and removes the link). Safe to call twice.
  void stop();

  bool running() const { return thread_.joinable(); }

  // The path for the driver: the link when one was asked for, else the current slave or device path.
  std::string path() const;
  // The current slave (or device) path; changes when a pseudo-terminal came back.
  std::string slave_path() const;

  // Drops the line for ms milliseconds and brings it back, as the vanish fault does.
  void drop_line(uint32_t ms);

  // How often the line has come back after vanishing.
  uint64_t reopen_count() const { return reopens_.load(); }

  // Changes the character timing while serving.
  void set_timing(const LineTiming& t);

  // The clock of the wire log (ms since start), for readers that compare its times with now.
  uint64_t now() const;

 private:
  void run();
  bool open_line(std::string* err);  // with mu_ held
  void vanish(uint32_t ms);
  // Takes nothing from the line for ms, with the other side's output held.
  void hold(uint32_t ms);
  // gap_ms > 0: one byte at a time with that pause (a module that dribbles its answer).
  bool send(const std::string& bytes, uint32_t gap_ms = 0);
  // Waits until the steady-clock deadline or stop(); false when stopped.
  bool wait_until(std::chrono::steady_clock::time_point t);

  ModuleSim& sim_;
  RunnerOptions opts_;
  std::chrono::steady_clock::time_point started_{};
  mutable std::mutex mu_;  // guards pty_ (open/close/wake), path_, timing, drop_ms_
  std::condition_variable cv_;
  plat::Pty pty_;
  std::string path_;
  std::thread thread_;
  std::atomic<bool> stopping_{false};
  std::atomic<uint64_t> reopens_{0};
  uint32_t drop_ms_ = 0;
};

}  // namespace korvel::sim
