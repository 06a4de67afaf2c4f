// The device test window rendered by the Qt backend on the offscreen platform, in its normal form
// with a value read from the simulator and in its advanced-debug form.
#include <gtest/gtest.h>

#ifdef KORVEL_QT_BACKEND_FILE
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "driver/PDB.h"
#include "exports/DLLMain.h"
#include "exports/KorvelPLNK.h"
#include "platform/clock.h"
#include "platform/env.h"
#include "platform/files.h"
#include "platform/text.h"
#include "sim/sim_line.h"
#include "tests/common/png_image.h"
#include "tools/DLLTest.h"
#include "ui/Backend.h"
#include "ui/Scripted.h"

namespace korvel {
namespace {

using test::Image;
using test::ReadPng;

// Position of a control in form coordinates.
void Place(const ui::TControl& c, int& x, int& y) {
  x = c.Left();
  y = c.Top();
  for (const ui::TControl* p = c.Parent(); p && p->kind() != ui::Kind::Form; p = p->Parent()) {
    x += p->Left();
    y += p->Top();
  }
}

int LabelInk(const Image& img, const ui::TControl& label) {
  int x = 0, y = 0;
  Place(label, x, y);
  return img.Dark(x, y, label.Width(), label.Height());
}

Image Render(ui::TForm& form, const std::string& file) {
  const std::string dir = KORVEL_SCREENSHOT_DIR;
  EXPECT_TRUE(plat::create_directories(dir));
  const std::string png = dir + "/" + file;
  plat::delete_file(png);
  std::string err;
  Image window;
  EXPECT_TRUE(ui::RenderToPng(form, png, &err)) << err;
  EXPECT_TRUE(ReadPng(png, window)) << png;
  return test::ClientArea(window);
}

TEST(DeviceTestScreenshot, BothFormsRenderWithTheirChineseTexts) {
  plat::set_env("QT_QPA_PLATFORM", "offscreen");
  ui::SetQtBackendPath(KORVEL_QT_BACKEND_FILE);
  ui::RetryQtBackend();
  sim::SimLine line(1, true);
  ASSERT_TRUE(line.ok()) << line.error();
  PDB block{};
  FullPDB(&block);
  block.Devices[0].DevType = 2;
  block.Devices[1].DevType = 1;
  block.Devices[1].DevTypeName.set(DevTypeNameOf(1));
  block.ComPort = 0;
  block.TimeOut = 200;

  ui::ScriptedBackend ui;
  ui.On("TSampleTest", [&](ui::ScriptedForm& f) {
    auto& w = static_cast<TSampleTest&>(f.form());
    for (int i = 0; i < 3000 && w.StringGrid1.Cell(1, 1) != "12.5"; ++i) {
      f.Advance(w.Timer1.Interval());
      plat::sleep_ms(1);
    }
    ASSERT_EQ(w.StringGrid1.Cell(1, 1), "12.5");

    const Image normal = Render(w, "TSampleTest.png");
    EXPECT_EQ(normal.width, w.Width());
    EXPECT_EQ(normal.height, TSampleTest::kNormalHeight);
    EXPECT_GT(LabelInk(normal, w.Label1), 30);  // 通讯事件
    EXPECT_GT(LabelInk(normal, w.Label2), 30);  // 系统状态
    EXPECT_GT(LabelInk(normal, w.ExitBtn), 20);
    // The header row and the value row of the grid carry text.
    EXPECT_GT(normal.Dark(w.StringGrid1.Left() + 2, w.StringGrid1.Top() + 2, 200, 14), 30);
    EXPECT_GT(normal.Dark(w.StringGrid1.Left() + 2, w.StringGrid1.Top() + 18, 120, 14), 15);
    EXPECT_GT(normal.Colours(), 20u);

    f.Click("DebugBtn");
    const Image debug = Render(w, "TSampleTest_debug.png");
    EXPECT_EQ(debug.height, TSampleTest::kDebugHeight);
    EXPECT_GT(LabelInk(debug, w.Label3), 30);  // 命令串
    EXPECT_GT(LabelInk(debug, w.Label5), 30);  // 标签地址
    EXPECT_GT(LabelInk(debug, w.ReadCk), 20);
    // Two different words are two different pictures: the glyphs are real, not boxes.
    int x3 = 0, y3 = 0, x4 = 0, y4 = 0;
    Place(w.Label3, x3, y3);
    Place(w.Label4, x4, y4);
    std::vector<std::uint32_t> a, b;
    for (int j = 0; j < w.Label3.Height(); ++j)
      for (int i = 0; i < w.Label3.Width(); ++i) {
        a.push_back(debug.At(x3 + i, y3 + j));
        b.push_back(debug.At(x4 + i, y4 + j));
      }
    EXPECT_NE(a, b);
    f.Click("ExitBtn");
  });
  EXPECT_EQ(DLLTestDev(&block, 1), 1);
  EXPECT_TRUE(ui.Errors().empty()) << ui.ErrorText();
  DestroyThreadInstance();
}

TEST(DeviceTestOnQt, TheRealModalLoopPollsAndTheExitButtonCloses) {
  plat::set_env("QT_QPA_PLATFORM", "offscreen");
  ui::SetQtBackendPath(KORVEL_QT_BACKEND_FILE);
  ui::RetryQtBackend();
  ui::set_backend(nullptr);
  ASSERT_TRUE(ui::Available()) << ui::QtBackendError();
  sim::SimLine line(1, true);
  ASSERT_TRUE(line.ok()) << line.error();
  PDB block{};
  FullPDB(&block);
  block.Devices[0].DevType = 2;
  block.Devices[1].DevType = 1;
  block.Devices[1].DevTypeName.set(DevTypeNameOf(1));
  block.ComPort = 0;
  block.TimeOut = 200;

  TSampleTest w(block);
  // A user who waits for the value and then presses Exit; one who waits too long gives up.
  auto& user = w.Add<ui::TTimer>("User");
  user.SetInterval(20);
  int ticks = 0;
  bool clicked = false;
  user.OnTimer = [&] {
    if (w.StringGrid1.Cell(1, 1) == "12.5" && !clicked) {
      clicked = ui::QtUserAction(w, "ExitBtn", "click");
    } else if (++ticks > 500) {
      ui::QtUserAction(w, "", "close");
    }
  };
  EXPECT_TRUE(w.Open(true));
  EXPECT_TRUE(clicked);
  EXPECT_EQ(w.ModalResult(), ui::mrOk);
  EXPECT_TRUE(w.Driver()->Stopped);
  DestroyThreadInstance();
}

}  // namespace
}  // namespace korvel
#endif  // KORVEL_QT_BACKEND_FILE
