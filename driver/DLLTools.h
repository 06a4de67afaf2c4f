// The windows behind DLLEdDev and DLLTestDev, and the process-wide state of the wizard.
#pragma once
#include <cstdint>
#include <vector>

#include "driver/PDB.h"

namespace korvel {

// The wizard's globals (one wizard runs at a time in a process).
struct WizardGlobals {
  PDB* HostBlock = nullptr;  // the host's block, written back on Finish
  PDB Work{};                // the working copy the pages edit
  int NextPage = 9;          // 0 or 9 ends the page loop
  bool Changed = false;
  std::vector<int> History;  // pages shown, for Back
  intptr_t OwnerWindow = 0;
};
WizardGlobals& Wizard();

// Whether the wizard's pages can be shown on the calling thread.
bool WizardCanShow();

// Shows the wizard page with the given number (1..8) modally; the page leaves the number of
// the next page in Wizard().NextPage.
void RunWizardPage(int page);

// Runs the device test window on a private copy of a block; true when a test read succeeded.
bool RunDeviceTest(PDB& block, bool show);

}  // namespace korvel
