// The fifteen exports. Each is a thin shim: check the host's pointers, catch everything,
// hand out texts as host-owned copies.
#include "exports/DLLMain.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <vector>

#include "driver/DLLTools.h"
#include "driver/getfileinfo.h"
#include "driver/records.h"
#include "exports/KorvelPLNK.h"
#include "platform/clock.h"
#include "platform/hoststring.h"
#include "platform/text.h"
#include "platform/thread_slot.h"
#include "protocol/DLLRealize.h"

namespace korvel {
namespace {

std::atomic<int> g_slot_instances{0};

// Record counts a host can mean; anything larger comes from a damaged call.
constexpr int32_t kMaxHostRecords = 1 << 20;

void destroy_instance(void* p) {
  delete static_cast<TBaseDLLObject*>(p);
  --g_slot_instances;
}

void put_msg(char** msg, const std::string& text) {
  if (msg != nullptr) *msg = plat::host_strdup(text);
}

// Hands out the pending status text and clears it.
std::string take_event(TBaseDLLObject* obj) {
  std::string text = obj->sErrEvent;
  obj->sErrEvent.clear();
  return text;
}

const std::string& no_instance_text() {
  return GBK("通讯设备初始化失败");
}

// A write record whose type code is none of 0 (real), 1 (Boolean), 2 (string).
std::string bad_type_text(int32_t type) {
  return GBK("写入失败：数据类型") + std::to_string(type) + GBK("无效！");
}

void set_short(uint8_t* field, const std::string& text) {
  const size_t n = text.size() > 255 ? 255 : text.size();
  field[0] = static_cast<uint8_t>(n);
  std::memcpy(field + 1, text.data(), n);
}

struct AddrTemplate {
  const char* prefix;
  const char* hint;
  uint8_t dataType, flag;
  double maxValue, minValue;
};
const AddrTemplate kTemplates[kTagAddrTemplateCount] = {
    {"PV", "模块测量值", 0, 0, 99999, -99999},
    {"PV_ALARM", "模块报警状态", 1, 0, 1, 0},
    {"PARM", "读取|设置模块参数值", 0, 0, 65535, 0},
    {"AO", "读取|设置模块输出值", 0, 0, 65535, 0},
    {"SetPassWord", "是否允许修改参数值", 1, 1, 1, 0},
    {"CommLink", "通信线路状态(-系统标签-)", 0, 0, 5, 0},
    {"DeviceLink", "设备通讯连接状态(-系统标签-)", 0, 0, 5, 0},
};

// Library load: vocabulary, host texts and the log file name are fixed before any call.
struct LibraryLoad {
  LibraryLoad() {
    try {
      Vocabulary();
      SetLogFileName(ComputeLogFileName());
    } catch (...) {
    }
  }
} g_library_load;

}  // namespace

TBaseDLLObject* ThreadInstance() {
  return static_cast<TBaseDLLObject*>(plat::thread_slot_get());
}

TBaseDLLObject* CreateThreadInstance() {
  // An earlier instance on this thread would be unreachable (keeping its port open): end it.
  DestroyThreadInstance();
  auto* obj = new TDLLObject(true);
  ++g_slot_instances;
  plat::thread_slot_set(obj, destroy_instance);
  return obj;
}

void DestroyThreadInstance() {
  if (TBaseDLLObject* old = ThreadInstance()) {
    plat::thread_slot_set(nullptr, nullptr);
    destroy_instance(old);
  }
}

int SlotInstanceCount() {
  return g_slot_instances.load();
}

void FillTagAddrInfo(int index, TTagAddrInfo& out) {
  const AddrTemplate& t = kTemplates[index];
  std::memset(&out, 0, sizeof out);
  set_short(out.Prefix, plat::utf8_to_gbk(t.prefix));
  set_short(out.Hint, plat::utf8_to_gbk(t.hint));
  out.DataType = t.dataType;
  out.Flag = t.flag;
  out.MaxValue = t.maxValue;
  out.MinValue = t.minValue;
  out.Reserved532 = 0;
}

const TDLLTag* FindTag(const TBaseDLLObject& obj, int32_t tagID) {
  if (tagID < 0 || static_cast<size_t>(tagID) >= obj.TagIDMap.size()) return nullptr;
  const int32_t pos = obj.TagIDMap[static_cast<size_t>(tagID)];
  if (pos < 0 || static_cast<size_t>(pos) >= obj.TagList.size()) return nullptr;
  const TDLLTag* tag = obj.TagList[static_cast<size_t>(pos)].get();
  return tag->TagID == tagID ? tag : nullptr;
}

void ReportChangedTags(TBaseDLLObject& obj, int32_t& count, TTagValue* buf) {
  const uint32_t tick = static_cast<uint32_t>(plat::tick_ms());
  // Only the tags set since the last report can have changed; they are reported in table order,
  // as a walk over the whole table would find them.
  std::vector<int32_t>& changed = obj.Changed;
  std::sort(changed.begin(), changed.end());
  size_t done = 0;
  struct Forget {  // what was walked leaves the list, also when a report fails midway
    std::vector<int32_t>& list;
    size_t& n;
    ~Forget() { list.erase(list.begin(), list.begin() + static_cast<std::ptrdiff_t>(n)); }
  } forget{changed, done};
  for (; done < changed.size(); ++done) {
    const auto pos = static_cast<size_t>(changed[done]);
    if (pos >= obj.TagList.size() || !obj.TagList[pos]) continue;
    TDLLTag& tag = *obj.TagList[pos];
    tag.Mark.queued = false;
    if (tag.Value == tag.LastValue && tag.Status == tag.LastStatus) continue;
    TTagValue& rec = buf[count++];
    tag.LastValue = tag.Value;
    tag.ReportTick = tick;
    rec.TagID = tag.TagID;
    if (tag.IsInternal) obj.FlushLinkStamp();
    rec.Time = tag.TimeStamp;
    rec.DataType = tag.TagType;
    rec.Status = tag.Status;
    tag.LastStatus = tag.Status;
    switch (tag.TagType) {
      case kTypeReal:
        rec.Data.dbl = tag.Value.toDouble();
        break;
      case kTypeBool:
        rec.Data.bln = tag.Value.toBool() ? 1 : 0;
        break;
      case kTypeString:
        rec.Data.str = plat::host_strdup(tag.Value.toString());
        break;
      default:
        break;
    }
  }
}

}  // namespace korvel

using namespace korvel;

extern "C" {

KORVEL_API int32_t KORVEL_CALL GetPDBLen(void) {
  return kPDBLen;
}

KORVEL_API void* KORVEL_CALL FullPDB(void* block) {
  FillPDBDefaults(static_cast<PDB*>(block));
  return block;
}

KORVEL_API int32_t KORVEL_CALL DLLEdDev(intptr_t hostWindow, void* block) {
  if (block == nullptr) return 2;
  // The working copy, the host-block pointer and the page state are one set per process: a
  // second wizard while one runs would take them from under it.
  static std::atomic<bool> running{false};
  PDB* host = static_cast<PDB*>(block);
  try {
    if (!WizardCanShow()) {
      // Nothing can be shown on this thread: only the host's own block is checked, and a device
      // voided there is a change the host must learn of.
      if (running.load()) return 2;
      return CheckPDB(host) ? 1 : 2;
    }
  } catch (...) {
    return 2;
  }
  if (running.exchange(true)) return 2;
  struct Done {
    ~Done() {
      Wizard().HostBlock = nullptr;
      running.store(false);
    }
  } done;
  try {
    WizardGlobals& w = Wizard();
    // A device voided here is a change of the host's block, whichever copy the check found it in.
    const bool voided = CheckPDB(host);
    // Start from the host's bytes so nothing of an earlier run (the master-unit placement, which
    // the block copy leaves out) lingers in the working copy.
    std::memcpy(&w.Work, host, sizeof(PDB));
    CopyPDB(*host, w.Work);
    w.HostBlock = host;
    w.Changed = CheckPDB(&w.Work) || voided;
    w.NextPage = 9;
    w.History.clear();
    // The host's window owns our windows for this call only, also when a page fails.
    struct Owner {
      WizardGlobals& w;
      const intptr_t previous;
      ~Owner() { w.OwnerWindow = previous; }
    } owner{w, w.OwnerWindow};
    w.OwnerWindow = hostWindow;
    // The page loop runs on this thread; each page leaves the number of the next one.
    int page = 1;
    while (page % 128 != 0 && page % 128 != 9) {
      w.NextPage = 9;
      RunWizardPage(page % 128);
      page = w.NextPage;
    }
    return w.Changed ? 1 : 2;
  } catch (...) {
    return 2;
  }
}

KORVEL_API KBool KORVEL_CALL DLLTestDev(void* block, KBool show) {
  if (block == nullptr) return 0;
  // One device test per process: a second one (the host's menu is still served while the window is
  // up) would end the thread's instance the first one is using.
  static std::atomic<bool> running{false};
  if (running.exchange(true)) return 0;
  struct Done {
    ~Done() { running.store(false); }
  } done;
  bool result = false;
  try {
    auto copy = std::make_unique<PDB>();
    std::memcpy(copy.get(), block, sizeof(PDB));
    result = RunDeviceTest(*copy, show != 0);
  } catch (...) {
    result = false;
  }
  try {
    DestroyThreadInstance();
  } catch (...) {
  }
  return result ? 1 : 0;
}

KORVEL_API KBool KORVEL_CALL TagEdAddr(void* block, char** addr, KBool skipCheck, char** msg) {
  if (msg != nullptr) *msg = nullptr;
  if (addr == nullptr) {
    put_msg(msg, no_instance_text());
    return 0;
  }
  bool result = false;
  std::string message;
  std::string text = *addr != nullptr ? std::string(*addr) : std::string();
  try {
    std::unique_ptr<TDLLObject> temp;
    try {
      temp = std::make_unique<TDLLObject>(false);
    } catch (...) {
    }
    if (!temp || block == nullptr) {
      message = no_instance_text();
    } else if (!skipCheck) {
      result = temp->CheckTagAddr(static_cast<const PDB*>(block), text);
      message = take_event(temp.get());
    } else {
      result = true;
    }
  } catch (...) {
    result = false;
  }
  put_msg(msg, message);
  *addr = plat::host_strdup(text);
  return result ? 1 : 0;
}

KORVEL_API void KORVEL_CALL GetTagAddrList(int32_t /*ignored*/, int32_t* count, TTagAddrInfo* items) {
  if (count == nullptr) return;
  if (items == nullptr) {
    *count = kTagAddrTemplateCount;
    return;
  }
  const int n = *count < 0 ? 0 : (*count > kTagAddrTemplateCount ? kTagAddrTemplateCount : *count);
  for (int i = 0; i < n; ++i) FillTagAddrInfo(i, items[i]);
}

KORVEL_API uint16_t KORVEL_CALL DetectScanTime(void) {
  TBaseDLLObject* obj = ThreadInstance();
  return obj != nullptr ? static_cast<uint16_t>(obj->ScanTime & 0xFFFF) : 1000;
}

KORVEL_API KBool KORVEL_CALL IniDriver(int32_t count, TTagInfo** tags, void* block, char** msg) {
  if (msg != nullptr) *msg = nullptr;
  // A count beyond any real tag table is a damaged call: refused before a record is read.
  if (tags == nullptr || count > kMaxHostRecords) {
    put_msg(msg, GBK("无效的标签列表。"));
    return 0;
  }
  if (block == nullptr) {
    put_msg(msg, GBK("无效的参数信息。"));
    return 0;
  }
  try {
    TBaseDLLObject* obj = CreateThreadInstance();
    std::vector<const TTagInfo*> list;
    for (int32_t i = 0; i < count; ++i)
      if (tags[i] != nullptr) list.push_back(tags[i]);  // a null entry names no tag
    CheckPDB(static_cast<PDB*>(block));
    const bool ok = obj->IniDLLObj(static_cast<const PDB*>(block), list);
    put_msg(msg, take_event(obj));
    return ok ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

KORVEL_API KBool KORVEL_CALL IniDriverEx(intptr_t event) {
  if (TBaseDLLObject* obj = ThreadInstance()) obj->NotifyEvent = event;
  return 1;
}

KORVEL_API KBool KORVEL_CALL OnDataRead(int32_t* count, TTagValue* buf, char** msg) {
  if (count != nullptr) *count = 0;
  std::string message;
  TBaseDLLObject* obj = ThreadInstance();
  if (obj == nullptr || buf == nullptr || count == nullptr) {
    message = no_instance_text();
  } else {
    try {
      obj->ReadExecute();
      message = take_event(obj);
      ReportChangedTags(*obj, *count, buf);
    } catch (...) {
      // A failed walk reports what it has; the host keeps polling.
    }
  }
  put_msg(msg, message);
  return 1;
}

KORVEL_API KBool KORVEL_CALL OnDataWrite(int32_t count, TTagValue* recs, char** msg) {
  bool result = false;
  std::string message;
  TBaseDLLObject* obj = ThreadInstance();
  if (obj == nullptr || count <= 0 || count > kMaxHostRecords || recs == nullptr) {
    message = no_instance_text();
  } else {
    try {
      int32_t badType = -1;  // the first unknown type code, reported once
      for (int32_t i = 0; i < count; ++i) {
        const TTagValue& rec = recs[i];
        // Only types 0..2 say how Data is to be read; any other code could make a number
        // pass for a string pointer.
        if (rec.DataType > kTypeString) {
          if (badType < 0) badType = rec.DataType;
          result = false;
          continue;
        }
        const TDLLTag* tag = FindTag(*obj, rec.TagID);
        if (tag == nullptr) {
          result = false;  // an identifier the table does not know names no tag
          continue;
        }
        if (rec.DataType != tag->TagType) continue;
        Variant value;
        switch (rec.DataType) {
          case kTypeReal:
            value = Variant(rec.Data.dbl);
            break;
          case kTypeBool:
            value = Variant(rec.Data.bln != 0);
            break;
          default:
            value = Variant(std::string(rec.Data.str != nullptr ? rec.Data.str : ""));
            break;
        }
        result = obj->WriteExecute(rec.TagID, value);
      }
      message = take_event(obj);
      if (badType >= 0) message += bad_type_text(badType);
    } catch (...) {
      result = false;
    }
  }
  put_msg(msg, message);
  return result ? 1 : 0;
}

KORVEL_API KBool KORVEL_CALL GetDeviceStatus(char** msg) {
  std::string message;
  try {
    TBaseDLLObject* obj = ThreadInstance();
    message = obj != nullptr ? take_event(obj) : no_instance_text();
  } catch (...) {
    // The text could not be copied: nothing is handed out, the host keeps polling.
  }
  put_msg(msg, message);
  return 1;
}

KORVEL_API void KORVEL_CALL WriteLog(KBool enable, char** msg) {
  std::string message;
  try {
    TBaseDLLObject* obj = ThreadInstance();
    if (obj == nullptr) {
      message = no_instance_text();
    } else if (!obj->sErrEvent.empty()) {
      obj->SetEnLog(enable != 0);
      message = take_event(obj);
    }
  } catch (...) {
  }
  put_msg(msg, message);
}

KORVEL_API KBool KORVEL_CALL FreeDriver(void) {
  if (TBaseDLLObject* obj = ThreadInstance()) {
    try {
      obj->Stop();
    } catch (...) {
    }
  }
  return 1;
}

KORVEL_API void KORVEL_CALL ReleaseDriver(void) {}

}  // extern "C"
