// The fault campaign, end to end: one misbehaving module next to a neighbour whose check characters
// collide with its own (01/10, 12/21: the check is a byte sum over the address digits), host writes
// going on all the while. Every report is checked as it arrives: no tag may show a value other than
// its own module's with a good status. Link texts must tell the truth, and the neighbours must keep
// being read: their values are changed in the middle and the new ones must come through.
//
// The randomized campaign at the end of this file finds the cases nobody thought of: random lines,
// random faults per exchange, writes and pauses, on the in-memory line with a hand-driven clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "driver/getfileinfo.h"
#include "platform/clock.h"
#include "protocol/DLLObj.h"
#include "protocol/DLLRealize.h"
#include "sim/faults.h"
#include "sim/module_sim.h"
#include "tests/protocol/e2e_host.h"
#include "tests/protocol/memory_line.h"

namespace korvel {
namespace {

namespace tl = sim::test_line;
using e2e::EndsWith;
using e2e::Host;
using e2e::Reported;

constexpr uint32_t kFailureBits = 0x01F00000;  // the failure codes and the late bit
constexpr int kParam = 0x10;                   // the parameter every module is read at
constexpr int kWriteEveryPolls = 150;
constexpr int kFaultPolls = 2500;
constexpr int kRecoveryPolls = 8000;
// Within this many polls a neighbour's new value must come through. Generous: with both faulty
// modules late, every one of their six requests costs three time-out periods of the line.
constexpr int kFlowPolls = 12000;

double ParamValue(int station) {
  return 100.0 * station + kParam;  // distinct per module, unlike any value or output
}

const tl::Station& StationOf(int st) {
  for (const tl::Station& s : tl::kStations)
    if (s.station == st) return s;
  return tl::kStations[0];
}

struct Module {
  int station = 0;
  bool faulty = false;
  int32_t pv = 0, alarm = 0, parm = 0, ao = 0, pw = 0, dev = 0;
  int writesAccepted = 0;  // password writes (switching on) the library accepted
  int writesFailed = 0;    // reports of the password tag going into a failure status, or switching
                           // value with one
  bool pwFlag = false;     // the password tag's last report
  bool pwFailed = false;
};

// The line of the campaign: stations 1, 10, 12 and 21, each with a value, an alarm word read as a
// number, a parameter, an output and a password tag, and its link text.
class Campaign {
 public:
  explicit Campaign(sim::SimLine& line) : line_(line), h_(line) {
    h_.Block().TimeOut = tl::kCampaignTimeOutMs;
    for (const int st : {tl::kGood, tl::kTwinOfGood, tl::kPairA, tl::kPairB}) {
      line_.sim().set_param(st, kParam, sim::Signal(ParamValue(st)));
      Module m;
      m.station = st;
      h_.Module(st);
      const std::string n = std::to_string(st);
      m.pv = Add(h_.Tag("PV" + n + ":1", 0), StationOf(st).pv);
      m.alarm = Add(h_.Tag("PV_ALARM" + n + ":1", 0), 64 + StationOf(st).alarm);
      m.parm = Add(h_.Tag("PARM" + n + ":10", 0), ParamValue(st));
      m.ao = Add(h_.Tag("AO" + n + ":1", 0), StationOf(st).ao);
      m.pw = h_.Tag("SetPassWord" + n + ":0", 1);
      m.dev = h_.Tag("DEVICELINK" + n, 2);
      modules_.push_back(m);
    }
    comm_ = h_.Tag("COMMLINK", 2);
    h_.onReport = [this](int32_t id, const Reported& r) { Check(id, r); };
  }

  Host& host() { return h_; }
  std::vector<Module>& modules() { return modules_; }
  int32_t comm() const { return comm_; }
  const std::vector<std::string>& wrong() const { return wrong_; }
  const std::vector<std::string>& commTexts() const { return commTexts_; }
  // DEVICELINK texts of a station that claimed a normal link while its tags carried failures.
  const std::vector<std::string>& falseNormal() const { return falseNormal_; }

  bool Start() {
    if (!h_.Init()) return false;
    return h_.PollUntil([&] { return AllGood(); }, 5000);
  }

  // Every value tag of every module shows its module's value with a good status, and every link
  // text says normal.
  bool AllGood() {
    for (const Module& m : modules_) {
      for (const int32_t id : {m.pv, m.alarm, m.parm, m.ao}) {
        const Reported& r = h_.Last(id);
        if (r.reports == 0 || (r.status & kFailureBits) != 0 || !Known(id, r.number)) return false;
      }
      if (!EndsWith(h_.Last(m.dev).text, GBK("通讯正常!"))) return false;
    }
    return true;
  }

  // One poll; every kWriteEveryPolls a password write to each module: on, and once that reached
  // the module or was reported failed, off again (a newer write of a tag replaces a queued one).
  void Poll() {
    if (++polls_ % kWriteEveryPolls == 0) {
      for (Module& m : modules_) {
        const bool settled =
            line_.sim().record(m.station).password_writes + m.writesFailed >= m.writesAccepted;
        if (!settled) continue;
        if (h_.Last(m.pw).flag) {
          h_.Write(m.pw, false);
        } else if (h_.Write(m.pw, true)) {
          ++m.writesAccepted;
        }
      }
    }
    if (everyPoll) everyPoll(polls_);
    h_.Poll();
  }

  void Polls(int n) {
    for (int i = 0; i < n; ++i) Poll();
  }

  bool PollUntil(const std::function<bool()>& pred, int maxPolls) {
    for (int i = 0; i < maxPolls; ++i) {
      Poll();
      if (pred()) return true;
    }
    return false;
  }

  // A new value for a module; from now on both the old and the new one are its own.
  void NewValue(int station, double pv) {
    line_.sim().set_pv(station, sim::Signal(pv));
    for (const Module& m : modules_)
      if (m.station == station) known_[m.pv].push_back(pv);
  }

  bool Shows(int32_t id, double value) {
    const Reported& r = h_.Last(id);
    return r.reports > 0 && (r.status & kFailureBits) == 0 && r.number == value;
  }

 private:
  int32_t Add(int32_t id, double value) {
    known_[id].push_back(value);
    return id;
  }

  bool Known(int32_t id, double v) const {
    const auto it = known_.find(id);
    if (it == known_.end()) return true;
    for (const double k : it->second)
      if (k == v) return true;
    return false;
  }

  void Check(int32_t id, const Reported& r) {
    if (id == comm_) {
      commTexts_.push_back(r.text);
      return;
    }
    for (Module& m : modules_) {
      if (id == m.pw) {
        // A failed write restores the value the module has: the tag shows the failure, and shows
        // the old value only when the module had another one.
        const bool failed = (r.status & kFailureBits) != 0;
        if (failed && (!m.pwFailed || r.flag != m.pwFlag)) ++m.writesFailed;
        m.pwFlag = r.flag;
        m.pwFailed = failed;
      }
      if (id == m.dev && EndsWith(r.text, GBK("通讯正常!"))) {
        // Normal is only true when the module's last exchange worked.
        for (const int32_t v : {m.pv, m.parm, m.ao})
          if (m.faulty && h_.Last(v).reports > 0 && (h_.Last(v).status & kFailureBits) != 0 && faultsOn_)
            falseNormal_.push_back(std::to_string(m.station) + " at poll " + std::to_string(polls_));
      }
    }
    if (r.type != 0 || (r.status & kFailureBits) != 0 || known_.count(id) == 0) return;
    // Before the first read a tag may show its empty value.
    if (r.number == 0 && !seenGood_[id]) return;
    if (Known(id, r.number)) {
      seenGood_[id] = true;
      return;
    }
    wrong_.push_back("tag " + std::to_string(id) + " showed " + std::to_string(r.number) + " with status " +
                     std::to_string(r.status) + " at poll " + std::to_string(polls_));
  }

 public:
  bool faultsOn_ = false;
  std::function<void(long)> everyPoll;  // called before each poll with its number

 private:
  sim::SimLine& line_;
  Host h_;
  std::vector<Module> modules_;
  int32_t comm_ = 0;
  std::map<int32_t, std::vector<double>> known_;
  std::map<int32_t, bool> seenGood_;
  std::vector<std::string> wrong_;
  std::vector<std::string> commTexts_;
  std::vector<std::string> falseNormal_;
  long polls_ = 0;
};

enum class Expect {
  Fails,   // every exchange of the faulty modules fails
  Reads,   // the faulty modules are read all the same
  Either,  // the wire leaves it open: noise lands in some exchange or other, and a late answer is
           // in time after all when a loaded machine slows the polls (the driver's clock moves one
           // millisecond per poll, the module's delay is real time)
};

struct Scenario {
  const char* name;  // a name of tl::kScenarios
  Expect faulty;
  int rearmEvery = 0;  // > 0: the fault hits one answer every that many polls (from the first on),
                       // not every answer
};

sim::Fault FaultOf(const std::string& name) {
  for (const tl::Scenario& s : tl::kScenarios)
    if (s.name == name) return s.fault;
  ADD_FAILURE() << "no scenario " << name;
  return {};
}

class FaultCampaign : public ::testing::TestWithParam<Scenario> {
 protected:
  void SetUp() override { ASSERT_TRUE(line_.ok()) << line_.error(); }
  sim::SimLine line_{1, true};
};

// Stations 1 and 12 misbehave; their twins 10 and 21 answer and must never lend or borrow a value.
TEST_P(FaultCampaign, NoBorrowedValueTruthfulLinksAndTheNeighboursFlow) {
  const Scenario sc = GetParam();
  Campaign c(line_);
  ASSERT_TRUE(c.Start()) << "the line never settled";
  const size_t from = line_.sim().log_size();
  for (Module& m : c.modules()) {
    m.faulty = m.station == tl::kGood || m.station == tl::kPairA;
    if (m.faulty && sc.rearmEvery == 0) line_.sim().add_fault(m.station, FaultOf(sc.name));
  }
  c.faultsOn_ = true;
  if (sc.rearmEvery > 0) {
    c.everyPoll = [&](long poll) {
      if (poll % sc.rearmEvery != 1) return;
      sim::Fault f = FaultOf(sc.name);
      f.times = 1;
      for (const Module& m : c.modules())
        if (m.faulty && line_.sim().faults(m.station).empty()) line_.sim().add_fault(m.station, f);
    };
  }
  c.Polls(kFaultPolls / 2);
  // The neighbours are read all the while: new values come through with a good status.
  c.NewValue(tl::kTwinOfGood, 11.25);
  c.NewValue(tl::kPairB, -22.5);
  const int32_t twinPv = c.modules()[1].pv, pairBPv = c.modules()[3].pv;
  EXPECT_TRUE(c.PollUntil([&] { return c.Shows(twinPv, 11.25) && c.Shows(pairBPv, -22.5); }, kFlowPolls))
      << "the neighbours stopped";
  c.Polls(kFaultPolls / 2);

  for (const Module& m : c.modules()) {
    if (!m.faulty) continue;
    const Reported& pv = c.host().Last(m.pv);
    const std::string dev = c.host().Last(m.dev).text;
    if (sc.faulty == Expect::Fails) {
      EXPECT_NE(pv.status & kFailureBits, 0u) << "station " << m.station;
      EXPECT_FALSE(EndsWith(dev, GBK("通讯正常!"))) << "station " << m.station;
    } else if (sc.faulty == Expect::Reads) {
      EXPECT_EQ(pv.status & kFailureBits, 0u) << "station " << m.station;
      EXPECT_TRUE(EndsWith(dev, GBK("通讯正常!"))) << "station " << m.station;
    }
  }
  if (sc.faulty == Expect::Fails) {
    EXPECT_TRUE(c.falseNormal().empty())
        << c.falseNormal().size() << " reports of a normal link with failing tags, "
        << "first of station " << c.falseNormal().front();
  }

  // Faults gone: everything recovers, and every write the library took reached its module or was
  // reported failed.
  c.everyPoll = nullptr;
  line_.sim().clear_faults(-1);
  c.faultsOn_ = false;
  EXPECT_TRUE(c.PollUntil([&] { return c.AllGood(); }, kRecoveryPolls)) << "no recovery";
  c.host().Polls(500);  // the last queued writes go out
  for (const Module& m : c.modules()) {
    const int reached = line_.sim().record(m.station).password_writes;
    EXPECT_GT(m.writesAccepted, 0);
    EXPECT_GE(reached + m.writesFailed, m.writesAccepted) << "station " << m.station << ": writes lost";
    EXPECT_LE(reached, m.writesAccepted) << "station " << m.station;
  }
  EXPECT_TRUE(c.wrong().empty()) << c.wrong().size()
                                 << " reports of another request's value, first: " << c.wrong().front();
  EXPECT_GT(line_.sim().log_size(), from);
}

std::string ScenarioName(const ::testing::TestParamInfo<Scenario>& p) {
  std::string n;
  for (const char* s = p.param.name; *s != '\0'; ++s) n += *s == '-' ? '_' : *s;
  return n;
}

// Stray noise lands in whichever exchange comes next and spoils it; a module sending it after every
// answer would starve its successor in the round, so it strikes now and then. A line that stops
// draining stops it for every module, so it too comes and goes.
INSTANTIATE_TEST_SUITE_P(
    Line, FaultCampaign,
    ::testing::Values(Scenario{"silent", Expect::Fails}, Scenario{"late", Expect::Either},
                      Scenario{"cut", Expect::Fails}, Scenario{"stray", Expect::Either, 40},
                      Scenario{"badcheck", Expect::Fails}, Scenario{"refuse", Expect::Fails},
                      Scenario{"wrong-station", Expect::Fails}, Scenario{"dribble", Expect::Reads},
                      Scenario{"over-long", Expect::Fails}, Scenario{"double", Expect::Either},
                      Scenario{"noise-cr", Expect::Fails}, Scenario{"repeat", Expect::Either},
                      Scenario{"no-drain", Expect::Either, 3000}),
    ScenarioName);

// The device itself goes away and comes back: the link texts show the outage, writes made during it
// reach the module or are reported failed, and the values come back.
TEST(FaultCampaignLine, DeviceVanishesAndReturns) {
  sim::SimLine line(1, true);
  ASSERT_TRUE(line.ok()) << line.error();
  Campaign c(line);
  ASSERT_TRUE(c.Start());
  for (int round = 0; round < 2; ++round) {
    const size_t commBefore = c.commTexts().size();
    const uint64_t reopens = line.runner().reopen_count();
    line.runner().drop_line(tl::kVanishMs);
    ASSERT_TRUE(c.PollUntil([&] { return line.runner().reopen_count() > reopens; }, 20000));
    EXPECT_TRUE(c.PollUntil([&] { return c.AllGood(); }, kRecoveryPolls)) << "round " << round;
    bool shown = false;
    for (size_t i = commBefore; i < c.commTexts().size(); ++i)
      shown = shown || !EndsWith(c.commTexts()[i], GBK("通讯正常!"));
    EXPECT_TRUE(shown) << "COMMLINK never showed the outage, round " << round;
  }
  c.host().Polls(500);
  for (const Module& m : c.modules()) {
    const int reached = line.sim().record(m.station).password_writes;
    EXPECT_GE(reached + m.writesFailed, m.writesAccepted) << "station " << m.station << ": writes lost";
  }
  EXPECT_TRUE(c.wrong().empty()) << c.wrong().size()
                                 << " reports of another request's value, first: " << c.wrong().front();
}

// ---- The randomized campaign
//
// For each seed: a line of 2 to 6 stations with at least one pair whose check characters collide,
// a time-out of 50, 100 or 200 ms, and per request of each station a random fault from the
// simulator's kinds (noise ending in CR, answering twice, late up to three time-outs, cut, bad
// check, refusal, silence, the line vanishing) or a punctual answer; random password writes and
// pauses. After every poll no value tag may show anything but its own station's value for that tag
// with a good status; at the end every accepted write reached its module or was reported failed,
// once the faults stop every tag is read again, and a stop with writes under way sends or counts
// each of them.
//
// Left out, because the wire cannot tell them (the README's list): answers and repeats later than
// the line waits for them (one time-out after the request when it was answered, three when not),
// and a repeat taken by the next request to the same station for the same kind of answer (the
// campaign's stations that answer twice have one request per kind).
//
// KORVEL_CAMPAIGN_SEED=N runs seed N alone; KORVEL_CAMPAIGN_MINUTES=M runs new seeds for M minutes
// (scripts/fuzz campaign M).
class RandomLine {
 public:
  explicit RandomLine(uint64_t seed) : rng_(seed) {}

  // Empty when every check held, else what failed.
  std::string Run() {
    plat::set_test_clock([this] { return now_; });
    std::string verdict = Build();
    if (verdict.empty()) verdict = Drive();
    obj_.reset();
    plat::set_test_clock({});
    return verdict;
  }
  long polls() const { return polls_; }

 private:
  struct Station {
    int st = 0;
    bool repeats = false;  // may answer twice: it has one request per kind of answer
    int pw = -1;           // password tag, or -1
    int accepted = 0;      // password writes (on) the library accepted
  };
  struct Own {
    size_t tag;
    double value;
  };

  int Pick(int n) { return static_cast<int>(rng_() % static_cast<uint64_t>(n)); }
  static int DigitSum(int st) { return st / 10 + st % 10; }

  size_t Tag(const std::string& addr, uint8_t type) {
    TTagInfo t;
    std::memset(&t, 0, sizeof t);
    t.TagID = static_cast<int32_t>(infos_.size());
    const std::string name = addr;
    std::memcpy(t.TagName, name.data(), std::min(name.size(), sizeof t.TagName - 1));
    std::memcpy(t.TagAddr, addr.data(), std::min(addr.size(), sizeof t.TagAddr - 1));
    t.TagType = type;
    infos_.push_back(t);
    return infos_.size() - 1;
  }

  std::string Build() {
    std::memset(&block_, 0, sizeof block_);
    FillPDBDefaults(&block_);
    block_.ComPort = 0;
    timeOut_ = 50 << Pick(3);
    block_.TimeOut = static_cast<uint16_t>(timeOut_);
    block_.WriteCount = static_cast<uint16_t>(Pick(3));
    // A colliding pair first (digit sums 1..17 have at least two stations), then any others.
    std::vector<int> numbers;
    const int sum = 1 + Pick(17);
    std::vector<int> twins;
    for (int st = 1; st < 100; ++st)
      if (DigitSum(st) == sum) twins.push_back(st);
    const int a = twins[static_cast<size_t>(Pick(static_cast<int>(twins.size())))];
    int b = a;
    while (b == a) b = twins[static_cast<size_t>(Pick(static_cast<int>(twins.size())))];
    numbers = {a, b};
    const int n = 2 + Pick(5);
    while (static_cast<int>(numbers.size()) < n) {
      const int st = 1 + Pick(99);
      if (std::find(numbers.begin(), numbers.end(), st) == numbers.end()) numbers.push_back(st);
    }
    for (const int st : numbers) {
      sim::ModuleConfig m = sim::ModuleConfig::with_defaults(sim::Family::PLNK);
      m.pv = sim::Signal(st + 0.5);
      m.ao = sim::Signal(st + 0.25);
      for (int p = 0; p <= 0xFF; ++p) m.params[p] = sim::Signal(100.0 * st + p);
      sim_.set_module(st, std::move(m));
      block_.Devices[st].DevID = st;
      block_.Devices[st].DevType = 1;
      block_.Devices[st].DevTypeName.set("PLNK");
      Station s;
      s.st = st;
      const std::string t = std::to_string(st);
      own_.push_back({Tag("PV" + t + ":1", 0), st + 0.5});
      const bool ao = Pick(2) == 0;
      if (ao) own_.push_back({Tag("AO" + t + ":1", 0), st + 0.25});
      const int parm = 1 + Pick(0x20);
      char hex[8];
      std::snprintf(hex, sizeof hex, "%X", parm);  // parameter numbers are written in hexadecimal
      if (Pick(2) == 0) own_.push_back({Tag("PARM" + t + ":" + hex, 0), 100.0 * st + parm});
      s.repeats = !ao;
      if (Pick(2) == 0) s.pw = static_cast<int>(Tag("SetPassWord" + t + ":0", 1));
      stations_.push_back(s);
      line_ += (line_.empty() ? "" : ",") + t;
    }
    enable_ = static_cast<int>(Tag("ENCOMMLINK", 0));
    line_ += " time-out " + std::to_string(timeOut_) + " ms";
    std::vector<const TTagInfo*> list;
    for (const TTagInfo& t : infos_) list.push_back(&t);
    obj_ = std::make_unique<TDLLObject>(true);
    obj_->UseLine(std::make_unique<test::MemoryLine>(sim_, wire_));
    if (!obj_->IniDLLObj(&block_, list)) return "the driver did not start: " + obj_->sErrEvent;
    return {};
  }

  // The faults of one station's next request (used up by it).
  void Arm(const Station& s) {
    const int t = timeOut_;
    const auto delay = [&](int from, int to) {  // inclusive, ms
      sim_.add_fault(s.st, {sim::FaultKind::Delay, from + Pick(to - from + 1), 1});
    };
    const int r = Pick(100);
    if (r < 50) return delay(0, t * 9 / 10);
    switch (Pick(s.repeats ? 8 : 7)) {
      case 0:
        return delay(t + 1, 3 * t);  // late
      case 1: {
        const int lead = 1 + Pick(10);
        delay(lead, t * 9 / 10);
        return sim_.add_fault(s.st, {sim::FaultKind::NoiseCr, lead, 1});
      }
      case 2:
        delay(0, t * 9 / 10);
        return sim_.add_fault(s.st, {sim::FaultKind::Cut, -1, 1});
      case 3:
        delay(0, t * 9 / 10);
        return sim_.add_fault(s.st, {sim::FaultKind::BadCheck, -1, 1});
      case 4:
        delay(0, t * 9 / 10);
        return sim_.add_fault(s.st, {sim::FaultKind::Refuse, -1, 1});
      case 5:
        return sim_.add_fault(s.st, {sim::FaultKind::Silent, -1, 1});
      case 6:
        if (Pick(10) != 0) return delay(0, t * 9 / 10);  // the line vanishes seldom
        return sim_.add_fault(s.st, {sim::FaultKind::Vanish, 20 + Pick(300), 1});
      default: {
        // Answering twice; the repeat comes within the time-out, as a module's repeat does.
        const int first = Pick(t / 2 + 1);
        delay(first, first);
        return sim_.add_fault(s.st, {sim::FaultKind::Repeat, 1 + Pick(t - first), 1});
      }
    }
  }

  std::string Violation() {
    for (const Own& o : own_) {
      const TDLLTag& tag = *obj_->TagList.at(o.tag);
      if ((tag.Status & kFailureBits) != 0 || tag.ReadTotal == 0 || tag.Value == Variant(o.value)) continue;
      return tag.TagName + " showed " + tag.Value.toString() + " with status " + std::to_string(tag.Status) +
             " at poll " + std::to_string(polls_);
    }
    return {};
  }

  void Poll() {
    ++now_;
    ++polls_;
    obj_->ReadExecute();
  }

  std::string Drive() {
    constexpr long kPolls = 30000;  // 30 s of the line
    long resumeAt = -1;
    for (long i = 0; i < kPolls; ++i) {
      for (const Station& s : stations_)
        if (sim_.faults(s.st).empty()) Arm(s);
      if (i == resumeAt) obj_->WriteExecute(enable_, Variant(1.0));
      if (resumeAt < i && Pick(4000) == 0) {
        obj_->WriteExecute(enable_, Variant(0.0));
        resumeAt = i + 1 + Pick(300);
      }
      for (Station& s : stations_) {
        if (s.pw < 0 || Pick(300) != 0) continue;
        const TDLLTag& pw = *obj_->TagList.at(static_cast<size_t>(s.pw));
        const int settled = sim_.record(s.st).password_writes + pw.WriteErrors;
        // A newer write of a tag replaces its queued one: the next write waits until the last one
        // reached the module or was reported failed.
        if (settled < s.accepted) continue;
        if (pw.Value.toBool()) {
          obj_->WriteExecute(s.pw, Variant(false));
        } else if (obj_->WriteExecute(s.pw, Variant(true))) {
          ++s.accepted;
        }
      }
      Poll();
      if (std::string v = Violation(); !v.empty()) return v;
    }
    // Quiet: no faults, no pause; the queued writes go out and every tag is read again.
    sim_.clear_faults(-1);
    obj_->WriteExecute(enable_, Variant(1.0));
    for (long i = 0; i < 20000; ++i) {
      Poll();
      if (std::string v = Violation(); !v.empty()) return v;
    }
    for (const Station& s : stations_) {
      if (s.pw < 0) continue;
      const int reached = sim_.record(s.st).password_writes;
      const int failed = obj_->TagList.at(static_cast<size_t>(s.pw))->WriteErrors;
      if (reached + failed < s.accepted || reached > s.accepted)
        return "station " + std::to_string(s.st) + ": " + std::to_string(s.accepted) + " writes accepted, " +
               std::to_string(reached) + " reached it, " + std::to_string(failed) + " reported failed";
    }
    for (const Own& o : own_)
      if ((obj_->TagList.at(o.tag)->Status & kFailureBits) != 0)
        return obj_->TagList.at(o.tag)->TagName + " was not read again once the faults stopped";
    return StopWithWritesUnderWay();
  }

  // The driver stops with new writes queued or on the line: each is sent or counted failed.
  std::string StopWithWritesUnderWay() {
    for (Station& s : stations_)
      if (s.pw >= 0 && !obj_->TagList.at(static_cast<size_t>(s.pw))->Value.toBool() &&
          obj_->WriteExecute(s.pw, Variant(true)))
        ++s.accepted;
    for (int i = Pick(4); i > 0; --i) Poll();
    obj_->Stop();
    int accepted = 0, reached = 0;
    for (const Station& s : stations_) {
      accepted += s.accepted;
      reached += sim_.record(s.st).password_writes;
    }
    if (reached + obj_->WriteFailCount < accepted)
      return "at the stop: " + std::to_string(accepted) + " writes accepted, " + std::to_string(reached) +
             " reached their modules, " + std::to_string(obj_->WriteFailCount) + " counted failed";
    return {};
  }

 public:
  std::string Line() const { return line_; }

 private:
  std::mt19937_64 rng_;
  uint64_t now_ = 1000000;
  long polls_ = 0;
  int timeOut_ = 100;
  sim::ModuleSim sim_;
  std::shared_ptr<test::MemoryLine::Control> wire_ = std::make_shared<test::MemoryLine::Control>();
  PDB block_;
  std::vector<TTagInfo> infos_;
  std::vector<Station> stations_;
  std::vector<Own> own_;
  int enable_ = -1;
  std::string line_;
  std::unique_ptr<TDLLObject> obj_;
};

uint64_t EnvNumber(const char* name, uint64_t fallback) {
  const char* v = std::getenv(name);
  return v != nullptr && *v != '\0' ? std::strtoull(v, nullptr, 10) : fallback;
}

TEST(RandomCampaign, EverySeedKeepsBothInvariants) {
  constexpr uint64_t kCiSeeds = 500;
  const uint64_t only = EnvNumber("KORVEL_CAMPAIGN_SEED", 0);
  const uint64_t minutes = EnvNumber("KORVEL_CAMPAIGN_MINUTES", 0);
  const auto end = std::chrono::steady_clock::now() + std::chrono::minutes(minutes);
  // A long run starts where CI stops, from a seed of the clock, so that every run tries new lines.
  uint64_t seed = only != 0 ? only : minutes > 0 ? static_cast<uint64_t>(std::random_device{}()) << 16 : 1;
  // Seeds long runs once failed on, replayed by every run until their line changes.
  for (const uint64_t failed : {241706488636897ull}) {
    if (only != 0) break;
    RandomLine line(failed);
    const std::string verdict = line.Run();
    ASSERT_TRUE(verdict.empty()) << "seed " << failed << " (stations " << line.Line() << "): " << verdict;
  }
  uint64_t runs = 0;
  long polls = 0;
  for (;; ++seed, ++runs) {
    if (only != 0 ? runs == 1 : minutes > 0 ? std::chrono::steady_clock::now() >= end : runs == kCiSeeds)
      break;
    RandomLine line(seed);
    const std::string verdict = line.Run();
    polls += line.polls();
    ASSERT_TRUE(verdict.empty()) << "seed " << seed << " (stations " << line.Line() << "): " << verdict
                                 << "\n  repeat with KORVEL_CAMPAIGN_SEED=" << seed
                                 << " build/tests/protocol/test_protocol --gtest_filter=RandomCampaign.*";
  }
  std::printf("%llu seeds, %ld polls\n", static_cast<unsigned long long>(runs), polls);
}

}  // namespace
}  // namespace korvel
