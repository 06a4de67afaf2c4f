// The Qt backend on Qt's offscreen platform: a modal loop driven by model timers, and screenshots.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/env.h"
#include "platform/files.h"
#include "platform/text.h"
#include "tests/common/png_image.h"
#include "tests/common/skip.h"
#include "ui/Backend.h"

namespace ui = korvel::ui;

#ifdef KORVEL_QT_BACKEND_FILE

namespace {

using korvel::test::Image;
using korvel::test::ReadPng;

class QtOffscreen : public ::testing::Test {
 protected:
  void SetUp() override {
    korvel::plat::set_env("QT_QPA_PLATFORM", "offscreen");
    ui::SetQtBackendPath(KORVEL_QT_BACKEND_FILE);
    ui::RetryQtBackend();
    ui::set_backend(nullptr);
    dir_ = KORVEL_SCREENSHOT_DIR;
    ASSERT_TRUE(korvel::plat::create_directories(dir_));
  }
  std::string dir_;
};

// A page with every kind of control and Chinese texts, laid out like the wizard's pages.
class TSampleFrm : public ui::TForm {
 public:
  TSampleFrm() : TForm("TSampleFrm") {
    SetCaption(GBK("无名设备向导：选择执行的操作方式"));
    SetClientSize(480, 360);
    ui::TFont bold;
    bold.Bold = true;
    bold.Size = 11;
    Label1.SetBounds(12, 8, 300, 22);
    Label1.SetFont(bold);
    Label1.SetCaption(GBK("欢迎使用无名设备配置向导"));
    Label2.SetBounds(12, 34, 300, 22);
    Label2.SetCaption(GBK("请选择下面的操作选项"));
    Label3.SetBounds(12, 34 + 26, 300, 22);
    Label3.SetCaption(GBK("修改原有的设备配置"));  // as long as Label2, other characters
    GroupBox1.SetBounds(12, 88, 220, 110);
    GroupBox1.SetCaption(GBK("操作"));
    NewOp.SetBounds(10, 22, 180, 22);
    NewOp.SetCaption(GBK("新建设备"));
    NewOp.SetChecked(true);
    ModifyOp.SetBounds(10, 48, 180, 22);
    ModifyOp.SetCaption(GBK("修改设备"));
    EnDebugChk.SetBounds(10, 76, 180, 22);
    EnDebugChk.SetCaption(GBK("调试开关"));
    EnDebugChk.SetChecked(true);
    ParityEd.SetBounds(244, 88, 224, 60);
    ParityEd.SetCaption(GBK("校验方式"));
    ParityEd.SetColumns(3);
    ParityEd.SetItems({GBK("无校验"), GBK("奇校验"), GBK("偶校验")});
    ParityEd.SetItemIndex(2);
    ComEd.SetBounds(244, 156, 100, 24);
    ComEd.SetItems({"COM1", "COM2"});
    ComEd.SetItemIndex(1);
    IDEd.SetBounds(352, 156, 116, 24);
    IDEd.SetText("12");
    DeviceTree.SetBounds(12, 206, 220, 100);
    DeviceTree.AddChild(nullptr, GBK("1：PLNE"));
    DeviceTree.AddChild(nullptr, GBK("3：PLNK 槽号：2"));
    StringGrid1.SetBounds(244, 188, 224, 80);
    StringGrid1.SetColCount(2);
    StringGrid1.SetRowCount(3);
    StringGrid1.SetFixedCols(0);
    StringGrid1.SetCell(0, 0, GBK("标签地址"));
    StringGrid1.SetCell(1, 0, GBK("标签值"));
    StringGrid1.SetCell(0, 1, "AI");
    StringGrid1.SetCell(1, 1, GBK("开"));
    LoadBar.SetBounds(244, 276, 224, 16);
    LoadBar.SetRange(0, 10);
    LoadBar.SetPosition(6);
    NextBtn.SetBounds(300, 320, 80, 28);
    NextBtn.SetCaption(GBK("下一步"));
    CancelBtn.SetBounds(388, 320, 80, 28);
    CancelBtn.SetCaption(GBK("取消"));
    HiddenBtn.SetBounds(12, 320, 80, 28);
    HiddenBtn.SetCaption(GBK("下载最新驱动"));
    HiddenBtn.Hide();
  }
  ui::TLabel& Label1 = Add<ui::TLabel>("Label1");
  ui::TLabel& Label2 = Add<ui::TLabel>("Label2");
  ui::TLabel& Label3 = Add<ui::TLabel>("Label3");
  ui::TGroupBox& GroupBox1 = Add<ui::TGroupBox>("GroupBox1");
  ui::TRadioButton& NewOp = Add<ui::TRadioButton>("NewOp", &GroupBox1);
  ui::TRadioButton& ModifyOp = Add<ui::TRadioButton>("ModifyOp", &GroupBox1);
  ui::TCheckBox& EnDebugChk = Add<ui::TCheckBox>("EnDebugChk", &GroupBox1);
  ui::TRadioGroup& ParityEd = Add<ui::TRadioGroup>("ParityEd");
  ui::TComboBox& ComEd = Add<ui::TComboBox>("ComEd");
  ui::TEdit& IDEd = Add<ui::TEdit>("IDEd");
  ui::TTreeView& DeviceTree = Add<ui::TTreeView>("DeviceTree");
  ui::TStringGrid& StringGrid1 = Add<ui::TStringGrid>("StringGrid1");
  ui::TProgressBar& LoadBar = Add<ui::TProgressBar>("LoadBar");
  ui::TButton& NextBtn = Add<ui::TButton>("NextBtn");
  ui::TButton& CancelBtn = Add<ui::TButton>("CancelBtn");
  ui::TButton& HiddenBtn = Add<ui::TButton>("HiddenBtn");
};

}  // namespace

TEST_F(QtOffscreen, RendersChineseTextsIntoAPng) {
  TSampleFrm f;
  const std::string png = dir_ + "/ui_sample.png";
  korvel::plat::delete_file(png);
  std::string err;
  ASSERT_TRUE(ui::RenderToPng(f, png, &err)) << err;
  std::string bytes;
  ASSERT_TRUE(korvel::plat::read_file(png, bytes));
  ASSERT_EQ(bytes.substr(1, 3), "PNG");
#ifndef KORVEL_HAVE_PNG
  KORVEL_SKIP_MISSING("libpng-dev: the pixels are not checked");
#endif
  Image window;
  ASSERT_TRUE(ReadPng(png, window));
  EXPECT_EQ(window.width, 480 + 2 * ui::kRenderFrame);
  const Image img = korvel::test::ClientArea(window);
  EXPECT_EQ(img.width, 480);
  EXPECT_EQ(img.height, 360);

  // Text was drawn: the label area holds more than one colour, and many dark pixels.
  auto label = img.Region(12, 34, 160, 20);
  std::set<std::uint32_t> colours(label.begin(), label.end());
  EXPECT_GT(colours.size(), 2u);
  int dark = 0;
  for (auto p : label)
    if (((p >> 16) & 0xFF) + ((p >> 8) & 0xFF) + (p & 0xFF) < 3 * 128) ++dark;
  EXPECT_GT(dark, 40);
  // Real glyphs, not the same missing-glyph box for every character: two labels of equally many
  // different characters look different.
  EXPECT_NE(label, img.Region(12, 60, 160, 20));
  // The hidden button's place stays empty.
  auto hidden = img.Region(14, 322, 76, 24);
  EXPECT_EQ(std::set<std::uint32_t>(hidden.begin(), hidden.end()).size(), 1u);
}

TEST_F(QtOffscreen, ModalLoopRunsModelTimersAndClosesOnTheModalResult) {
  ASSERT_TRUE(ui::Available()) << ui::QtBackendError();
  ui::TForm f("TSampleTest");
  f.SetCaption(GBK("设备测试窗口"));
  auto& grid = f.Add<ui::TStringGrid>("StringGrid1");
  auto& timer = f.Add<ui::TTimer>("Timer1");
  auto& exit_btn = f.Add<ui::TButton>("ExitBtn");
  exit_btn.SetCaption(GBK("退出"));
  exit_btn.OnClick = [&] { f.Close(); };
  int ticks = 0;
  int closes = 0;
  timer.SetInterval(10);
  timer.OnTimer = [&] {
    grid.SetCell(1, 1, std::to_string(++ticks));
    if (ticks == 3) exit_btn.Click();
  };
  f.OnClose = [&] {
    ++closes;
    f.SetModalResult(ui::mrNo);
  };
  EXPECT_EQ(f.ShowModal(), ui::mrNo);
  EXPECT_EQ(ticks, 3);
  EXPECT_EQ(closes, 1);
  EXPECT_EQ(grid.Cell(1, 1), "3");
  EXPECT_FALSE(f.Modal());

  // Nested: a form opened from a timer of another runs its own loop; both close in order.
  ui::TForm outer("TOuter");
  ui::TForm inner("TInner");
  auto& t_outer = outer.Add<ui::TTimer>("Timer1");
  auto& t_inner = inner.Add<ui::TTimer>("Timer1");
  t_outer.SetInterval(5);
  t_inner.SetInterval(5);
  int inner_result = -1;
  t_outer.OnTimer = [&] {
    t_outer.SetEnabled(false);
    inner_result = inner.ShowModal();
    outer.SetModalResult(ui::mrOk);
  };
  t_inner.OnTimer = [&] { inner.SetModalResult(ui::mrYes); };
  EXPECT_EQ(outer.ShowModal(), ui::mrOk);
  EXPECT_EQ(inner_result, ui::mrYes);
}

TEST_F(QtOffscreen, OtherThreadsGetNothingShown) {
  ASSERT_TRUE(ui::Available()) << ui::QtBackendError();
  ui::TForm f("TStartFrm");
  int shows = 0;
  f.OnShow = [&] { ++shows; };
  bool available = true;
  int result = -1, answer = -1;
  bool rendered = true;
  std::thread other([&] {
    available = ui::Available();
    result = f.ShowModal();
    answer = ui::MessageBox("text", "caption");
    rendered = ui::RenderToPng(f, dir_ + "/never.png");
  });
  other.join();
  EXPECT_FALSE(available);
  EXPECT_EQ(result, ui::mrNone);
  EXPECT_EQ(answer, ui::mrNone);
  EXPECT_FALSE(rendered);
  EXPECT_EQ(shows, 0);
}

// A window call from a worker thread before any window was shown creates nothing there (the
// application object would be bound to that thread for good), and the main thread still shows
// windows afterwards, also after the worker has ended.
TEST_F(QtOffscreen, AWorkerThreadsFirstWindowCallCreatesNothingAndTheMainThreadStillShowsWindows) {
  if (!ui::RetryQtBackend()) GTEST_SKIP() << "Qt already runs in this process";
  ui::TForm f("TStartFrm");
  f.SetClientSize(200, 100);
  int shows = 0;
  f.OnShow = [&] { ++shows; };
  auto& timer = f.Add<ui::TTimer>("Timer1");
  timer.SetInterval(10);
  timer.OnTimer = [&] { f.SetModalResult(ui::mrOk); };
  bool available = true, rendered = true;
  int result = -1, answer = -1;
  std::string why;
  std::thread worker([&] {
    available = ui::Available();
    why = ui::QtBackendError();
    result = f.ShowModal();
    answer = ui::MessageBox("text", "caption");
    rendered = ui::RenderToPng(f, dir_ + "/never.png");
  });
  worker.join();
  EXPECT_FALSE(available);
  EXPECT_NE(why.find("main thread"), std::string::npos) << why;
  EXPECT_EQ(result, ui::mrNone);
  EXPECT_EQ(answer, ui::mrNone);
  EXPECT_FALSE(rendered);
  EXPECT_EQ(shows, 0);

  ASSERT_TRUE(ui::Available()) << ui::QtBackendError();
  EXPECT_EQ(f.ShowModal(), ui::mrOk);
  EXPECT_EQ(shows, 1);
  // The worker's refusal is no lasting verdict either way: other threads still get nothing.
  std::thread([&] { available = ui::Available(); }).join();
  EXPECT_FALSE(available);
}

TEST_F(QtOffscreen, PrintsPagesToAPdf) {
  ASSERT_TRUE(ui::Available()) << ui::QtBackendError();
  const std::string pdf = dir_ + "/ui_print.pdf";
  korvel::plat::delete_file(pdf);
  korvel::plat::set_env("KORVEL_PRINT_TO_PDF", pdf);
  ui::TForm f("TDebugFrm");
  auto& dlg = f.Add<ui::TPrintDialog>("PrintDialog1");
  ASSERT_TRUE(dlg.Execute());
  ui::Printer().BeginDoc(GBK("调试日志"));
  for (int i = 0; i < 200; ++i) ui::Printer().Writeln(GBK("第") + std::to_string(i) + GBK("行 调试信息"));
  EXPECT_TRUE(ui::Printer().EndDoc());
  korvel::plat::unset_env("KORVEL_PRINT_TO_PDF");
  std::string bytes;
  ASSERT_TRUE(korvel::plat::read_file(pdf, bytes));
  EXPECT_EQ(bytes.substr(0, 5), "%PDF-");
  // 200 lines do not fit one sheet: the job flowed onto more pages.
  size_t pages = 0;
  for (size_t pos = 0; (pos = bytes.find("/Type /Page\n", pos)) != std::string::npos; ++pos) ++pages;
  if (pages == 0)
    for (size_t pos = 0; (pos = bytes.find("/Type /Page", pos)) != std::string::npos; ++pos)
      if (bytes.compare(pos, 12, "/Type /Pages") != 0) ++pages;
  EXPECT_GT(pages, 1u);
}

TEST_F(QtOffscreen, UserActionsOnRealWidgetsReachTheModelAndBack) {
  ASSERT_TRUE(ui::Available()) << ui::QtBackendError();
  ui::TForm f("TStep12Frm");
  auto& IDEd = f.Add<ui::TEdit>("IDEd");
  auto& OutTimeEd = f.Add<ui::TEdit>("OutTimeEd");
  auto& chk = f.Add<ui::TCheckBox>("AtMasterCpuCB");
  auto& parity = f.Add<ui::TRadioGroup>("ParityEd");
  auto& com = f.Add<ui::TComboBox>("ComEd");
  auto& tree = f.Add<ui::TTreeView>("DeviceTree");
  auto& grid = f.Add<ui::TStringGrid>("StringGrid1");
  auto& memo = f.Add<ui::TMemo>("LogMemo");
  auto& next = f.Add<ui::TButton>("NextBtn");
  auto& timer = f.Add<ui::TTimer>("Timer1");
  int y = 4;
  for (ui::TControl* c :
       std::vector<ui::TControl*>{&IDEd, &OutTimeEd, &chk, &parity, &com, &tree, &grid, &memo, &next}) {
    c->SetBounds(4, y, 200, c == &parity || c == &tree || c == &grid || c == &memo ? 70 : 24);
    y += c->Height() + 4;
  }
  f.SetClientSize(220, y);
  std::vector<std::string> log;
  IDEd.OnKeyPress = [](char& k) {
    if (!((k >= '0' && k <= '9') || k == '\b')) k = 0;
  };
  IDEd.OnChange = [&] {
    log.push_back("IDEdChange " + IDEd.Text());
    if (IDEd.Text().size() > 2) IDEd.SetText("99");  // the page clamps: the widget must follow
  };
  OutTimeEd.OnExit = [&] { log.push_back("OutTimeEdExit " + OutTimeEd.Text()); };
  chk.OnClick = [&] { log.push_back(std::string("AtMasterCpuCBClick ") + (chk.Checked() ? "1" : "0")); };
  parity.SetItems({GBK("无校验"), GBK("奇校验"), GBK("偶校验")});
  parity.OnClick = [&] { log.push_back("ParityEdClick " + std::to_string(parity.ItemIndex())); };
  com.SetItems({"COM1", "COM2"});
  com.OnChange = [&] { log.push_back("ComEdChange " + com.Text() + " " + std::to_string(com.ItemIndex())); };
  tree.AddChild(nullptr, GBK("1：PLNE"));
  tree.AddChild(nullptr, GBK("2：PLNK"));
  tree.OnClick = [&] { log.push_back("DeviceTreeClick"); };
  tree.OnKeyUp = [&](int& key) {
    if (key == ui::vkDelete && tree.Selected()) tree.Delete(tree.Selected());
  };
  grid.SetColCount(2);
  grid.SetRowCount(3);
  grid.SetEditing(true);
  next.SetModalResult(ui::mrOk);
  next.OnClick = [&] { log.push_back("NextBtnClick"); };

  std::vector<bool> done;
  timer.SetInterval(20);
  timer.OnTimer = [&] {
    timer.SetEnabled(false);
    done.push_back(ui::QtUserAction(f, "IDEd", "type", "1a2"));
    done.push_back(ui::QtUserAction(f, "IDEd", "type", GBK("中")));  // not a digit: swallowed
    done.push_back(ui::QtUserAction(f, "IDEd", "type", "7"));        // "127" is clamped to "99"
    done.push_back(ui::QtUserAction(f, "OutTimeEd", "type", "5"));
    done.push_back(ui::QtUserAction(f, "AtMasterCpuCB", "click"));  // focus leaves OutTimeEd first
    done.push_back(ui::QtUserAction(f, "ParityEd", "select", "2"));
    done.push_back(ui::QtUserAction(f, "ComEd", "select", "1"));
    done.push_back(ui::QtUserAction(f, "ComEd", "type", "9"));  // typed after "COM2"
    done.push_back(ui::QtUserAction(f, "DeviceTree", "node", GBK("2：PLNK")));
    done.push_back(ui::QtUserAction(f, "DeviceTree", "keyup", std::to_string(ui::vkDelete)));
    done.push_back(ui::QtUserAction(f, "StringGrid1", "cell", "1,1," + GBK("开")));
    // A line break typed at the end survives the round trip through the model.
    done.push_back(ui::QtUserAction(f, "LogMemo", "type", GBK("调试\nok\n\n")));
    done.push_back(ui::QtUserAction(f, "LogMemo", "type", "x"));
    done.push_back(!ui::QtUserAction(f, "NoSuchControl", "click"));
    // Code changes reach the widgets: a disabled button cannot be clicked.
    next.SetEnabled(false);
    done.push_back(!ui::QtUserAction(f, "NextBtn", "click"));
    next.SetEnabled(true);
    done.push_back(ui::QtUserAction(f, "NextBtn", "click"));
  };
  EXPECT_EQ(f.ShowModal(), ui::mrOk);
  EXPECT_EQ(done, std::vector<bool>(16, true));
  EXPECT_EQ(memo.Lines(), (std::vector<std::string>{GBK("调试"), "ok", "", "x"}));
  EXPECT_EQ(IDEd.Text(), "99");
  EXPECT_TRUE(chk.Checked());
  EXPECT_EQ(parity.ItemIndex(), 2);
  EXPECT_EQ(com.Text(), "COM29");
  EXPECT_EQ(com.ItemIndex(), -1);
  ASSERT_EQ(tree.TopCount(), 1);
  EXPECT_EQ(tree.TopItem(0)->Text(), GBK("1：PLNE"));
  EXPECT_EQ(grid.Cell(1, 1), GBK("开"));
  EXPECT_EQ(log, (std::vector<std::string>{"IDEdChange 1", "IDEdChange 12", "IDEdChange 127", "IDEdChange 99",
                                           "OutTimeEdExit 5", "AtMasterCpuCBClick 1", "ParityEdClick 2",
                                           "ComEdChange COM2 1", "ComEdChange COM29 -1", "DeviceTreeClick",
                                           "NextBtnClick"}));
}

// Pages that follow each other, each with a default button, and a keyboard whose Return key is held
// down: the display sends its repeats to whichever page is active (so does a key whose release got
// lost, as with automation tools). One key press moves one page; the next press moves the next.
// Every second page has the focus on its default button, which must not click on its own either.
TEST_F(QtOffscreen, OneReturnKeyPressMovesOnePageHowEverLongItIsHeld) {
  ASSERT_TRUE(ui::Available()) << ui::QtBackendError();
  // The keyboard, one event per tick, to the page that is active at that moment.
  const std::vector<std::string> keys = {"press Return",
                                         "press Return",
                                         "press Return",
                                         "press Return",
                                         "release Return",
                                         "",
                                         "press Return",
                                         "press Return",
                                         "release Return",
                                         "",
                                         ""};
  size_t step = 0;
  std::vector<int> moved;  // pages whose default button acted
  bool more = true;
  for (int page = 0; more && page < 8; ++page) {
    ui::TForm f("TPage" + std::to_string(page));
    f.SetClientSize(220, 80);
    auto& edit = f.Add<ui::TEdit>("IDEd");
    edit.SetBounds(8, 8, 100, 24);
    auto& next = f.Add<ui::TButton>("NextBtn");
    next.SetBounds(120, 44, 90, 28);
    next.SetDefault(true);
    next.OnClick = [&, page] {
      moved.push_back(page);
      f.SetModalResult(ui::mrOk);
    };
    f.SetActiveControl(page % 2 ? static_cast<ui::TControl*>(&next) : &edit);
    auto& timer = f.Add<ui::TTimer>("Timer1");
    timer.SetInterval(15);
    timer.OnTimer = [&] {
      if (step >= keys.size()) {
        f.SetModalResult(ui::mrCancel);
        return;
      }
      const std::string key = keys[step++];
      if (!key.empty()) {
        EXPECT_TRUE(ui::QtUserAction(f, "", "key", key)) << key;
      }
    };
    more = f.ShowModal() == ui::mrOk;
  }
  EXPECT_EQ(moved, (std::vector<int>{0, 1}));
}

// Escape reaching a window: its cancel button when it has one, else the close box (which ends the
// modal loop with mrCancel and runs no button's handler).
TEST_F(QtOffscreen, EscapePressesTheCancelButtonElseActsAsTheCloseBox) {
  ASSERT_TRUE(ui::Available()) << ui::QtBackendError();
  for (const bool withCancel : {true, false}) {
    ui::TForm f("TPage");
    f.SetClientSize(220, 80);
    auto& stop = f.Add<ui::TButton>("CancelBtn");
    stop.SetBounds(120, 44, 90, 28);
    stop.SetCancel(withCancel);
    bool pressed = false;
    stop.OnClick = [&] {
      pressed = true;
      f.SetModalResult(ui::mrAbort);
    };
    auto& timer = f.Add<ui::TTimer>("Timer1");
    timer.SetInterval(15);
    int ticks = 0;
    timer.OnTimer = [&] {
      if (++ticks == 1) {
        EXPECT_TRUE(ui::QtUserAction(f, "", "key", "Escape"));
      }
      if (ticks > 50) f.SetModalResult(ui::mrNo);  // the key did nothing
    };
    EXPECT_EQ(f.ShowModal(), withCancel ? ui::mrAbort : ui::mrCancel) << withCancel;
    EXPECT_EQ(pressed, withCancel);
  }
}

// Clicking an option that is already selected keeps it selected on screen as in the page: single
// radio buttons and radio groups show what the model holds, after every click.
TEST_F(QtOffscreen, ReclickingASelectedOptionKeepsItShownAsSelected) {
  ASSERT_TRUE(ui::Available()) << ui::QtBackendError();
  TSampleFrm f;
  int clicks = 0;
  f.ParityEd.OnClick = [&] { ++clicks; };
  std::vector<std::string> failed;
  auto expect = [&](const std::string& control, const std::string& action, const std::string& arg) {
    if (!ui::QtUserAction(f, control, action, arg)) failed.push_back(control + " " + action + " " + arg);
  };
  auto& timer = f.Add<ui::TTimer>("Timer1");
  timer.SetInterval(10);
  timer.OnTimer = [&] {
    timer.SetEnabled(false);
    expect("NewOp", "shows", "checked");
    expect("NewOp", "click", "");
    expect("NewOp", "click", "");
    expect("NewOp", "shows", "checked");
    expect("ModifyOp", "shows", "unchecked");
    expect("ModifyOp", "click", "");
    expect("ModifyOp", "click", "");
    expect("ModifyOp", "shows", "checked");
    expect("NewOp", "shows", "unchecked");
    expect("ParityEd", "shows", "2");
    expect("ParityEd", "select", "2");
    expect("ParityEd", "shows", "2");
    expect("ParityEd", "select", "0");
    expect("ParityEd", "select", "0");
    expect("ParityEd", "shows", "0");
    f.SetModalResult(ui::mrOk);
  };
  EXPECT_EQ(f.ShowModal(), ui::mrOk);
  EXPECT_EQ(failed, std::vector<std::string>{});
  EXPECT_TRUE(f.ModifyOp.Checked());
  EXPECT_FALSE(f.NewOp.Checked());
  EXPECT_EQ(f.ParityEd.ItemIndex(), 0);
}

TEST_F(QtOffscreen, UnusableDisplaysAreReportedNotFatal) {
  // Only a process that has not started Qt yet can show this.
  korvel::plat::set_env("QT_QPA_PLATFORM", "no-such-platform");
  if (!ui::RetryQtBackend()) GTEST_SKIP() << "Qt already runs in this process";
  EXPECT_FALSE(ui::Available());
  EXPECT_NE(ui::QtBackendError().find("no-such-platform"), std::string::npos);

  korvel::plat::unset_env("QT_QPA_PLATFORM");
  korvel::plat::set_env("DISPLAY", ":97");  // no X server there
  ui::RetryQtBackend();
  EXPECT_FALSE(ui::Available());
  EXPECT_NE(ui::QtBackendError().find("X display"), std::string::npos);
  korvel::plat::unset_env("DISPLAY");
  ui::TForm f("TStartFrm");
  EXPECT_EQ(f.ShowModal(), ui::mrNone);
  korvel::plat::set_env("QT_QPA_PLATFORM", "offscreen");
  ui::RetryQtBackend();
}

#else

TEST(QtOffscreen, NotBuilt) {
  KORVEL_SKIP_MISSING("Qt 6 (qt6-base-dev): the Qt backend is not built");
}

#endif
