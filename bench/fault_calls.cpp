// The longest OnDataRead in each fault of the campaign: a host's polling thread must never stall.
// Stations 1 and 12 show the fault, their check-colliding twins 10 and 21 answer, at 115200 baud
// with a password write every 100 ms, polled through the exports at DetectScanTime on the real clock.
// One iteration is one poll, timed by hand; the counters give the longest call over all polls and
// over the polls during which no write went on the wire (writing is allowed to take its line time),
// and how often the line changed state (vanished, stopped draining, came back).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "driver/PDB.h"
#include "driver/records.h"
#include "exports/DLLMain.h"
#include "exports/KorvelPLNK.h"
#include "sim/faults.h"
#include "sim/sim_line.h"

namespace {

using namespace korvel;
namespace tl = sim::test_line;

constexpr int kPolls = 4000;

// The block of the campaign: the line at 115200 baud and the campaign's time-out.
std::unique_ptr<PDB> CampaignBlock() {
  auto block = std::make_unique<PDB>();
  FullPDB(block.get());
  block->ComPort = 0;
  for (uint8_t i = 0; i < 15; ++i)
    if (kBaudRates[i] == 115200) block->BaudRate = i;
  block->TimeOut = tl::kCampaignTimeOutMs;
  return block;
}

// Per station a value, a parameter, an AO, a password and the link tag; the password tags are
// written in turn.
struct CampaignTags {
  std::vector<TTagInfo> infos;
  std::vector<int32_t> passwords;
};

// Configures the four stations in block and gives their tags.
CampaignTags CampaignTagList(PDB& block) {
  CampaignTags tags;
  for (const int st : {tl::kGood, tl::kTwinOfGood, tl::kPairA, tl::kPairB}) {
    TDevInfo& d = block.Devices[st];
    d.DevID = st;
    d.DevType = 1;
    d.DevTypeName.set(DevTypeNameOf(1));
    const std::string n = std::to_string(st);
    for (const std::string& addr :
         {"PV" + n + ":1", "PARM" + n + ":10", "AO" + n + ":1", "SetPassWord" + n + ":0", "DEVICELINK" + n}) {
      TTagInfo info;
      std::memset(&info, 0, sizeof info);
      info.TagID = static_cast<int32_t>(tags.infos.size());
      std::snprintf(info.TagName, sizeof info.TagName, "t%d", info.TagID);
      std::snprintf(info.TagAddr, sizeof info.TagAddr, "%s", addr.c_str());
      info.TagType = addr.rfind("SetPassWord", 0) == 0 ? 1 : addr.rfind("DEVICELINK", 0) == 0 ? 2 : 0;
      if (info.TagType == 1) tags.passwords.push_back(info.TagID);
      tags.infos.push_back(info);
    }
  }
  return tags;
}

bool StartDriver(CampaignTags& tags, PDB& block) {
  std::vector<TTagInfo*> list;
  for (TTagInfo& i : tags.infos) list.push_back(&i);
  char* msg = nullptr;
  const bool ok = IniDriver(static_cast<int32_t>(list.size()), list.data(), &block, &msg);
  std::free(msg);
  return ok;
}

// Flips the next password tag every 100 ms, as an operator's panel would.
class PasswordWriter {
 public:
  explicit PasswordWriter(const std::vector<int32_t>& passwords) : passwords_(passwords) {}
  void WriteWhenDue(std::chrono::steady_clock::time_point now) {
    if (now < next_) return;
    next_ = now + std::chrono::milliseconds(100);
    TTagValue rec{};
    rec.TagID = passwords_[index_++ % passwords_.size()];
    rec.DataType = 1;
    rec.Data.bln = on_ ? 0 : 1;
    on_ = !on_;
    char* msg = nullptr;
    OnDataWrite(1, &rec, &msg);
    std::free(msg);
  }

 private:
  const std::vector<int32_t>& passwords_;
  std::chrono::steady_clock::time_point next_ = std::chrono::steady_clock::now();
  bool on_ = false;
  size_t index_ = 0;
};

// One OnDataRead as the host makes it, its reported strings freed; its duration in ms.
double TimedRead(std::vector<TTagValue>& buf) {
  int32_t n = 0;
  char* msg = nullptr;
  const auto t0 = std::chrono::steady_clock::now();
  OnDataRead(&n, buf.data(), &msg);
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  std::free(msg);
  for (int32_t i = 0; i < n; ++i)
    if (buf[static_cast<size_t>(i)].DataType == 2) std::free(buf[static_cast<size_t>(i)].Data.str);
  return ms;
}

void BM_LongestReadCall(benchmark::State& state) {
  const tl::Scenario& sc = tl::kScenarios[static_cast<size_t>(state.range(0))];
  state.SetLabel(std::string(sc.name));
  sim::RunnerOptions opts;
  opts.timing.baud = 115200;
  sim::SimLine line(1, true, opts);
  if (!line.ok()) {
    state.SkipWithError(line.error().c_str());
    return;
  }
  std::atomic<uint64_t> writesOnWire{0}, lineEvents{0};
  line.sim().set_log_limit(1000);
  line.sim().set_log_sink([&](const sim::WireEvent& e) {
    if (e.dir == sim::WireEvent::Dir::Line) ++lineEvents;  // the line vanishing, held, back
    if (e.dir == sim::WireEvent::Dir::Received && !e.bytes.empty() && e.bytes[0] == '%') ++writesOnWire;
  });

  const std::unique_ptr<PDB> block = CampaignBlock();
  CampaignTags tags = CampaignTagList(*block);
  if (!StartDriver(tags, *block)) {
    state.SkipWithError("IniDriver failed");
    return;
  }
  for (const int st : {tl::kGood, tl::kPairA}) line.sim().add_fault(st, sc.fault);

  const auto pollMs = std::max<int>(1, DetectScanTime());
  std::vector<TTagValue> buf(tags.infos.size() + 1);
  PasswordWriter writer(tags.passwords);
  double longest = 0, longestQuiet = 0;
  auto next = std::chrono::steady_clock::now();
  for (auto _ : state) {
    writer.WriteWhenDue(std::chrono::steady_clock::now());
    const uint64_t before = writesOnWire.load();
    const double ms = TimedRead(buf);
    state.SetIterationTime(ms / 1000);
    longest = std::max(longest, ms);
    if (writesOnWire.load() == before) longestQuiet = std::max(longestQuiet, ms);
    next += std::chrono::milliseconds(pollMs);
    std::this_thread::sleep_until(next);
  }
  state.counters["longest_ms"] = longest;
  state.counters["longest_no_write_ms"] = longestQuiet;
  state.counters["line_events"] = static_cast<double>(lineEvents.load());
  FreeDriver();
  DestroyThreadInstance();
}
BENCHMARK(BM_LongestReadCall)
    ->DenseRange(0, static_cast<int64_t>(std::size(tl::kScenarios)) - 1)
    ->Iterations(kPolls)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
