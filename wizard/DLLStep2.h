// The device-list page as reached from Modify on the start page.
#pragma once
#include "wizard/DeviceList.h"

namespace korvel::wizard {

class TStep2Frm : public TDeviceListFrm {
 public:
  TStep2Frm();

 protected:
  bool FreeListOnNext() const override { return false; }
};

}  // namespace korvel::wizard
