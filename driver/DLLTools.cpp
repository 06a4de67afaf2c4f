// The wizard's working state. It lives with the records, below every library that uses it: the
// export unit fills it, the wizard pages and the diagnostics windows read and edit it.
#include "driver/DLLTools.h"

namespace korvel {

WizardGlobals& Wizard() {
  static WizardGlobals globals;
  return globals;
}

}  // namespace korvel
