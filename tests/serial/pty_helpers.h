// Pseudo-terminal helpers shared by the serial tests: a pair whose slave stands in for a COM port,
// reached through a symbolic link that the test can re-point, and bounded waits on both sides.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>

#include "platform/clock.h"
#include "platform/env.h"
#include "platform/pty.h"
#include "serial/DLLComm.h"

namespace korvel::serial_test {

constexpr int kWaitMs = 5000;  // only a broken port ever waits this long

// Reads from the master side until n bytes came, the line stays quiet for kWaitMs, or it is gone.
inline std::string ReadMaster(plat::Pty& master, size_t n) {
  std::string out;
  char buf[512];
  while (out.size() < n) {
    const long got = master.read(buf, std::min(sizeof buf, n - out.size()), kWaitMs);
    if (got <= 0) break;
    out.append(buf, static_cast<size_t>(got));
  }
  return out;
}

// Everything the master can read right now (waiting at most ms for each chunk).
inline std::string DrainMaster(plat::Pty& master, int ms = 50) {
  std::string out;
  char buf[4096];
  for (;;) {
    const long got = master.read(buf, sizeof buf, ms);
    if (got <= 0) break;
    out.append(buf, static_cast<size_t>(got));
  }
  return out;
}

// Polls ReadAll (which never waits) until the received text has at least n bytes; bounded.
inline std::string ReadAllUntil(TCommClass& port, size_t n) {
  std::string text = port.ReadAll();
  for (int i = 0; i < kWaitMs && text.size() < n; ++i) {
    plat::sleep_ms(1);
    text = port.ReadAll();
  }
  return text;
}

// A block with defaults on the given port.
inline PDB MakeBlock(uint8_t comPort) {
  PDB block{};
  FillPDBDefaults(&block);
  block.ComPort = comPort;
  return block;
}

// A fresh pair, a link to its slave in a private directory, KORVELPLNK_COM3 pointing at the link
// (ComPort 2), and a clock that jumps 1 s per reading so that the open retry ends at once.
class PtyPortTest : public testing::Test {
 protected:
  static constexpr uint8_t kComPort = 2;  // "Com3"

  void SetUp() override {
    std::random_device rd;
    dir_ = std::filesystem::temp_directory_path() / ("korvel_serial_" + std::to_string(rd()));
    std::filesystem::create_directories(dir_);
    link_ = (dir_ / "ttyCom3").string();
    ASSERT_EQ(master_.open_pair(), plat::OpenResult::Ok) << plat::last_error_text();
    Repoint(master_.path());
    plat::set_env("KORVELPLNK_COM3", link_);
    plat::set_test_clock([this] { return clock_ += 1000; });
  }

  void TearDown() override {
    plat::set_test_clock({});
    plat::unset_env("KORVELPLNK_COM3");
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  void Repoint(const std::string& target) {
    std::error_code ec;
    std::filesystem::remove(link_, ec);
    std::filesystem::create_symlink(target, link_);
  }

  bool OpenPort(TCommClass& port, const PDB& block, std::string* message = nullptr) {
    std::string msg;
    const bool ok = port.Open(&block, msg);
    if (message) *message = msg;
    return ok;
  }

  std::filesystem::path dir_;
  std::string link_;
  plat::Pty master_;
  uint64_t clock_ = 0;
};

}  // namespace korvel::serial_test
