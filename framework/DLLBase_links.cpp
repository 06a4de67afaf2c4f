// The link-status tags: COMMLINK for the line, DEVICELINK<n> for each module, ENCOMMLINK for the
// polling switch. Refreshed after each exchange whose outcome says something about the line.
#include <charconv>

#include "driver/getfileinfo.h"
#include "framework/DLLBase.h"
#include "platform/datetime.h"
#include "platform/text.h"

namespace korvel {
namespace {

constexpr const char* kClass = "TBaseDLLObject";

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
  const uint8_t ds = DevStatus[d];
  const double now = plat::now_datetime();
  const bool commSwitch = CommStatus == lcOK || CommStatus == lcInterference || CommStatus == lcFault;
  for (int32_t pos : InternalTags) {
    TDLLTag* tag = TagAt(pos);
    if (tag == nullptr) continue;
    tag->TimeStamp = now;
    const std::string& key = tag->InternalKey;
    if (key == "COMMLINK") {
      if (tag->TagType == kTypeString) {
        if (CommStatus != lcPowerOff) tag->Value.setText(CommLinkText(CommStatus));
      } else {
        SetTypedValue(*tag, CommStatus, commSwitch, nullptr);
      }
    } else if (key == "ENCOMMLINK") {
      SetTypedValue(*tag, CommEnabled ? 1 : 0, CommEnabled,
                    CommEnabled ? &GBK("打开通信线路") : &GBK("关闭通信线路"));
    } else if (key.rfind("DEVICELINK", 0) == 0 && tag->Address == d) {
      if (tag->TagType != kTypeString) {
        SetTypedValue(*tag, CommStatus, commSwitch, nullptr);
        continue;
      }
      tag->Value.setText(DeviceLinkText(d, ds));
      if (ds == lcPowerOff || (ds == lcNever && CommEnabled)) {
        // The device's own tags carry the failure in their status words.
        for (const auto& other : TagList) {
          if (other->Address != d || other->InternalKey.find("DEVICELINK") != std::string::npos) continue;
          other->Status = (other->Status | kStatusDevMarkSet) & kStatusDevMarkMask;
          if (ds == lcPowerOff) {
            const std::string error = "Error";
            SetTypedValue(*other, 0, false, &error);
          }
        }
      }
    }
  }
}

}  // namespace korvel
