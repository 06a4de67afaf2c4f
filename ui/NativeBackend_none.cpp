// Builds without a native backend: windows come from the Qt backend's shared object.
#include "ui/NativeBackend.h"

namespace korvel::ui {

Backend* NativeBackend() {
  return nullptr;
}

}  // namespace korvel::ui
