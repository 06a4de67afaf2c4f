// Commands and scheduling: the read command list, the write queue and the choice of the next
// command. Due times are recomputed from LastSendTick and Period at each selection; no sorting,
// no timer.
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
  if (HeadCommand != nullptr && (HeadCommand->CmdKind & 8)) FreeCommand(HeadCommand);
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
}

void TBaseDLLObject::GetNextCommand() {
  Guarded("TBaseDLLObject", "GetNextCommand", [&] {
    CurCommand = nullptr;
    HeadCommand = nullptr;
    const uint64_t now = plat::tick_ms();
    int64_t best = 1;
    for (TCommand* c : CommandList) {
      c->DueIn = c->Period - elapsed(now, c->LastSendTick);
      // Back-off of a command that keeps failing.
      if (c->FailCount >= 4 && c->FailCount <= 9) {
        c->DueIn += static_cast<int64_t>(c->FailCount) * c->Period;
      } else if (c->FailCount > 10) {
        if (elapsed(now, c->LastSendTick) <= kBackOffResetMs) {
          c->DueIn += 10 * static_cast<int64_t>(c->Period);
        } else {
          c->FailCount = 0;
          c->LastSendTick = now;
        }
      }
      if (c->DueIn < best) {
        best = c->DueIn;
        if (best <= 0) CurCommand = c;
      }
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
    if (CurCommand->CmdKind & 8) {
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
