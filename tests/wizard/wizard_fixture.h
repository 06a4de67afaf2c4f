// Shared set-up of the wizard tests: a scripted backend, a host block and clean process globals.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "driver/DLLTools.h"
#include "driver/PDB.h"
#include "ui/Scripted.h"

namespace korvel::test {

// A block as a host holds it after one save: defaults, names filled in by the block copy.
PDB SavedDefaults();
// Adds a configured device at entry i (type name set so the block check keeps it).
void PutDevice(PDB& block, int entry, int32_t devID, uint8_t type);

class WizardTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Runs DLLEdDev on host; fails the test on any scripted-backend error.
  int RunWizard();
  // Prepares the wizard's globals as DLLEdDev does, for pages shown on their own.
  void PrepareWork(const PDB& block);
  std::string Errors() const { return ui.ErrorText(); }

  ui::ScriptedBackend ui;
  PDB host{};
  std::string tmp_;  // a fresh directory per test
};

}  // namespace korvel::test
