// Many lines in one host: LINES threads, each with its own instance on its own port ComN (the
// caller points KORVELPLNK_COM1.. at one simulator each), every instance with MODULES modules of
// TAGS tags each plus the link-status tags, polled every POLL_MS ms like a SCADA host polls. After a
// warm-up, the process's CPU time over SECONDS is given as a share of one core, with the longest
// and the mean OnDataRead and the exchanges per second. scripts/bench-lines starts the simulators.
//   bench_many_lines SECONDS [LINES] [MODULES] [TAGS] [POLL_MS]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/count_new.h"
#include "bench/local_log.h"
#include "driver/PDB.h"
#include "driver/records.h"
#include "exports/DLLMain.h"
#include "exports/KorvelPLNK.h"
#include "framework/DLLBase.h"
#include "platform/clock.h"

namespace {

using namespace korvel;
using Clock = std::chrono::steady_clock;

struct Options {
  double seconds = 60;
  int lines = 16;
  int modules = 100;
  int tags = 100;  // per module
  int poll_ms = 10;
};

constexpr int64_t kCpuSampleEvery = 16;

struct LineResult {
  bool started = false;
  int64_t polls = 0;
  int64_t longest_ns = 0;
  int64_t sampled = 0;  // polls whose thread CPU time was taken
  uint64_t cpu_ns = 0;  // thread CPU time inside the sampled OnDataRead calls
  uint64_t longest_cpu_ns = 0;
  int64_t exchanges = 0;
  double failed = 0;
  int64_t reported = 0;
  int64_t allocs = 0;  // heap allocations inside OnDataRead
};

// A module's tags as a host configures them: process values and their alarm bits (one request
// serves both), an output read-back, and ten parameters (a request each).
std::string tag_address(int module, int k) {
  char buf[32];
  if (k < 40)
    std::snprintf(buf, sizeof buf, "PV%d:1", module);
  else if (k < 80)
    std::snprintf(buf, sizeof buf, "PV_ALARM%d:%d", module, 1 + k % 4);
  else if (k < 90)
    std::snprintf(buf, sizeof buf, "AO%d:1", module);
  else
    std::snprintf(buf, sizeof buf, "PARM%d:%X", module, 16 + (k - 90) % 64);
  return buf;
}

// The line's block: port ComN+1 at 19200 baud (as the simulators run), modules 0.. of type PLNK.
std::unique_ptr<PDB> line_block(int index, const Options& o) {
  auto block = std::make_unique<PDB>();
  FullPDB(block.get());
  block->ComPort = static_cast<uint8_t>(index);
  block->BaudRate = 8;  // 19200
  block->DataBits = 4;
  block->Parity = 0;
  block->StopBits = 0;
  block->TimeOut = 1000;
  for (int m = 0; m < o.modules; ++m) {
    TDevInfo& d = block->Devices[m];
    d.DevID = m;
    d.DevType = 1;
    d.DevTypeName.set(DevTypeNameOf(1));
  }
  return block;
}

// The line's tags: its link status, and per module the module's link status and its tags.
std::vector<TTagInfo> line_tags(int index, const Options& o) {
  std::vector<TTagInfo> infos;
  const auto add = [&](const std::string& addr, uint8_t type) {
    TTagInfo info;
    std::memset(&info, 0, sizeof info);
    info.TagID = static_cast<int32_t>(infos.size());
    std::snprintf(info.TagName, sizeof info.TagName, "L%dT%zu", index, infos.size());
    std::snprintf(info.TagAddr, sizeof info.TagAddr, "%s", addr.c_str());
    info.TagType = type;
    info.ScanPeriod = 1000;
    infos.push_back(info);
  };
  add("COMMLINK", 2);
  for (int m = 0; m < o.modules; ++m) {
    char link[32];
    std::snprintf(link, sizeof link, "DEVICELINK%d", m);
    add(link, 2);
    for (int k = 0; k < o.tags; ++k) add(tag_address(m, k), (k >= 40 && k < 80) ? 1 : 0);
  }
  return infos;
}

bool start_line(int index, std::vector<TTagInfo>& infos, PDB& block) {
  std::vector<TTagInfo*> ptrs;
  for (TTagInfo& i : infos) ptrs.push_back(&i);
  char* msg = nullptr;
  const bool started = IniDriver(static_cast<int32_t>(ptrs.size()), ptrs.data(), &block, &msg) != 0;
  if (!started) std::fprintf(stderr, "line %d: IniDriver failed: %s\n", index + 1, msg != nullptr ? msg : "");
  std::free(msg);
  return started;
}

// One OnDataRead, counted into out while counting: its time, its allocations and, on one call in
// kCpuSampleEvery, its thread CPU time. The thread's CPU clock is a system call: read on every call
// it would be a cost of its own in the host's share.
void measured_poll(std::vector<TTagValue>& buf, bool counting, LineResult& out) {
  int32_t n = 0;
  char* m = nullptr;
  const bool sample = counting && out.polls % kCpuSampleEvery == 0;
  const uint64_t c0 = sample ? plat::thread_cpu_ns() : 0;
  const auto t0 = Clock::now();
  const long a0 = bench::t_allocs;
  OnDataRead(&n, buf.data(), &m);
  const long allocs = bench::t_allocs - a0;
  const int64_t ns = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - t0).count();
  const uint64_t cpu = sample ? plat::thread_cpu_ns() - c0 : 0;
  std::free(m);
  for (int32_t i = 0; i < n; ++i)
    if (buf[static_cast<size_t>(i)].DataType == 2) std::free(buf[static_cast<size_t>(i)].Data.str);
  if (!counting) return;
  ++out.polls;
  out.longest_ns = std::max(out.longest_ns, ns);
  out.sampled += sample ? 1 : 0;
  out.cpu_ns += cpu;
  out.longest_cpu_ns = std::max(out.longest_cpu_ns, cpu);
  out.reported += n;
  out.allocs += allocs;
}

void run_line(int index, const Options& o, std::atomic<int>& ready, const std::atomic<bool>& measuring,
              const std::atomic<bool>& stop, LineResult& out) {
  const std::unique_ptr<PDB> block = line_block(index, o);
  std::vector<TTagInfo> infos = line_tags(index, o);
  std::vector<TTagValue> buf(infos.size());
  out.started = start_line(index, infos, *block);
  ready.fetch_add(1);
  if (!out.started) return;
  TBaseDLLObject* obj = ThreadInstance();

  bool counting = false;
  int32_t exchanges0 = 0;
  double failed0 = 0;
  auto next = Clock::now();
  while (!stop.load(std::memory_order_relaxed)) {
    if (!counting && measuring.load(std::memory_order_relaxed)) {
      counting = true;
      exchanges0 = obj->ReadCommCount;
      failed0 = obj->ReadTimeoutCount + obj->ReadFailCount;
    }
    measured_poll(buf, counting, out);
    next += std::chrono::milliseconds(o.poll_ms);
    std::this_thread::sleep_until(next);
  }
  out.exchanges = obj->ReadCommCount - exchanges0;
  out.failed = obj->ReadTimeoutCount + obj->ReadFailCount - failed0;
  FreeDriver();
  DestroyThreadInstance();
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench_many_lines SECONDS [LINES] [MODULES] [TAGS] [POLL_MS]\n");
    return 2;
  }
  o.seconds = std::atof(argv[1]);
  if (argc > 2) o.lines = std::atoi(argv[2]);
  if (argc > 3) o.modules = std::atoi(argv[3]);
  if (argc > 4) o.tags = std::atoi(argv[4]);
  if (argc > 5) o.poll_ms = std::atoi(argv[5]);
  if (!(o.seconds > 0) || o.lines < 1 || o.lines > 16 || o.modules < 1 || o.modules > kMaxDevices ||
      o.tags < 1 || o.poll_ms < 1) {
    std::fprintf(stderr,
                 "bench_many_lines: SECONDS > 0, LINES 1..16, MODULES 1..100, TAGS >= 1, POLL_MS >= 1\n");
    return 2;
  }
  const bench::LocalLog log("korvel_bench_lines");

  std::atomic<int> ready{0};
  std::atomic<bool> measuring{false};
  std::atomic<bool> stop{false};
  std::vector<LineResult> results(static_cast<size_t>(o.lines));
  std::vector<std::thread> threads;
  for (int i = 0; i < o.lines; ++i)
    threads.emplace_back(run_line, i, std::cref(o), std::ref(ready), std::cref(measuring), std::cref(stop),
                         std::ref(results[static_cast<size_t>(i)]));
  while (ready.load() < o.lines) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  // Warm-up: every line is running and has reported its table once.
  std::this_thread::sleep_for(std::chrono::seconds(3));
  measuring = true;
  const uint64_t cpu0 = plat::process_cpu_ns();
  const auto wall0 = Clock::now();
  std::this_thread::sleep_for(std::chrono::duration<double>(o.seconds));
  const uint64_t cpu = plat::process_cpu_ns() - cpu0;
  const double wall = std::chrono::duration<double>(Clock::now() - wall0).count();
  stop = true;
  for (std::thread& t : threads) t.join();

  int started = 0;
  int64_t polls = 0, sampled = 0, longest = 0, exchanges = 0, reported = 0, allocs = 0;
  uint64_t sampledCpu = 0, longest_cpu = 0;
  double failed = 0;
  for (const LineResult& r : results) {
    started += r.started ? 1 : 0;
    polls += r.polls;
    longest = std::max(longest, r.longest_ns);
    sampled += r.sampled;
    sampledCpu += r.cpu_ns;
    longest_cpu = std::max(longest_cpu, r.longest_cpu_ns);
    exchanges += r.exchanges;
    failed += r.failed;
    reported += r.reported;
    allocs += r.allocs;
  }
  // The process's share includes the host loop's own sleeping and waking; the share inside
  // OnDataRead is the library's part of it, estimated from the sampled calls. A call's wall time
  // includes any wait for a core; the longest CPU time is the longest among the sampled calls.
  const double meanCpuNs = sampled > 0 ? static_cast<double>(sampledCpu) / static_cast<double>(sampled) : 0.0;
  const double inside = meanCpuNs * static_cast<double>(polls);
  std::printf(
      "lines %d started %d tags_per_line %d seconds %.1f cpu_share_pct %.2f inside_share_pct %.2f "
      "longest_poll_us %.1f "
      "longest_poll_cpu_us %.1f mean_poll_cpu_us %.2f exchanges_per_s %.1f failed %.0f reported_per_s %.1f "
      "allocs_per_poll %.3f\n",
      o.lines, started, 1 + o.modules * (o.tags + 1), wall, static_cast<double>(cpu) / 1e9 / wall * 100.0,
      inside / 1e9 / wall * 100.0, static_cast<double>(longest) / 1000.0,
      static_cast<double>(longest_cpu) / 1000.0, meanCpuNs / 1000.0, static_cast<double>(exchanges) / wall,
      failed, static_cast<double>(reported) / wall,
      polls > 0 ? static_cast<double>(allocs) / static_cast<double>(polls) : 0.0);
  return started == o.lines ? 0 : 1;
}
