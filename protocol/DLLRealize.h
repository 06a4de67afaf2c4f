// TDLLObject: the NX4400 module protocol; the class every driver instance is made of.
#pragma once
#include "protocol/DLLObj.h"

namespace korvel {

class TDLLObject : public TCustomDLLObject {
 public:
  explicit TDLLObject(bool firstInstance);
  ~TDLLObject() override;
};

}  // namespace korvel
