// Line throughput: the library polled through its exports like a host (one OnDataRead every
// DetectScanTime ms) against the module simulator sending its answers at the character timing of
// a baud rate. Reports completed exchanges per second next to the line's bound:
//   1 / (character time x (request + answer length) + the host's poll period),
// since one poll finishes at most one exchange. The simulator receives requests at once, so the
// request's own line time is given to it as an answer delay.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/one_module.h"
#include "driver/PDB.h"
#include "driver/records.h"
#include "exports/DLLMain.h"
#include "exports/KorvelPLNK.h"
#include "protocol/DLLRealize.h"
#include "protocol/Frames.h"
#include "sim/sim_line.h"

namespace {

using namespace korvel;

constexpr size_t kRequestLen = 6;  // "#01HD" CR
constexpr size_t kAnswerLen = 9;   // "=12.5AJE" CR

int baud_index(uint32_t baud) {
  for (int i = 0; i < 15; ++i)
    if (kBaudRates[i] == baud) return i;
  return 6;
}

void BM_LineThroughput(benchmark::State& state) {
  const auto baud = static_cast<uint32_t>(state.range(0));
  sim::RunnerOptions opts;
  opts.timing.baud = baud;  // 8N1, as the block below
  sim::SimLine line(1, true, opts);
  if (!line.ok()) {
    state.SkipWithError(line.error().c_str());
    return;
  }
  const double charMs = static_cast<double>(opts.timing.char_us()) / 1000.0;
  const auto requestMs = static_cast<int32_t>(charMs * kRequestLen + 0.5);
  if (requestMs > 0) line.sim().add_fault(sim::test_line::kGood, {sim::FaultKind::Delay, requestMs, 0});

  std::unique_ptr<PDB> block = bench::OneModuleBlock(static_cast<uint8_t>(baud_index(baud)));
  TTagInfo info = bench::PvTag();
  TTagInfo* list[] = {&info};
  char* msg = nullptr;
  if (!IniDriver(1, list, block.get(), &msg)) {
    std::free(msg);
    state.SkipWithError("IniDriver failed");
    return;
  }
  std::free(msg);
  TBaseDLLObject* obj = ThreadInstance();
  const auto pollMs = static_cast<int>(DetectScanTime());
  std::vector<TTagValue> buf(2);

  auto next = std::chrono::steady_clock::now();
  int64_t polls = 0;
  std::chrono::nanoseconds busy{0};
  const auto poll = [&] {
    int32_t n = 0;
    char* m = nullptr;
    const auto t0 = std::chrono::steady_clock::now();
    OnDataRead(&n, buf.data(), &m);
    busy += std::chrono::steady_clock::now() - t0;
    ++polls;
    std::free(m);
    for (int32_t i = 0; i < n; ++i)
      if (buf[static_cast<size_t>(i)].DataType == 2) std::free(buf[static_cast<size_t>(i)].Data.str);
    next += std::chrono::milliseconds(pollMs);
    std::this_thread::sleep_until(next);
  };
  // Warm up: the first answer is in.
  for (int i = 0; i < 200 && obj->ReadCommCount == 0; ++i) poll();
  polls = 0;
  busy = std::chrono::nanoseconds{0};
  const int32_t failuresBefore = obj->ReadFailCount;
  const double timeoutsBefore = obj->ReadTimeoutCount;

  for (auto _ : state) {
    const int32_t target = obj->ReadCommCount + 1;
    while (obj->ReadCommCount < target) poll();
  }

  const double boundMs = charMs * (kRequestLen + kAnswerLen) + pollMs;
  state.counters["exchanges_per_s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["bound_per_s"] = 1000.0 / boundMs;
  state.counters["poll_ms"] = pollMs;
  state.counters["polls_per_exchange"] = static_cast<double>(polls) / static_cast<double>(state.iterations());
  state.counters["poll_cost_us"] =
      static_cast<double>(busy.count()) / 1000.0 / static_cast<double>(polls > 0 ? polls : 1);
  state.counters["failed"] = (obj->ReadFailCount - failuresBefore) + (obj->ReadTimeoutCount - timeoutsBefore);
  FreeDriver();
  DestroyThreadInstance();
}
BENCHMARK(BM_LineThroughput)
    ->Arg(9600)
    ->Arg(19200)
    ->Arg(115200)
    ->Iterations(150)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// The CPU side of one exchange: checking the answer and decoding it into five tags.
void BM_CheckAndDecode(benchmark::State& state) {
  TDLLObject obj(false);
  TCommand cmd;
  cmd.CmdKind = 2;
  cmd.DeviceAddr = 1;
  for (int i = 0; i < 5; ++i) {
    auto t = std::make_unique<TDLLTag>();
    t->TagIndex = i;
    t->AddrType = i % 2;
    t->TagType = static_cast<uint8_t>(i % 3);
    t->ChannelAddr = 1 + i % 4;
    obj.TagList.push_back(std::move(t));
    cmd.TagIndex.push_back(i);
  }
  obj.CurCommand = &cmd;
  const std::string answer = "=12.5AJE\r";
  for (auto _ : state) {
    benchmark::DoNotOptimize(obj.CheckResult(answer));
    benchmark::DoNotOptimize(obj.CommAnalyze(answer, &cmd, obj.TagList));
  }
  obj.CurCommand = nullptr;
  obj.TagList.clear();
}
BENCHMARK(BM_CheckAndDecode);

}  // namespace

BENCHMARK_MAIN();
