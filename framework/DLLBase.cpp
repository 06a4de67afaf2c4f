// Creation and destruction of TBaseDLLObject, the process-wide settings, and the neutral
// versions of the protocol operations that the protocol classes override.
#include "framework/DLLBase.h"

#include <atomic>

#include "platform/clock.h"

namespace korvel {
namespace {
std::atomic<bool> g_write_priority{true};
}

bool DefaultWritePriority() {
  return g_write_priority.load(std::memory_order_relaxed);
}
void SetDefaultWritePriority(bool on) {
  g_write_priority.store(on, std::memory_order_relaxed);
}

TBaseDLLObject::TBaseDLLObject(bool firstInstance) : FirstInstance(firstInstance) {
  for (int i = 0; i < kMaxDevices; ++i) {
    DevStatus[i] = lcNever;
    DevFailCount[i] = 0xFFFFFFFFu;
    DevEnabled[i] = true;
  }
  CheckLogFile();
  WriteBanner();
}

TBaseDLLObject::~TBaseDLLObject() {
  EnLog = true;
  LastCommOK = false;
  CommEnabled = true;
  if (!Stopped) Stop();
  // A table that Stop could not release (its report failed) is still freed here.
  ReleaseTagTable();
  CheckLogFile();
}

void TBaseDLLObject::FreeCommand(TCommand*& cmd) {
  Guarded("TBaseDLLObject", "FreeCommand", [&] {
    if (cmd == nullptr) return;
    // A device's probe command must never point at a released command.
    auto forget = [this](const TCommand* gone) {
      for (TDevRunInfo& d : DevRun)
        if (d.BestCommand == gone) d.BestCommand = nullptr;
    };
    // Release from the tail so that a failure midway leaves a well-formed shorter chain.
    while (cmd->NextCommand != nullptr) {
      TCommand* prev = cmd;
      while (prev->NextCommand->NextCommand != nullptr) prev = prev->NextCommand;
      forget(prev->NextCommand);
      delete prev->NextCommand;
      prev->NextCommand = nullptr;
    }
    forget(cmd);
    delete cmd;
    cmd = nullptr;
  });
}

// The framework alone builds no frames: the protocol classes supply these.
TCommand* TBaseDLLObject::CreatCommand(TDLLTag*, std::vector<TCommand*>&, bool) {
  return nullptr;
}
bool TBaseDLLObject::NeedCreatCommand(std::vector<TCommand*>&, TDLLTag*, bool) {
  return true;
}
void TBaseDLLObject::OptimizeCommParm() {}
std::string TBaseDLLObject::GetAskStr(TCommand*, TDLLTag*, bool) {
  return {};
}
std::string TBaseDLLObject::GetAnswerMainStr(TCommand*, TDLLTag*, bool) {
  return {};
}
bool TBaseDLLObject::GetResult() {
  return false;
}

}  // namespace korvel
