// A simulated line for tests in one object: a ModuleSim served on a new pseudo-terminal, with the
// driver's port "ComN" pointed at it (KORVELPLNK_COMN) for as long as the object lives, through a
// symbolic link of its own unless the options name one.
#pragma once
#include <string>

#include "sim/module_sim.h"
#include "sim/runner.h"

namespace korvel::sim {

class SimLine {
 public:
  // Starts at once; com 0 maps no port. With test_line the stations of test_line::kStations are
  // configured first. Check ok() (and error()) before use.
  explicit SimLine(int com = 1, bool test_line = true, RunnerOptions opts = {});
  ~SimLine();
  SimLine(const SimLine&) = delete;
  SimLine& operator=(const SimLine&) = delete;

  bool ok() const { return ok_; }
  const std::string& error() const { return error_; }
  ModuleSim& sim() { return sim_; }
  Runner& runner() { return runner_; }
  std::string path() const { return runner_.path(); }
  // Name of the environment variable set, e.g. "KORVELPLNK_COM1"; empty for com 0.
  const std::string& env_name() const { return env_; }

 private:
  ModuleSim sim_;
  Runner runner_{sim_};
  std::string env_;
  std::string error_;
  bool ok_ = false;
};

}  // namespace korvel::sim
