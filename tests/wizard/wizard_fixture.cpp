#include "tests/wizard/wizard_fixture.h"

#include <cstring>
#include <filesystem>
#include <random>

#include "driver/getfileinfo.h"
#include "exports/KorvelPLNK.h"
#include "framework/DLLBase.h"
#include "platform/files.h"
#include "wizard/DLLStep5.h"
#include "wizard/DLLStepStart.h"

namespace korvel::test {

PDB SavedDefaults() {
  PDB raw{};
  FillPDBDefaults(&raw);
  PDB saved{};
  CopyPDB(raw, saved);
  return saved;
}

void PutDevice(PDB& block, int entry, int32_t devID, uint8_t type) {
  block.Devices[entry].DevID = devID;
  block.Devices[entry].DevType = type;
  block.Devices[entry].DevTypeName.set(DevTypeNameOf(type));
}

void WizardTest::SetUp() {
  host = SavedDefaults();
  SetDefaultWritePriority(true);
  wizard::RememberedWriteCount() = 2;
  wizard::SetHelpLauncher([](const std::string&) { return true; });
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  tmp_ = (std::filesystem::temp_directory_path() /
          ("korvel_wizard_" + std::to_string(std::random_device{}()) + "_" + info->name()))
             .string();
  std::filesystem::remove_all(tmp_);
  ASSERT_TRUE(plat::create_directories(tmp_));
}

void WizardTest::TearDown() {
  Wizard().HostBlock = nullptr;  // the fixture's block goes away with it
  wizard::SetHelpLauncher({});
  std::error_code ec;
  std::filesystem::remove_all(tmp_, ec);
}

int WizardTest::RunWizard() {
  const int result = DLLEdDev(0, &host);
  EXPECT_EQ(Errors(), "");
  return result;
}

void WizardTest::PrepareWork(const PDB& block) {
  WizardGlobals& w = Wizard();
  w.HostBlock = &host;
  std::memcpy(&w.Work, &block, sizeof(PDB));
  w.Changed = false;
  w.NextPage = 9;
  w.History.clear();
}

}  // namespace korvel::test
