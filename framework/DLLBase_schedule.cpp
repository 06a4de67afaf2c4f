// Commands and scheduling: the read command list, the write queue and the choice of the next
// command. The read commands are kept ordered by due time (a heap), so a selection does not walk
// the list; the order it gives is the list walk's: most overdue first, list order among equals.
#include "framework/DLLBase.h"
#include "platform/clock.h"
#include "platform/datetime.h"
#include "platform/text.h"

namespace korvel {
namespace {

constexpr size_t kMaxPendingWrites = 300;
constexpr int64_t kWriteExpiryMs = 10000;
constexpr int32_t kWritePeriod = -10000;
constexpr int64_t kBackOffResetMs = 120000;

// now - then on the 64-bit clock; read commands start with LastSendTick = now - Period, which
// may lie "before" the clock base, so the difference is taken modulo 2^64.
int64_t elapsed(uint64_t now, uint64_t then) {
  return static_cast<int64_t>(now - then);
}

}  // namespace

std::string TBaseDLLObject::ValueText(const TDLLTag& tag) {
  return tag.Value.toString();
}

void TBaseDLLObject::ReleaseCommands() {
  // A write taken from the queue is owned through HeadCommand until its chain ends.
  if (HeadCommand != nullptr && (HeadCommand->CmdKind & kCmdTransient)) FreeCommand(HeadCommand);
  CurCommand = nullptr;
  HeadCommand = nullptr;
  for (TDevRunInfo& d : DevRun) {
    d.BestCommand = nullptr;
    d.ProbeActive = false;
  }
  for (TCommand*& cmd : CommandList) FreeCommand(cmd);
  CommandList.clear();
  for (TCommand*& cmd : PendingWrites) FreeCommand(cmd);
  PendingWrites.clear();
  DueHeap.clear();
  ExpiryHeap.clear();
  LastChosen = nullptr;
  ScheduleStale = true;
}

namespace {

// Back-off of a command that keeps failing, in periods added to its own.
int64_t backoff_periods(int32_t failCount) {
  if (failCount >= 4 && failCount <= 9) return failCount;
  if (failCount > 10) return 10;  // until kBackOffResetMs after its last selection
  return 0;
}

uint64_t due_at(const TCommand& c) {
  const int64_t wait = static_cast<int64_t>(c.Period) * (1 + backoff_periods(c.FailCount));
  return c.LastSendTick + static_cast<uint64_t>(wait);
}

// Ticks are compared by their difference, as everywhere on the 64-bit clock.
bool before(const TCommandHeap::Entry& a, const TCommandHeap::Entry& b) {
  const auto d = static_cast<int64_t>(a.key - b.key);
  return d != 0 ? d < 0 : a.listPos < b.listPos;
}

}  // namespace

void TCommandHeap::reset(size_t n) {
  heap_.clear();
  heap_.reserve(n);
  where_.assign(n, -1);
}

void TCommandHeap::place(size_t i, const Entry& e) {
  heap_[i] = e;
  where_[static_cast<size_t>(e.listPos)] = static_cast<int32_t>(i);
}

void TCommandHeap::up(size_t i) {
  const Entry e = heap_[i];
  while (i > 0) {
    const size_t parent = (i - 1) / 2;
    if (!before(e, heap_[parent])) break;
    place(i, heap_[parent]);
    i = parent;
  }
  place(i, e);
}

void TCommandHeap::down(size_t i) {
  const Entry e = heap_[i];
  for (;;) {
    size_t child = 2 * i + 1;
    if (child >= heap_.size()) break;
    if (child + 1 < heap_.size() && before(heap_[child + 1], heap_[child])) ++child;
    if (!before(heap_[child], e)) break;
    place(i, heap_[child]);
    i = child;
  }
  place(i, e);
}

void TCommandHeap::set(TCommand* c, uint64_t key) {
  const auto lp = static_cast<size_t>(c->ListPos);
  if (lp >= where_.size()) where_.resize(lp + 1, -1);
  if (where_[lp] < 0) {
    heap_.push_back({key, c->ListPos, c});
    where_[lp] = static_cast<int32_t>(heap_.size() - 1);
    up(heap_.size() - 1);
    return;
  }
  const auto i = static_cast<size_t>(where_[lp]);
  heap_[i].key = key;
  up(i);
  down(static_cast<size_t>(where_[lp]));
}

void TCommandHeap::remove(const TCommand* c) {
  if (!contains(c->ListPos)) return;
  const auto lp = static_cast<size_t>(c->ListPos);
  const auto i = static_cast<size_t>(where_[lp]);
  where_[lp] = -1;
  const Entry last = heap_.back();
  heap_.pop_back();
  if (i == heap_.size()) return;
  place(i, last);
  up(i);
  down(static_cast<size_t>(where_[static_cast<size_t>(last.listPos)]));
}

bool TBaseDLLObject::Scheduled(const TCommand* c) const {
  return c != nullptr && c->ListPos >= 0 && static_cast<size_t>(c->ListPos) < CommandList.size() &&
         CommandList[static_cast<size_t>(c->ListPos)] == c && DueHeap.contains(c->ListPos);
}

void TBaseDLLObject::Reschedule(TCommand* c) {
  if (!Scheduled(c)) return;
  DueHeap.set(c, due_at(*c));
  if (c->FailCount > 10)
    ExpiryHeap.set(c, c->LastSendTick);
  else
    ExpiryHeap.remove(c);
}

void TBaseDLLObject::RebuildSchedule() {
  DueHeap.reset(CommandList.size());
  ExpiryHeap.reset(CommandList.size());
  for (size_t i = 0; i < CommandList.size(); ++i) {
    TCommand* c = CommandList[i];
    if (c == nullptr) continue;
    c->ListPos = static_cast<int32_t>(i);
    DueHeap.set(c, due_at(*c));
    if (c->FailCount > 10) ExpiryHeap.set(c, c->LastSendTick);
  }
  LastChosen = nullptr;
  ScheduleStale = false;
}

void TBaseDLLObject::GetNextCommand() {
  Guarded("TBaseDLLObject", "GetNextCommand", [&] {
    CurCommand = nullptr;
    HeadCommand = nullptr;
    const uint64_t now = plat::tick_ms();
    if (ScheduleStale || DueHeap.size() != CommandList.size()) {
      RebuildSchedule();
    } else if (LastChosen != nullptr) {
      // Only the command of the last exchange, and the probe that may have stood in for it, can
      // have a new failure count since the last selection.
      TCommand* probe =
          ValidDev(LastChosen->DeviceAddr) ? DevRun[LastChosen->DeviceAddr].BestCommand : nullptr;
      Reschedule(LastChosen);
      if (probe != LastChosen) Reschedule(probe);
    }
    LastChosen = nullptr;

    // The most overdue read command, the earlier in the list among equals.
    TCommand* pick = nullptr;
    int64_t pickDue = 0;
    const auto consider = [&](TCommand* c, int64_t dueIn) {
      c->DueIn = dueIn;
      if (pick == nullptr || dueIn < pickDue || (dueIn == pickDue && c->ListPos < pick->ListPos)) {
        pick = c;
        pickDue = dueIn;
      }
    };
    // The deepest back-off ends kBackOffResetMs after a command's last selection: it is due by its
    // own period from then, and starts afresh.
    while (!ExpiryHeap.empty() && elapsed(now, ExpiryHeap.front().key) > kBackOffResetMs) {
      TCommand* c = ExpiryHeap.front().cmd;
      const int64_t dueIn = c->Period - elapsed(now, c->LastSendTick);
      c->FailCount = 0;
      c->LastSendTick = now;
      Reschedule(c);
      consider(c, dueIn);
    }
    if (!DueHeap.empty()) consider(DueHeap.front().cmd, static_cast<int64_t>(DueHeap.front().key - now));
    int64_t best = 1;
    if (pick != nullptr && pickDue < best) {
      best = pickDue;
      if (best <= 0) CurCommand = pick;
    }

    if (!PendingWrites.empty()) {
      TCommand* w = PendingWrites.front();
      bool take = WritePriority;
      if (!take) {
        w->DueIn = w->Period - elapsed(now, w->LastSendTick);
        take = best > w->DueIn;
      }
      if (take) {
        PendingWrites.erase(PendingWrites.begin());
        CurCommand = w;
      }
    }
    if (CurCommand != nullptr) {
      HeadCommand = CurCommand;
      CurCommand->LastSendTick = now;
      if (Scheduled(CurCommand)) {
        Reschedule(CurCommand);
        LastChosen = CurCommand;
      }
    }
  });
}

void TBaseDLLObject::GetCommandNext() {
  Guarded("TBaseDLLObject", "GetCommandNext", [&] {
    if (CurCommand == nullptr) return;
    if (CurCommand->NextCommand != nullptr) {
      CurCommand = CurCommand->NextCommand;
      return;
    }
    if (CurCommand->CmdKind & kCmdTransient) {
      if (HeadCommand != nullptr)
        FreeCommand(HeadCommand);
      else
        FreeCommand(CurCommand);
    }
    CurCommand = nullptr;
    HeadCommand = nullptr;
  });
}

void TBaseDLLObject::DropUnsentWrite(const TCommand& w, const std::string& reason, bool alwaysLog) {
  ++WriteFailCount;
  if (w.TagIndex.empty()) return;
  TDLLTag* tag = TagAt(w.TagIndex[0]);
  if (tag == nullptr) return;
  ++tag->WriteTotal;
  ++tag->WriteErrors;
  // The tag showed the value of this write since it was queued; it never left, so the value
  // from before the write is the true one.
  const std::string value = w.Values.empty() ? std::string() : w.Values[0].toString();
  if (!w.Values.empty() && tag->Value == w.Values[0]) {
    tag->Value = tag->OldValue;
    tag->TimeStamp = plat::now_datetime();
  }
  // The host must learn that the write failed, as for a write that could not be sent.
  tag->Status = (tag->Status | kStatusNotDelivered) & kStatusDevMarkMask;
  if (Parm.ErrorLog || alwaysLog)
    LogLine(GBK("：标签写入请求未执行：") + tag->TagName + reason + GBK(" 地址=") + tag->TagAddr +
            GBK(", 标签值=") + value + "\r\n");
}

void TBaseDLLObject::DropUnsentWrites() {
  // A write taken from the queue counts as delivered once it went out; one waiting to be sent
  // (again) never will be now.
  TCommand* taken = HeadCommand != nullptr ? HeadCommand : CurCommand;
  const bool wentOut = RunStatus == rsWriting && !SendFailed;
  if (taken != nullptr && (taken->CmdKind & kCmdTransient) && taken->IsWrite && !wentOut)
    DropUnsentWrite(*taken, GBK("驱动停止时未发送,"), true);
  for (const TCommand* w : PendingWrites) DropUnsentWrite(*w, GBK("驱动停止时未发送,"), true);
}

bool TBaseDLLObject::WriteQueued(int32_t p) const {
  for (const TCommand* q : PendingWrites)
    if (!q->TagIndex.empty() && q->TagIndex[0] == p) return true;
  return false;
}

bool TBaseDLLObject::QueueWrite(TDLLTag& tag, TCommand* w) {
  const uint64_t now = plat::tick_ms();
  w->Period = kWritePeriod;
  w->CreateTick = now;
  for (TCommand* c = w; c != nullptr; c = c->NextCommand) {
    c->Values.assign(1, tag.Value);
    SyncTagValue(c);
  }
  // A newer write of a tag replaces every queued one.
  const int32_t first = w->TagIndex.empty() ? -1 : w->TagIndex[0];
  for (size_t i = 0; i < PendingWrites.size();) {
    TCommand* q = PendingWrites[i];
    if (!q->TagIndex.empty() && q->TagIndex[0] == first) {
      PendingWrites.erase(PendingWrites.begin() + static_cast<std::ptrdiff_t>(i));
      FreeCommand(q);
      if (Parm.ErrorLog)
        LogLine(GBK("：标签执行覆盖写入操作：") + tag.TagName + "," + GBK(" 地址=") + tag.TagAddr +
                GBK(", 标签值=") + ValueText(tag) + "\r\n");
    } else {
      ++i;
    }
  }
  // Stale writes go first, so that they do not hold places a fresh write needs.
  while (!PendingWrites.empty() && elapsed(now, PendingWrites.front()->CreateTick) > kWriteExpiryMs) {
    TCommand* old = PendingWrites.front();
    PendingWrites.erase(PendingWrites.begin());
    DropUnsentWrite(*old, GBK("写入请求超时,"), false);
    FreeCommand(old);
  }
  if (PendingWrites.size() >= kMaxPendingWrites) {
    FreeCommand(w);
    if (Parm.ErrorLog)
      LogLine(GBK("：标签写入请求未执行：") + tag.TagName + GBK("写入队列已满,") + GBK(" 地址=") +
              tag.TagAddr + GBK(", 标签值=") + ValueText(tag) + "\r\n");
    return false;
  }
  PendingWrites.push_back(w);
  return true;
}

}  // namespace korvel
