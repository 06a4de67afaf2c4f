// korvel-soak: the library under a long, unkind load, driven through its exports as a host drives
// it. 100 modules x 10 tags at 115200 baud against the simulator on a pseudo-terminal, about 1 % of
// the exchanges spoilt by the fault campaign's faults (the line ceasing to drain among them), a
// password write every 100 ms, the line vanishing now and then. Every 30 s it prints what a leak or a lie
// would show: resident memory, open descriptors, the longest OnDataRead, wrong values and lost writes (both
// must stay 0).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "cli/blockfile.h"
#include "cli/host_exports.h"
#include "cli/ledger.h"
#include "driver/records.h"
#include "exports/KorvelPLNK.h"
#include "platform/clock.h"
#include "platform/dynlib.h"
#include "platform/env.h"
#include "sim/faults.h"
#include "sim/runner.h"

using namespace korvel;

namespace {

constexpr int kModules = 100;
constexpr uint32_t kBaud = 115200;
constexpr double kFaultShare = 0.01;
constexpr uint64_t kWriteEveryMs = 100;
constexpr uint64_t kReportEveryMs = 30000;
constexpr uint64_t kWriteLostAfterMs = 30000;  // the write queue gives up after 10 s

volatile std::sig_atomic_t g_stop = 0;
void on_signal(int) {
  g_stop = 1;
}

using Exports = cli::HostExports;

// Each module's values, distinct across the line so that a borrowed value shows.
double pv_of(int st) {
  return st + 0.25;
}
double ao_of(int st) {
  return -(st + 0.5);
}
int alarm_of(int st) {
  return st % 16;
}
double param_of(int st, int p) {
  return 1000.0 * (p - 0x0F) + st;
}

// Resident memory and open descriptors of this process, from /proc (-1 where there is none).
long long resident_kib() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::atoll(line.c_str() + 6);
  return -1;
}
long long open_descriptors() {
  std::error_code ec;
  long long n = 0;
  for (std::filesystem::directory_iterator it("/proc/self/fd", ec), end; !ec && it != end; it.increment(ec))
    ++n;
  return ec ? -1 : n;
}

struct Tags {
  std::vector<TTagInfo> infos;
  std::vector<int> station;  // by tag index
  std::vector<int> kind;     // 0 value, 1 password, 2 other
};

void add_tag(Tags& t, const std::string& addr, uint8_t type, int st, int kind) {
  TTagInfo info;
  std::memset(&info, 0, sizeof info);
  info.TagID = static_cast<int32_t>(t.infos.size() + 1);
  std::snprintf(info.TagName, sizeof info.TagName, "t%d", info.TagID);
  std::snprintf(info.TagAddr, sizeof info.TagAddr, "%s", addr.c_str());
  info.TagType = type;
  info.ScanPeriod = 0;
  t.infos.push_back(info);
  t.station.push_back(st);
  t.kind.push_back(kind);
}

// The simulated line: kModules modules with their distinct values.
void configure_modules(sim::ModuleSim& simulator) {
  for (int st = 0; st < kModules; ++st) {
    sim::ModuleConfig m = sim::ModuleConfig::with_defaults(sim::Family::PLNK);
    m.pv = sim::Signal(pv_of(st));
    m.ao = sim::Signal(ao_of(st));
    m.alarm = sim::Signal(alarm_of(st));
    m.params[0x10] = sim::Signal(param_of(st, 0x10));
    m.params[0x11] = sim::Signal(param_of(st, 0x11));
    simulator.set_module(st, m);
  }
  simulator.set_log_limit(2000);
  simulator.set_write_limit(4);  // the counts are what the soak reads
}

// What the wire saw, counted on the simulator's thread.
struct WireCount {
  std::atomic<uint64_t> requests{0}, writesOnWire{0};
  std::mutex swallowMu;
  std::vector<int> swallowed = std::vector<int>(kModules, 0);  // password writes a vanishing line took
                                                               // with it unread
  void watch(sim::ModuleSim& simulator) {
    simulator.set_log_sink([this](const sim::WireEvent& e) {
      if (e.dir == sim::WireEvent::Dir::Line) {
        std::lock_guard<std::mutex> lock(swallowMu);
        for (size_t at = e.bytes.find('%'); at != std::string::npos && at + 2 < e.bytes.size();
             at = e.bytes.find('%', at + 1)) {
          const char a = e.bytes[at + 1], b = e.bytes[at + 2];
          if (a >= '0' && a <= '9' && b >= '0' && b <= '9')
            ++swallowed[static_cast<size_t>((a - '0') * 10 + b - '0')];
        }
        return;
      }
      if (e.dir != sim::WireEvent::Dir::Received) return;
      ++requests;
      if (!e.bytes.empty() && e.bytes[0] == '%') ++writesOnWire;
    });
  }
};

// The block and the tags: per module its value, alarm word (as a number and two bits), two
// parameters, its output, its password and its link text (as text and number). False on failure.
bool build_line(PDB& block, Tags& tags, cli::Ledger& ledger, std::vector<int32_t>& passwordTag) {
  block.ComPort = 0;
  block.BaudRate = static_cast<uint8_t>(cli::baud_index(kBaud));
  block.TimeOut = sim::test_line::kCampaignTimeOutMs;
  for (TDevInfo& d : block.Devices) {
    d.DevType = 2;
    d.DevTypeName.set("");
  }
  std::string err;
  for (int st = 0; st < kModules; ++st) {
    if (!cli::add_module(block, std::to_string(st) + ":PLNK", err)) {
      std::fprintf(stderr, "korvel-soak: %s\n", err.c_str());
      return false;
    }
    const std::string n = std::to_string(st);
    const int bits = alarm_of(st);
    const auto expect = [&](const std::string& addr, uint8_t type, double value) {
      add_tag(tags, addr, type, st, 0);
      ledger.expect(tags.infos.back().TagID, {value});
    };
    expect("PV" + n + ":1", kTypeReal, pv_of(st));
    expect("PV_ALARM" + n + ":1", kTypeReal, 0x40 + static_cast<double>(bits));
    expect("PV_ALARM" + n + ":1", kTypeBool, (bits & 1) ? 1.0 : 0.0);
    expect("PV_ALARM" + n + ":3", kTypeBool, (bits & 4) ? 1.0 : 0.0);
    expect("PARM" + n + ":10", kTypeReal, param_of(st, 0x10));
    expect("PARM" + n + ":11", kTypeReal, param_of(st, 0x11));
    expect("AO" + n + ":1", kTypeReal, ao_of(st));
    add_tag(tags, "SetPassWord" + n + ":0", kTypeBool, st, 1);
    passwordTag[static_cast<size_t>(st)] = tags.infos.back().TagID;
    add_tag(tags, "DEVICELINK" + n, kTypeString, st, 2);
    add_tag(tags, "DEVICELINK" + n, kTypeReal, st, 2);
  }
  return true;
}

// The run: writes, faults and vanishing lines on their schedules, a poll at the driver's pace, and
// the ledger's account of every value and write.
class Soak {
 public:
  Soak(const Exports& x, sim::ModuleSim& simulator, sim::Runner& runner, WireCount& wire, Tags& tags,
       cli::Ledger& ledger, std::vector<int32_t> passwordTag)
      : x_(x),
        sim_(simulator),
        runner_(runner),
        wire_(wire),
        tags_(tags),
        ledger_(ledger),
        passwordTag_(std::move(passwordTag)),
        buf_(tags.infos.size() + 1),
        passwordOn_(kModules, false) {}

  void Run(double minutes) {
    const uint64_t start = plat::monotonic_ms();
    const auto endMs = static_cast<uint64_t>(minutes * 60000);
    nextVanish_ = 45000 + rng_() % 45000;
    std::printf("korvel-soak: %d modules x 10 tags at %u baud on %s for %.1f min\n", kModules, kBaud,
                runner_.path().c_str(), minutes);
    std::printf("%7s %10s %5s %12s %12s %8s %9s %8s %6s %6s %5s %5s\n", "time", "RSS(KiB)", "fds",
                "longest(ms)", "no-write(ms)", "own(ms)", "exchanges", "faults", "writes", "failed", "wrong",
                "lost");
    std::fflush(stdout);
    for (;;) {
      const uint64_t now = plat::monotonic_ms() - start;
      const bool last = g_stop || now >= endMs;
      if (!last) {
        WriteAPassword(now);
        SpoilExchanges(now);
        DropTheLine(now);
      }
      Poll(now);
      FollowWrites(now);
      if (last || now >= nextReport_) Report(now);
      if (last) break;
      const uint16_t period = x_.DetectScanTime();
      plat::sleep_ms(period == 0 ? 1 : period);
    }
  }

  // The closing line; the exit status (0: no wrong value, no lost write).
  int Summary() const {
    std::printf(
        "polls %llu, line vanished %llu times, writes accepted %lld: reached %lld, failed %lld, taken unread "
        "by the vanishing line %lld, lost %lld; wrong values %lld%s%s\n",
        static_cast<unsigned long long>(polls_), static_cast<unsigned long long>(vanishes_),
        static_cast<long long>(ledger_.accepted()), static_cast<long long>(ledger_.reached()),
        static_cast<long long>(ledger_.failed()), static_cast<long long>(ledger_.swallowed()),
        static_cast<long long>(ledger_.lost()), static_cast<long long>(ledger_.wrong()),
        ledger_.wrong() > 0 ? ", first: " : "", ledger_.first_wrong().c_str());
    return ledger_.wrong() == 0 && ledger_.lost() == 0 ? 0 : 1;
  }

 private:
  // Every kWriteEveryMs: a module's password switched, when its last write is settled.
  void WriteAPassword(uint64_t now) {
    if (now < nextWrite_) return;
    nextWrite_ += kWriteEveryMs;
    const int st = static_cast<int>(rng_() % kModules);
    if (ledger_.write_open(st)) return;
    TTagValue rec{};
    rec.TagID = passwordTag_[static_cast<size_t>(st)];
    rec.DataType = kTypeBool;
    rec.Data.bln = passwordOn_[static_cast<size_t>(st)] ? 0 : 1;
    char* msg = nullptr;
    const bool accepted = x_.OnDataWrite(1, &rec, &msg) != 0;
    std::free(msg);
    // Switching off puts nothing on the wire: only switching on is a write to account for.
    if (accepted && rec.Data.bln != 0) ledger_.write_accepted(st, now);
    if (accepted) passwordOn_[static_cast<size_t>(st)] = rec.Data.bln != 0;
  }

  // Faults for about kFaultShare of the exchanges since the last look.
  void SpoilExchanges(uint64_t now) {
    if (now < nextFaults_) return;
    nextFaults_ += 100;
    const uint64_t r = wire_.requests.load();
    faultsDue_ += kFaultShare * static_cast<double>(r - seenRequests_);
    seenRequests_ = r;
    for (; faultsDue_ >= 1; faultsDue_ -= 1) {
      sim::Fault f;
      do {  // the line vanishes on its own schedule
        f = sim::test_line::kScenarios[rng_() % std::size(sim::test_line::kScenarios)].fault;
      } while (f.kind == sim::FaultKind::Vanish);
      f.times = 1;
      sim_.add_fault(static_cast<int>(rng_() % kModules), f);
      ++faults_;
    }
  }

  // Now and then the line goes away for a few seconds.
  void DropTheLine(uint64_t now) {
    if (now < nextVanish_) return;
    nextVanish_ = now + 60000 + rng_() % 60000;
    runner_.drop_line(500 + rng_() % 2500);
    ++vanishes_;
    lastVanish_ = now;
  }

  // One OnDataRead, timed; every reported value to the ledger.
  void Poll(uint64_t now) {
    const uint64_t wiresBefore = wire_.writesOnWire.load();
    const uint64_t waitBefore = plat::thread_runqueue_ns();
    const uint64_t cpuBefore = plat::thread_cpu_ns();
    const auto t0 = std::chrono::steady_clock::now();
    int32_t n = 0;
    char* msg = nullptr;
    x_.OnDataRead(&n, buf_.data(), &msg);
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    std::free(msg);
    ++polls_;
    longestMs_ = std::max(longestMs_, ms);
    if (wire_.writesOnWire.load() != wiresBefore) return AccountAll(n, now);
    longestQuietMs_ = std::max(longestQuietMs_, ms);
    // A busy machine may keep the poller off the processor in the middle of a call; that time is the
    // scheduler's, not the library's, and is taken off before the call is judged.
    const double waited = static_cast<double>(plat::thread_runqueue_ns() - waitBefore) / 1e6;
    const double own = std::max(0.0, ms - waited);
    const double cpu = static_cast<double>(plat::thread_cpu_ns() - cpuBefore) / 1e6;
    longestOwnMs_ = std::max(longestOwnMs_, own);
    if (own > 20)
      std::printf(
          "SLOW CALL: OnDataRead took %.2f ms (%.2f ms of it waiting for a processor, %.2f ms on one) at "
          "%.1f s, %d values reported, the line last vanished at %llu ms\n",
          ms, waited, cpu, static_cast<double>(now) / 1000, n, static_cast<unsigned long long>(lastVanish_));
    AccountAll(n, now);
  }

  void AccountAll(int32_t n, uint64_t now) {
    for (int32_t i = 0; i < n; ++i) Account(buf_[static_cast<size_t>(i)], now);
  }

  void Account(const TTagValue& v, uint64_t now) {
    if (v.DataType == kTypeString) {
      std::free(v.Data.str);
      return;
    }
    const size_t idx = static_cast<size_t>(v.TagID - 1);
    if (idx >= tags_.infos.size()) return;
    double value = 0;
    if (v.DataType == kTypeReal)
      std::memcpy(&value, &v.Data.dbl, sizeof value);  // packed record
    else
      value = v.Data.bln != 0 ? 1 : 0;
    if (tags_.kind[idx] == 0) {
      if (!ledger_.report(v.TagID, value, v.Status) && ledger_.wrong() == 1)
        std::printf("WRONG VALUE: %s\n", ledger_.first_wrong().c_str());
    } else if (tags_.kind[idx] == 1) {
      const int st = tags_.station[idx];
      const uint64_t since = ledger_.open_since(st);
      if (!ledger_.password_report(st, value != 0, v.Status))
        std::printf(
            "LOST WRITE: station %d, accepted at %llu ms, switched back at %llu ms with status 0x%08X "
            "(the line vanished %llu times, last at %llu ms)\n",
            st, static_cast<unsigned long long>(since), static_cast<unsigned long long>(now), v.Status,
            static_cast<unsigned long long>(vanishes_), static_cast<unsigned long long>(lastVanish_));
      if (value == 0) passwordOn_[static_cast<size_t>(st)] = false;
    }
  }

  // Open writes that reached their module or that a vanishing line took; those that did neither
  // in time are lost.
  void FollowWrites(uint64_t now) {
    for (int st = 0; st < kModules; ++st) {
      if (!ledger_.write_open(st)) continue;
      ledger_.writes_reached(st, sim_.record(st).password_writes);
      std::lock_guard<std::mutex> lock(wire_.swallowMu);
      ledger_.writes_swallowed(st, wire_.swallowed[static_cast<size_t>(st)]);
    }
    for (const int st : ledger_.expire(now, kWriteLostAfterMs))
      std::printf(
          "LOST WRITE: station %d, accepted over %llu ms ago, never reached the module nor reported failed "
          "(the line vanished %llu times, last at %llu ms)\n",
          st, static_cast<unsigned long long>(kWriteLostAfterMs), static_cast<unsigned long long>(vanishes_),
          static_cast<unsigned long long>(lastVanish_));
  }

  void Report(uint64_t now) {
    nextReport_ += kReportEveryMs;
    std::printf("%6llus %10lld %5lld %12.2f %12.2f %8.2f %9llu %8llu %6lld %6lld %5lld %5lld\n",
                static_cast<unsigned long long>(now / 1000), resident_kib(), open_descriptors(), longestMs_,
                longestQuietMs_, longestOwnMs_, static_cast<unsigned long long>(wire_.requests.load()),
                static_cast<unsigned long long>(faults_), static_cast<long long>(ledger_.accepted()),
                static_cast<long long>(ledger_.failed()), static_cast<long long>(ledger_.wrong()),
                static_cast<long long>(ledger_.lost()));
    std::fflush(stdout);
  }

  const Exports& x_;
  sim::ModuleSim& sim_;
  sim::Runner& runner_;
  WireCount& wire_;
  Tags& tags_;
  cli::Ledger& ledger_;
  const std::vector<int32_t> passwordTag_;
  std::vector<TTagValue> buf_;
  std::vector<bool> passwordOn_;
  std::mt19937 rng_{12345};
  uint64_t nextWrite_ = kWriteEveryMs, nextFaults_ = 100, nextReport_ = kReportEveryMs, nextVanish_ = 0;
  uint64_t seenRequests_ = 0, faults_ = 0, vanishes_ = 0, lastVanish_ = 0, polls_ = 0;
  double faultsDue_ = 0;
  double longestMs_ = 0, longestQuietMs_ = 0;  // quiet: no write went on the wire during the call
  double longestOwnMs_ = 0;                    // quiet, less the time spent waiting for a processor
};

}  // namespace

int main(int argc, char** argv) {
  double minutes = 10;
  std::string library;
  const char* const usage = "usage: korvel-soak [--minutes N (default 10)] [--library PATH] [--version]\n";
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--version") {
      std::printf("korvel-soak " KORVEL_VERSION "\n");
      return 0;
    }
    if (a == "--help" || a == "-h") {
      std::fputs(usage, stdout);
      return 0;
    }
    if (a == "--library" && i + 1 < argc) {
      library = argv[++i];
    } else if (a == "--minutes" && i + 1 < argc) {
      // A typo must not become a run of no time (atof) or one without end.
      char* end = nullptr;
      minutes = std::strtod(argv[++i], &end);
      if (*end != '\0' || !(minutes > 0 && minutes <= 100000)) {
        std::fprintf(stderr, "korvel-soak: --minutes takes a number of minutes above 0, not '%s'\n", argv[i]);
        return 2;
      }
    } else {
      std::fputs(usage, stderr);
      return 2;
    }
  }
  if (library.empty())
    library = plat::module_dir_of(reinterpret_cast<const void*>(&on_signal)) + "/../KorvelPLNK.so";
  plat::DynLib lib;
  if (lib.open(library) != plat::OpenResult::Ok) {
    std::fprintf(stderr, "korvel-soak: cannot load %s: %s\n", library.c_str(),
                 plat::last_error_text().c_str());
    return 1;
  }
  Exports x;
  if (!cli::bind_exports(lib, x, "korvel-soak")) return 1;

  sim::ModuleSim simulator;
  configure_modules(simulator);
  WireCount wire;
  wire.watch(simulator);
  sim::Runner runner(simulator);
  sim::RunnerOptions ro;
  ro.timing.baud = kBaud;
  ro.link =
      (std::filesystem::temp_directory_path() / ("korvel-soak-" + std::to_string(std::random_device{}())))
          .string();
  std::string err;
  if (!runner.start(ro, &err)) {
    std::fprintf(stderr, "korvel-soak: simulator: %s\n", err.c_str());
    return 1;
  }
  plat::set_env("KORVELPLNK_COM1", runner.path());

  std::unique_ptr<PDB> block = cli::new_block();
  Tags tags;
  cli::Ledger ledger;
  std::vector<int32_t> passwordTag(kModules);
  if (!build_line(*block, tags, ledger, passwordTag)) return 1;
  std::vector<TTagInfo*> pointers;
  for (TTagInfo& t : tags.infos) pointers.push_back(&t);

  std::signal(SIGINT, on_signal);
  std::signal(SIGTERM, on_signal);
  char* msg = nullptr;
  const bool ok = x.IniDriver(static_cast<int32_t>(pointers.size()), pointers.data(), block.get(), &msg) != 0;
  std::free(msg);
  if (!ok) {
    std::fprintf(stderr, "korvel-soak: IniDriver failed\n");
    return 1;
  }
  Soak soak(x, simulator, runner, wire, tags, ledger, std::move(passwordTag));
  soak.Run(minutes);
  x.FreeDriver();
  runner.stop();
  return soak.Summary();
}
