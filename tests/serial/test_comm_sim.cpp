// TCommClass against the module simulator on a pseudo-terminal, as the protocol layer uses it:
// send a request, collect with ReadAll once per "poll", survive the line vanishing.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "platform/clock.h"
#include "platform/env.h"
#include "pty_helpers.h"
#include "serial/DLLComm.h"
#include "sim/faults.h"
#include "sim/module_sim.h"
#include "sim/runner.h"

namespace korvel::serial_test {
namespace {

// Sends a frame and polls ReadAll until the answer's CR arrived (bounded).
std::string Exchange(TCommClass& port, const std::string& request) {
  if (!port.SendText(request)) return "<not sent>";
  std::string text = port.ReadAll();
  for (int i = 0; i < kWaitMs && text.find('\r') == std::string::npos; ++i) {
    plat::sleep_ms(1);
    text = port.ReadAll();
  }
  return text;
}

class TCommClassSim : public testing::Test {
 protected:
  void SetUp() override {
    std::random_device rd;
    dir_ = std::filesystem::temp_directory_path() / ("korvel_serial_sim_" + std::to_string(rd()));
    std::filesystem::create_directories(dir_);
    sim_.load_test_line();
    sim::RunnerOptions opts;
    opts.link = (dir_ / "ttySim").string();
    std::string err;
    ASSERT_TRUE(runner_.start(opts, &err)) << err;
    plat::set_env("KORVELPLNK_COM1", runner_.path());
  }
  void TearDown() override {
    runner_.stop();
    plat::unset_env("KORVELPLNK_COM1");
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  std::filesystem::path dir_;
  sim::ModuleSim sim_;
  sim::Runner runner_{sim_};
};

TEST_F(TCommClassSim, ExchangesFramesWithModules) {
  TCommClass port(nullptr, true);
  std::string msg;
  PDB block = MakeBlock(0);
  ASSERT_TRUE(port.Open(&block, msg)) << msg;
  EXPECT_EQ(Exchange(port, "#01HD\r"), "=12.5AJE\r");
  EXPECT_EQ(Exchange(port, "#010001DE\r"), "=4.5AGF\r");
  // Each send starts from an empty text, so answers never run together.
  EXPECT_EQ(Exchange(port, "#01HD\r"), "=12.5AJE\r");
}

TEST_F(TCommClassSim, PollingRecoversAfterTheLineVanishes) {
  TCommClass port(nullptr, true);
  std::string msg;
  PDB block = MakeBlock(0);
  ASSERT_TRUE(port.Open(&block, msg)) << msg;
  ASSERT_EQ(Exchange(port, "#01HD\r"), "=12.5AJE\r");

  runner_.drop_line(300);
  // Polls find the line gone and close the port.
  for (int i = 0; i < kWaitMs && port.IsOpen(); ++i) {
    port.ReadAll();
    if (port.IsOpen()) plat::sleep_ms(1);
  }
  EXPECT_FALSE(port.IsOpen());
  // The next send reopens it once the line is back. (It waits for the line: while the line is
  // away the simulator's link still names the old pseudo-terminal, whose number another process
  // may already have been given.)
  for (int i = 0; i < kWaitMs && runner_.reopen_count() == 0; ++i) plat::sleep_ms(1);
  ASSERT_EQ(runner_.reopen_count(), 1u);
  std::string answer;
  for (int i = 0; i < 20 && answer != "=12.5AJE\r"; ++i) answer = Exchange(port, "#01HD\r");
  EXPECT_EQ(answer, "=12.5AJE\r");
  EXPECT_TRUE(port.IsOpen());
}

}  // namespace
}  // namespace korvel::serial_test
