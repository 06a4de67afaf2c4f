// The run-state machine: each host poll derives one operation code from the status, the
// scheduler and the answer check, and dispatches it to the handler of that code. Handlers that
// finish an exchange call ReadExecute again, so one poll can accept an answer and send the next
// request.
//
// This driver has no link layer (no modem dialling) and no rail layer: a link, unlink, parameter
// or reserved-link step is acknowledged at once, and a rail step goes straight on to its write.
// Without that, a status entered after a system error would wait for an answer nobody sends and
// the driver would fall silent for good.
#include "driver/getfileinfo.h"
#include "framework/DLLBase.h"
#include "platform/clock.h"
#include "platform/datetime.h"
#include "platform/event.h"
#include "platform/text.h"

namespace korvel {
namespace {

constexpr const char* kClass = "TBaseDLLObject";

bool timed_out(uint64_t sendTick, int32_t timeout) {
  return static_cast<int64_t>(plat::tick_ms() - sendTick) > static_cast<int64_t>(timeout);
}

bool is_send_code(uint8_t e) {
  return e == opReadCmd || e == opWriteCmd || e == opRailCmd;
}

// The code that completes a status without a wire exchange here (no link or rail layer); opNone
// for the others.
uint8_t StepCompletion(uint8_t status) {
  switch (status) {
    case rsUnLinked:
      return opLink;
    case rsLinking:
      return opLinkACK;
    case rsUnLinking:
      return opUnLinkACK;
    case rsIniting:
      return opInitACK;
    case rsParm:
      return opParmACK;
    case rsRail:
      return opRailACK;
    case rsResvLink1:
      return opResvLink1ACK;
    case rsResvLink2:
      return opResvLink2ACK;
    case rsResvLink3:
      return opResvLink3ACK;
    default:
      return opNone;
  }
}

}  // namespace

void TBaseDLLObject::SetCommOK(bool value) {
  LastCommOK = value;
}

void TBaseDLLObject::SetCommEnabled(bool value) {
  // A read left on the line while paused would take whatever arrives after the pause.
  if (!value) AbandonRead();
  CommEnabled = value;
}

void TBaseDLLObject::AbandonRead() {
  if (RunStatus != rsReading) return;
  // Its answer may still come after the pause: the line rests as after a failed read.
  if (!SendFailed) RestLine();
  if (CurCommand != nullptr && ValidDev(CurCommand->DeviceAddr))
    DevRun[CurCommand->DeviceAddr].ProbeActive = false;
  if (HeadCommand != nullptr && (HeadCommand->CmdKind & kCmdTransient)) FreeCommand(HeadCommand);
  CurCommand = nullptr;
  HeadCommand = nullptr;
  RunEvent = opNone;
  RunStatus = rsReady;
}

void TBaseDLLObject::RestLine() {
  const uint64_t until =
      SendTick + static_cast<uint64_t>(CommTimeOut > 0 ? CommTimeOut : 0) * kFailedQuietTimeOuts;
  if (!Resting || static_cast<int64_t>(until - RestUntil) > 0) RestUntil = until;
  Resting = true;
}

bool TBaseDLLObject::LineResting() {
  if (Resting && static_cast<int64_t>(plat::tick_ms() - RestUntil) >= 0) Resting = false;
  return Resting;
}

int32_t TBaseDLLObject::AnswerClass(const TCommand*) {
  return -1;
}

void TBaseDLLObject::OpenAnswerWindow(const TCommand* c) {
  if (c == nullptr || c->IsWrite || SendFailed) return;
  const int32_t k = AnswerClass(c);
  if (k < 0 || k >= kAnswerClasses) return;
  AnswerWindows[static_cast<size_t>(k)] = {
      SendTick + static_cast<uint64_t>(CommTimeOut > 0 ? CommTimeOut : 0), c->DeviceAddr};
}

bool TBaseDLLObject::SendHeld() {
  if (LineResting()) return true;
  const TCommand* c = CurCommand;
  if (c == nullptr || c->IsWrite) return false;
  const int32_t k = AnswerClass(c);
  if (k < 0 || k >= kAnswerClasses) return false;
  const TAnswerWindow& w = AnswerWindows[static_cast<size_t>(k)];
  // A repeat of the same station's answer is one the wire cannot tell from a new one anyway;
  // waiting for it would cost every line of one module its speed.
  return w.Dev != c->DeviceAddr && static_cast<int64_t>(plat::tick_ms() - w.Until) < 0;
}

void TBaseDLLObject::GetRunEvent() {
  Guarded(kClass, "GetRunEvent", [&] {
    if (RunEvent != opNone) return;
    if (!CommEnabled) {
      RunEvent = opNone;
      return;
    }
    switch (RunStatus) {
      case rsReady:
        if (LineResting()) break;  // the next request waits until a late answer has had its time
        GetNextCommand();
        if (CurCommand != nullptr) {
          if (CurCommand->IsWrite)
            RunEvent = CurCommand->AskStr.find("ATH0") != std::string::npos ? opRailCmd : opWriteCmd;
          else
            RunEvent = opReadCmd;
        }
        break;
      case rsReading:
        if (GetResult()) {
          RunEvent = opReadACK;
        } else if (RunEvent == opNone && timed_out(SendTick, CommTimeOut)) {
          // A code the answer check set itself (refusal, probe, a failed send) is left as it is;
          // every other read ends at its time-out, a probe included.
          RunEvent = opReadNAK;
        }
        // A read that ends without an accepted answer leaves the line quiet (see Resting); one
        // that never went out has no answer to wait for.
        if (RunEvent != opNone && RunEvent != opReadACK && !SendFailed) RestLine();
        break;
      case rsWriting:
        if (GetResult()) {
          RunEvent = opWriteACK;
        } else {
          // Until the write is confirmed its tags show the value from before the write.
          if (CurCommand != nullptr) {
            const double now = plat::now_datetime();
            for (int32_t i : CurCommand->TagIndex)
              if (TDLLTag* tag = TagAt(i)) {
                tag->TimeStamp = now;
                tag->Value = tag->OldValue;
              }
          }
          if (RunEvent == opNone && timed_out(SendTick, CommTimeOut)) RunEvent = opWriteNAK;
        }
        break;
      default:
        // The steps without a wire exchange complete at the next poll.
        if (const uint8_t ack = StepCompletion(RunStatus); ack != opNone) RunEvent = ack;
        break;
    }
    // Only what the line did changes the link state: an answer, a missing answer, a refused or
    // damaged answer, a request that could not be sent. A write has no answer on this wire, so its
    // completion says nothing about the module.
    const bool answerFailed = RunStatus == rsReading && RunEvent == opClrReadError;
    if (RunEvent == opReadACK || RunEvent == opReadNAK || RunEvent == opWriteNAK || answerFailed)
      RefreshLinkStatus();
  });
}

namespace {

using H = TBaseDLLObject::Handler;
using B = TBaseDLLObject;

// Status x operation code -> handler. A status meets only the codes listed for it; kAnyEvent
// matches every code. What a status does with a code it does not list is kUnlisted below.
constexpr TTransition kTransitions[] = {
    {rsStart, opInit, &B::opInit_Exec},
    {rsUnLinked, opInit, &B::opStop_Exec},
    {rsUnLinked, opStop, &B::opStop_Exec},
    {rsUnLinked, opLink, &B::opLink_Exec},
    {rsUnLinked, opUnLink, &B::opUnLink_Exec},
    {rsSysError, kAnyEvent, &B::opClrSystemError_Exec},
    {rsSysErrorUnLinked, kAnyEvent, &B::opClrSystemError_Exec},
    {rsReady, opInit, &B::opUnLink_Exec},
    {rsReady, opUnLink, &B::opUnLink_Exec},
    {rsReady, opStop, &B::opUnLink_Exec},
    {rsReady, opLink, &B::opLink_Exec},
    {rsReady, opReadCmd, &B::opReadCmd_Exec},
    {rsReady, opWriteCmd, &B::opWriteCmd_Exec},
    {rsReady, opParmCmd, &B::opParmCmd_Exec},
    {rsReady, opRailCmd, &B::opRailCmd_Exec},  // no rail layer: completes at once, the write follows
    {rsStopping, opStopACK, &B::opStopACK_Exec},
    {rsStopping, opStopNAK, &B::opStopNAK_Exec},
    {rsStopping, opClrStopError, &B::opClrStopError_Exec},
    {rsIniting, opInitACK, &B::opInitACK_Exec},
    {rsIniting, opInitNAK, &B::opInitNAK_Exec},
    {rsIniting, opClrInitError, &B::opClrInitError_Exec},
    {rsLinking, opLinkACK, &B::opLinkACK_Exec},
    {rsLinking, opLinkNAK, &B::opLinkNAK_Exec},
    {rsLinking, opClrLinkError, &B::opClrLinkError_Exec},
    {rsUnLinking, opUnLinkACK, &B::opUnLinkACK_Exec},
    {rsUnLinking, opUnLinkNAK, &B::opUnLinkNAK_Exec},
    {rsUnLinking, opClrUnLinkError, &B::opClrUnLinkError_Exec},
    {rsReading, opReadACK, &B::opReadACK_Exec},
    {rsReading, opReadNAK, &B::opReadNAK_Exec},
    {rsReading, opClrReadError, &B::opClrReadError_Exec},
    {rsWriting, opWriteACK, &B::opWriteACK_Exec},
    {rsWriting, opWriteNAK, &B::opWriteNAK_Exec},
    {rsWriting, opClrWriteError, &B::opClrWriteError_Exec},
    {rsParm, opParmACK, &B::opParmACK_Exec},
    {rsParm, opParmNAK, &B::opParmNAK_Exec},
    {rsParm, opClrParmError, &B::opClrParmError_Exec},
    {rsRail, opRailACK, &B::opRailACK_Exec},
    {rsRail, opRailNAK, &B::opRailNAK_Exec},
    {rsRail, opClrRailError, &B::opClrRailError_Exec},
    {rsResvLink1, opResvLink1ACK, &B::opResvLink1ACK_Exec},
    {rsResvLink1, opResvLink1NAK, &B::opResvLink1NAK_Exec},
    {rsResvLink1, opClrResvLink1Error, &B::opClrResvLink1Error_Exec},
    {rsResvLink2, opResvLink2ACK, &B::opResvLink2ACK_Exec},
    {rsResvLink2, opResvLink2NAK, &B::opResvLink2NAK_Exec},
    {rsResvLink2, opClrResvLink2Error, &B::opClrResvLink2Error_Exec},
    {rsResvLink3, opResvLink3ACK, &B::opResvLink3ACK_Exec},
    {rsResvLink3, opResvLink3NAK, &B::opResvLink3NAK_Exec},
    {rsResvLink3, opClrResvLink3Error, &B::opClrResvLink3Error_Exec},
};

}  // namespace

std::span<const TTransition> TBaseDLLObject::Transitions() {
  return kTransitions;
}

TBaseDLLObject::Handler TBaseDLLObject::HandlerFor(uint8_t status, uint8_t event) {
  for (const TTransition& t : kTransitions)
    if (t.Status == status && (t.Event == event || t.Event == kAnyEvent)) return t.Exec;
  return nullptr;
}

void TBaseDLLObject::SwitchRunStatus() {
  Guarded(kClass, "SwitchRunStatus", [&] {
    const uint8_t e = RunEvent;
    if (RunStatus == rsReady && is_send_code(e) && SendHeld()) return;  // sent once the line is quiet
    if (Handler h = HandlerFor(RunStatus, e)) {
      (this->*h)();
      return;
    }
    // In the exchange cycle a code with no handler would stop all polling: it is dropped. The
    // other statuses keep it; their next poll brings the code they wait for.
    const bool cycle = RunStatus == rsReady || RunStatus == rsReading || RunStatus == rsWriting;
    if (cycle && RunEvent == e) RunEvent = opNone;
  });
}

// ---- handlers that only move the status

#define KORVEL_SIMPLE_HANDLER(name, status)                           \
  void TBaseDLLObject::name() {                                       \
    Guarded(kClass, #name, [&] {                                      \
      RunEvent = opNone;                                              \
      if (int{status} >= 0) RunStatus = static_cast<uint8_t>(status); \
      ReadExecute();                                                  \
    });                                                               \
  }

constexpr int kKeep = -1;
KORVEL_SIMPLE_HANDLER(opInit_Exec, rsReady)
KORVEL_SIMPLE_HANDLER(opInitACK_Exec, rsReady)
KORVEL_SIMPLE_HANDLER(opInitNAK_Exec, kKeep)
KORVEL_SIMPLE_HANDLER(opClrInitError_Exec, rsStart)
KORVEL_SIMPLE_HANDLER(opStopNAK_Exec, kKeep)
KORVEL_SIMPLE_HANDLER(opClrStopError_Exec, rsUnLinked)
KORVEL_SIMPLE_HANDLER(opLink_Exec, rsLinking)
KORVEL_SIMPLE_HANDLER(opLinkACK_Exec, rsReady)
KORVEL_SIMPLE_HANDLER(opLinkNAK_Exec, kKeep)
KORVEL_SIMPLE_HANDLER(opClrLinkError_Exec, rsUnLinked)
KORVEL_SIMPLE_HANDLER(opUnLink_Exec, rsUnLinking)
KORVEL_SIMPLE_HANDLER(opUnLinkACK_Exec, rsUnLinked)
KORVEL_SIMPLE_HANDLER(opUnLinkNAK_Exec, kKeep)
KORVEL_SIMPLE_HANDLER(opClrUnLinkError_Exec, rsUnLinked)
KORVEL_SIMPLE_HANDLER(opParmCmd_Exec, rsParm)
KORVEL_SIMPLE_HANDLER(opParmACK_Exec, rsReady)
KORVEL_SIMPLE_HANDLER(opParmNAK_Exec, kKeep)
KORVEL_SIMPLE_HANDLER(opClrParmError_Exec, rsReady)
KORVEL_SIMPLE_HANDLER(opRailCmd_Exec, rsRail)
KORVEL_SIMPLE_HANDLER(opRailNAK_Exec, rsReady)
KORVEL_SIMPLE_HANDLER(opClrRailError_Exec, rsReady)
KORVEL_SIMPLE_HANDLER(opResvLink1_Exec, rsResvLink1)
KORVEL_SIMPLE_HANDLER(opResvLink1ACK_Exec, rsReady)
KORVEL_SIMPLE_HANDLER(opResvLink1NAK_Exec, kKeep)
KORVEL_SIMPLE_HANDLER(opClrResvLink1Error_Exec, rsStart)
KORVEL_SIMPLE_HANDLER(opResvLink2_Exec, rsResvLink2)
KORVEL_SIMPLE_HANDLER(opResvLink2ACK_Exec, rsReady)
KORVEL_SIMPLE_HANDLER(opResvLink2NAK_Exec, kKeep)
KORVEL_SIMPLE_HANDLER(opClrResvLink2Error_Exec, rsStart)
KORVEL_SIMPLE_HANDLER(opResvLink3_Exec, rsResvLink3)
KORVEL_SIMPLE_HANDLER(opResvLink3ACK_Exec, rsReady)
KORVEL_SIMPLE_HANDLER(opResvLink3NAK_Exec, kKeep)
KORVEL_SIMPLE_HANDLER(opClrResvLink3Error_Exec, rsStart)
#undef KORVEL_SIMPLE_HANDLER

void TBaseDLLObject::opSystemError_Exec() {
  Guarded(kClass, "opSystemError_Exec", [&] { RunEvent = opNone; });
}

void TBaseDLLObject::opStop_Exec() {
  Guarded(kClass, "opStop_Exec", [&] {
    RunEvent = opNone;
    RunStatus = rsStopping;
    Stop();
  });
}

void TBaseDLLObject::opStopACK_Exec() {
  Guarded(kClass, "opStopACK_Exec", [&] {
    RunEvent = opNone;
    RunStatus = rsStart;
    SetCommEnabled(false);
    ReadExecute();
  });
}

void TBaseDLLObject::opRailACK_Exec() {
  Guarded(kClass, "opRailACK_Exec", [&] {
    RunEvent = opWriteCmd;  // the write prepared by the rail step goes next
    RunStatus = rsReady;
    ReadExecute();
  });
}

void TBaseDLLObject::opClrSystemError_Exec() {
  Guarded(kClass, "opClrSystemError_Exec", [&] {
    const uint8_t e = RunEvent;
    const bool restart = e == opInit || e == opUnLink || e == opStop;
    if (RunStatus == rsSysError && restart) {
      RunStatus = rsReady;
    } else if (RunStatus == rsSysError && e == opLink) {
      RunStatus = rsUnLinked;
    } else if (RunStatus == rsSysErrorUnLinked && restart) {
      RunStatus = rsUnLinked;
    } else {
      // Any other code: start afresh rather than dispatch here again for ever.
      RunEvent = opNone;
      if (RunStatus == rsSysError) RunStatus = rsReady;
      if (RunStatus == rsSysErrorUnLinked) RunStatus = rsUnLinked;
    }
    ReadExecute();
  });
}

// ---- the read and write cycles

void TBaseDLLObject::CountAttempt(TCommand& c, bool success) {
  ++c.Attempts;
  if (success) ++c.Successes;
  c.SuccessRatio = static_cast<float>(c.Successes) / static_cast<float>(c.Attempts);
}

bool TBaseDLLObject::ContinueChain(Handler send) {
  GetCommandNext();
  RunEvent = opNone;
  if (CurCommand != nullptr) {
    (this->*send)();
    return true;
  }
  RunStatus = rsReady;
  return false;
}

void TBaseDLLObject::UpdateBestCommand() {
  TCommand* c = CurCommand;
  // A transient write is released when its chain ends; it must not become the device's probe.
  if (c == nullptr || !ValidDev(c->DeviceAddr) || (c->CmdKind & kCmdTransient)) return;
  TDevRunInfo& r = DevRun[c->DeviceAddr];
  if (r.BestCommand == nullptr || r.BestCommand->SuccessRatio < c->SuccessRatio) r.BestCommand = c;
}

void TBaseDLLObject::FailureReport(const std::string& askLabel, const std::string& answerLabel) {
  const TCommand* c = CurCommand;
  const auto stamp = [] { return plat::datetime_text(plat::now_datetime()); };
  SetLogMsg("\r\n");
  SetLogMsg("\r\n" + stamp() + askLabel + c->AskStr + "\r\n");
  SetLogMsg("\r\n" + stamp() + answerLabel + c->AnswerMainStr + "\r\n");
  if (!c->AnswerStr.empty()) {
    SetLogMsg(stamp() + GBK("：接收到应答信息= ") + c->AnswerStr + "\r\n");
    SetLogMsg(stamp() + GBK("：应答信息没有通过校验检查。") + "\r\n");
  } else {
    SetLogMsg(stamp() + GBK("：没有接收到应答信息！") + "\r\n");
  }
}

void TBaseDLLObject::CountTimeout(double& counter, const std::string& askLabel,
                                  const std::string& answerLabel) {
  LastCommOK = false;
  counter += 1;
  const int32_t d = CurCommand != nullptr ? CurCommand->DeviceAddr : -1;
  if (ValidDev(d)) ++DevFailRun[d];
  WriteCommEvent(GBK("通讯超时错，期待设备应答"));
  SevereFaultCheck(d);
  if (Parm.ErrorLog) FailureReport(askLabel, answerLabel);
}

void TBaseDLLObject::SevereFaultCheck(int32_t dev) {
  // The notice says "consecutive": one time-out after hours of good traffic is no severe fault.
  if (ValidDev(dev) && DevFailRun[dev] > 10) {
    WriteCommEvent(GBK("严重故障：连续通讯失败，请检查线路和设备"));
    if (NotifyEvent != 0) plat::signal_host_event(NotifyEvent);
  }
  if (ReadTimeoutCount > 10 && static_cast<long long>(ReadTimeoutCount) % 10000 == 100) EnLog = true;
}

namespace {

// A handler of the read and write cycles that fails must not leave the machine waiting.
template <class F>
void cycle_step(TBaseDLLObject& obj, const char* method, F&& body) {
  try {
    body();
  } catch (...) {
    obj.RunEvent = opNone;
    obj.RunStatus = rsReady;
    obj.LogException(kClass, method);
  }
}

// The answer and clear handlers work on the current command; without one the machine has lost its
// place and goes to the system-error state.
template <class F>
void command_step(TBaseDLLObject& obj, const char* method, F&& body) {
  cycle_step(obj, method, [&] {
    if (obj.CurCommand == nullptr) {
      obj.RunStatus = rsSysError;
      obj.RunEvent = opLink;
      return;
    }
    body(obj.CurCommand);
  });
}

}  // namespace

void TBaseDLLObject::opReadCmd_Exec() {
  cycle_step(*this, "opReadCmd_Exec", [&] {
    // The next read of a chain, too, waits while an answer it could take may still arrive.
    if (SendHeld()) {
      RunEvent = opReadCmd;
      RunStatus = rsReady;
      return;
    }
    if (CurCommand != nullptr) {
      RealComm(CurCommand);
      OpenAnswerWindow(CurCommand);
    }
    RunEvent = opNone;
    RunStatus = rsReading;
  });
}

void TBaseDLLObject::opWriteCmd_Exec() {
  cycle_step(*this, "opWriteCmd_Exec", [&] {
    if (CurCommand != nullptr) {
      RealComm(CurCommand);
      if (WriteRetryBudget > 0) --WriteRetryBudget;
    }
    RunEvent = opNone;
    RunStatus = rsWriting;
    if (Parm.TraceLog && CurCommand != nullptr)
      LogLine(GBK("：发送写标签命令= ") + CurCommand->AskStr + "\r\n");
  });
}

void TBaseDLLObject::opReadACK_Exec() {
  command_step(*this, "opReadACK_Exec", [&](TCommand* c) {
    c->FailCount = 0;
    CountAttempt(*c, true);
    UpdateBestCommand();
    if (c->CmdKind & kCmdServesTags)
      for (int32_t i : c->TagIndex)
        if (TDLLTag* tag = TagAt(i)) ++tag->ReadTotal;
    ++ReadCommCount;
    CommStatus = lcOK;
    LastCommOK = true;
    if (ValidDev(c->DeviceAddr)) DevFailRun[c->DeviceAddr] = 0;
    c->SuccessRatio = (1.0f + c->SuccessRatio) / 2.0f;
    if (Parm.TraceLog) {
      LogLine(GBK("：发送读标签命令= ") + c->AskStr + "\r\n");
      LogLine(GBK("：接收到应答信息= ") + c->AnswerStr + "\r\n");
      LogLine(GBK("：应答信息通过校验检查。") + "\r\n");
    }
    if (!ContinueChain(&TBaseDLLObject::opReadCmd_Exec)) ReadExecute();
  });
}

void TBaseDLLObject::opReadNAK_Exec() {
  command_step(*this, "opReadNAK_Exec", [&](TCommand* c) {
    CountAttempt(*c, false);
    UpdateBestCommand();
    ++ReadCommCount;
    CountTimeout(ReadTimeoutCount, GBK("：通讯读超时错，执行操作="), GBK("：通讯读超时错，期待应答="));
    if (c->RetryMode == rmSendAgain) {
      c->RetryMode = rmGiveUp;
      RunStatus = rsReady;
      RunEvent = opReadCmd;
    } else if (c->RetryMode == rmSkip) {
      ContinueChain(&TBaseDLLObject::opReadCmd_Exec);
    } else {
      RunEvent = opClrReadError;
    }
    ReadExecute();
  });
}

void TBaseDLLObject::opClrReadError_Exec() {
  cycle_step(*this, "opClrReadError_Exec", [&] {
    ++ReadFailCount;
    TCommand* c = CurCommand;
    if (c == nullptr) {
      RunStatus = rsSysError;
      RunEvent = opLink;
      return;
    }
    CountAttempt(*c, false);
    for (int32_t i : c->TagIndex)
      if (TDLLTag* tag = TagAt(i)) {
        ++tag->ReadTotal;
        ++tag->ReadErrors;
      }
    c->SuccessRatio /= 2.0f;
    if (c->SuccessRatio < 0.01f) c->SuccessRatio = 0.01f;
    if (Parm.ErrorLog) FailureReport(GBK("：通讯读失败，执行操作="), GBK("：通讯读失败，期待应答="));
    RunEvent = opNone;
    RunStatus = rsReady;
    ReadExecute();
  });
}

void TBaseDLLObject::opWriteACK_Exec() {
  command_step(*this, "opWriteACK_Exec", [&](TCommand* c) {
    if (c->CmdKind & kCmdServesTags)
      for (size_t i = 0; i < c->TagIndex.size(); ++i)
        if (TDLLTag* tag = TagAt(c->TagIndex[i])) {
          ++tag->WriteTotal;
          if (i < c->Values.size()) tag->Value = c->Values[i];
        }
    CountAttempt(*c, true);
    UpdateBestCommand();
    ++WriteCommCount;
    // The link status is left alone: the module does not answer writes, so a write that went out
    // proves nothing about it.
    WriteRetryBudget = Parm.WriteCount;
    LastCommOK = true;
    if (ValidDev(c->DeviceAddr)) DevFailRun[c->DeviceAddr] = 0;
    if (Parm.TraceLog) {
      LogLine(GBK("：接收到应答信息= ") + c->AnswerStr + "\r\n");
      LogLine(GBK("：应答信息通过校验检查。") + "\r\n");
    }
    if (!ContinueChain(&TBaseDLLObject::opWriteCmd_Exec)) ReadExecute();
  });
}

void TBaseDLLObject::opWriteNAK_Exec() {
  command_step(*this, "opWriteNAK_Exec", [&](TCommand* c) {
    ++WriteCommCount;
    CountTimeout(WriteTimeoutCount, GBK("：通讯写超时错，执行操作="), GBK("：通讯写超时错，期待应答="));
    if (c->RetryMode == rmSendAgain) {
      // The budget is shared by all writes: the NAK that finds it empty grants one last send.
      if (WriteRetryBudget == 0) {
        c->RetryMode = rmGiveUp;
        WriteRetryBudget = Parm.WriteCount;
      }
      RunStatus = rsReady;
      RunEvent = opWriteCmd;
    } else if (c->RetryMode == rmSkip) {
      ContinueChain(&TBaseDLLObject::opWriteCmd_Exec);
    } else {
      RunEvent = opClrWriteError;
    }
    ReadExecute();
  });
}

void TBaseDLLObject::opClrWriteError_Exec() {
  cycle_step(*this, "opClrWriteError_Exec", [&] {
    RunEvent = opNone;
    ++WriteFailCount;
    TCommand* c = CurCommand;
    if (c == nullptr) {
      RunStatus = rsSysError;
      RunEvent = opLink;
      return;
    }
    for (int32_t i : c->TagIndex)
      if (TDLLTag* tag = TagAt(i)) {
        ++tag->WriteTotal;
        ++tag->WriteErrors;
      }
    if (Parm.ErrorLog) FailureReport(GBK("：通讯写失败，执行操作="), GBK("：通讯写失败，期待应答="));
    // Only a transient write is released; a command of the read list stays where it lives.
    TCommand*& owner = HeadCommand != nullptr ? HeadCommand : CurCommand;
    if (owner->CmdKind & kCmdTransient) FreeCommand(owner);
    CurCommand = nullptr;
    HeadCommand = nullptr;
    RunStatus = rsReady;
    ReadExecute();
  });
}

}  // namespace korvel
