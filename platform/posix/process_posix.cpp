#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "platform/process.h"

extern char** environ;

namespace korvel::plat {
namespace {

// A shell starts the program in the background and exits at once, so the program is never a
// child of the host process (no zombie, no signal handler needed) and the caller does not wait.
bool spawn_detached(const std::vector<std::string>& argv) {
  // The shell's exit status says whether the program exists; it does not wait for the program.
  std::vector<std::string> args = {"/bin/sh", "-c",
                                   "command -v \"$0\" >/dev/null 2>&1 || exit 127; "
                                   "\"$0\" \"$@\" </dev/null >/dev/null 2>&1 &"};
  args.insert(args.end(), argv.begin(), argv.end());
  std::vector<char*> raw;
  for (auto& a : args) raw.push_back(a.data());
  raw.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, raw.data(), environ) != 0) return false;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

bool start_program(const std::string& program, const std::vector<std::string>& args, bool /*maximised*/) {
  if (program.empty()) return false;
  std::vector<std::string> argv = {program};
  argv.insert(argv.end(), args.begin(), args.end());
  return spawn_detached(argv);
}

bool open_url(const std::string& url) {
  return spawn_detached({"xdg-open", url});
}

bool run_self_again(const std::vector<std::string>& args) {
  if (args.empty()) return false;
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  // The running program's own file, whatever its name was or has become on the disk.
  ::execv("/proc/self/exe", argv.data());
  return false;
}

}  // namespace korvel::plat
