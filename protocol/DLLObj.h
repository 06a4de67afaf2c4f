// TCustomDLLObject: the generic frame layer of the module protocol on top of the framework.
#pragma once
#include "framework/DLLBase.h"

namespace korvel {

class TCustomDLLObject : public TBaseDLLObject {
 public:
  explicit TCustomDLLObject(bool firstInstance);
  ~TCustomDLLObject() override;
};

}  // namespace korvel
