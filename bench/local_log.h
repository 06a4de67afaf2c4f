// The driver's log in a file of its own temporary folder, as a host logs to a local disk; the
// folder is removed when the benchmark ends.
#pragma once
#include <chrono>
#include <filesystem>
#include <string>
#include <system_error>

#include "framework/DLLBase.h"

namespace korvel::bench {

class LocalLog {
 public:
  explicit LocalLog(const std::string& name)
      : dir_(std::filesystem::temp_directory_path() /
             (name + "_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()))) {
    std::filesystem::create_directories(dir_);
    SetLogFileName((dir_ / "KorvelPLNK.Log").string());
  }
  ~LocalLog() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  LocalLog(const LocalLog&) = delete;
  LocalLog& operator=(const LocalLog&) = delete;

 private:
  std::filesystem::path dir_;
};

}  // namespace korvel::bench
