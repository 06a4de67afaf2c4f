#include "sim/sim_line.h"

#include <filesystem>
#include <random>
#include <system_error>

#include "platform/env.h"

namespace korvel::sim {

SimLine::SimLine(int com, bool test_line, RunnerOptions opts) {
  if (test_line) sim_.load_test_line();
  // The driver reaches the line through a name of its own, never the bare terminal path: once the
  // line is closed, the system hands that terminal number to the next program that asks, and a
  // driver reopening it would talk to a stranger's line (another test running beside this one).
  if (opts.link.empty() && opts.device.empty()) {
    std::error_code ec;
    const std::filesystem::path tmp = std::filesystem::temp_directory_path(ec);
    opts.link = (ec ? std::filesystem::path("/tmp") : tmp) /
                ("korvel-simline-" + std::to_string(std::random_device{}()) + "-" +
                 std::to_string(std::random_device{}()));
  }
  ok_ = runner_.start(std::move(opts), &error_);
  if (ok_ && com > 0) {
    env_ = "KORVELPLNK_COM" + std::to_string(com);
    plat::set_env(env_, runner_.path());
  }
}

SimLine::~SimLine() {
  runner_.stop();
  if (!env_.empty()) plat::unset_env(env_);
}

}  // namespace korvel::sim
