#include "protocol/DLLObj.h"

namespace korvel {

TCustomDLLObject::TCustomDLLObject(bool firstInstance) : TBaseDLLObject(firstInstance) {
  // The protocol layer starts with logging off; the host switches it with WriteLog.
  EnLog = false;
}

TCustomDLLObject::~TCustomDLLObject() = default;

}  // namespace korvel
