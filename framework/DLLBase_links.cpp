// The link-status tags: COMMLINK for the line, DEVICELINK<n> for each module, ENCOMMLINK for the
// polling switch. Refreshed after each exchange whose outcome says something about the line.
#include <algorithm>
#include <charconv>

#include "driver/getfileinfo.h"
#include "framework/DLLBase.h"
#include "platform/datetime.h"
#include "platform/text.h"

namespace korvel {
namespace {

constexpr const char* kClass = "TBaseDLLObject";

// A switch link tag reads true while the line works, also with interference or faults.
bool LineSwitch(uint8_t commStatus) {
  return commStatus == lcOK || commStatus == lcInterference || commStatus == lcFault;
}

}  // namespace

void TBaseDLLObject::RefreshLinkStatus() {
  // Its exception line is the one of SwitchRunStatus, as the host's logs have always shown.
  Guarded(kClass, "SwitchRunStatus", [&] {
    if (CurCommand == nullptr) return;
    const int32_t d = CurCommand->DeviceAddr;
    const bool dev = ValidDev(d);
    LastCommOK = RunEvent == opReadACK || RunEvent == opWriteACK;
    if (LastCommOK && CommEnabled) {
      CommStatus = lcOK;
      if (dev) {
        DevFailCount[d] = 0;
        DevRun[d].DeviceFault = false;
      }
    } else {
      if (dev && DevFailCount[d] != 0xFFFFFFFFu) ++DevFailCount[d];
      CommStatus = !CommEnabled ? lcPaused : (CommStatus == lcNever ? lcNever : lcFault);
    }
    if (!dev) return;  // a command of no known module has no DEVICELINK tags
    DevStatus[d] = DeviceLinkCode(d);
    PublishLinkTags(d);
  });
}

uint8_t TBaseDLLObject::DeviceLinkCode(int32_t d) const {
  if (!DevEnabled[d] || !CommEnabled) return lcPaused;
  if (DevRun[d].DeviceFault) return lcPowerOff;
  if (DevFailCount[d] == 0xFFFFFFFFu) return lcNever;
  if (DevFailCount[d] == 0) return lcOK;
  if (DevFailCount[d] <= 3) return lcInterference;
  if (DevFailCount[d] <= 8) return lcFault;
  return lcBroken;
}

const std::string& TBaseDLLObject::CommLinkText(uint8_t code) {
  return LinkText.assign(Vocabulary()[fiDeviceName]).append(LinkStatusText(code));
}

const std::string& TBaseDLLObject::DeviceLinkText(int32_t d, uint8_t code) {
  char number[12];
  const auto digits = std::to_chars(number, number + sizeof number, d);
  return LinkText.assign(number, digits.ptr)
      .append(GBK("号"))
      .append(Vocabulary()[fiDevTypeName])
      .append(Parm.Devices[d].DevTypeName.view())
      .append(LinkStatusText(code));
}

void TBaseDLLObject::PublishLinkTags(int32_t d) {
  // Every internal tag takes this pass's time stamp; FlushLinkStamp writes it when it is read.
  LinkStamp = plat::now_datetime();
  LinkStampCount = InternalTags.size();
  // The line's tags and module d's link tags, in list order: the order in which the host is told.
  const std::vector<int32_t>& line = LineLinkTags;
  const std::vector<int32_t>& dev = DevLinkTags[static_cast<size_t>(d)];
  size_t i = 0, j = 0;
  while (i < line.size() || j < dev.size()) {
    const bool lineFirst = j == dev.size() || (i < line.size() && line[i] < dev[j]);
    const int32_t pos = lineFirst ? line[i++] : dev[j++];
    TDLLTag* tag = TagAt(pos);
    if (tag == nullptr) continue;
    if (lineFirst)
      PublishLineTag(*tag);
    else
      PublishDeviceTag(*tag, d);
  }
}

void TBaseDLLObject::PublishLineTag(TDLLTag& tag) {
  if (tag.InternalKey == "COMMLINK") {
    if (tag.TagType != kTypeString)
      SetTypedValue(tag, CommStatus, LineSwitch(CommStatus), nullptr);
    else if (CommStatus != lcPowerOff)
      tag.Value.setText(CommLinkText(CommStatus));
  } else {  // ENCOMMLINK
    SetTypedValue(tag, CommEnabled ? 1 : 0, CommEnabled,
                  CommEnabled ? &GBK("打开通信线路") : &GBK("关闭通信线路"));
  }
}

void TBaseDLLObject::PublishDeviceTag(TDLLTag& tag, int32_t d) {
  if (tag.TagType != kTypeString) {
    // Analog and switch DEVICELINK tags show the line's state, as COMMLINK does.
    SetTypedValue(tag, CommStatus, LineSwitch(CommStatus), nullptr);
    return;
  }
  const uint8_t ds = DevStatus[d];
  tag.Value.setText(DeviceLinkText(d, ds));
  if (ds == lcPowerOff || (ds == lcNever && CommEnabled)) MarkDeviceTags(d, ds);
}

void TBaseDLLObject::MarkDeviceTags(int32_t d, uint8_t code) {
  static const std::string error = "Error";
  for (const int32_t pos : DevTags[static_cast<size_t>(d)]) {
    TDLLTag* other = TagAt(pos);
    if (other == nullptr) continue;
    other->Status = (other->Status | kStatusDevMarkSet) & kStatusDevMarkMask;
    if (code == lcPowerOff) SetTypedValue(*other, 0, false, &error);
  }
}

void TBaseDLLObject::FlushLinkStamp() {
  // Tags appended after the pass keep their own stamps.
  const size_t n = std::min(LinkStampCount, InternalTags.size());
  LinkStampCount = 0;
  for (size_t k = 0; k < n; ++k)
    if (TDLLTag* tag = TagAt(InternalTags[k])) tag->TimeStamp = LinkStamp;
}

}  // namespace korvel
