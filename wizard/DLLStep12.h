// The device-list page as reached from the several-devices option.
#pragma once
#include "wizard/DeviceList.h"

namespace korvel::wizard {

class TStep12Frm : public TDeviceListFrm {
 public:
  TStep12Frm();
  void SlotEdChange();

 protected:
  bool FreeListOnNext() const override { return true; }
};

}  // namespace korvel::wizard
