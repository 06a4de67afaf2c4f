#include "sim/sim_line.h"

#include "platform/env.h"

namespace korvel::sim {

SimLine::SimLine(int com, bool test_line, RunnerOptions opts) {
  if (test_line) sim_.load_test_line();
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
