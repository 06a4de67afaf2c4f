// The debug window: switch rules, the warning, loading the log after half a second, save, print.
#include <fstream>

#include "framework/DLLBase.h"
#include "platform/files.h"
#include "platform/text.h"
#include "tests/wizard/wizard_fixture.h"
#include "tools/DLLDebug.h"

namespace korvel::test {
namespace {

class Debug : public WizardTest {
 protected:
  void SetUp() override {
    WizardTest::SetUp();
    old_log_ = LogFileName();
    log_ = tmp_ + "/KorvelPLNK.Log";
    SetLogFileName(log_);
  }
  void TearDown() override {
    SetLogFileName(old_log_);
    WizardTest::TearDown();
  }
  void Show(const PDB& block, ui::FormScript script) {
    PrepareWork(block);
    ui.Expect("TDebugFrm", std::move(script));
    TDebugFrm window(Wizard().Work);
    window.ShowModal();
    EXPECT_EQ(Errors(), "");
  }
  std::string old_log_, log_;
};

const std::string& Warning() {
  static const std::string prefix = GBK("！注意：调试对性能将产生不良影响");
  return prefix;
}

TEST_F(Debug, ErrorOutputWithoutTheDebugSwitchIsClearedAndControlsAreDisabled) {
  PDB b = SavedDefaults();
  b.ErrorLog = 1;
  b.TraceLog = 1;
  Show(b, [](ui::ScriptedForm& f) {
    EXPECT_EQ(f.form().Caption(), GBK("Korvel智能模块向导：设置调试选项"));
    EXPECT_EQ(f.Text("Label2"), GBK("调试开关-查看和编辑今天的设备运行历史，诊断出现的问题！"));
    EXPECT_TRUE(f.Get<ui::TButton>("FinishBtn")->Focused());
    for (const char* name : {"LogMemo", "ErrorChk", "TraceChk", "SaveBtn", "PrnBtn", "SpeedButton1"})
      EXPECT_FALSE(f.Enabled(name)) << name;
    EXPECT_FALSE(f.Checked("ErrorChk"));
    EXPECT_FALSE(f.Visible("LoadBar"));
    f.Close();
  });
  EXPECT_EQ(Wizard().Work.ErrorLog, 0);
  EXPECT_EQ(Wizard().Work.TraceLog, 0);
  EXPECT_FALSE(Wizard().Changed);  // the close box keeps changes in the working copy only
  EXPECT_EQ(host.ErrorLog, 0);
}

TEST_F(Debug, TheWarningComesOncePerWindowAndNotWhenOpenedWithTheSwitchOn) {
  Show(SavedDefaults(), [](ui::ScriptedForm& f) {
    f.Click("EnDebugChk");
    EXPECT_EQ(f.Text("Label2"), GBK("正在调入记录文件..."));
    EXPECT_TRUE(f.Visible("LoadBar"));
    f.Click("EnDebugChk");
    EXPECT_EQ(f.Text("Label2"), GBK("打开调试开关-查看和编辑今天的设备运行历史，诊断出现的问题！"));
    f.Click("EnDebugChk");
    f.Click("TraceChk");
    f.Close();
  });
  ASSERT_EQ(ui.Messages().size(), 1u);
  EXPECT_EQ(ui.Messages()[0].Text.rfind(Warning(), 0), 0u);
  EXPECT_EQ(ui.Messages()[0].Owner, "TDebugFrm");
  EXPECT_EQ(Wizard().Work.DebugLog, 1);
  EXPECT_EQ(Wizard().Work.TraceLog, 1);

  ui.ClearRecords();
  PDB on = SavedDefaults();
  on.DebugLog = 1;
  on.ErrorLog = 1;
  Show(on, [](ui::ScriptedForm& f) {
    EXPECT_TRUE(f.Checked("EnDebugChk"));
    EXPECT_TRUE(f.Checked("ErrorChk"));
    EXPECT_TRUE(f.Enabled("LogMemo"));
    f.Close();
  });
  EXPECT_TRUE(ui.Messages().empty());
  EXPECT_EQ(Wizard().Work.ErrorLog, 1);
}

TEST_F(Debug, TheLogIsLoadedHalfASecondAfterTheSwitchGoesOn) {
  std::ofstream(log_, std::ios::binary) << "2026-12-07 08:00:00" << GBK("：启动") << "\r\nline two\r\n";
  Show(SavedDefaults(), [](ui::ScriptedForm& f) {
    f.Click("EnDebugChk");
    auto* bar = f.Get<ui::TProgressBar>("LoadBar");
    f.Advance(300);
    EXPECT_EQ(bar->Position(), 3);
    EXPECT_TRUE(f.Get<ui::TMemo>("LogMemo")->Lines().empty());
    f.Advance(200);
    EXPECT_EQ(f.Get<ui::TMemo>("LogMemo")->Lines(),
              (std::vector<std::string>{"2026-12-07 08:00:00" + GBK("：启动"), "line two"}));
    EXPECT_EQ(f.Text("Label2"), GBK("调试开关-查看和编辑今天的设备运行历史，诊断出现的问题！"));
    EXPECT_FALSE(f.Visible("LoadBar"));
    EXPECT_FALSE(f.Get<ui::TTimer>("Timer1")->Enabled());
    EXPECT_FALSE(f.Get<ui::TTimer>("Timer2")->Enabled());
    f.Close();
  });
}

TEST_F(Debug, ProgressBarWrapsToTheMiddleWhileLoading) {
  Show(SavedDefaults(), [](ui::ScriptedForm& f) {
    f.Click("EnDebugChk");
    auto* w = static_cast<TDebugFrm*>(&f.form());
    for (int i = 0; i < 9; ++i) w->Timer2Timer();
    EXPECT_EQ(w->LoadBar.Position(), 9);
    w->Timer2Timer();
    EXPECT_EQ(w->LoadBar.Position(), 5);
    f.Close();
  });
}

TEST_F(Debug, AMissingOrUnreadableLogLeavesTheMemoAsItWasAndAnEmptyOneEmptiesIt) {
  std::ofstream(tmp_ + "/empty.Log").close();
  const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
      {tmp_ + "/absent.Log", {"typed"}},
      {tmp_, {"typed"}},  // a directory: exists, cannot be read
      {tmp_ + "/empty.Log", {}},
  };
  for (const auto& [path, expected] : cases) {
    SCOPED_TRACE(path);
    SetLogFileName(path);
    Show(SavedDefaults(), [&expected = expected](ui::ScriptedForm& f) {
      f.Click("EnDebugChk");
      f.Type("LogMemo", "typed");
      f.Advance(600);
      EXPECT_EQ(f.Get<ui::TMemo>("LogMemo")->Lines(), expected);
      EXPECT_FALSE(f.Visible("LoadBar"));
      f.Close();
    });
  }
}

TEST_F(Debug, SaveReplacesTheLogAndSaveAsWritesTheChosenFile) {
  std::ofstream(log_, std::ios::binary) << "old\r\n";
  const std::string other = tmp_ + "/copy.Log";
  ui.AnswerSaveDialog(std::nullopt);
  ui.AnswerSaveDialog(other);
  Show(SavedDefaults(), [](ui::ScriptedForm& f) {
    f.Click("EnDebugChk");
    f.Advance(500);
    f.Type("LogMemo", "first\r\n" + GBK("第二行"));
    f.Click("SpeedButton1");
    f.Click("SaveBtn");  // cancelled
    f.Click("SaveBtn");
    f.Close();
  });
  std::string saved;
  ASSERT_TRUE(plat::read_file(log_, saved));
  EXPECT_EQ(saved, "first\r\n" + GBK("第二行") + "\r\n");
  ASSERT_TRUE(plat::read_file(other, saved));
  EXPECT_EQ(saved, "first\r\n" + GBK("第二行") + "\r\n");
  ASSERT_EQ(ui.SaveDialogs().size(), 2u);
  EXPECT_EQ(ui.SaveDialogs()[0].Filter, GBK("调试日志文件|log"));
  EXPECT_EQ(ui.SaveDialogs()[0].DefaultExt, "Log");
}

TEST_F(Debug, PrintingFollowsThePrintDialog) {
  ui.AnswerPrintDialog(false);
  ui.AnswerPrintDialog(true);
  Show(SavedDefaults(), [](ui::ScriptedForm& f) {
    f.Click("EnDebugChk");
    f.Type("LogMemo", "a\r\nb");
    f.Click("PrnBtn");
    f.Click("PrnBtn");
    f.Close();
  });
  EXPECT_EQ(ui.PrintDialogs(), 2);
  ASSERT_EQ(ui.Printed().size(), 1u);
  std::vector<std::string> lines;
  for (const auto& page : ui.Printed()[0].Pages) lines.insert(lines.end(), page.begin(), page.end());
  EXPECT_EQ(lines, (std::vector<std::string>{"a", "b"}));
}

TEST_F(Debug, CloseWindowWritesTheBlockBackAndSetsTheChangedFlag) {
  Show(SavedDefaults(), [](ui::ScriptedForm& f) {
    f.Click("EnDebugChk");
    f.Click("ErrorChk");
    f.Click("FinishBtn");
  });
  EXPECT_TRUE(Wizard().Changed);
  EXPECT_EQ(host.DebugLog, 1);
  EXPECT_EQ(host.ErrorLog, 1);
}

}  // namespace
}  // namespace korvel::test
