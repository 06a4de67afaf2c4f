#include "protocol/DLLRealize.h"

namespace korvel {

TDLLObject::TDLLObject(bool firstInstance) : TCustomDLLObject(firstInstance) {}

TDLLObject::~TDLLObject() = default;

}  // namespace korvel
