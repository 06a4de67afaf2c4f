// What the quiet rule costs in scan rate: requests per second of line time on lines of stations
// whose check characters differ, and on lines with stations that share them (19/28/37/46), each
// module answering after a fixed turnaround. The in-memory line on a hand-driven clock, one
// millisecond per poll, so the counters are line time, not this machine's speed.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "driver/PDB.h"
#include "platform/clock.h"
#include "protocol/DLLRealize.h"
#include "sim/module_sim.h"
#include "tests/protocol/memory_line.h"

namespace {

using namespace korvel;

struct LineCase {
  const char* name;
  std::vector<int> stations;
};

const LineCase kLines[] = {
    {"distinct 1,2,3,4", {1, 2, 3, 4}},
    {"one module, PV+AO+PARM", {7}},
    {"pair 19/28 + 3,5", {19, 28, 3, 5}},
    {"all colliding 19/28/37/46", {19, 28, 37, 46}},
};

constexpr uint64_t kLineMs = 60000;  // one minute of line time per iteration

// range(0): the line; range(1): the modules' answer time in ms. Time-out 100 ms.
void BM_ScanRate(benchmark::State& state) {
  const LineCase& lc = kLines[state.range(0)];
  const int answerMs = static_cast<int>(state.range(1));
  state.SetLabel(std::string(lc.name) + ", answers in " + std::to_string(answerMs) + " ms");
  uint64_t now = 1000000;
  plat::set_test_clock([&] { return now; });
  double requests = 0, lineMs = 0;
  for (auto _ : state) {
    sim::ModuleSim sim;
    PDB block;
    std::memset(&block, 0, sizeof block);
    FillPDBDefaults(&block);
    block.TimeOut = 100;
    std::vector<TTagInfo> infos;
    const auto tag = [&](const std::string& addr) {
      TTagInfo t;
      std::memset(&t, 0, sizeof t);
      t.TagID = static_cast<int32_t>(infos.size());
      std::memcpy(t.TagName, addr.data(), addr.size());
      std::memcpy(t.TagAddr, addr.data(), addr.size());
      infos.push_back(t);
    };
    for (const int st : lc.stations) {
      sim.set_module(st, sim::ModuleConfig::with_defaults(sim::Family::PLNK));
      sim.add_fault(st, {sim::FaultKind::Delay, answerMs, 0});
      block.Devices[st].DevID = st;
      block.Devices[st].DevType = 1;
      const std::string n = std::to_string(st);
      for (const std::string kind : {"PV", "AO", "PARM"}) tag(kind + n + ":" + (kind == "PARM" ? "10" : "1"));
    }
    std::vector<const TTagInfo*> list;
    for (const TTagInfo& t : infos) list.push_back(&t);
    auto wire = std::make_shared<test::MemoryLine::Control>();
    TDLLObject obj(true);
    obj.UseLine(std::make_unique<test::MemoryLine>(sim, wire));
    if (!obj.IniDLLObj(&block, list)) {
      state.SkipWithError("the driver did not start");
      break;
    }
    for (uint64_t ms = 0; ms < kLineMs; ++ms) {
      ++now;
      obj.ReadExecute();
    }
    requests += wire->sends;
    lineMs += kLineMs;
    obj.Stop();
  }
  plat::set_test_clock({});
  state.counters["requests_per_line_s"] = requests * 1000.0 / lineMs;
}

BENCHMARK(BM_ScanRate)->ArgsProduct({{0, 1, 2, 3}, {10, 40}})->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
