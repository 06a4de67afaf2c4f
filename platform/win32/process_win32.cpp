#include <windows.h>
// needs the types of windows.h
#include <shellapi.h>

#include "platform/process.h"

namespace korvel::plat {
namespace {

std::string quoted(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
  std::string q = "\"";
  for (char c : arg) {
    if (c == '"') q += '\\';
    q += c;
  }
  return q + "\"";
}

}  // namespace

bool run_self_again(const std::vector<std::string>&) {
  return false;
}

bool start_program(const std::string& program, const std::vector<std::string>& args, bool maximised) {
  if (program.empty()) return false;
  std::string cmd = quoted(program);
  for (const std::string& a : args) cmd += " " + quoted(a);
  // WinExec returns at once; values above 31 mean the program was started.
  return WinExec(cmd.c_str(), maximised ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL) > 31;
}

bool open_url(const std::string& url) {
  const HINSTANCE r = ShellExecuteA(nullptr, "open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  return reinterpret_cast<INT_PTR>(r) > 32;
}

}  // namespace korvel::plat
