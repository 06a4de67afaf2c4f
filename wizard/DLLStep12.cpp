#include "wizard/DLLStep12.h"

namespace korvel::wizard {

TStep12Frm::TStep12Frm() : TDeviceListFrm("TStep12Frm", kPageStep12) {
  FormCreate();
  SlotEd.OnChange = [this] { SlotEdChange(); };
}

// The station number typed before moving to the slot gets its clamp again.
void TStep12Frm::SlotEdChange() {
  if (!IDEd.Modified()) return;
  const std::string clamped = std::to_string(Clamp(ReadInt(IDEd.Text(), 0), 0, kMaxDevices - 1));
  if (clamped != IDEd.Text()) IDEd.SetText(clamped);
}

}  // namespace korvel::wizard
