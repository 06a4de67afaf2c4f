// Logging, messages and run statistics of TBaseDLLObject.
#include <cmath>
#include <cstdio>
#include <mutex>
#include <string>

#include "driver/getfileinfo.h"
#include "framework/DLLBase.h"
#include "framework/XSysInfo.h"
#include "platform/clock.h"
#include "platform/datetime.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/sysinfo.h"
#include "platform/text.h"

namespace korvel {
namespace {

constexpr int64_t kMaxLogSize = 500000;
constexpr const char* kLogBase = "KorvelPLNK";

// Function statics: the library's load hook sets the name before this unit's globals exist.
std::mutex& log_name_mutex() {
  static std::mutex m;
  return m;
}
std::string& log_name() {
  static std::string name;
  return name;
}

std::string dir_of(const std::string& path) {
  const size_t cut = path.find_last_of("/\\");
  return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

std::string without_extension(const std::string& path) {
  const size_t dot = path.find_last_of('.');
  const size_t sep = path.find_last_of("/\\");
  if (dot == std::string::npos || (sep != std::string::npos && dot < sep)) return path;
  return path.substr(0, dot);
}

std::string now_text() {
  return plat::datetime_text(plat::now_datetime());
}

bool same_letters(const std::string& text, size_t pos, const char* word) {
  for (size_t i = 0; word[i] != '\0'; ++i, ++pos) {
    if (pos >= text.size()) return false;
    const auto up = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
    if (up(text[pos]) != up(word[i])) return false;
  }
  return true;
}

// Reads a rotated log's name, KorvelPLNKyyyy-mm-dd-hh-nn-ss.LOG with an optional counter "-n"
// before the extension; day receives its date (time of day 0). False for any other name.
bool rotated_log_day(const std::string& file, double& day) {
  const size_t base = std::char_traits<char>::length(kLogBase);
  if (!same_letters(file, 0, kLogBase) || file.size() < base + 19 + 4) return false;
  int parts[6] = {};
  size_t p = base;
  for (int i = 0; i < 6; ++i) {
    const int digits = i == 0 ? 4 : 2;
    for (int k = 0; k < digits; ++k, ++p) {
      if (file[p] < '0' || file[p] > '9') return false;
      parts[i] = parts[i] * 10 + (file[p] - '0');
    }
    if (i < 5 && file[p++] != '-') return false;
  }
  if (p < file.size() && file[p] == '-') {
    const size_t first = ++p;
    while (p < file.size() && file[p] >= '0' && file[p] <= '9') ++p;
    if (p == first) return false;
  }
  if (file.size() != p + 4 || !same_letters(file, p, ".LOG")) return false;
  if (parts[1] < 1 || parts[1] > 12 || parts[2] < 1 || parts[2] > 31) return false;
  day = plat::encode_datetime({parts[0], parts[1], parts[2], 0, 0, 0, 0});
  return true;
}

std::mutex& rotation_mutex() {
  static std::mutex m;
  return m;
}

// Creates the time-stamped file that follows the log `current` and makes it the process's log.
// A rotated file is never overwritten: when another process (or an earlier rotation within the
// same second) holds the name, a counter is added ("-1", "-2" ...). Threads rotating together
// agree on one new file. Returns the name to write to (the old one when nothing could be created).
std::string rotate_log(const std::string& current) {
  std::lock_guard<std::mutex> lock(rotation_mutex());
  const std::string now = LogFileName();
  if (now != current) return now;  // another thread rotated already
  const std::string stem = dir_of(current) + kLogBase + plat::rotation_stamp(plat::now_datetime());
  for (int n = 0; n < 1000; ++n) {
    const std::string name = stem + (n == 0 ? std::string() : "-" + std::to_string(n)) + ".LOG";
    if (plat::create_new_file(name)) {
      SetLogFileName(name);
      return name;
    }
    if (!plat::file_exists(name)) break;  // nothing can be created there
  }
  return current;
}

// Rounds halves to even, as the statistics report does.
long long round_even(double v) {
  return static_cast<long long>(std::nearbyint(v));
}

std::string general(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15g", v);
  return buf;
}

}  // namespace

std::string LogFileName() {
  std::lock_guard<std::mutex> lock(log_name_mutex());
  return log_name();
}

void SetLogFileName(const std::string& name) {
  std::lock_guard<std::mutex> lock(log_name_mutex());
  log_name() = name;
}

std::string ComputeLogFileName() {
  const char sep = plat::path_separator();
  const std::string hostDir = HostDirectory();
  const std::string ini = hostDir + "Sentrel.ini";
  if (!plat::file_exists(ini))
    return plat::native_path(std::string(".") + sep + "Debug" + sep + kLogBase + ".Log");
  const std::string project = plat::read_ini_string(ini, "WORKING", "DefaultPROJECT", std::string(".") + sep);
  // The project directory is the value up to its last separator (the whole value when it ends with one).
  const std::string projectDir = dir_of(project);
  return plat::native_path(projectDir + "Debug" + sep + kLogBase + ".Log");
}

void TBaseDLLObject::SetLogMsg(const std::string& text) {
  try {
    std::string name = LogFileName();
    if (name.empty()) {
      name = ComputeLogFileName();
      SetLogFileName(name);
    }
    const std::string dir = dir_of(name);
    if (!dir.empty() && !plat::directory_exists(dir)) plat::create_directories(dir);
    if (plat::file_size(name) > kMaxLogSize) name = rotate_log(name);
    plat::append_shared(name, text);
  } catch (...) {
    // A lost log line must never disturb the driver.
  }
}

void TBaseDLLObject::LogLine(const std::string& text) {
  SetLogMsg(now_text() + text);
}

void TBaseDLLObject::LogException(const char* className, const char* method, bool withCR) {
  if (!Parm.ErrorLog) return;
  SetLogMsg(now_text() + GBK("：") + className + "." + method + GBK("异常！") + (withCR ? "\r" : "") + "\n");
}

void TBaseDLLObject::LogExceptionNoThrow(const char* className, const char* method) noexcept {
  try {
    LogException(className, method);
  } catch (...) {
  }
}

void TBaseDLLObject::SetEnLog(bool value) {
  EnLog = value && LogAllowed;
}

void TBaseDLLObject::WriteCommEvent(const std::string& text) {
  Guarded("TBaseDLLObject", "WriteCommEvent", [&] { sErrEvent = text; });
}

void TBaseDLLObject::WriteDevMsg(const std::string& text) {
  Guarded("TBaseDLLObject", "WriteDevMsg", [&] { DevMsg = text; });
}

namespace {

// True the first time it is asked for this log name and day in this process.
bool first_clean_up_today(const std::string& name, double today) {
  static std::mutex mu;
  static std::string lastName;
  static double lastDay = -1;
  std::lock_guard<std::mutex> lock(mu);
  if (name == lastName && today == lastDay) return false;
  lastName = name;
  lastDay = today;
  return true;
}

}  // namespace

void TBaseDLLObject::CheckLogFile() {
  try {
    std::string name = LogFileName();
    if (name.empty()) {
      name = ComputeLogFileName();
      SetLogFileName(name);
    }
    if (plat::file_size(name) > kMaxLogSize) {
      rotate_log(name);
    } else if (!plat::file_exists(name)) {
      const std::string dir = dir_of(name);
      if (!dir.empty()) plat::create_directories(dir);
      plat::create_new_file(name);  // another process may have created it meanwhile: keep its lines
    }
    const std::string base = without_extension(name);
    const double today = std::floor(plat::now_datetime());
    // Logs age by whole days: one clean-up per log and day is enough. Instances are created often
    // (a host editor makes one per address it checks), and each clean-up looks at 71 names and the
    // whole folder.
    if (!first_clean_up_today(name, today)) return;
    for (int age = 30; age <= 100; ++age) {
      const std::string old = base + plat::date_text(today - age) + ".LOG";
      if (plat::file_exists(old)) plat::delete_file(old);
    }
    // Rotated logs age by the date in their names, by the same rule; the file in use stays.
    const std::string dir = dir_of(name);
    const std::string inUse = LogFileName();
    for (const std::string& file : plat::list_files(dir)) {
      double day = 0;
      if (!rotated_log_day(file, day)) continue;
      const double age = today - day;
      if (age >= 30 && age <= 100 && dir + file != inUse) plat::delete_file(dir + file);
    }
  } catch (...) {
  }
}

namespace {

// The processor and system lines of the banner ("" for a line the OS gives nothing for). The facts
// do not change while the process runs, and reading them costs more than the rest of an instance's
// start: a host editor checking thousands of addresses creates an instance per check.
struct BannerFacts {
  std::string cpu, platform;
};
const BannerFacts& banner_facts() {
  static const BannerFacts facts = [] {
    BannerFacts f;
    const plat::ProcessorDescription cpu = plat::processor_description();
    if (cpu.available)
      f.cpu = GBK("：[") + (cpu.name.empty() ? cpu.vendor + cpu.identifier : cpu.name) + "]\r\n";
    TOperatingSystemInfo os(nullptr);
    f.platform = GBK("：[") + os.Platform + "] \r\n";
    return f;
  }();
  return facts;
}

// The five memory lines, each with its date-time; the figures are read now.
std::string memory_lines() {
  const plat::MemoryFacts m = plat::memory_facts();
  const int64_t mb = 1048576;
  const std::string t = now_text();
  return t + GBK("：已使用内存 = ") + std::to_string(m.memory_load) + " %\r\n" + t + GBK("：总物理内存 = ") +
         std::to_string(m.total_physical / mb) + " MB\r\n" + t + GBK("：可用物理内存 = ") +
         std::to_string(m.available_physical / mb) + " MB\r\n" + t + GBK("：总虚拟内存 = ") +
         std::to_string(m.total_virtual / mb) + " MB\r\n" + t + GBK("：可用虚拟内存 = ") +
         std::to_string(m.available_virtual / mb) + " MB\r\n";
}

}  // namespace

void TBaseDLLObject::WriteMemoryLines() {
  SetLogMsg(memory_lines());
}

void TBaseDLLObject::WriteBanner() {
  try {
    // One append for the whole banner: its lines stay together, and a start costs one write.
    const BannerFacts& facts = banner_facts();
    const std::string t = now_text();
    std::string text;
    if (!facts.cpu.empty()) text += t + facts.cpu;
    text += t + facts.platform;
    text += memory_lines();
    const TfileInfo& host = HostInfo();
    const TfileInfo& lib = Vocabulary();
    text +=
        t + GBK("：启动") + host[fiFileDescription] + GBK("[文件版本") + host[fiFileVersion] + "]  ...\r\n";
    text += t + GBK("：启动驱动程序") + lib[fiDeviceName] + "  ...\r\n";
    text += t + GBK("：驱动程序版本") + lib[fiFileVersion] + "  ...\r\n";
    SetLogMsg(text);
    LogAllowed = true;
  } catch (...) {
    LogAllowed = false;
  }
}

void TBaseDLLObject::Stop() {
  if (!TagListReady) return;
  try {
    // Before the counts are written: the writes that will not go out now are among the failures.
    DropUnsentWrites();
    const uint64_t endTick = plat::tick_ms();
    const double runTime = static_cast<double>(endTick - StartTick);
    SetLogMsg("\r\n");
    for (TCommand* cmd : CommandList) {
      if (cmd != nullptr && cmd->NextCommand != nullptr) FreeCommand(cmd->NextCommand);
    }
    for (const auto& tag : TagList) {
      long long period = 0, rate = 0;
      if (tag->ReadTotal > 0) {
        const double r = tag->ReadErrors * 100.0 / tag->ReadTotal;
        rate = r < 0 ? 0 : round_even(r);
        period = round_even(runTime / tag->ReadTotal);
      }
      // One append per line: instances stopping together must not interleave inside a line.
      std::string line = now_text() + GBK("：标签") + tag->TagName + GBK("，地址=") + tag->TagAddr +
                         GBK("，读扫描周期(毫秒)=") + std::to_string(period) + GBK("，读操作失败率= ") +
                         std::to_string(rate) + "%";
      if (tag->WriteOnly) {
        const long long w = tag->WriteTotal > 0 ? round_even(tag->WriteErrors * 100.0 / tag->WriteTotal) : 0;
        line += GBK("，写操作总次数=") + std::to_string(tag->WriteTotal) + GBK("，写操作失败率= ") +
                std::to_string(w) + "%";
      }
      SetLogMsg(line + "\r\n");
    }
    WriteMemoryLines();
    SetLogMsg("\r\n" + now_text() + GBK("：本次运行总时间（毫秒）=") + general(runTime) + "\r\n");
    ReleaseTagTable();
    const double writeRate = WriteCommCount ? WriteTimeoutCount * 100.0 / WriteCommCount : 0.0;
    const double readRate = ReadCommCount ? ReadTimeoutCount * 100.0 / ReadCommCount : 0.0;
    LogLine(GBK("：读操作失败总次数= ") + std::to_string(ReadFailCount) + "\r\n");
    LogLine(GBK("：写操作失败总次数= ") + std::to_string(WriteFailCount) + "\r\n");
    LogLine(GBK("：写通讯总次数= ") + std::to_string(WriteCommCount) + "\r\n");
    LogLine(GBK("：通讯写超时总次数= ") + general(WriteTimeoutCount) + "\r\n");
    LogLine(GBK("：通讯写超时率= ") + general(writeRate) + "%\r\n");
    LogLine(GBK("：读通讯总次数= ") + std::to_string(ReadCommCount) + "\r\n");
    LogLine(GBK("：通讯读超时次数= ") + general(ReadTimeoutCount) + "\r\n");
    LogLine(GBK("：通讯读超时率= ") + general(readRate) + "%\r\n");
    const TfileInfo& host = HostInfo();
    const TfileInfo& lib = Vocabulary();
    LogLine(GBK("：启动") + host[fiFileDescription] + GBK("[文件版本") + host[fiFileVersion] + "]  ...\r\n");
    LogLine(GBK("：") + lib[fiDeviceName] + GBK("驱动程序版本") + lib[fiFileVersion] + GBK("退出运行！") +
            "\r\n");
    SetLogMsg(std::string(60, '-') + "\r\n");
    Stopped = true;
    TagListReady = false;
  } catch (...) {
    LogExceptionNoThrow("TBaseDLLObject", "Stop");
  }
}

void TBaseDLLObject::ReleaseTagTable() {
  ReleaseCommands();
  TagList.clear();
  TagIDMap.clear();
  InternalTags.clear();
  LineLinkTags.clear();
  for (auto& list : DevLinkTags) list.clear();
  for (auto& list : DevTags) list.clear();
  LinkStampCount = 0;
  Changed.clear();
  TagCount = 0;
}

}  // namespace korvel
