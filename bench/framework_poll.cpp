// The cost of one host poll (OnDataRead) in the framework: idle polls (waiting for an answer, or
// ready with nothing due) and polls that finish an exchange of 100 tags and start the next one,
// for tables of 100 to 10,000 tags (100 modules x 100 tags at most). The protocol's part is
// played by a scripted object, so only the framework and the export's report walk are measured.
// The "allocs" counter is the number of heap allocations per poll.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/count_new.h"
#include "exports/DLLMain.h"
#include "exports/KorvelPLNK.h"
#include "framework/DLLBase.h"
#include "platform/clock.h"
#include "platform/thread_slot.h"

namespace {

uint64_t g_now = 1000000;

using namespace korvel;

// One read command per module; an answer stores a new value in every tag of the command.
class PollObject : public TBaseDLLObject {
 public:
  PollObject() : TBaseDLLObject(true) {}
  bool answer = false;
  double value = 0;

  TCommand* CreatCommand(TDLLTag* tag, std::vector<TCommand*>& list, bool isWrite) override {
    if (isWrite || !tag->AddrValid) return nullptr;
    for (TCommand* c : list)
      if (c->DeviceAddr == tag->Address) {
        c->TagIndex.push_back(tag->TagIndex);
        return nullptr;
      }
    auto* c = new TCommand;
    c->CmdKind = 2;
    c->RetryMode = 2;
    c->TagIndex = {tag->TagIndex};
    c->DeviceAddr = tag->Address;
    c->AddrType = tag->AddrType;
    c->Period = tag->ScanPeriod;
    c->LastSendTick = plat::tick_ms() - static_cast<uint64_t>(static_cast<int64_t>(c->Period));
    c->FrameReady = true;
    c->AskStr = "#" + std::to_string(tag->Address);
    c->AnswerMainStr = "=";
    return c;
  }
  bool GetResult() override {
    if (!answer || CurCommand == nullptr) return false;
    value += 1;
    for (int32_t i : CurCommand->TagIndex) TagList[static_cast<size_t>(i)]->Value = Variant(value);
    return true;
  }
};

struct Table {
  std::vector<TTagInfo> infos;
  PDB block{};
  PollObject* obj = nullptr;
  std::vector<TTagValue> buf;
};

// Builds a table of modules x tagsPerModule PV tags plus the link tags, installed as the
// thread's instance so that the export itself is measured.
Table& Build(int modules, int tagsPerModule, int32_t period) {
  static Table t;
  plat::set_test_clock([] { return g_now; });
  DestroyThreadInstance();
  t = Table();
  FillPDBDefaults(&t.block);
  for (int m = 0; m < 100; ++m) t.block.Devices[m].DevType = m < modules ? 1 : 2;
  PDB named{};
  CopyPDB(t.block, named);
  t.block = named;
  int id = 0;
  auto add = [&](const std::string& addr, uint8_t type) {
    TTagInfo info;
    std::memset(&info, 0, sizeof info);
    info.TagID = id++;
    std::memcpy(info.TagAddr, addr.data(), addr.size());
    info.TagType = type;
    info.ScanPeriod = period;
    t.infos.push_back(info);
  };
  add("COMMLINK", 2);
  add("ENCOMMLINK", 0);
  for (int m = 0; m < modules; ++m) {
    add("DEVICELINK" + std::to_string(m), 2);
    for (int k = 0; k < tagsPerModule; ++k) add("PV" + std::to_string(m) + ":1", 0);
  }
  std::vector<const TTagInfo*> list;
  for (const TTagInfo& i : t.infos) list.push_back(&i);
  t.obj = new PollObject;
  plat::thread_slot_set(t.obj, [](void* p) { delete static_cast<PollObject*>(p); });
  t.obj->IniDLLObj(&t.block, list);
  t.buf.resize(t.infos.size());
  return t;
}

int32_t Poll(Table& t) {
  int32_t count = 0;
  char* msg = nullptr;
  OnDataRead(&count, t.buf.data(), &msg);
  std::free(msg);
  for (int32_t i = 0; i < count; ++i)
    if (t.buf[static_cast<size_t>(i)].DataType == 2) std::free(t.buf[static_cast<size_t>(i)].Data.str);
  return count;
}

// Idle: a request is out and its answer has not come.
void BM_IdlePollWaiting(benchmark::State& state) {
  const int tags = static_cast<int>(state.range(0));
  const int modules = tags >= 100 ? 100 : tags;
  Table& t = Build(modules, tags / modules, 1000);
  Poll(t);  // start: the first request goes out
  Poll(t);  // first values reported
  long allocs = 0;
  for (auto _ : state) {
    const long before = bench::t_allocs;
    benchmark::DoNotOptimize(Poll(t));
    allocs += bench::t_allocs - before;
  }
  state.counters["allocs"] =
      benchmark::Counter(static_cast<double>(allocs), benchmark::Counter::kAvgIterations);
  state.counters["tags"] = static_cast<double>(t.infos.size());
  DestroyThreadInstance();
}
BENCHMARK(BM_IdlePollWaiting)->Arg(100)->Arg(1000)->Arg(10000);

// Idle: ready, and no command is due.
void BM_IdlePollNothingDue(benchmark::State& state) {
  const int tags = static_cast<int>(state.range(0));
  const int modules = tags >= 100 ? 100 : tags;
  Table& t = Build(modules, tags / modules, 1000000);
  t.obj->answer = true;
  for (int i = 0; i < modules + 2; ++i) Poll(t);  // every module read once; then nothing is due
  long allocs = 0;
  for (auto _ : state) {
    const long before = bench::t_allocs;
    benchmark::DoNotOptimize(Poll(t));
    allocs += bench::t_allocs - before;
  }
  state.counters["allocs"] =
      benchmark::Counter(static_cast<double>(allocs), benchmark::Counter::kAvgIterations);
  DestroyThreadInstance();
}
BENCHMARK(BM_IdlePollNothingDue)->Arg(100)->Arg(1000)->Arg(10000);

// Every poll accepts an answer (100 tags get new values), publishes the link status, picks the
// most overdue of the 100 module commands, sends it, and reports the changed tags.
void BM_ExchangePoll(benchmark::State& state) {
  const int tags = static_cast<int>(state.range(0));
  const int modules = tags >= 100 ? 100 : tags;
  Table& t = Build(modules, tags / modules, 10);
  t.obj->answer = true;
  Poll(t);
  Poll(t);
  int64_t reported = 0;
  long allocs = 0;
  for (auto _ : state) {
    g_now += 1;
    const long before = bench::t_allocs;
    reported += Poll(t);
    allocs += bench::t_allocs - before;
  }
  state.counters["allocs"] =
      benchmark::Counter(static_cast<double>(allocs), benchmark::Counter::kAvgIterations);
  state.counters["reported"] =
      benchmark::Counter(static_cast<double>(reported), benchmark::Counter::kAvgIterations);
  state.counters["exchanges"] =
      benchmark::Counter(static_cast<double>(t.obj->ReadCommCount), benchmark::Counter::kIsRate);
  DestroyThreadInstance();
}
BENCHMARK(BM_ExchangePoll)->Arg(100)->Arg(1000)->Arg(10000);

}  // namespace

int main(int argc, char** argv) {
  // The driver's log goes nowhere while measuring.
  korvel::SetLogFileName("/dev/null");
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
