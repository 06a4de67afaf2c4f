// The library as a host sees it, the same program for the .so and for the .dll (under Wine), so
// the two can be compared in one run: the cost of an idle poll over a large tag table, and the
// exchanges per second on a simulated line against that line's bound (one exchange per poll periods
// its line time spans). Loads the library by path through its exports only; the simulator is
// started by the caller (scripts/bench --windows).
//   host_poll LIBRARY COMPORT idle TAGS         -> "idle_poll_us <mean>"
//   host_poll LIBRARY COMPORT line BAUD SECONDS -> "exchanges_per_s <n> bound_per_s <n> share <x>"
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "driver/PDB.h"
#include "driver/records.h"
#include "exports/KorvelPLNK.h"
#include "platform/dynlib.h"
#include "platform/hoststring.h"

namespace {

using namespace korvel;
using Clock = std::chrono::steady_clock;

struct Api {
  decltype(&::FullPDB) FullPDB;
  decltype(&::IniDriver) IniDriver;
  decltype(&::OnDataRead) OnDataRead;
  decltype(&::OnDataWrite) OnDataWrite;
  decltype(&::DetectScanTime) DetectScanTime;
  decltype(&::FreeDriver) FreeDriver;
};

template <typename F>
bool bind(const plat::DynLib& lib, const char* name, F* fn) {
  *fn = reinterpret_cast<F>(lib.symbol(name));
  if (*fn == nullptr) std::fprintf(stderr, "missing export %s\n", name);
  return *fn != nullptr;
}

// Strings are the library's to allocate; the platform's rule frees them (free or CoTaskMemFree).
void drop(char* s) {
  plat::host_free(s);
}

struct Table {
  std::unique_ptr<PDB> block;
  std::vector<TTagInfo> infos;
  std::vector<TTagInfo*> ptrs;
  std::vector<TTagValue> buf;
};

Table make_table(const Api& a, int com, uint32_t baud, int modules, int per_module) {
  Table t;
  t.block.reset(static_cast<PDB*>(operator new(sizeof(PDB))));
  a.FullPDB(t.block.get());
  t.block->ComPort = static_cast<uint8_t>(com);
  for (int i = 0; i < 15; ++i)
    if (kBaudRates[i] == baud) t.block->BaudRate = static_cast<uint8_t>(i);
  t.block->DataBits = 4;
  t.block->Parity = 0;
  t.block->StopBits = 0;
  t.block->TimeOut = 1000;
  // Stations 1.. in order; with 100 modules the last one is station 0 (the table has 0..99).
  for (int k = 1; k <= modules; ++k) {
    const int m = k % kMaxDevices;
    TDevInfo& d = t.block->Devices[m];
    d.DevID = m;
    d.DevType = 1;
    d.DevTypeName.set("PLNK");
  }
  t.infos.resize(static_cast<size_t>(modules * per_module) + 1);
  for (size_t i = 0; i < t.infos.size(); ++i) {
    TTagInfo& info = t.infos[i];
    std::memset(&info, 0, sizeof info);
    info.TagID = static_cast<int32_t>(i);
    std::snprintf(info.TagName, sizeof info.TagName, "t%zu", i);
    if (i + 1 == t.infos.size()) {
      std::strcpy(info.TagAddr, "ENCOMMLINK");
      info.TagType = 1;
    } else {
      std::snprintf(info.TagAddr, sizeof info.TagAddr, "PV%d:1",
                    (static_cast<int>(i) / per_module + 1) % kMaxDevices);
      info.TagType = 0;
    }
    t.ptrs.push_back(&info);
  }
  t.buf.resize(t.infos.size());
  return t;
}

int poll(const Api& a, Table& t) {
  int32_t n = 0;
  char* msg = nullptr;
  a.OnDataRead(&n, t.buf.data(), &msg);
  drop(msg);
  return n;
}

// Binds the exports the program uses; false (after naming the missing one) when one is absent.
bool bind_api(const plat::DynLib& lib, Api& a) {
  return bind(lib, "FullPDB", &a.FullPDB) && bind(lib, "IniDriver", &a.IniDriver) &&
         bind(lib, "OnDataRead", &a.OnDataRead) && bind(lib, "OnDataWrite", &a.OnDataWrite) &&
         bind(lib, "DetectScanTime", &a.DetectScanTime) && bind(lib, "FreeDriver", &a.FreeDriver);
}

// 100 modules x TAGS/100 tags with communication switched off, so each poll walks the table only.
int run_idle(const Api& a, int com, int tags) {
  Table t = make_table(a, com, 19200, 100, tags / 100 > 0 ? tags / 100 : 1);
  char* msg = nullptr;
  if (!a.IniDriver(static_cast<int32_t>(t.ptrs.size()), t.ptrs.data(), t.block.get(), &msg)) {
    std::fprintf(stderr, "IniDriver failed: %s\n", msg != nullptr ? msg : "");
    return 1;
  }
  drop(msg);
  TTagValue off{};
  off.TagID = static_cast<int32_t>(t.infos.size() - 1);
  off.DataType = 1;
  a.OnDataWrite(1, &off, &msg);
  drop(msg);
  for (int i = 0; i < 100; ++i) poll(a, t);  // the first polls report every tag once
  const int rounds = 20000;
  const auto t0 = Clock::now();
  for (int i = 0; i < rounds; ++i) poll(a, t);
  const double us = std::chrono::duration<double, std::micro>(Clock::now() - t0).count() / rounds;
  std::printf("idle_poll_us %.2f tags %zu\n", us, t.infos.size());
  a.FreeDriver();
  return 0;
}

// Polls at the driver's period: step() makes one poll and sleeps to the next period.
class Poller {
 public:
  Poller(const Api& a, Table& t) : a_(a), t_(t), poll_ms_(a.DetectScanTime()), next_(Clock::now()) {}
  int step() {
    const int n = poll(a_, t_);
    next_ += std::chrono::milliseconds(poll_ms_);
    std::this_thread::sleep_until(next_);
    return n;
  }
  int poll_ms() const { return poll_ms_; }

 private:
  const Api& a_;
  Table& t_;
  int poll_ms_;
  Clock::time_point next_;
};

// The exchanges per second a line can carry at baud with one exchange per poll periods its line
// time spans. Start, 8 data bits, 1 stop bit. The poll that collects an answer sends the next
// request, so an exchange takes the whole poll periods its line time spans.
double line_bound(uint32_t baud, int poll_ms) {
  const double char_ms = 10.0 * 1000.0 / baud;
  const double line_ms = char_ms * (6 + 9);
  const double periods = std::ceil(line_ms / poll_ms);
  return 1000.0 / ((periods < 1 ? 1 : periods) * poll_ms);
}

// One tag on station 1, whose value changes with every answer: each report is one exchange.
int run_line(const Api& a, int com, uint32_t baud, double seconds) {
  Table t = make_table(a, com, baud, 1, 1);
  t.infos.pop_back();
  t.ptrs.pop_back();
  char* msg = nullptr;
  if (!a.IniDriver(static_cast<int32_t>(t.ptrs.size()), t.ptrs.data(), t.block.get(), &msg)) {
    std::fprintf(stderr, "IniDriver failed\n");
    return 1;
  }
  drop(msg);
  Poller poller(a, t);
  for (int i = 0; i < 200; ++i)
    if (poller.step() > 0 && t.buf[0].Status == 0) break;  // the first answer is in
  long exchanges = 0;
  const auto start = Clock::now();
  while (std::chrono::duration<double>(Clock::now() - start).count() < seconds) {
    const int n = poller.step();
    for (int i = 0; i < n; ++i) exchanges += t.buf[static_cast<size_t>(i)].Status == 0 ? 1 : 0;
  }
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  const double bound = line_bound(baud, poller.poll_ms());
  const double rate = exchanges / elapsed;
  std::printf("exchanges_per_s %.1f bound_per_s %.1f share %.3f poll_ms %d\n", rate, bound, rate / bound,
              poller.poll_ms());
  a.FreeDriver();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: host_poll LIBRARY COMPORT idle TAGS | line BAUD SECONDS\n");
    return 2;
  }
  plat::DynLib lib;
  if (lib.open(argv[1]) != plat::OpenResult::Ok) {
    std::fprintf(stderr, "%s\n", plat::last_error_text().c_str());
    return 1;
  }
  Api a{};
  if (!bind_api(lib, a)) return 1;
  lib.release();  // instances end with the process
  const int com = std::atoi(argv[2]);
  const std::string mode = argv[3];
  if (mode == "idle") return run_idle(a, com, std::atoi(argv[4]));
  if (mode == "line" && argc >= 6)
    return run_line(a, com, static_cast<uint32_t>(std::atoi(argv[4])), std::atof(argv[5]));
  std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
  return 2;
}
