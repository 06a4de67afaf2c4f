// The tag table: initialisation chain, tag records, internal tags and the identifier map.
#include <algorithm>
#include <cstdio>

#include "driver/getfileinfo.h"
#include "framework/DLLBase.h"
#include "platform/clock.h"
#include "platform/datetime.h"
#include "platform/text.h"

namespace korvel {
namespace {

// Identifiers beyond this are not entered in TagIDMap: a wild identifier from the host must not
// make the map take gigabytes. Such a tag is polled but cannot be written.
constexpr int32_t kMaxMappedTagID = 1 << 24;

bool starts_with(const std::string& text, const char* prefix) {
  return text.rfind(prefix, 0) == 0;
}

// A module number inside an internal tag's address: decimal, 0 when not a number or not 0..99.
int32_t internal_dev_no(const std::string& text) {
  int32_t n = 0;
  if (!ParseDecimal(text, n) || n < 0 || n >= kMaxDevices) return 0;
  return n;
}

std::string fixed_text(const char* chars, size_t max) {
  size_t n = 0;
  while (n < max && chars[n] != '\0') ++n;
  return std::string(chars, n);
}

}  // namespace

TDLLTag* TBaseDLLObject::TagAt(int32_t p) const {
  return p >= 0 && static_cast<size_t>(p) < TagList.size() ? TagList[static_cast<size_t>(p)].get() : nullptr;
}

void TBaseDLLObject::SetTypedValue(TDLLTag& tag, int64_t number, bool flag, const std::string* text) {
  switch (tag.TagType) {
    case kTypeReal:
      tag.Value = Variant(number);
      break;
    case kTypeBool:
      tag.Value = Variant(flag);
      break;
    case kTypeString:
      if (text != nullptr) tag.Value.setText(*text);
      break;
    default:
      break;
  }
}

bool TBaseDLLObject::IniParm(const PDB* block) {
  return Guarded("TBaseDLLObject", "IniParm", false, [&] {
    if (block == nullptr) return false;
    CopyPDB(*block, Parm);
    MinDevID = 99;
    for (int i = 0; i < kMaxDevices; ++i) {
      const TDevInfo& d = Parm.Devices[i];
      if (d.DevType == 2) continue;
      // A damaged entry with a number outside 0..99 must not become the default module.
      if (d.DevID >= 0 && d.DevID < MinDevID) MinDevID = d.DevID;
      if (Parm.DebugLog) {
        char num[8];
        std::snprintf(num, sizeof num, "%04d", i);
        LogLine(GBK("：工程中存在") + num + GBK("号") + Vocabulary()[fiDevTypeName] + GBK("：") +
                d.DevTypeName.str() + "\r\n");
      }
    }
    ParmReady = true;
    return true;
  });
}

uint8_t TBaseDLLObject::GetDevType(int32_t devNo) {
  return Guarded("TBaseDLLObject", "GetDevType", static_cast<uint8_t>(2), [&]() -> uint8_t {
    if (devNo < 0 || devNo >= kMaxDevices) return 2;
    for (const TDevInfo& d : Parm.Devices)
      if (d.DevID == devNo && d.DevType != 2) return d.DevType;
    return 2;
  });
}

TDLLTag* TBaseDLLObject::CreatInternalTag(const TTagInfo& info) {
  return Guarded("TBaseDLLObject", "CreatInternalTag", static_cast<TDLLTag*>(nullptr), [&] {
    auto tag = std::make_unique<TDLLTag>();
    tag->TagID = info.TagID;
    tag->TagName = fixed_text(info.TagName, sizeof info.TagName);
    tag->TagAddr = fixed_text(info.TagAddr, sizeof info.TagAddr);
    tag->TagType = info.TagType;
    tag->ScanPeriod = info.ScanPeriod;
    tag->IsInternal = 0;
    tag->InternalKey = GetTagTypeStr(tag->TagName, tag->TagAddr);
    tag->AddrType = GetTagTypeIndex(tag->TagName, tag->TagAddr);
    tag->TimeStamp = plat::now_datetime();
    tag->ReportTick = static_cast<uint32_t>(plat::tick_ms());
    tag->Address = GetDevAddr(tag->TagName, tag->TagAddr);
    tag->DevType = tag->Address == -1 ? 2 : GetDevType(tag->Address);
    tag->ChannelAddr = GetChannelAddr(tag->TagName, tag->TagAddr, tag->DevType);
    tag->BitAddr = GetBitAddr(tag->TagName, tag->TagAddr, tag->DevType);
    tag->ThirdSeg = GetThirdSeg(tag->TagName, tag->TagAddr, tag->DevType);
    tag->FourSeg = GetFourSeg(tag->TagName, tag->TagAddr, tag->DevType);
    tag->FiveSeg = GetFiveSeg(tag->TagName, tag->TagAddr, tag->DevType);
    tag->AddrValid = 0;
    if (const TTagKindInfo* kind = TagKindInfo(tag->AddrType)) tag->WriteOnly = kind->WriteOnly;
    const Variant initial = Variant::fromOle(InitialValue(info));
    if (!initial.isEmpty()) {
      tag->Value = initial;
    } else if (tag->TagType == kTypeReal) {
      tag->Value = Variant(0);
      tag->BitAddr = 1;
    } else if (tag->TagType == kTypeBool) {
      tag->Value = Variant(false);
    } else if (tag->TagType == kTypeString) {
      tag->Value = Variant(std::string());
      tag->BitAddr = 1;
    }
    tag->LastValue = tag->Value;
    tag->OldValue = tag->Value;
    return tag.release();
  });
}

const std::string& TBaseDLLObject::LinkStatusText(uint8_t code) const {
  static const std::string none;
  switch (code) {
    case lcNever:
      return CommEnabled ? GBK("通讯始终不成功!") : GBK("通讯暂停!");
    case lcOK:
      return GBK("通讯正常!");
    case lcInterference:
      return GBK("通讯出现干扰!");
    case lcFault:
      return GBK("通讯出现故障!");
    case lcBroken:
      return GBK("通讯线路断路!");
    case lcPowerOff:
      return GBK("设备掉电或设备故障!");
    case lcPaused:
      return GBK("通讯暂停!");
    default:
      return none;
  }
}

bool TBaseDLLObject::SetupInternalTag(TDLLTag& tag, bool withEnLog) {
  const std::string upper = GbkUpper(tag.TagAddr);
  if (starts_with(upper, "COMMLINK")) {
    LastCommOK = false;
    tag.IsInternal = 1;
    tag.WriteOnly = 0;
    CommStatus = lcNever;
    SetTypedValue(tag, CommStatus, LastCommOK, &CommLinkText(lcNever));
  }
  if (starts_with(upper, "ENCOMMLINK")) {
    CommEnabled = true;
    tag.IsInternal = 1;
    const std::string text = GBK("打开通信线路");
    SetTypedValue(tag, 1, true, &text);
  }
  if (starts_with(upper, "DEVICELINK")) {
    tag.WriteOnly = 0;
    std::string rest = tag.TagAddr.substr(10);
    size_t cut = GbkFind(rest, ":");
    if (cut == std::string::npos) cut = GbkFind(rest, GBK("："));
    const int32_t d = internal_dev_no(rest.substr(0, cut));
    tag.Address = d;
    DevStatus[d] = lcNever;
    DevFailCount[d] = 0xFFFFFFFFu;
    tag.IsInternal = 1;
    SetTypedValue(tag, DevStatus[d], LastCommOK, &DeviceLinkText(d, lcNever));
  }
  if (starts_with(upper, "ENDEVICELINK")) {
    const int32_t d = internal_dev_no(tag.TagAddr.substr(12));
    tag.Address = d;
    DevEnabled[d] = true;
    tag.IsInternal = 1;
  }
  // The logging switch is a tag of the driver too; its value shows EnLog.
  if (withEnLog && starts_with(upper, "ENLOG")) {
    EnLog = true;
    tag.IsInternal = 1;
    SetTypedValue(tag, EnLog ? 1 : 0, EnLog, nullptr);
  }
  if (tag.IsInternal) tag.InternalKey = upper;
  return tag.IsInternal != 0;
}

void TBaseDLLObject::AppendTag(TDLLTag* tag) {
  const int32_t pos = static_cast<int32_t>(TagList.size());
  if (tag->TagID >= 0 && tag->TagID <= kMaxMappedTagID) {
    const size_t id = static_cast<size_t>(tag->TagID);
    if (TagIDMap.size() <= id) TagIDMap.resize(id + 1, -1);
    TagIDMap[id] = pos;
  }
  tag->TagIndex = pos;
  if (tag->AddrValid) tag->Status |= kStatusAddrChecked;
  if (tag->IsInternal) InternalTags.push_back(pos);
  const std::string& key = tag->InternalKey;
  if (tag->IsInternal && (key == "COMMLINK" || key == "ENCOMMLINK")) LineLinkTags.push_back(pos);
  if (ValidDev(tag->Address)) {
    const auto d = static_cast<size_t>(tag->Address);
    if (tag->IsInternal && starts_with(key, "DEVICELINK"))
      DevLinkTags[d].push_back(pos);
    else if (key.find("DEVICELINK") == std::string::npos)
      DevTags[d].push_back(pos);
  }
  TagList.emplace_back(tag);
  // A new tag is reported once; the list holds each tag at most once, so room for the whole table
  // means no allocation while polling.
  if (Changed.capacity() < TagList.size()) Changed.reserve(std::max<size_t>(64, 2 * TagList.size()));
  tag->Mark.list = &Changed;
  tag->Mark.index = pos;
  tag->Mark.queued = false;
  tag->Mark.mark();
}

bool TBaseDLLObject::IniTagList(const std::vector<const TTagInfo*>& list) {
  try {
    if (TagListReady) Stop();
    ReleaseTagTable();
    TagListReady = true;
    // A table built anew polls again, also after an earlier Stop of this instance.
    Stopped = false;
    EnLog = true;
    LastCommOK = false;
    CommEnabled = true;
    TagIDMap.assign(list.size() + 1, -1);
    for (const TTagInfo* info : list) {
      if (info == nullptr) continue;
      std::unique_ptr<TDLLTag> tag(CreatInternalTag(*info));
      if (!tag) continue;
      if (!SetupInternalTag(*tag, true)) CheckAddrValid(tag.get());
      AppendTag(tag.release());
    }
    bool result = true;
    if (TagList.empty()) {
      Stop();
      LogLine(GBK("：驱动程序加载失败：无合法标签！") + "\r\n");
      WriteCommEvent(GBK("驱动程序加载失败：无合法标签！") + "\r\n");
      result = false;
    } else {
      Refresh();
    }
    TagCount = static_cast<int32_t>(TagList.size());
    return result;
  } catch (...) {
    try {
      Stop();
    } catch (...) {
    }
    LogException("TBaseDLLObject", "IniTagList");
    return false;
  }
}

bool TBaseDLLObject::IniDLLObj(const PDB* block, const std::vector<const TTagInfo*>& list) {
  return Guarded("TBaseDLLObject", "IniDLLObj", false, [&] {
    if (TagListReady) Stop();
    if (!IniParm(block)) {
      if (!sErrEvent.empty()) {
        const bool hasEnd = sErrEvent.back() == '\n';
        LogLine((sErrEvent.rfind(GBK("："), 0) == 0 ? "" : GBK("：")) + sErrEvent + (hasEnd ? "" : "\r\n"));
      }
      LogLine(GBK("：设备加载失败！") + "\r\n");
      return false;
    }
    const bool ok = IniTagList(list);
    if (ok) {
      // The commands of an earlier run are gone: no answer is awaited for them any more.
      if (RunStatus == rsReading || RunStatus == rsWriting) RunStatus = rsReady;
      RunEvent = opInit;
    }
    return ok;
  });
}

bool TBaseDLLObject::AddTagLists(const std::vector<const TTagInfo*>& list, std::vector<int32_t>& results) {
  try {
    bool refused = false;
    results.assign(list.size(), 0);
    if (!TagListReady) {
      TagListReady = true;
      Stopped = false;
      EnLog = true;
      LastCommOK = false;
      CommEnabled = true;
    }
    TagIDMap.resize(TagIDMap.size() + list.size() + 1, -1);
    for (size_t i = 0; i < list.size(); ++i) {
      std::unique_ptr<TDLLTag> tag(list[i] != nullptr ? CreatInternalTag(*list[i]) : nullptr);
      if (!tag) {
        results[i] = 1;
        refused = true;
        continue;
      }
      if (!SetupInternalTag(*tag, true)) CheckAddrValid(tag.get());
      AppendTag(tag.release());
    }
    if (TagList.empty())
      Stop();
    else
      Refresh();
    TagCount = static_cast<int32_t>(TagList.size());
    return refused;
  } catch (...) {
    try {
      Stop();
    } catch (...) {
    }
    LogException("TBaseDLLObject", "AddTagLists");
    return false;
  }
}

}  // namespace korvel
