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
bool due_before(const TCommand* a, const TCommand* b) {
  const int64_t d = static_cast<int64_t>(a->DueAt - b->DueAt);
  return d != 0 ? d < 0 : a->ListPos < b->ListPos;
}
bool expires_before(const TCommand* a, const TCommand* b) {
  const int64_t d = static_cast<int64_t>(a->LastSendTick - b->LastSendTick);
  return d != 0 ? d < 0 : a->ListPos < b->ListPos;
}

// A binary min-heap of commands that keeps each command's position in the field Pos.
template <bool (*Less)(const TCommand*, const TCommand*), int32_t TCommand::*Pos>
struct Heap {
  static void set(std::vector<TCommand*>& h, size_t i, TCommand* c) {
    h[i] = c;
    c->*Pos = static_cast<int32_t>(i);
  }
  static void up(std::vector<TCommand*>& h, size_t i) {
    TCommand* c = h[i];
    while (i > 0) {
      const size_t parent = (i - 1) / 2;
      if (!Less(c, h[parent])) break;
      set(h, i, h[parent]);
      i = parent;
    }
    set(h, i, c);
  }
  static void down(std::vector<TCommand*>& h, size_t i) {
    TCommand* c = h[i];
    for (;;) {
      size_t child = 2 * i + 1;
      if (child >= h.size()) break;
      if (child + 1 < h.size() && Less(h[child + 1], h[child])) ++child;
      if (!Less(h[child], c)) break;
      set(h, i, h[child]);
      i = child;
    }
    set(h, i, c);
  }
  static void fix(std::vector<TCommand*>& h, TCommand* c) {
    const auto i = static_cast<size_t>(c->*Pos);
    up(h, i);
    down(h, static_cast<size_t>(c->*Pos));
  }
  static void push(std::vector<TCommand*>& h, TCommand* c) {
    h.push_back(c);
    up(h, h.size() - 1);
  }
  static void remove(std::vector<TCommand*>& h, TCommand* c) {
    const auto i = static_cast<size_t>(c->*Pos);
    c->*Pos = -1;
    TCommand* last = h.back();
    h.pop_back();
    if (last == c) return;
    set(h, i, last);
    fix(h, last);
  }
};
using DueOrder = Heap<due_before, &TCommand::HeapPos>;
using ExpiryOrder = Heap<expires_before, &TCommand::ExpiryPos>;

}  // namespace

bool TBaseDLLObject::Scheduled(const TCommand* c) const {
  return c != nullptr && c->ListPos >= 0 && static_cast<size_t>(c->ListPos) < CommandList.size() &&
         CommandList[static_cast<size_t>(c->ListPos)] == c && c->HeapPos >= 0;
}

void TBaseDLLObject::Reschedule(TCommand* c) {
  if (!Scheduled(c)) return;
  c->DueAt = due_at(*c);
  DueOrder::fix(DueHeap, c);
  const bool deep = c->FailCount > 10;
  if (deep && c->ExpiryPos < 0)
    ExpiryOrder::push(ExpiryHeap, c);
  else if (deep)
    ExpiryOrder::fix(ExpiryHeap, c);
  else if (c->ExpiryPos >= 0)
    ExpiryOrder::remove(ExpiryHeap, c);
}

void TBaseDLLObject::RebuildSchedule() {
  DueHeap.clear();
  ExpiryHeap.clear();
  DueHeap.reserve(CommandList.size());
  ExpiryHeap.reserve(CommandList.size());
  for (size_t i = 0; i < CommandList.size(); ++i) {
    TCommand* c = CommandList[i];
    if (c == nullptr) continue;
    c->ListPos = static_cast<int32_t>(i);
    c->ExpiryPos = -1;
    c->DueAt = due_at(*c);
    DueOrder::push(DueHeap, c);
    if (c->FailCount > 10) ExpiryOrder::push(ExpiryHeap, c);
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
    while (!ExpiryHeap.empty() && elapsed(now, ExpiryHeap.front()->LastSendTick) > kBackOffResetMs) {
      TCommand* c = ExpiryHeap.front();
      const int64_t dueIn = c->Period - elapsed(now, c->LastSendTick);
      c->FailCount = 0;
      c->LastSendTick = now;
      Reschedule(c);
      consider(c, dueIn);
    }
    if (!DueHeap.empty()) consider(DueHeap.front(), static_cast<int64_t>(DueHeap.front()->DueAt - now));
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

void TBaseDLLObject::DropExpiredWrite(const TCommand& w) {
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
  if (Parm.ErrorLog)
    LogLine(GBK("：标签写入请求未执行：") + tag->TagName + GBK("写入请求超时,") + GBK(" 地址=") +
            tag->TagAddr + GBK(", 标签值=") + value + "\r\n");
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
    DropExpiredWrite(*old);
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
