// The page chain behind DLLEdDev on the scripted backend: paths, history, Cancel, Finish, results.
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "driver/getfileinfo.h"
#include "exports/KorvelPLNK.h"
#include "platform/dynlib.h"
#include "platform/env.h"
#include "platform/process.h"
#include "platform/text.h"
#include "tests/wizard/wizard_fixture.h"
#include "ui/Backend.h"
#include "wizard/DLLStepStart.h"

namespace korvel::test {
namespace {

using Shown = std::vector<std::string>;

class Flow : public WizardTest {};

TEST_F(Flow, NewSingleDeviceFinishWritesTheHostBlockAndReportsAChange) {
  ui.Expect("TStartFrm", [](ui::ScriptedForm& f) {
    EXPECT_TRUE(f.Checked("NewOp"));
    f.Click("NextBtn");
  });
  ui.Expect("TStep1Frm", [](ui::ScriptedForm& f) {
    EXPECT_TRUE(f.Checked("SingleCreate"));
    f.Click("NextBtn");
  });
  ui.Expect("TStep11Frm", [](ui::ScriptedForm& f) {
    f.Paste("IDEd", "7");
    f.Select("DevTypeEd", 1);
    f.Click("NextBtn");
  });
  ui.Expect("TStep4Frm", [](ui::ScriptedForm& f) {
    EXPECT_FALSE(f.Checked("PModemCbox"));
    f.Select("BautEd", 12);
    f.Click("NextBtn");
  });
  ui.Expect("TEndFrm", [](ui::ScriptedForm& f) { f.Click("FinishBtn"); });

  EXPECT_EQ(RunWizard(), 1);
  EXPECT_EQ(ui.Shown(), (Shown{"TStartFrm", "TStep1Frm", "TStep11Frm", "TStep4Frm", "TEndFrm"}));
  EXPECT_EQ(host.SingleDevID, 7);
  EXPECT_EQ(host.LinkMode, 0);
  EXPECT_EQ(host.BaudRate, 12);
  for (int i = 0; i < kMaxDevices; ++i) {
    EXPECT_EQ(host.Devices[i].DevType, i == 7 ? 1 : 2) << i;
    EXPECT_EQ(host.Devices[i].DevID, i);
  }
  EXPECT_EQ(host.Devices[7].DevTypeName.str(), "PLNK");
  // The saved block passes the driver's own check unchanged.
  PDB copy = host;
  EXPECT_FALSE(CheckPDB(&copy));
}

TEST_F(Flow, BrowseAndFinishOnAnUnchangedBlockRewritesItIdenticallyAndReportsNoChange) {
  PutDevice(host, 0, 0, 1);
  PutDevice(host, 1, 5, 0);
  const PDB before = host;
  ui.Expect("TStartFrm", [](ui::ScriptedForm& f) {
    f.Click("BrowseOp");
    f.Click("NextBtn");
  });
  ui.Expect("TEndFrm", [](ui::ScriptedForm& f) { f.Click("FinishBtn"); });
  EXPECT_EQ(RunWizard(), 2);
  EXPECT_EQ(std::memcmp(&before, &host, sizeof(PDB)), 0);
}

TEST_F(Flow, BackFollowsTheHistoryThroughTheDeviceListRecordedAsPage5) {
  ui.Expect("TStartFrm", [](ui::ScriptedForm& f) {
    f.Click("ModifyOp");
    f.Click("NextBtn");
  });
  ui.Expect("TStep2Frm", [](ui::ScriptedForm& f) { f.Click("NextBtn"); });
  ui.Expect("TStep4Frm", [](ui::ScriptedForm& f) { f.Click("LastBtn"); });
  ui.Expect("TStep12Frm", [](ui::ScriptedForm& f) { f.Click("LastBtn"); });
  ui.Expect("TStartFrm", [](ui::ScriptedForm& f) {
    // A new page: the option chosen before is not remembered.
    EXPECT_TRUE(f.Checked("NewOp"));
    f.Click("CancelBtn");
  });
  // The serial page loaded the defaults' 8 data bits, 1 stop bit, no parity: that counts as an edit,
  // and the start page's Cancel keeps the flag.
  EXPECT_EQ(RunWizard(), 1);
  EXPECT_EQ(ui.Shown().size(), 5u);
}

TEST_F(Flow, TheAdvancedPageIsShownOnlyWithTheModemBoxAndBackReturnsToWhereItCameFrom) {
  ui.Expect("TStartFrm", [](ui::ScriptedForm& f) { f.DblClick("BrowseOp"); });
  ui.Expect("TEndFrm", [](ui::ScriptedForm& f) { f.Click("LastBtn"); });
  ui.Expect("TStartFrm", [](ui::ScriptedForm& f) { f.DblClick("ModifyOp"); });
  ui.Expect("TStep2Frm", [](ui::ScriptedForm& f) { f.Click("NextBtn"); });
  ui.Expect("TStep4Frm", [](ui::ScriptedForm& f) {
    f.Click("PModemCbox");
    f.Click("NextBtn");
  });
  ui.Expect("TStep5Frm", [](ui::ScriptedForm& f) { f.Click("NextBtn"); });
  ui.Expect("TEndFrm", [](ui::ScriptedForm& f) { f.Click("LastBtn"); });
  ui.Expect("TStep5Frm", [](ui::ScriptedForm& f) { f.Click("LastBtn"); });
  ui.Expect("TStep4Frm", [](ui::ScriptedForm& f) { f.Click("NextBtn"); });  // box unchecked again
  ui.Expect("TEndFrm", [](ui::ScriptedForm& f) { f.Click("LastBtn"); });
  ui.Expect("TStep4Frm", [](ui::ScriptedForm& f) { f.Click("CancelBtn"); });
  EXPECT_EQ(RunWizard(), 2);
  EXPECT_EQ(ui.Shown().size(), 11u);
}

TEST_F(Flow, CancelAfterNewClearsTheChangedFlagAndLeavesTheHostBlockAlone) {
  const PDB before = host;
  ui.Expect("TStartFrm", [](ui::ScriptedForm& f) { f.Click("NextBtn"); });
  ui.Expect("TStep1Frm", [](ui::ScriptedForm& f) { f.DblClick("TStep1Frm"); });  // double click on the page
  ui.Expect("TStep11Frm", [](ui::ScriptedForm& f) {
    f.Paste("IDEd", "3");
    f.Click("CancelBtn");
  });
  EXPECT_EQ(RunWizard(), 2);
  EXPECT_EQ(std::memcmp(&before, &host, sizeof(PDB)), 0);
}

TEST_F(Flow, TheCloseBoxEndsTheWizardKeepingTheChangedFlag) {
  ui.Expect("TStartFrm", [](ui::ScriptedForm& f) { f.Click("NextBtn"); });
  ui.Expect("TStep1Frm", [](ui::ScriptedForm& f) { f.Close(); });
  EXPECT_EQ(RunWizard(), 1);
  EXPECT_EQ(ui.Shown().size(), 2u);
}

TEST_F(Flow, ADeviceWithAForeignTypeNameIsVoidedAndCancelOnTheStartPageReportsTheChange) {
  PutDevice(host, 0, 0, 1);
  PutDevice(host, 7, 7, 1);
  host.Devices[7].DevTypeName.set("PLNE");  // written by a driver with other names
  host.Devices[9].DevType = 200;            // damaged
  host.Devices[9].DevTypeName.set("XYZ");
  ui.Expect("TStartFrm", [](ui::ScriptedForm& f) { f.Click("CancelBtn"); });
  EXPECT_EQ(RunWizard(), 1);
  EXPECT_EQ(host.Devices[7].DevType, 2);
  EXPECT_EQ(host.Devices[9].DevType, 2);
  EXPECT_EQ(host.Devices[0].DevType, 1);
}

TEST_F(Flow, DebugWindowOpensFromTheStartPageAndItsCloseButtonCountsAsAChange) {
  ui.Expect("TStartFrm", [this](ui::ScriptedForm& f) {
    f.Click("DebugBtn");
    // Back on the start page: the user still chooses.
    EXPECT_TRUE(f.form().Visible());
    EXPECT_EQ(ui.Shown().back(), "TDebugFrm");
    f.Click("CancelBtn");
  });
  ui.Expect("TDebugFrm", [this](ui::ScriptedForm& f) {
    // The start page is hidden meanwhile.
    EXPECT_FALSE(ui.Shown().empty());
    f.Click("EnDebugChk");
    f.Click("ErrorChk");
    f.Click("FinishBtn");
  });
  EXPECT_EQ(RunWizard(), 1);
  EXPECT_EQ(host.DebugLog, 1);
  EXPECT_EQ(host.ErrorLog, 1);
  EXPECT_EQ(host.TraceLog, 0);
}

TEST_F(Flow, StartAndMethodPagesWriteTheirTextsFromTheVocabulary) {
  const std::string device = Vocabulary()[fiDeviceName];
  const std::string word = Vocabulary()[fiDevTypeName];
  ui.Expect("TStartFrm", [&](ui::ScriptedForm& f) {
    EXPECT_EQ(f.form().Caption(), GBK("Korvel智能模块向导：选择执行的操作方式"));
    EXPECT_EQ(f.Text("Label1"), GBK("欢迎使用Korvel智能模块配置向导"));
    EXPECT_EQ(f.Text("Label6"), word + GBK("。"));
    EXPECT_EQ(f.Text("NewOp"), GBK("新建设备"));
    EXPECT_EQ(f.Text("DebugBtn"), GBK("调试设置"));
    EXPECT_FALSE(f.Visible("DownloadBtn"));
    EXPECT_TRUE(f.form().StayOnTop());
    EXPECT_EQ(f.form().Left(), (1024 - f.form().Width()) / 2);
    f.Click("NextBtn");
  });
  ui.Expect("TStep1Frm", [&](ui::ScriptedForm& f) {
    EXPECT_EQ(f.form().Caption(), device + GBK("向导：选择创建设备的方式"));
    EXPECT_EQ(f.Text("SingleCreate"), GBK("单个智能模块创建（RS232方式连接）"));
    EXPECT_EQ(f.Text("MulCreate"), GBK("多个") + word + GBK("创建（RS485/RS422方式连接）"));
    EXPECT_FALSE(f.Visible("AutoCreate"));
    f.Click("MulCreate");
    f.Click("NextBtn");
  });
  ui.Expect("TStep12Frm", [](ui::ScriptedForm& f) { f.Click("CancelBtn"); });
  EXPECT_EQ(RunWizard(), 2);
  EXPECT_EQ(Wizard().Work.LinkMode, 1);
}

TEST_F(Flow, VersionButtonShowsTheVersionAndOpensTheFirstHelpFileThatExists) {
  const std::string old_path = plat::get_env("ORVANE_PATH");
  plat::set_env("ORVANE_PATH", tmp_ + "/Tavlin.exe");
  std::ofstream(tmp_ + "/Sentrel.ini") << "[WORKING]\n";
  ReloadVocabulary();
  std::vector<std::string> launched;
  wizard::SetHelpLauncher([&](const std::string& path) {
    launched.push_back(path);
    return true;
  });
  auto press = [&] {
    ui.Expect("TStartFrm", [](ui::ScriptedForm& f) {
      f.Click("VersionBtn");
      EXPECT_TRUE(f.form().Visible());
      f.Click("CancelBtn");
    });
    EXPECT_EQ(RunWizard(), 2);
  };
  press();  // no help installed: silently nothing
  EXPECT_TRUE(launched.empty());
  ASSERT_EQ(ui.Messages().size(), 1u);
  const TfileInfo& v = Vocabulary();
  EXPECT_EQ(ui.Messages()[0].Text,
            v[fiInternalName] + "\r\n" + GBK("版本") + v[fiFileVersion] + "\r\n\r\n" + v[fiFileDescription]);
  EXPECT_NE(v[fiFileVersion], "");

  std::filesystem::create_directories(tmp_ + "/help");
  std::ofstream(tmp_ + "/help/KorvelPLNK.chm") << "x";
  press();
  ASSERT_EQ(launched.size(), 1u);
  EXPECT_EQ(launched[0], tmp_ + "/help/KorvelPLNK.chm");

  const std::string named = tmp_ + "/help/" + v[fiDeviceName] + ".chm";
  std::ofstream(named) << "x";
  press();
  ASSERT_EQ(launched.size(), 2u);
  EXPECT_EQ(launched[1], named);

  if (old_path.empty())
    plat::unset_env("ORVANE_PATH");
  else
    plat::set_env("ORVANE_PATH", old_path);
  ReloadVocabulary();
}

// The help viewer is started detached; a viewer that is not installed is reported, not waited for.
TEST(HelpViewer, StartsInstalledProgramsAndReportsMissingOnes) {
  EXPECT_TRUE(plat::start_program("true", {"some file.chm"}, true));
  EXPECT_FALSE(plat::start_program("korvel-no-such-viewer", {"x.chm"}, true));
  EXPECT_FALSE(plat::start_program("", {}, false));
}

// Clears the display variables for one test, so that no window can be shown.
class NoDisplay {
 public:
  NoDisplay() {
    for (const char* v : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
      saved_.emplace_back(v, plat::get_env(v));
      plat::unset_env(v);
    }
  }
  ~NoDisplay() {
    for (auto& [name, value] : saved_)
      if (!value.empty()) plat::set_env(name, value);
  }

 private:
  std::vector<std::pair<std::string, std::string>> saved_;
};

// A page that fails in the toolkit (here: its window cannot be made) ends the wizard with "nothing
// changed" and gives the owner window back: the next call's pages do not belong to this host window.
TEST(FlowFailure, AFailingPageEndsTheWizardAndRestoresTheOwnerWindow) {
  struct Failing final : ui::Backend {
    bool Available() override { return true; }
    int ShowModal(ui::TForm&) override { throw std::runtime_error("no window"); }
    int MessageBox(const ui::MessageBoxParams&) override { return ui::mrNone; }
    bool SaveDialog(ui::TSaveDialog&) override { return false; }
    bool PrintDialog(ui::TPrintDialog&) override { return false; }
    bool Print(const ui::PrintDocument&) override { return false; }
    ui::ScreenSize Screen() override { return {}; }
  } failing;
  ui::set_backend(&failing);
  Wizard().OwnerWindow = 0;
  PDB block = SavedDefaults();
  EXPECT_EQ(DLLEdDev(0x1234, &block), 2);
  EXPECT_EQ(Wizard().OwnerWindow, 0);
  ui::set_backend(nullptr);
}

// Without a display and without a scripted backend, DLLEdDev comes back at once. A device voided by
// the block check has changed the host's block, and the host learns it; otherwise nothing changed.
TEST(FlowWithoutDisplay, DLLEdDevReturnsAtOnceAndReportsAVoidedDevice) {
  ui::set_backend(nullptr);
  NoDisplay none;
  ui::RetryQtBackend();
  PDB block = SavedDefaults();
  PutDevice(block, 3, 3, 1);
  PDB untouched = block;
  EXPECT_EQ(DLLEdDev(0, &block), 2);
  EXPECT_EQ(std::memcmp(&untouched, &block, sizeof(PDB)), 0);

  block.Devices[3].DevTypeName.set("PLNE");
  PDB working = block;
  CheckPDB(&working);
  EXPECT_EQ(DLLEdDev(0, &block), 1);
  EXPECT_EQ(std::memcmp(&working, &block, sizeof(PDB)), 0);
  EXPECT_EQ(block.Devices[3].DevType, 2);
  // The wizard's own state was not used.
  EXPECT_EQ(Wizard().HostBlock, nullptr);
  EXPECT_EQ(DLLEdDev(0, nullptr), 2);
  ui::RetryQtBackend();
}

// The shared library as a host loads it: the wizard is linked in, and without a display it ends at
// once, reporting the device the block check voided.
TEST(FlowWithoutDisplay, TheSharedLibrarysDLLEdDevReportsAVoidedDevice) {
  NoDisplay none;
  plat::DynLib lib;
  ASSERT_EQ(lib.open(KORVEL_LIBRARY_FILE), plat::OpenResult::Ok) << plat::last_error_text();
  using EdDev = int32_t (*)(intptr_t, void*);
  auto ed = reinterpret_cast<EdDev>(lib.symbol("DLLEdDev"));
  ASSERT_NE(ed, nullptr);
  PDB block = SavedDefaults();
  PutDevice(block, 3, 3, 1);
  EXPECT_EQ(ed(0, &block), 2);
  block.Devices[3].DevTypeName.set("PLNE");
  EXPECT_EQ(ed(0, &block), 1);
  EXPECT_EQ(block.Devices[3].DevType, 2);
}

// A second DLLEdDev while a wizard is open (another host thread) leaves that wizard alone: it
// returns 2 at once and touches neither its own block nor the open wizard's state, whose Finish
// still writes back and reports the change.
TEST_F(Flow, ASecondWizardWhileOneRunsReturns2AtOnceAndLeavesTheFirstAlone) {
  PutDevice(host, 7, 7, 1);
  PutDevice(host, 12, 12, 1);
  PDB other = SavedDefaults();
  PutDevice(other, 5, 5, 1);
  other.Devices[5].DevTypeName.set("PLNE");  // the block check would void it
  const PDB otherBefore = other;
  int second = -1;
  ui.Expect("TStartFrm", [&](ui::ScriptedForm& f) {
    std::thread t([&] { second = DLLEdDev(0, &other); });
    t.join();
    EXPECT_EQ(Wizard().HostBlock, &host);
    f.Click("BrowseOp");
    f.Click("NextBtn");
  });
  ui.Expect("TEndFrm", [&](ui::ScriptedForm& f) {
    Wizard().Work.BaudRate = 3;  // an edit of the working copy, as a page would make it
    Wizard().Changed = true;
    f.Click("FinishBtn");
  });
  EXPECT_EQ(RunWizard(), 1);
  EXPECT_EQ(second, 2);
  EXPECT_EQ(std::memcmp(&other, &otherBefore, sizeof(PDB)), 0);
  EXPECT_EQ(host.BaudRate, 3);
  EXPECT_EQ(host.Devices[7].DevType, 1);
  EXPECT_EQ(host.Devices[12].DevType, 1);
  // Once the wizard has ended, the next one runs.
  ui.Expect("TStartFrm", [](ui::ScriptedForm& f) { f.Click("CancelBtn"); });
  EXPECT_EQ(DLLEdDev(0, &other), 1);
  EXPECT_EQ(other.Devices[5].DevType, 2);
}

}  // namespace
}  // namespace korvel::test
