// Builds without the window units: the tools end at once with their "nothing changed" results.
#include "driver/DLLTools.h"

namespace korvel {

bool WizardCanShow() {
  return false;
}

void RunWizardPage(int /*page*/) {
  Wizard().NextPage = 0;
}

bool RunDeviceTest(PDB& /*block*/, bool /*show*/) {
  return false;
}

}  // namespace korvel
