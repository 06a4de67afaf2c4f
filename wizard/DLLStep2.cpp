#include "wizard/DLLStep2.h"

namespace korvel::wizard {

TStep2Frm::TStep2Frm() : TDeviceListFrm("TStep2Frm", kPageStep2) {
  FormCreate();
}

}  // namespace korvel::wizard
