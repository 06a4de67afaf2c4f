// The simulator served on real pseudo-terminals, reached through the slave path as the driver does.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <random>

#include "platform/env.h"
#include "platform/pty.h"
#include "sim/runner.h"
#include "sim/sim_line.h"

namespace korvel::sim {
namespace {

constexpr int kWaitMs = 5000;  // generous: only a broken simulator ever waits this long

// Reads until a CR arrived (or kWaitMs passed / the line went away); the chunks as they came.
std::vector<std::string> read_chunks(plat::Pty& port, size_t at_least = 1) {
  std::vector<std::string> chunks;
  std::string all;
  char buf[256];
  while (all.find('\r') == std::string::npos || all.size() < at_least) {
    const long n = port.read(buf, sizeof buf, kWaitMs);
    if (n <= 0) break;
    chunks.emplace_back(buf, static_cast<size_t>(n));
    all += chunks.back();
  }
  return chunks;
}

std::string read_answer(plat::Pty& port) {
  std::string all;
  for (const std::string& c : read_chunks(port)) all += c;
  return all;
}

plat::Pty open_client(const std::string& path) {
  plat::Pty port;
  EXPECT_EQ(port.open_path(path), plat::OpenResult::Ok) << plat::last_error_text();
  return port;
}

bool write_text(plat::Pty& port, const std::string& s) {
  return port.write(s.data(), s.size(), kWaitMs);
}

class RunnerTest : public testing::Test {
 protected:
  void SetUp() override { sim_.load_test_line(); }
  ModuleSim sim_;
};

TEST_F(RunnerTest, PtyRoundTripAndWireLog) {
  Runner runner(sim_);
  std::string err;
  ASSERT_TRUE(runner.start({}, &err)) << err;
  ASSERT_FALSE(runner.path().empty());
  EXPECT_EQ(runner.path(), runner.slave_path());

  plat::Pty port = open_client(runner.path());
  ASSERT_TRUE(write_text(port, "#01HD\r"));
  EXPECT_EQ(read_answer(port), "=12.5AJE\r");
  ASSERT_TRUE(write_text(port, "$010AOF\r"));
  EXPECT_EQ(read_answer(port), answer_frame(1, "!10A"));

  // The answer is logged once it has been written; the log may lag the bytes by a moment.
  ASSERT_TRUE(sim_.wait_log(5, kWaitMs));
  const auto log = sim_.log();
  EXPECT_EQ(log[0].dir, WireEvent::Dir::Line);
  EXPECT_EQ(log[1].dir, WireEvent::Dir::Received);
  EXPECT_EQ(log[1].bytes, "#01HD\r");
  EXPECT_EQ(log[2].dir, WireEvent::Dir::Sent);
  EXPECT_EQ(log[2].bytes, "=12.5AJE\r");
  EXPECT_EQ(log[3].bytes, "$010AOF\r");

  runner.stop();
  runner.stop();  // twice is harmless
  EXPECT_FALSE(runner.running());
}

TEST_F(RunnerTest, FaultsReachTheLine) {
  Runner runner(sim_);
  ASSERT_TRUE(runner.start({}, nullptr));
  plat::Pty port = open_client(runner.path());

  // Refusal, garbage after the frame, delayed answer, wrong station: exact bytes on the line.
  ASSERT_TRUE(write_text(port, request_frame("#96")));
  EXPECT_EQ(read_answer(port), answer_frame(96, "?"));
  ASSERT_TRUE(write_text(port, request_frame("#93")));
  const std::string with_noise = answer_frame(93, "=93@") + "~z*";
  std::string got;
  for (const std::string& c : read_chunks(port, with_noise.size())) got += c;
  EXPECT_EQ(got, with_noise);
  ASSERT_TRUE(write_text(port, request_frame("#03")));
  EXPECT_EQ(read_answer(port), answer_frame(3, "=3.5@"));
  ASSERT_TRUE(write_text(port, request_frame("#95")));
  EXPECT_EQ(read_answer(port), answer_frame(96, "=95@"));

  // Silence, and a cut frame: nothing (more) comes, and the next station still answers.
  sim_.clear_log();
  ASSERT_TRUE(write_text(port, request_frame("#90") + request_frame("#94")));
  ASSERT_TRUE(sim_.wait_log(3, kWaitMs));  // two requests, one (cut) answer
  char buf[64];
  const long n = port.read(buf, sizeof buf, kWaitMs);
  ASSERT_GT(n, 0);
  EXPECT_EQ(std::string(buf, static_cast<size_t>(n)), answer_body(94, "=94@"));
  ASSERT_TRUE(write_text(port, "#01HD\r"));
  EXPECT_EQ(read_answer(port), "=12.5AJE\r");

  // Faults set while serving apply to the next request.
  sim_.add_fault(1, {FaultKind::BadCheck, -1, 1});
  ASSERT_TRUE(write_text(port, "#01HD\r"));
  EXPECT_EQ(read_answer(port), "=12.5AJF\r");
}

TEST_F(RunnerTest, CampaignFaultsReachTheLine) {
  Runner runner(sim_);
  ASSERT_TRUE(runner.start({}, nullptr));
  plat::Pty port = open_client(runner.path());

  // Dribble: the frame in more than one piece, in order.
  ASSERT_TRUE(write_text(port, request_frame("#80")));
  const auto chunks = read_chunks(port);
  std::string all;
  for (const std::string& c : chunks) all += c;
  EXPECT_EQ(all, answer_frame(80, "=80@"));
  EXPECT_GT(chunks.size(), 1u);

  // Two answers in one write, then a stray answer whose noise follows on its own.
  ASSERT_TRUE(write_text(port, request_frame("#82")));
  std::string twice;
  for (const std::string& c : read_chunks(port, 2 * answer_frame(82, "=82@").size())) twice += c;
  EXPECT_EQ(twice, answer_frame(82, "=82@") + answer_frame(82, "=82@"));
  ASSERT_TRUE(write_text(port, request_frame("#83")));
  std::string stray;
  for (const std::string& c : read_chunks(port, answer_frame(83, "=83@").size() + 3)) stray += c;
  EXPECT_EQ(stray, answer_frame(83, "=83@") + "~z*");

  // Over-long: the test line's length of text, and no CR in it.
  ASSERT_TRUE(write_text(port, request_frame("#81")));
  std::string longer;
  char buf[256];
  while (longer.size() < static_cast<size_t>(test_line::kOverLongBytes)) {
    const long n = port.read(buf, sizeof buf, kWaitMs);
    if (n <= 0) break;
    longer.append(buf, static_cast<size_t>(n));
  }
  EXPECT_EQ(longer.size(), static_cast<size_t>(test_line::kOverLongBytes));
  EXPECT_EQ(longer.find('\r'), std::string::npos);
  EXPECT_EQ(longer.rfind(answer_body(81, "=81@"), 0), 0u);
}

// A line that stops draining takes nothing from the master: its writes find no room, at once, until
// the simulator lets the line go again; then requests are answered as before.
TEST_F(RunnerTest, NoDrainHoldsTheMastersOutputForItsTime) {
  Runner runner(sim_);
  ASSERT_TRUE(runner.start({}, nullptr));
  plat::Pty port = open_client(runner.path());
  const auto noted = [&](const char* what) {
    return sim_.wait_for(
        [&](const auto& log) {
          for (const WireEvent& e : log)
            if (e.dir == WireEvent::Dir::Line && e.note.find(what) != std::string::npos) return true;
          return false;
        },
        kWaitMs);
  };
  sim_.add_fault(test_line::kGood, {FaultKind::NoDrain, 300, 1});
  ASSERT_TRUE(write_text(port, request_frame("#01")));
  ASSERT_TRUE(noted("stops draining"));
  EXPECT_FALSE(port.write("#", 1, 0));
  ASSERT_TRUE(noted("drains again"));
  ASSERT_TRUE(write_text(port, request_frame("#01")));
  const std::string answer = read_answer(port);
  EXPECT_EQ(answer.rfind('=', 0), 0u) << answer;
}

TEST_F(RunnerTest, CharacterTimingDribblesTheAnswerInOrder) {
  RunnerOptions opts;
  opts.timing.baud = 300;  // 33 ms a character: a frame cannot arrive in one piece
  Runner runner(sim_);
  ASSERT_TRUE(runner.start(opts, nullptr));
  plat::Pty port = open_client(runner.path());
  ASSERT_TRUE(write_text(port, "#01HD\r"));
  const auto chunks = read_chunks(port);
  std::string all;
  for (const std::string& c : chunks) all += c;
  EXPECT_EQ(all, "=12.5AJE\r");
  EXPECT_GT(chunks.size(), 1u);
}

TEST_F(RunnerTest, LineVanishesAndComesBackUnderItsLink) {
  const std::string link = testing::TempDir() + "/korvel_sim_line_" + std::to_string(std::random_device{}());
  std::filesystem::remove(link);
  RunnerOptions opts;
  opts.link = link;
  std::atomic<int> reopened{0};
  opts.on_reopen = [&](const std::string&) { ++reopened; };
  Runner runner(sim_);
  ASSERT_TRUE(runner.start(opts, nullptr));
  EXPECT_EQ(runner.path(), link);
  EXPECT_EQ(std::filesystem::read_symlink(link).string(), runner.slave_path());

  {
    plat::Pty port = open_client(link);
    ASSERT_TRUE(write_text(port, request_frame("#97")));  // station 97 makes the line vanish
    char buf[16];
    EXPECT_EQ(port.read(buf, sizeof buf, kWaitMs), -1);  // hang-up seen by the line's user
  }
  // Wait for the line to come back (the log says so), then reach it under the same name.
  auto back_count = [](const std::vector<WireEvent>& log) {
    size_t n = 0;
    for (const WireEvent& e : log) n += e.dir == WireEvent::Dir::Line && e.note.starts_with("line back: ");
    return n;
  };
  ASSERT_TRUE(sim_.wait_for([&](const auto& log) { return back_count(log) == 1; }, kWaitMs));
  EXPECT_EQ(runner.reopen_count(), 1u);
  EXPECT_EQ(reopened.load(), 1);
  plat::Pty port = open_client(link);
  ASSERT_TRUE(write_text(port, "#01HD\r"));
  EXPECT_EQ(read_answer(port), "=12.5AJE\r");

  bool closed = false, back = false;
  for (const WireEvent& e : sim_.log()) {
    closed = closed || e.note == "line closed for 500 ms";
    back = back || (e.dir == WireEvent::Dir::Line && e.note.starts_with("line back: "));
  }
  EXPECT_TRUE(closed);
  EXPECT_TRUE(back);

  // On demand as well; a frame on its way goes with the line, and the log keeps its bytes.
  ASSERT_TRUE(write_text(port, "#01HD\r%0110+0"));
  EXPECT_EQ(read_answer(port), "=12.5AJE\r");
  runner.drop_line(50);
  char buf[16];
  EXPECT_EQ(port.read(buf, sizeof buf, kWaitMs), -1);
  ASSERT_TRUE(sim_.wait_for([&](const auto& log) { return back_count(log) == 2; }, kWaitMs));
  EXPECT_EQ(runner.reopen_count(), 2u);
  bool kept = false;
  for (const WireEvent& e : sim_.log())
    kept = kept || (e.note == "line closed for 50 ms" && e.bytes == "%0110+0");
  EXPECT_TRUE(kept);
  EXPECT_EQ(sim_.record(1).password_writes, 0);

  runner.stop();
  EXPECT_FALSE(std::filesystem::is_symlink(link));
}

TEST_F(RunnerTest, ServesAnExistingDevice) {
  // The slave side of a pair stands in for a serial port; the test talks on the master side.
  plat::Pty line;
  std::string err;
  ASSERT_EQ(line.open_pair(), plat::OpenResult::Ok) << plat::last_error_text();
  RunnerOptions opts;
  opts.device = line.path();
  opts.timing.baud = 19200;  // sets the device's speed too
  Runner runner(sim_);
  ASSERT_TRUE(runner.start(opts, &err)) << err;
  EXPECT_EQ(runner.path(), line.path());
  ASSERT_TRUE(write_text(line, "#010001DE\r"));
  EXPECT_EQ(read_answer(line), "=4.5AGF\r");
}

TEST_F(RunnerTest, StartFailsCleanly) {
  Runner runner(sim_);
  RunnerOptions opts;
  opts.device = "/nonexistent/tty";
  std::string err;
  EXPECT_FALSE(runner.start(opts, &err));
  EXPECT_NE(err.find("/nonexistent/tty"), std::string::npos) << err;
  EXPECT_FALSE(runner.running());

  opts.device = testing::TempDir();  // not a terminal
  EXPECT_FALSE(runner.start(opts, &err));

  ASSERT_TRUE(runner.start({}, &err)) << err;
  EXPECT_FALSE(runner.start({}, &err));  // already running
}

TEST_F(RunnerTest, SimulatorTimeComesFromTheGivenClock) {
  std::atomic<uint64_t> now{0};
  sim_.set_pv(1, Signal::ramp(0, 100, 1000));
  RunnerOptions opts;
  opts.clock = [&] { return now.load(); };
  Runner runner(sim_);
  ASSERT_TRUE(runner.start(opts, nullptr));
  plat::Pty port = open_client(runner.path());
  ASSERT_TRUE(write_text(port, "#01HD\r"));
  EXPECT_EQ(read_answer(port), answer_frame(1, "=0A"));
  now = 750;
  ASSERT_TRUE(write_text(port, "#01HD\r"));
  EXPECT_EQ(read_answer(port), answer_frame(1, "=75A"));
}

TEST(SimLine, MapsTheDriversPortWhileItLives) {
  {
    SimLine line(7);
    ASSERT_TRUE(line.ok()) << line.error();
    EXPECT_EQ(line.env_name(), "KORVELPLNK_COM7");
    const std::string path = plat::get_env("KORVELPLNK_COM7");
    ASSERT_EQ(path, line.path());
    plat::Pty port = open_client(path);
    ASSERT_TRUE(write_text(port, request_frame("#02")));
    EXPECT_EQ(read_answer(port), answer_frame(2, "=-3.75J"));
    line.sim().add_fault(2, {FaultKind::Refuse});
    ASSERT_TRUE(write_text(port, request_frame("#02")));
    EXPECT_EQ(read_answer(port), answer_frame(2, "?"));
  }
  EXPECT_EQ(plat::get_env("KORVELPLNK_COM7"), "");
}

TEST(Pty, ClosedLineFailsEveryCall) {
  plat::Pty port;
  char buf[4];
  EXPECT_FALSE(port.is_open());
  EXPECT_EQ(port.read(buf, sizeof buf, 0), -1);
  EXPECT_FALSE(port.write("x", 1, 0));
  port.wake();
  port.flush();
  port.close();
  EXPECT_EQ(port.open_path("/nonexistent/tty"), plat::OpenResult::Missing);
  EXPECT_FALSE(plat::last_error_text().empty());
}

TEST(Pty, PairCarriesBytesBothWaysAndWakes) {
  plat::Pty master;
  ASSERT_EQ(master.open_pair(), plat::OpenResult::Ok) << plat::last_error_text();
  plat::Pty slave = open_client(master.path());
  const std::string all_bytes = [] {
    std::string s;
    for (int c = 0; c < 256; ++c) s += static_cast<char>(c);
    return s;
  }();
  // Raw mode: every byte value passes unchanged, no echo, no CR/LF mapping.
  ASSERT_TRUE(slave.write(all_bytes.data(), all_bytes.size(), kWaitMs));
  std::string got;
  char buf[512];
  while (got.size() < all_bytes.size()) {
    const long n = master.read(buf, sizeof buf, kWaitMs);
    ASSERT_GT(n, 0);
    got.append(buf, static_cast<size_t>(n));
  }
  EXPECT_EQ(got, all_bytes);
  EXPECT_EQ(slave.read(buf, sizeof buf, 0), 0);  // nothing echoed back

  master.wake();
  EXPECT_EQ(master.read(buf, sizeof buf, kWaitMs), 0);  // woken, not waited out

  plat::Pty moved = std::move(master);
  EXPECT_FALSE(master.is_open());
  EXPECT_TRUE(moved.is_open());
  moved.close();
  EXPECT_EQ(slave.read(buf, sizeof buf, kWaitMs), -1);  // the pair is gone
}

}  // namespace
}  // namespace korvel::sim
