// The scheduler keeps its read commands in due-time order instead of walking the list. Here the
// straightforward list walk is kept as the reference: on long random schedules (silent and
// answering modules, back-off at every depth and its two-minute lift, probes, writes with and
// without priority, pauses, long and short gaps) both must choose the same command at every step
// and leave every command with the same failure count and last selection time.
#include <random>
#include <vector>

#include "script_object.h"

namespace korvel::test {
namespace {

struct RefCommand {
  int32_t failCount;
  uint64_t lastSendTick;
};

// The selection as a walk over the list, on copies of the commands' fields.
const TCommand* ReferenceChoice(const TBaseDLLObject& obj, uint64_t now, std::vector<RefCommand>& st) {
  const auto elapsed = [&](uint64_t then) { return static_cast<int64_t>(now - then); };
  const TCommand* cur = nullptr;
  int64_t best = 1;
  for (size_t i = 0; i < obj.CommandList.size(); ++i) {
    const TCommand* c = obj.CommandList[i];
    RefCommand& r = st[i];
    int64_t due = c->Period - elapsed(r.lastSendTick);
    if (r.failCount >= 4 && r.failCount <= 9) {
      due += static_cast<int64_t>(r.failCount) * c->Period;
    } else if (r.failCount > 10) {
      if (elapsed(r.lastSendTick) <= 120000) {
        due += 10 * static_cast<int64_t>(c->Period);
      } else {
        r.failCount = 0;
        r.lastSendTick = now;
      }
    }
    if (due < best) {
      best = due;
      if (best <= 0) cur = c;
    }
  }
  if (!obj.PendingWrites.empty()) {
    const TCommand* w = obj.PendingWrites.front();
    if (obj.WritePriority || best > w->Period - elapsed(w->LastSendTick)) return w;
  }
  for (size_t i = 0; i < obj.CommandList.size(); ++i)
    if (obj.CommandList[i] == cur) st[i].lastSendTick = now;
  return cur;
}

// The script object, failing like the protocol does: a silent module's command counts a failure
// at its time-out, and after several a probe with the module's best command stands in for it.
class DiffObject : public ScriptObject {
 public:
  std::mt19937* rng = nullptr;
  int selections = 0, mismatches = 0, probes = 0;

  bool GetResult() override {
    TCommand* c = CurCommand;
    if (c != nullptr && !c->IsWrite && answers.count(c->DeviceAddr) &&
        answers[c->DeviceAddr] == Answer::Silent &&
        static_cast<int64_t>(plat::tick_ms() - SendTick) > CommTimeOut) {
      ++c->FailCount;
      TCommand* best = ValidDev(c->DeviceAddr) ? DevRun[c->DeviceAddr].BestCommand : nullptr;
      if (best != nullptr && (*rng)() % 4 == 0) {
        CurCommand = best;
        RunStatus = rsReady;
        RunEvent = opReadCmd;
        ++probes;
      }
      return false;
    }
    return ScriptObject::GetResult();
  }

  void GetNextCommand() override {
    std::vector<RefCommand> st;
    for (const TCommand* c : CommandList) st.push_back({c->FailCount, c->LastSendTick});
    const TCommand* expected = ReferenceChoice(*this, plat::tick_ms(), st);
    ScriptObject::GetNextCommand();
    ++selections;
    bool same = CurCommand == expected;
    for (size_t i = 0; i < CommandList.size(); ++i)
      same = same && CommandList[i]->FailCount == st[i].failCount &&
             CommandList[i]->LastSendTick == st[i].lastSendTick;
    if (!same) ++mismatches;
    EXPECT_TRUE(same) << "selection " << selections;
  }
};

class ScheduleOrder : public FrameworkTest {};

TEST_F(ScheduleOrder, TheOrderedChoiceIsTheListWalksChoiceAtEveryStep) {
  for (unsigned seed = 1; seed <= 3; ++seed) {
    obj = std::make_unique<DiffObject>();
    auto* d = static_cast<DiffObject*>(obj.get());
    std::mt19937 rng(seed);
    d->rng = &rng;
    PDB block = MakeBlock({1, 2, 3, 4, 5, 6});
    std::vector<TagSpec> tags;
    const int32_t periods[] = {0, 0, 50, 200, 1000, 1000, 5000, 20000};
    int32_t id = 0;
    for (int dev = 1; dev <= 6; ++dev) {
      tags.push_back({id++, "PV" + std::to_string(dev) + ":1", 0, periods[rng() % 8]});
      tags.push_back({id++, "PARM" + std::to_string(dev) + ":" + std::to_string(dev), 0, periods[rng() % 8]});
      tags.push_back({id++, "AO" + std::to_string(dev) + ":1", 0, periods[rng() % 8]});
    }
    tags.push_back({id++, "SetPassWord1:0", 1});
    tags.push_back({id++, "SetPassWord2:0", 1});
    tags.push_back({id++, "ENCOMMLINK", 0});
    ASSERT_TRUE(Init(block, tags));
    d->CommTimeOut = 100;
    d->answers[6] = Answer::Silent;  // module 6 never answers: its commands reach the deepest back-off
    for (int step = 0; step < 40000 && !HasFatalFailure(); ++step) {
      const unsigned r = rng() % 100;
      if (r < 8) {
        d->answers[1 + static_cast<int>(rng() % 5)] = rng() % 3 ? Answer::Silent : Answer::Good;
      } else if (r < 11) {
        d->WriteExecute(id - 3 + static_cast<int32_t>(rng() % 2), Variant(rng() % 2 == 0));
      } else if (r < 12) {
        d->WritePriority = !d->WritePriority;
      } else if (r < 13) {
        d->WriteExecute(id - 1, Variant(rng() % 6 == 0 ? 0.0 : 1.0));  // pause, mostly resume
      } else if (r < 14) {
        Advance(60000 + rng() % 90000);  // into and past the two-minute lift
      } else {
        Advance(rng() % 120);
        d->ReadExecute();
      }
    }
    EXPECT_EQ(d->mismatches, 0) << "seed " << seed;
    EXPECT_GT(d->selections, 5000) << "seed " << seed;
    EXPECT_GT(d->probes, 10) << "seed " << seed;
    int deep = 0;
    for (const TCommand* c : d->CommandList) deep += c->DeviceAddr == 6 && c->FailCount > 0;
    EXPECT_GT(deep, 0) << "seed " << seed;
  }
}

// The heap on its own, against a plain minimum search over the same keys (ties to the earlier list
// position): after every insert, move and removal, and now and then while it is emptied front by
// front, which brings out an entry left out of place deep inside. A removal fills the gap with the
// last entry, which may belong above the gap as well as below it.
TEST(CommandHeap, FrontIsThePlainMinimumAfterEverySetAndRemove) {
  std::mt19937 rng(7);
  std::vector<TCommand> cmds(40);
  for (size_t i = 0; i < cmds.size(); ++i) cmds[i].ListPos = static_cast<int32_t>(i);
  std::vector<int64_t> keys(cmds.size(), -1);  // -1: not in the heap
  TCommandHeap heap;
  heap.reset(cmds.size());
  const auto check = [&](int step) {
    size_t best = cmds.size(), held = 0;
    for (size_t k = 0; k < cmds.size(); ++k) {
      if (keys[k] < 0) continue;
      ++held;
      if (best == cmds.size() || keys[k] < keys[best]) best = k;
    }
    EXPECT_EQ(heap.size(), held) << "step " << step;
    if (held > 0) {
      EXPECT_EQ(heap.front().cmd, &cmds[best]) << "step " << step;
    }
    return held > 0 ? best : cmds.size();
  };
  for (int step = 0; step < 20000 && !::testing::Test::HasFailure(); ++step) {
    const size_t i = rng() % cmds.size();
    if (rng() % 3 == 0) {
      heap.remove(&cmds[i]);
      keys[i] = -1;
    } else {
      keys[i] = static_cast<int64_t>(rng() % 1000);  // small range: ties on the key are common
      heap.set(&cmds[i], static_cast<uint64_t>(keys[i]));
    }
    check(step);
    if (rng() % 200 != 0) continue;
    for (size_t front = check(step); front < cmds.size() && !::testing::Test::HasFailure();
         front = check(step)) {
      heap.remove(heap.front().cmd);
      keys[static_cast<size_t>(front)] = -1;
    }
  }
}

}  // namespace
}  // namespace korvel::test
