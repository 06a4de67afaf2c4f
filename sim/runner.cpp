#include "sim/runner.h"

#include <filesystem>
#include <system_error>
#include <vector>

namespace korvel::sim {
namespace {

constexpr int kReadWaitMs = 500;    // the serving loop also wakes on stop() and drop_line()
constexpr int kWriteWaitMs = 2000;  // a reader that takes nothing for this long has gone
constexpr int kRetryMs = 200;       // between attempts to bring a lost line back

// Points link at target in one step, so a reader never sees the link missing.
void relink(const std::string& target, const std::string& link) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path tmp = link + ".new";
  fs::remove(tmp, ec);
  fs::create_symlink(target, tmp, ec);
  if (!ec) fs::rename(tmp, link, ec);
}

// Baud 0 (no character timing) leaves the device's speed and framing as they are.
plat::SerialLine line_of(const LineTiming& t) {
  plat::SerialLine line;
  line.baud = t.baud;
  line.data_bits = t.data_bits;
  switch (t.parity) {
    case 'O':
      line.parity = plat::SerialParity::Odd;
      break;
    case 'E':
      line.parity = plat::SerialParity::Even;
      break;
    case 'M':
      line.parity = plat::SerialParity::Mark;
      break;
    case 'S':
      line.parity = plat::SerialParity::Space;
      break;
    default:
      line.parity = plat::SerialParity::None;
      break;
  }
  line.stop_bits = t.stop_halves >= 4   ? plat::SerialStopBits::Two
                   : t.stop_halves == 3 ? plat::SerialStopBits::OneAndHalf
                                        : plat::SerialStopBits::One;
  return line;
}

}  // namespace

bool Runner::start(RunnerOptions opts, std::string* err) {
  if (running()) {
    if (err) *err = "the simulator already runs";
    return false;
  }
  opts_ = std::move(opts);
  started_ = std::chrono::steady_clock::now();
  stopping_ = false;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (!open_line(err)) return false;
  }
  sim_.record_line("line open: " + slave_path(), now());
  thread_ = std::thread([this] { run(); });
  return true;
}

void Runner::stop() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stopping_ = true;
    pty_.wake();
  }
  cv_.notify_all();
  if (thread_.joinable()) thread_.join();
  std::lock_guard<std::mutex> lock(mu_);
  pty_.close();
  if (!opts_.link.empty() && opts_.device.empty()) {
    std::error_code ec;
    if (std::filesystem::is_symlink(opts_.link, ec)) std::filesystem::remove(opts_.link, ec);
  }
}

std::string Runner::path() const {
  std::lock_guard<std::mutex> lock(mu_);
  return !opts_.link.empty() && opts_.device.empty() ? opts_.link : path_;
}

std::string Runner::slave_path() const {
  std::lock_guard<std::mutex> lock(mu_);
  return path_;
}

void Runner::drop_line(uint32_t ms) {
  std::lock_guard<std::mutex> lock(mu_);
  drop_ms_ = ms == 0 ? 1 : ms;
  pty_.wake();
}

void Runner::set_timing(const LineTiming& t) {
  std::lock_guard<std::mutex> lock(mu_);
  opts_.timing = t;
}

uint64_t Runner::now() const {
  if (opts_.clock) return opts_.clock();
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started_)
          .count());
}

bool Runner::open_line(std::string* err) {
  bool ok = false;
  if (opts_.device.empty()) {
    ok = pty_.open_pair() == plat::OpenResult::Ok;
    if (ok && !opts_.link.empty()) relink(pty_.path(), opts_.link);
  } else {
    ok = pty_.open_device(opts_.device, line_of(opts_.timing)) == plat::OpenResult::Ok;
  }
  if (ok) path_ = pty_.path();
  if (!ok && err != nullptr) *err = plat::last_error_text();
  return ok;
}

bool Runner::wait_until(std::chrono::steady_clock::time_point t) {
  std::unique_lock<std::mutex> lock(mu_);
  cv_.wait_until(lock, t, [this] { return stopping_.load(); });
  return !stopping_;
}

void Runner::vanish(uint32_t ms) {
  std::string unread;
  {
    std::lock_guard<std::mutex> lock(mu_);
    // Bytes the master wrote that were not served yet go with the line, as on a real line that is
    // unplugged; the log keeps them, so a run can tell what the line swallowed.
    char buf[256];
    for (long n = 0; (n = pty_.read(buf, sizeof buf, 0)) > 0;) unread.append(buf, static_cast<size_t>(n));
    pty_.close();
    // While the line is away its old terminal number may be handed to someone else: a driver
    // must find nothing under the link rather than another program's terminal.
    if (!opts_.link.empty() && opts_.device.empty()) {
      std::error_code ec;
      std::filesystem::remove(opts_.link, ec);
    }
  }
  unread = sim_.reset_input() + unread;
  sim_.record_line("line closed for " + std::to_string(ms) + " ms", now(), unread);
  if (!wait_until(std::chrono::steady_clock::now() + std::chrono::milliseconds(ms))) return;
  bool told = false;
  for (;;) {
    std::string why;
    bool ok = false;
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (stopping_) return;
      ok = open_line(&why);
    }
    if (ok) break;
    if (!told) sim_.record_line("line cannot be reopened: " + why, now());
    told = true;
    if (!wait_until(std::chrono::steady_clock::now() + std::chrono::milliseconds(kRetryMs))) return;
  }
  ++reopens_;
  const std::string p = slave_path();
  // The callback runs before the log says the line is back, so a test waiting on the log sees it done.
  if (opts_.on_reopen) opts_.on_reopen(p);
  sim_.record_line("line back: " + p, now());
}

void Runner::hold(uint32_t ms) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (!pty_.hold_output(true)) {
      sim_.record_line("line cannot be held (not a pseudo-terminal)", now());
      return;
    }
  }
  sim_.record_line("line stops draining for " + std::to_string(ms) + " ms", now());
  const bool more = wait_until(std::chrono::steady_clock::now() + std::chrono::milliseconds(ms));
  {
    std::lock_guard<std::mutex> lock(mu_);
    pty_.hold_output(false);
  }
  if (more) sim_.record_line("line drains again", now());
}

bool Runner::send(const std::string& bytes, uint32_t gap_ms) {
  uint64_t char_us = 0;
  {
    std::lock_guard<std::mutex> lock(mu_);
    char_us = opts_.timing.char_us();
  }
  char_us += uint64_t{gap_ms} * 1000;
  if (char_us == 0) return pty_.write(bytes.data(), bytes.size(), kWriteWaitMs);
  // Dribble: character i leaves at its own time slot, so the whole frame takes as long as on a
  // real line even when one slot is missed.
  const auto t0 = std::chrono::steady_clock::now();
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0 && !wait_until(t0 + std::chrono::microseconds(char_us * i))) return false;
    if (!pty_.write(&bytes[i], 1, kWriteWaitMs)) return false;
  }
  return true;
}

void Runner::run() {
  std::vector<char> buf(1024);
  while (!stopping_) {
    uint32_t drop = 0;
    {
      std::lock_guard<std::mutex> lock(mu_);
      drop = std::exchange(drop_ms_, 0);
    }
    if (drop > 0) {
      vanish(drop);
      continue;
    }
    const long n = pty_.read(buf.data(), buf.size(), kReadWaitMs);
    if (n < 0) {
      // A device that went away (or a closed line): try to get it back.
      sim_.record_line("line lost", now());
      vanish(kRetryMs);
      continue;
    }
    if (n == 0) continue;
    for (const Reply& r : sim_.feed(std::string_view(buf.data(), static_cast<size_t>(n)), now())) {
      if (stopping_) break;
      if (r.vanish_ms > 0) {
        vanish(r.vanish_ms);
        break;  // what else was asked went with the line
      }
      if (r.hold_ms > 0) {
        hold(r.hold_ms);
        break;
      }
      if (r.delay_ms > 0 &&
          !wait_until(std::chrono::steady_clock::now() + std::chrono::milliseconds(r.delay_ms))) {
        break;
      }
      if (send(r.bytes, r.gap_ms)) {
        sim_.record_sent(r, now());
      } else if (!stopping_) {
        sim_.record_line("answer to station " + std::to_string(r.station) + " not written", now());
      }
      if (!r.after.empty()) {
        if (!wait_until(std::chrono::steady_clock::now() + std::chrono::milliseconds(r.after_ms))) break;
        Reply noise{r.station, r.after, 0, 0, 0, {}, 0, "stray noise"};
        if (send(noise.bytes)) sim_.record_sent(noise, now());
      }
    }
  }
}

}  // namespace korvel::sim
