// The scripted backend running modal chains of small pages.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "ui/Backend.h"
#include "ui/Scripted.h"

namespace ui = korvel::ui;

namespace {

// Page B: a question before closing, a save dialog, a timer that fills a progress bar.
class TPageB : public ui::TForm {
 public:
  TPageB() : TForm("TPageB") {
    SetCaption("Page B");
    OkBtn.OnClick = [this] {
      int answer =
          ui::MessageBox("Save?", "Question", ui::MsgIcon::Question, ui::MsgButtons::YesNoCancel, this);
      if (answer == ui::mrYes) SetModalResult(ui::mrOk);
      if (answer == ui::mrNo) SetModalResult(ui::mrNo);
    };
    SaveBtn.OnClick = [this] {
      SaveDialog1.Filter = "log|*.log";
      SaveDialog1.DefaultExt = "Log";
      if (SaveDialog1.Execute()) saved_to = SaveDialog1.FileName;
    };
    Timer1.SetInterval(100);
    Timer1.SetEnabled(false);
    Timer1.OnTimer = [this] {
      LoadBar.StepBy(1);
      if (LoadBar.Position() == LoadBar.Max()) Timer1.SetEnabled(false);
    };
    LoadBar.SetRange(0, 5);
    StartBtn.OnClick = [this] { Timer1.SetEnabled(true); };
  }
  ui::TButton& OkBtn = Add<ui::TButton>("OkBtn");
  ui::TButton& SaveBtn = Add<ui::TButton>("SaveBtn");
  ui::TButton& StartBtn = Add<ui::TButton>("StartBtn");
  ui::TProgressBar& LoadBar = Add<ui::TProgressBar>("LoadBar");
  ui::TTimer& Timer1 = Add<ui::TTimer>("Timer1");
  ui::TSaveDialog& SaveDialog1 = Add<ui::TSaveDialog>("SaveDialog1");
  std::string saved_to;
};

// Page A: opens B from a button and keeps B's result; a hidden button; a text that must be left.
class TPageA : public ui::TForm {
 public:
  TPageA() : TForm("TPageA") {
    OpenBtn.OnClick = [this] {
      TPageB b;
      b_result = b.ShowModal();
      b_saved = b.saved_to;
      b_bar = b.LoadBar.Position();
    };
    HiddenBtn.Hide();
    HiddenBtn.OnClick = [this] { hidden_clicked = true; };
    OutTimeEd.OnExit = [this] {
      if (OutTimeEd.Modified())
        OutTimeEd.SetText(std::to_string(std::min(60000, std::stoi("0" + OutTimeEd.Text()))));
    };
    FinishBtn.SetModalResult(ui::mrOk);
    Timer1.SetInterval(250);
    Timer1.OnTimer = [this] { ++a_ticks; };
  }
  ui::TButton& OpenBtn = Add<ui::TButton>("OpenBtn");
  ui::TButton& HiddenBtn = Add<ui::TButton>("HiddenBtn");
  ui::TEdit& OutTimeEd = Add<ui::TEdit>("OutTimeEd");
  ui::TButton& FinishBtn = Add<ui::TButton>("FinishBtn");
  ui::TTimer& Timer1 = Add<ui::TTimer>("Timer1");
  int b_result = -1;
  std::string b_saved;
  int b_bar = -1;
  bool hidden_clicked = false;
  int a_ticks = 0;
};

}  // namespace

TEST(Scripted, ModalChainWithMessageAnswersSaveDialogAndTimers) {
  ui::ScriptedBackend sb;
  sb.Expect("TPageA", [](ui::ScriptedForm& f) {
    f.Click("OpenBtn");
    EXPECT_FALSE(f.Closed());
    f.Type("OutTimeEd", "70000");
    f.Click("FinishBtn");  // leaving the edit clamps it before the click
    EXPECT_TRUE(f.Closed());
  });
  sb.Expect("Page B", [](ui::ScriptedForm& f) {  // matched by its caption
    f.Click("SaveBtn");                          // cancelled (no answer queued)
    f.backend().AnswerSaveDialog("/tmp/debug");  // confirmed, extension added
    f.Click("SaveBtn");
    f.Click("StartBtn");
    f.Advance(250);
    EXPECT_EQ(f.form().Find<ui::TProgressBar>("LoadBar")->Position(), 2);
    f.Advance(10000);
    f.Click("OkBtn");  // answered Cancel: stays open
    EXPECT_FALSE(f.Closed());
    f.Click("OkBtn");  // answered Yes
    EXPECT_TRUE(f.Closed());
  });
  sb.AnswerMessage(ui::mrCancel);
  sb.AnswerMessage(ui::mrYes);

  TPageA a;
  EXPECT_EQ(a.ShowModal(), ui::mrOk);
  EXPECT_EQ(sb.ErrorText(), "");
  EXPECT_EQ(sb.Shown(), (std::vector<std::string>{"TPageA", "TPageB"}));
  EXPECT_EQ(a.b_result, ui::mrOk);
  EXPECT_EQ(a.b_saved, "/tmp/debug.Log");
  EXPECT_EQ(a.b_bar, 5);  // the timer stopped itself at the maximum
  EXPECT_EQ(a.OutTimeEd.Text(), "60000");
  // A's timer ran underneath B for the 10250 ms of scripted time.
  EXPECT_EQ(a.a_ticks, 41);

  ASSERT_EQ(sb.Messages().size(), 2u);
  EXPECT_EQ(sb.Messages()[0].Text, "Save?");
  EXPECT_EQ(sb.Messages()[0].Caption, "Question");
  EXPECT_EQ(sb.Messages()[0].Icon, ui::MsgIcon::Question);
  EXPECT_EQ(sb.Messages()[0].Owner, "TPageB");
  EXPECT_EQ(sb.Messages()[1].Answer, ui::mrYes);
  ASSERT_EQ(sb.SaveDialogs().size(), 2u);
  EXPECT_FALSE(sb.SaveDialogs()[0].Confirmed);
  EXPECT_EQ(sb.SaveDialogs()[1].Filter, "log|*.log");
  EXPECT_FALSE(a.Modal());
  EXPECT_FALSE(a.Visible());
}

TEST(Scripted, RefusesWhatAUserCouldNotDo) {
  ui::ScriptedBackend sb;
  sb.On("TPageA", [](ui::ScriptedForm& f) {
    f.Click("HiddenBtn");
    f.form().Find<ui::TButton>("OpenBtn")->SetEnabled(false);
    f.Click("OpenBtn");
    f.Click("NoSuchBtn");
    f.Select("OpenBtn", 1);
    f.Click("FinishBtn");
    f.Click("FinishBtn");  // the form is closed by now
  });
  TPageA a;
  a.ShowModal();
  EXPECT_FALSE(a.hidden_clicked);
  EXPECT_EQ(a.b_result, -1);
  EXPECT_EQ(sb.Errors().size(), 5u) << sb.ErrorText();
}

TEST(Scripted, ActionsOnACoveredFormAreRefused) {
  ui::ScriptedBackend sb;
  ui::ScriptedForm* outer = nullptr;
  sb.On("TPageA", [&](ui::ScriptedForm& f) {
    outer = &f;
    f.Click("OpenBtn");
  });
  sb.On("TPageB", [&](ui::ScriptedForm& f) {
    outer->Click("FinishBtn");  // page A is under page B
    EXPECT_FALSE(outer->Closed());
    EXPECT_TRUE(f.form().Active());
    f.Close();
  });
  TPageA a;
  a.ShowModal();
  EXPECT_EQ(a.b_result, ui::mrCancel);
  ASSERT_EQ(sb.Errors().size(), 1u) << sb.ErrorText();
  EXPECT_NE(sb.Errors()[0].find("under another modal form"), std::string::npos);
}

TEST(Scripted, UnexpectedFormAndUnscriptedFormAreErrorsAndCloseLikeTheCloseBox) {
  ui::ScriptedBackend sb;
  sb.Expect("TPageB", [](ui::ScriptedForm&) {});
  TPageA a;
  EXPECT_EQ(a.ShowModal(), ui::mrCancel);
  ASSERT_EQ(sb.Errors().size(), 2u) << sb.ErrorText();
  EXPECT_NE(sb.Errors()[0].find("expected form TPageB"), std::string::npos);
}

TEST(Scripted, CloseQueryCanKeepTheFormOpenAndCloseMaySetTheResult) {
  ui::ScriptedBackend sb;
  ui::TForm f("TSampleTest");
  bool may_close = false;
  bool read_ok = false;
  f.OnCloseQuery = [&](bool& can) { can = may_close; };
  f.OnClose = [&] { f.SetModalResult(read_ok ? ui::mrOk : ui::mrNo); };
  sb.On("TSampleTest", [&](ui::ScriptedForm& s) {
    s.Close();
    EXPECT_FALSE(s.Closed());
    EXPECT_EQ(f.ModalResult(), ui::mrNone);
    may_close = true;
    read_ok = true;
    s.Close();
    EXPECT_TRUE(s.Closed());
  });
  EXPECT_EQ(f.ShowModal(), ui::mrOk);
  EXPECT_EQ(sb.ErrorText(), "");
}

TEST(Scripted, TimerRestartsWhenReenabledAndStopsWithItsForm) {
  ui::ScriptedBackend sb;
  ui::TForm f("TDebugFrm");
  auto& t = f.Add<ui::TTimer>("Timer1");
  auto& btn = f.Add<ui::TButton>("ExitBtn");
  btn.SetModalResult(ui::mrOk);
  std::vector<std::uint64_t> fired;
  t.SetInterval(500);
  t.OnTimer = [&] {
    fired.push_back(sb.Now());
    t.SetEnabled(false);  // fires once, as the debug window's load timer does
  };
  sb.On("TDebugFrm", [&](ui::ScriptedForm& s) {
    s.Advance(499);
    EXPECT_TRUE(fired.empty());
    s.Advance(1);
    s.Advance(2000);
    t.SetEnabled(true);  // restarts the count from now (2500)
    s.Advance(700);
    s.Click("ExitBtn");
  });
  f.ShowModal();
  EXPECT_EQ(fired, (std::vector<std::uint64_t>{500, 3000}));
  sb.Advance(5000);  // the form is gone: its timer no longer runs
  EXPECT_EQ(fired.size(), 2u);
}

TEST(Scripted, PrintDialogAndPrinterAreRecorded) {
  ui::ScriptedBackend sb;
  ui::TForm f("TDebugFrm");
  auto& dlg = f.Add<ui::TPrintDialog>("PrintDialog1");
  EXPECT_FALSE(dlg.Execute());  // cancelled by default
  sb.AnswerPrintDialog(true);
  ASSERT_TRUE(dlg.Execute());
  ui::Printer().BeginDoc("log");
  ui::Printer().Writeln("line 1");
  EXPECT_TRUE(ui::Printer().EndDoc());
  EXPECT_EQ(sb.PrintDialogs(), 2);
  ASSERT_EQ(sb.Printed().size(), 1u);
  EXPECT_EQ(sb.Printed()[0].Pages[0], (std::vector<std::string>{"line 1"}));
}

TEST(Scripted, MessageAnswerMustBeAButtonOfTheBox) {
  ui::ScriptedBackend sb;
  EXPECT_EQ(ui::MessageBox("t", "c"), ui::mrOk);
  EXPECT_EQ(ui::MessageBox("t", "c", ui::MsgIcon::Warning, ui::MsgButtons::YesNo), ui::mrYes);
  sb.AnswerMessage(ui::mrCancel);
  ui::MessageBox("t", "c", ui::MsgIcon::Warning, ui::MsgButtons::YesNo);
  EXPECT_EQ(sb.Errors().size(), 1u);
  ui::ShowMessage("plain");
  EXPECT_EQ(sb.Messages().back().Icon, ui::MsgIcon::None);
}

TEST(Scripted, DoubleClickOnARadioButtonChecksItFirst) {
  ui::ScriptedBackend sb;
  ui::TForm f("TStartFrm");
  auto& a = f.Add<ui::TRadioButton>("NewOp");
  auto& b = f.Add<ui::TRadioButton>("ModifyOp");
  a.SetChecked(true);
  std::string order;
  b.OnClick = [&] { order += "click "; };
  b.OnDblClick = [&] {
    order += "dbl ";
    f.Close();
  };
  sb.On("TStartFrm", [](ui::ScriptedForm& s) { s.DblClick("ModifyOp"); });
  f.ShowModal();
  EXPECT_EQ(order, "click dbl ");
  EXPECT_TRUE(b.Checked());
  EXPECT_FALSE(a.Checked());
}

TEST(Scripted, DestroyingTheBackendRestoresTheDefault) {
  ui::Backend* before = &ui::backend();
  {
    ui::ScriptedBackend sb;
    EXPECT_EQ(&ui::backend(), &sb);
  }
  EXPECT_EQ(&ui::backend(), before);
}

TEST(Scripted, AnExceptionFromPageCodeIsRecordedAndTheChainGoesOn) {
  ui::ScriptedBackend sb;
  ui::TForm f("TBroken");
  auto& btn = f.Add<ui::TButton>("NextBtn");
  btn.OnClick = [] { throw std::runtime_error("page fault"); };
  sb.On("TBroken", [](ui::ScriptedForm& s) {
    s.Click("NextBtn");
    s.Close();  // never reached
  });
  EXPECT_EQ(f.ShowModal(), ui::mrCancel);
  ASSERT_EQ(sb.Errors().size(), 1u) << sb.ErrorText();
  EXPECT_NE(sb.Errors()[0].find("page fault"), std::string::npos);
  EXPECT_FALSE(f.Modal());
  EXPECT_EQ(sb.ActiveForm(), nullptr);
  // The same form can be shown again.
  sb.On("TBroken", [](ui::ScriptedForm& s) { s.Close(); });
  EXPECT_EQ(f.ShowModal(), ui::mrCancel);
  EXPECT_EQ(sb.Errors().size(), 1u);
}
