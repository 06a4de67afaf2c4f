// A driver object that plays the protocol's part for the framework tests: it builds one read
// command per device and address kind (tags of the same device and kind share it), one write
// command per host write, remembers every frame it was asked to send, and answers GetResult from
// a script. Time comes from a clock the test advances by hand.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "driver/PDB.h"
#include "driver/getfileinfo.h"
#include "framework/DLLBase.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/text.h"

namespace korvel::test {

// The test clock: every framework test runs on it.
inline uint64_t g_now = 1000000;

// How a device answers.
enum class Answer { Good, Silent };

class ScriptObject : public TBaseDLLObject {
 public:
  ScriptObject() : TBaseDLLObject(true) {}
  ~ScriptObject() override = default;

  std::map<int32_t, Answer> answers;  // by device; Good when absent
  double readValue = 42.0;            // what a good read stores in its tags
  bool writesWaitForAnswer = true;    // false: a write completes at its first check
  std::vector<std::string> sent;      // every frame handed to RealComm
  std::string writeAsk = "W";         // prefix of write frames
  int results = 0;                    // GetResult calls
  bool throwOnSend = false;           // the send step fails with an exception

  TCommand* CreatCommand(TDLLTag* tag, std::vector<TCommand*>& list, bool isWrite) override {
    if (!NeedCreatCommand(list, tag, isWrite) || tag->AddrType == -1) return nullptr;
    auto* c = new TCommand;
    c->TagIndex = {tag->TagIndex};
    c->InternalKey = tag->InternalKey;
    c->AddrType = tag->AddrType;
    c->IsWrite = isWrite;
    c->DeviceAddr = tag->Address;
    c->LowChannel = c->HighChannel = tag->ChannelAddr;
    c->WriteValue = tag->Value;
    if (isWrite) {
      c->CmdKind = 11;
      c->RetryMode = 1;
      c->FrameReady = true;
      c->AskStr = writeAsk + std::to_string(tag->Address) + "=" + tag->Value.toString();
      c->AnswerMainStr = "=" + std::to_string(tag->Address);
      c->LastSendTick = plat::tick_ms();
    } else {
      c->CmdKind = 2;
      c->RetryMode = 2;
      c->Period = tag->ScanPeriod;
      c->LastSendTick = plat::tick_ms() - static_cast<uint64_t>(static_cast<int64_t>(c->Period));
    }
    return c;
  }

  bool NeedCreatCommand(std::vector<TCommand*>& list, TDLLTag* tag, bool isWrite) override {
    if (!tag->AddrValid) return false;
    if (isWrite) {
      if (!AddrTypeWritable(tag->AddrType)) return false;
      for (const TCommand* q : PendingWrites)
        if (q->TagIndex[0] == tag->TagIndex && !q->Values.empty() && q->Values[0] == tag->Value) return false;
      return true;
    }
    for (TCommand* c : list) {
      if (c->DeviceAddr == tag->Address && c->AddrType == tag->AddrType) {
        c->TagIndex.push_back(tag->TagIndex);
        if (tag->ScanPeriod < c->Period) c->Period = tag->ScanPeriod;
        return false;
      }
    }
    return true;
  }

  void OptimizeCommParm() override {
    for (TCommand* c : CommandList)
      for (TCommand* x = c; x != nullptr; x = x->NextCommand)
        if (!x->FrameReady) {
          x->FrameReady = true;
          x->AskStr = "R" + std::to_string(x->DeviceAddr) + "/" + std::to_string(x->AddrType) + "/" +
                      std::to_string(x->LowChannel);
          x->AnswerMainStr = "=" + std::to_string(x->DeviceAddr);
        }
  }

  void RealComm(TCommand* cmd) override {
    if (throwOnSend) throw std::runtime_error("port gone");
    TBaseDLLObject::RealComm(cmd);
    if (cmd != nullptr && CommEnabled) sent.push_back(cmd->AskStr);
  }

  bool GetResult() override {
    ++results;
    TCommand* c = CurCommand;
    if (c == nullptr) return false;
    if (c->IsWrite && !writesWaitForAnswer) return true;
    const auto it = answers.find(c->DeviceAddr);
    if (it != answers.end() && it->second == Answer::Silent) return false;
    c->AnswerStr = c->AnswerMainStr + "OK\r";
    if (!c->IsWrite)
      for (int32_t i : c->TagIndex) TagList[static_cast<size_t>(i)]->Value = Variant(readValue);
    return true;
  }

  // Test access to protected helpers.
  using TBaseDLLObject::ReleaseTagTable;
};

// A zero block with the defaults and the given modules configured as PLNK.
inline PDB MakeBlock(std::initializer_list<int> modules) {
  PDB block;
  std::memset(&block, 0, sizeof block);
  FillPDBDefaults(&block);
  block.Devices[0].DevType = 2;
  for (int m : modules) {
    block.Devices[m].DevType = 1;
    block.Devices[m].DevTypeName.set("PLNK");
  }
  return block;
}

// One host tag descriptor.
struct TagSpec {
  int32_t id;
  std::string addr;
  uint8_t type = 0;
  int32_t period = 1000;
  std::string name = {};
};

inline std::vector<TTagInfo> MakeInfos(const std::vector<TagSpec>& specs) {
  std::vector<TTagInfo> infos(specs.size());
  for (size_t i = 0; i < specs.size(); ++i) {
    TTagInfo& t = infos[i];
    std::memset(&t, 0, sizeof t);
    t.TagID = specs[i].id;
    const std::string name = specs[i].name.empty() ? "T" + std::to_string(specs[i].id) : specs[i].name;
    std::memcpy(t.TagName, name.data(), std::min(name.size(), sizeof t.TagName));
    std::memcpy(t.TagAddr, specs[i].addr.data(), std::min(specs[i].addr.size(), sizeof t.TagAddr));
    t.TagType = specs[i].type;
    t.ScanPeriod = specs[i].period;
  }
  return infos;
}

inline std::vector<const TTagInfo*> Pointers(const std::vector<TTagInfo>& infos) {
  std::vector<const TTagInfo*> list;
  for (const TTagInfo& t : infos) list.push_back(&t);
  return list;
}

// The log file of the tests, emptied between cases.
std::string TestLogPath();
inline std::string ReadLog() {
  std::string text;
  plat::read_file(TestLogPath(), text);
  return plat::gbk_to_utf8(text);
}
inline void ClearLog() {
  SetLogFileName(TestLogPath());
  plat::write_file(TestLogPath(), "");
}
// Heap blocks alive (counted by the test program's operator new/delete).
extern std::atomic<long> g_live_blocks;
// While set, every operator new of the test program throws std::bad_alloc.
extern std::atomic<bool> g_fail_allocations;

// Fixture: a fresh script object on the test clock, with a clean log.
class FrameworkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_now = 1000000;
    plat::set_test_clock([] { return g_now; });
    SetDefaultWritePriority(true);
    ClearLog();
    obj = std::make_unique<ScriptObject>();
  }
  void TearDown() override {
    obj.reset();
    plat::set_test_clock({});
  }

  // Initialises obj with the block and the tags; the first poll then starts the cycle.
  bool Init(const PDB& block, const std::vector<TagSpec>& specs) {
    infos = MakeInfos(specs);
    return obj->IniDLLObj(&block, Pointers(infos));
  }
  TDLLTag& Tag(size_t i) { return *obj->TagList.at(i); }
  std::string Utf8(const Variant& v) { return plat::gbk_to_utf8(v.toString()); }
  void Advance(uint64_t ms) { g_now += ms; }

  std::unique_ptr<ScriptObject> obj;
  std::vector<TTagInfo> infos;
};

}  // namespace korvel::test
