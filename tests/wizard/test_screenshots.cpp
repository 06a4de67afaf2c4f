// Every wizard page and the debug window rendered by the Qt backend on the offscreen platform.
#include <gtest/gtest.h>

#ifdef KORVEL_QT_BACKEND_FILE
#include <functional>
#include <memory>
#include <set>

#include "framework/DLLBase.h"
#include "platform/env.h"
#include "platform/files.h"
#include "platform/text.h"
#include "tests/common/png_image.h"
#include "tests/wizard/wizard_fixture.h"
#include "tools/DLLDebug.h"
#include "ui/Backend.h"
#include "wizard/DLLStep1.h"
#include "wizard/DLLStep11.h"
#include "wizard/DLLStep12.h"
#include "wizard/DLLStep2.h"
#include "wizard/DLLStep4.h"
#include "wizard/DLLStep5.h"
#include "wizard/DLLStepEnd.h"
#include "wizard/DLLStepStart.h"

// Qt's font lookup keeps fontconfig's caches for the life of the process; the leak checker of the
// sanitizer build would report them as ours.
extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}

namespace korvel::test {
namespace {

using test::Image;
using test::ReadPng;
int DarkPixels(const std::vector<std::uint32_t>& px) {
  return Image::DarkPixels(px);
}
int LightPixels(const std::vector<std::uint32_t>& px) {
  int light = 0;
  for (auto p : px)
    if (((p >> 16) & 0xFF) + ((p >> 8) & 0xFF) + (p & 0xFF) > 3 * 230) ++light;
  return light;
}

// The region of a control in form coordinates.
void Place(const ui::TControl& c, int& x, int& y) {
  x = c.Left();
  y = c.Top();
  for (const ui::TControl* p = c.Parent(); p && p->kind() != ui::Kind::Form; p = p->Parent()) {
    x += p->Left();
    y += p->Top();
  }
}

class Screenshots : public WizardTest {
 protected:
  void SetUp() override {
    WizardTest::SetUp();
    plat::set_env("QT_QPA_PLATFORM", "offscreen");
    ui::SetQtBackendPath(KORVEL_QT_BACKEND_FILE);
    ui::RetryQtBackend();
    dir_ = KORVEL_SCREENSHOT_DIR;
    ASSERT_TRUE(plat::create_directories(dir_));
    PDB b = SavedDefaults();
    PutDevice(b, 1, 3, 0);
    PutDevice(b, 2, 4, 1);
    b.Devices[2].AtMasterCpu = 1;
    b.Devices[2].Slot = 2;
    PrepareWork(b);
  }
  // Renders form, then checks its caption, its size and that its title line and a second label
  // show real, different Chinese glyphs.
  void Check(ui::TForm& form, const std::string& file, const std::string& second) {
    SCOPED_TRACE(file);
    EXPECT_FALSE(form.Caption().empty());
    EXPECT_NE(form.Caption().find(GBK("向导")), std::string::npos);
    const std::string png = dir_ + "/" + file;
    plat::delete_file(png);
    std::string err;
    ASSERT_TRUE(ui::RenderToPng(form, png, &err)) << err;
    Image window;
    ASSERT_TRUE(ReadPng(png, window));
    const Image img = test::ClientArea(window);
    EXPECT_EQ(img.width, form.Width());
    EXPECT_EQ(img.height, form.Height());
    EXPECT_EQ(window.height, form.Height() + ui::kRenderCaption + 2 * ui::kRenderFrame);
    // The caption bar carries the caption's (white) letters.
    const Image bar = test::CaptionBar(window);
    EXPECT_GT(LightPixels(bar.Region(0, 0, bar.width, bar.height)), 60);
    auto* title = form.Find<ui::TLabel>("Label1");
    auto* other = form.Find<ui::TLabel>(second);
    ASSERT_TRUE(title && other);
    int x = 0, y = 0;
    Place(*title, x, y);
    const auto title_px = img.Region(x, y, 160, 18);
    Place(*other, x, y);
    const auto other_px = img.Region(x, y, 160, 18);
    EXPECT_GT(DarkPixels(title_px), 60);
    EXPECT_GT(DarkPixels(other_px), 30);
    EXPECT_NE(title_px, other_px);
    // Buttons and boxes were drawn: the page is far from one flat colour.
    const auto all = img.Region(0, 0, img.width, img.height);
    EXPECT_GT(std::set<std::uint32_t>(all.begin(), all.end()).size(), 20u);
  }
  std::string dir_;
};

TEST_F(Screenshots, EveryPageAndTheDebugWindowRenderWithChineseTexts) {
  struct Page {
    std::string file, label;
    std::function<std::unique_ptr<ui::TForm>()> make;
  };
  const std::vector<Page> pages = {
      {"1_TStartFrm.png", "Label2", [] { return std::make_unique<wizard::TStartFrm>(); }},
      {"2_TStep1Frm.png", "Label2", [] { return std::make_unique<wizard::TStep1Frm>(); }},
      {"3_TStep2Frm.png", "Label2", [] { return std::make_unique<wizard::TStep2Frm>(); }},
      {"4_TStep11Frm.png", "Label2", [] { return std::make_unique<wizard::TStep11Frm>(); }},
      {"5_TStep12Frm.png", "Label2", [] { return std::make_unique<wizard::TStep12Frm>(); }},
      {"6_TStep4Frm.png", "Label2", [] { return std::make_unique<wizard::TStep4Frm>(); }},
      {"7_TStep5Frm.png", "Label2", [] { return std::make_unique<wizard::TStep5Frm>(); }},
      {"8_TEndFrm.png", "Label2", [] { return std::make_unique<wizard::TEndFrm>(); }},
      {"9_TDebugFrm.png", "Label2", [] { return std::make_unique<TDebugFrm>(Wizard().Work); }},
  };
  for (const Page& p : pages) {
    auto form = p.make();
    Check(*form, p.file, p.label);
  }
}

// The caption bar shows the form's own caption: another caption draws other letters, the client
// area stays the same.
TEST_F(Screenshots, TheCaptionBarShowsTheFormsCaption) {
  wizard::TStep1Frm form;
  auto render = [&](const std::string& file) {
    const std::string png = dir_ + "/" + file;
    std::string err;
    EXPECT_TRUE(ui::RenderToPng(form, png, &err)) << err;
    Image window;
    EXPECT_TRUE(ReadPng(png, window));
    return window;
  };
  const Image first = render("caption_a.png");
  form.SetCaption(GBK("调试窗口"));
  const Image second = render("caption_b.png");
  EXPECT_NE(test::CaptionBar(first).rgba, test::CaptionBar(second).rgba);
  EXPECT_EQ(test::ClientArea(first).rgba, test::ClientArea(second).rgba);
  form.SetCaption("");
  const Image empty = render("caption_c.png");
  const Image bar = test::CaptionBar(empty);
  // Without a caption only the close box's white edge is left of the letters.
  EXPECT_LT(LightPixels(bar.Region(0, 0, bar.width - 24, bar.height)), 5);
}

// The debug window in a real (offscreen) window: Qt runs its timers, the log arrives after half a
// second, its long lines scroll sideways rather than being cut, and the close button writes the
// switches back.
TEST_F(Screenshots, DebugWindowRunsInARealWindowAndLoadsTheLog) {
  ui::set_backend(nullptr);  // the Qt backend instead of the fixture's scripted one
  ASSERT_TRUE(ui::Available()) << ui::QtBackendError();
  const std::string old_log = LogFileName();
  const std::string log = tmp_ + "/KorvelPLNK.Log";
  SetLogFileName(log);
  const std::string longLine = "2026-12-07 08:00:01" + GBK("：读标签") + std::string(120, 'A');
  ASSERT_TRUE(plat::write_file(log, "2026-12-07 08:00:00" + GBK("：启动通讯") + "\r\n" + longLine + "\r\n"));
  Wizard().Work.DebugLog = 1;
  TDebugFrm window(Wizard().Work);
  auto& closer = window.Add<ui::TTimer>("CloseTimer");
  closer.SetInterval(50);
  int ticks = 0;
  bool sideways = false;
  closer.OnTimer = [&] {
    // Closes once the log is in (or after five seconds, so a broken timer cannot hang the test).
    if (!window.Timer1.Enabled() || ++ticks > 100) {
      sideways = ui::QtUserAction(window, "LogMemo", "shows", "scrolls sideways");
      window.FinishBtn.Click();
    }
  };
  window.ShowModal();
  EXPECT_LE(ticks, 100);
  EXPECT_EQ(window.LogMemo.Lines(),
            (std::vector<std::string>{"2026-12-07 08:00:00" + GBK("：启动通讯"), longLine}));
  EXPECT_TRUE(sideways) << "the log's long line is cut at the memo's edge";
  EXPECT_FALSE(window.LoadBar.Visible());
  EXPECT_TRUE(Wizard().Changed);
  EXPECT_EQ(host.DebugLog, 1);
  Check(window, "10_TDebugFrm_log.png", "Label2");
  SetLogFileName(old_log);
}

}  // namespace
}  // namespace korvel::test
#endif
