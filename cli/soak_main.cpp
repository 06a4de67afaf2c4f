// korvel-soak: the library under a long, unkind load, driven through its exports as a host drives
// it. 100 modules x 10 tags at 115200 baud against the simulator on a pseudo-terminal, about 1 % of
// the exchanges spoilt by the fault campaign's faults, a password write every 100 ms, the line
// vanishing now and then. Every 30 s it prints what a leak or a lie would show: resident memory,
// open descriptors, the longest OnDataRead, wrong values and lost writes (both must stay 0).
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
#include "cli/ledger.h"
#include "driver/KorvelPLNK.h"
#include "driver/records.h"
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

struct Exports {
  decltype(&::IniDriver) IniDriver = nullptr;
  decltype(&::OnDataRead) OnDataRead = nullptr;
  decltype(&::OnDataWrite) OnDataWrite = nullptr;
  decltype(&::DetectScanTime) DetectScanTime = nullptr;
  decltype(&::FreeDriver) FreeDriver = nullptr;
};

template <class F>
bool bind(const plat::DynLib& lib, const char* name, F& f) {
  f = reinterpret_cast<F>(lib.symbol(name));
  if (f == nullptr) std::fprintf(stderr, "korvel-soak: the library has no export %s\n", name);
  return f != nullptr;
}

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

}  // namespace

int main(int argc, char** argv) {
  double minutes = 10;
  std::string library;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--library" && i + 1 < argc) {
      library = argv[++i];
    } else if (a == "--minutes" && i + 1 < argc) {
      minutes = std::atof(argv[++i]);
    } else {
      std::fprintf(stderr, "usage: korvel-soak [--minutes N (default 10)] [--library PATH]\n");
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
  if (!bind(lib, "IniDriver", x.IniDriver) || !bind(lib, "OnDataRead", x.OnDataRead) ||
      !bind(lib, "OnDataWrite", x.OnDataWrite) || !bind(lib, "DetectScanTime", x.DetectScanTime) ||
      !bind(lib, "FreeDriver", x.FreeDriver))
    return 1;

  // The simulated line.
  sim::ModuleSim simulator;
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
  std::atomic<uint64_t> requests{0}, writesOnWire{0};
  std::mutex swallowMu;
  std::vector<int> swallowed(kModules, 0);  // password writes a vanishing line took with it unread
  simulator.set_log_sink([&](const sim::WireEvent& e) {
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

  // The block and the tags: per module its value, alarm word (as a number and two bits), two
  // parameters, its output, its password and its link text (as text and number).
  std::unique_ptr<PDB> block = cli::new_block();
  block->ComPort = 0;
  block->BaudRate = static_cast<uint8_t>(cli::baud_index(kBaud));
  block->TimeOut = sim::test_line::kCampaignTimeOutMs;
  for (TDevInfo& d : block->Devices) {
    d.DevType = 2;
    d.DevTypeName.set("");
  }
  Tags tags;
  cli::Ledger ledger;
  std::vector<int32_t> passwordTag(kModules);
  for (int st = 0; st < kModules; ++st) {
    if (!cli::add_module(*block, std::to_string(st) + ":PLNK", err)) {
      std::fprintf(stderr, "korvel-soak: %s\n", err.c_str());
      return 1;
    }
    const std::string n = std::to_string(st);
    const int bits = alarm_of(st);
    add_tag(tags, "PV" + n + ":1", 0, st, 0);
    ledger.expect(tags.infos.back().TagID, {pv_of(st)});
    add_tag(tags, "PV_ALARM" + n + ":1", 0, st, 0);
    ledger.expect(tags.infos.back().TagID, {0x40 + static_cast<double>(bits)});
    add_tag(tags, "PV_ALARM" + n + ":1", 1, st, 0);
    ledger.expect(tags.infos.back().TagID, {(bits & 1) ? 1.0 : 0.0});
    add_tag(tags, "PV_ALARM" + n + ":3", 1, st, 0);
    ledger.expect(tags.infos.back().TagID, {(bits & 4) ? 1.0 : 0.0});
    add_tag(tags, "PARM" + n + ":10", 0, st, 0);
    ledger.expect(tags.infos.back().TagID, {param_of(st, 0x10)});
    add_tag(tags, "PARM" + n + ":11", 0, st, 0);
    ledger.expect(tags.infos.back().TagID, {param_of(st, 0x11)});
    add_tag(tags, "AO" + n + ":1", 0, st, 0);
    ledger.expect(tags.infos.back().TagID, {ao_of(st)});
    add_tag(tags, "SetPassWord" + n + ":0", 1, st, 1);
    passwordTag[static_cast<size_t>(st)] = tags.infos.back().TagID;
    add_tag(tags, "DEVICELINK" + n, 2, st, 2);
    add_tag(tags, "DEVICELINK" + n, 0, st, 2);
  }
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

  std::mt19937 rng(12345);
  std::vector<TTagValue> buf(tags.infos.size() + 1);
  std::vector<bool> passwordOn(kModules, false);
  const uint64_t start = plat::monotonic_ms();
  const auto endMs = static_cast<uint64_t>(minutes * 60000);
  uint64_t nextWrite = kWriteEveryMs, nextFaults = 100, nextReport = kReportEveryMs;
  uint64_t nextVanish = 45000 + rng() % 45000;
  uint64_t seenRequests = 0, faults = 0, vanishes = 0, lastVanish = 0, polls = 0;
  double faultsDue = 0;
  double longestMs = 0, longestQuietMs = 0;  // quiet: no write went on the wire during the call
  std::printf("korvel-soak: %d modules x 10 tags at %u baud on %s for %.1f min\n", kModules, kBaud,
              runner.path().c_str(), minutes);
  std::printf("%7s %10s %5s %12s %12s %9s %8s %6s %6s %5s %5s\n", "time", "RSS(KiB)", "fds", "longest(ms)",
              "no-write(ms)", "exchanges", "faults", "writes", "failed", "wrong", "lost");
  std::fflush(stdout);
  for (;;) {
    const uint64_t now = plat::monotonic_ms() - start;
    const bool last = g_stop || now >= endMs;

    if (!last && now >= nextWrite) {
      nextWrite += kWriteEveryMs;
      const int st = static_cast<int>(rng() % kModules);
      if (!ledger.write_open(st)) {
        TTagValue rec{};
        rec.TagID = passwordTag[static_cast<size_t>(st)];
        rec.DataType = 1;
        rec.Data.bln = passwordOn[static_cast<size_t>(st)] ? 0 : 1;
        const bool accepted = x.OnDataWrite(1, &rec, &msg) != 0;
        std::free(msg);
        // Switching off puts nothing on the wire: only switching on is a write to account for.
        if (accepted && rec.Data.bln != 0) ledger.write_accepted(st, now);
        if (accepted) passwordOn[static_cast<size_t>(st)] = rec.Data.bln != 0;
      }
    }
    if (!last && now >= nextFaults) {
      nextFaults += 100;
      const uint64_t r = requests.load();
      faultsDue += kFaultShare * static_cast<double>(r - seenRequests);
      seenRequests = r;
      for (; faultsDue >= 1; faultsDue -= 1) {
        sim::Fault f;
        do {  // the line vanishes on its own schedule
          f = sim::test_line::kScenarios[rng() % std::size(sim::test_line::kScenarios)].fault;
        } while (f.kind == sim::FaultKind::Vanish);
        f.times = 1;
        simulator.add_fault(static_cast<int>(rng() % kModules), f);
        ++faults;
      }
    }
    if (!last && now >= nextVanish) {
      nextVanish = now + 60000 + rng() % 60000;
      runner.drop_line(500 + rng() % 2500);
      ++vanishes;
      lastVanish = now;
    }

    const uint64_t wiresBefore = writesOnWire.load();
    const auto t0 = std::chrono::steady_clock::now();
    int32_t n = 0;
    x.OnDataRead(&n, buf.data(), &msg);
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    std::free(msg);
    ++polls;
    longestMs = std::max(longestMs, ms);
    if (writesOnWire.load() == wiresBefore) longestQuietMs = std::max(longestQuietMs, ms);
    for (int32_t i = 0; i < n; ++i) {
      const TTagValue& v = buf[static_cast<size_t>(i)];
      if (v.DataType == 2) {
        std::free(v.Data.str);
        continue;
      }
      const size_t idx = static_cast<size_t>(v.TagID - 1);
      if (idx >= tags.infos.size()) continue;
      double value = 0;
      if (v.DataType == 0)
        std::memcpy(&value, &v.Data.dbl, sizeof value);  // packed record
      else
        value = v.Data.bln != 0 ? 1 : 0;
      if (tags.kind[idx] == 0) {
        if (!ledger.report(v.TagID, value, v.Status) && ledger.wrong() == 1)
          std::printf("WRONG VALUE: %s\n", ledger.first_wrong().c_str());
      } else if (tags.kind[idx] == 1) {
        const int st = tags.station[idx];
        const uint64_t since = ledger.open_since(st);
        if (!ledger.password_report(st, value != 0, v.Status))
          std::printf(
              "LOST WRITE: station %d, accepted at %llu ms, switched back at %llu ms with status 0x%08X "
              "(the line vanished %llu times, last at %llu ms)\n",
              st, static_cast<unsigned long long>(since), static_cast<unsigned long long>(now), v.Status,
              static_cast<unsigned long long>(vanishes), static_cast<unsigned long long>(lastVanish));
        if (value == 0) passwordOn[static_cast<size_t>(tags.station[idx])] = false;
      }
    }
    for (int st = 0; st < kModules; ++st) {
      if (!ledger.write_open(st)) continue;
      ledger.writes_reached(st, simulator.record(st).password_writes);
      std::lock_guard<std::mutex> lock(swallowMu);
      ledger.writes_swallowed(st, swallowed[static_cast<size_t>(st)]);
    }
    for (const int st : ledger.expire(now, kWriteLostAfterMs))
      std::printf(
          "LOST WRITE: station %d, accepted over %llu ms ago, never reached the module nor reported failed "
          "(the line vanished %llu times, last at %llu ms)\n",
          st, static_cast<unsigned long long>(kWriteLostAfterMs), static_cast<unsigned long long>(vanishes),
          static_cast<unsigned long long>(lastVanish));

    if (last || now >= nextReport) {
      nextReport += kReportEveryMs;
      std::printf("%6llus %10lld %5lld %12.2f %12.2f %9llu %8llu %6lld %6lld %5lld %5lld\n",
                  static_cast<unsigned long long>(now / 1000), resident_kib(), open_descriptors(), longestMs,
                  longestQuietMs, static_cast<unsigned long long>(requests.load()),
                  static_cast<unsigned long long>(faults), static_cast<long long>(ledger.accepted()),
                  static_cast<long long>(ledger.failed()), static_cast<long long>(ledger.wrong()),
                  static_cast<long long>(ledger.lost()));
      std::fflush(stdout);
    }
    if (last) break;
    const uint16_t period = x.DetectScanTime();
    plat::sleep_ms(period == 0 ? 1 : period);
  }
  x.FreeDriver();
  runner.stop();
  std::printf(
      "polls %llu, line vanished %llu times, writes accepted %lld: reached %lld, failed %lld, taken unread "
      "by the vanishing line %lld, lost %lld; wrong values %lld%s%s\n",
      static_cast<unsigned long long>(polls), static_cast<unsigned long long>(vanishes),
      static_cast<long long>(ledger.accepted()), static_cast<long long>(ledger.reached()),
      static_cast<long long>(ledger.failed()), static_cast<long long>(ledger.swallowed()),
      static_cast<long long>(ledger.lost()), static_cast<long long>(ledger.wrong()),
      ledger.wrong() > 0 ? ", first: " : "", ledger.first_wrong().c_str());
  return ledger.wrong() == 0 && ledger.lost() == 0 ? 0 : 1;
}
