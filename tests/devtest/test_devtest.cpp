// The device test window (DLLTestDev) against the module simulator on a pseudo-terminal: the
// silent check, the window's display of values and frames, and its read, write, command, pause
// and advanced-debug controls, run on the scripted backend.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "driver/PDB.h"
#include "exports/DLLMain.h"
#include "exports/KorvelPLNK.h"
#include "framework/DLLBase.h"
#include "platform/clock.h"
#include "platform/env.h"
#include "platform/text.h"
#include "protocol/DLLRealize.h"
#include "sim/sim_line.h"
#include "tools/DLLTest.h"
#include "ui/Scripted.h"

namespace korvel {
namespace {

namespace tl = sim::test_line;
using ui::ScriptedForm;

// A block with exactly the given PLNK/PLNE modules on Com1, entries keyed by module number.
std::unique_ptr<PDB> Block(std::initializer_list<std::pair<int, uint8_t>> modules, uint16_t timeout) {
  auto block = std::make_unique<PDB>();
  FullPDB(block.get());
  block->Devices[0].DevType = 2;  // the defaults configure module 0
  for (const auto& [id, type] : modules) {
    block->Devices[id].DevID = id;
    block->Devices[id].DevType = type;
    block->Devices[id].DevTypeName.set(DevTypeNameOf(type));
  }
  block->ComPort = 0;
  block->TimeOut = timeout;
  return block;
}

TSampleTest& Window(ScriptedForm& f) {
  return static_cast<TSampleTest&>(f.form());
}

std::string Cell(ScriptedForm& f, int col, int row) {
  return Window(f).StringGrid1.Cell(col, row);
}

// Timer ticks until pred holds. The answers travel a real pseudo-terminal, so a tick may come
// before the bytes: each tick is followed by a millisecond of real time, and the count is bounded.
bool TickUntil(ScriptedForm& f, const std::function<bool()>& pred, int maxTicks = 3000) {
  for (int i = 0; i < maxTicks; ++i) {
    f.Advance(Window(f).Timer1.Interval());
    if (pred()) return true;
    plat::sleep_ms(1);
  }
  return false;
}

class DeviceTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(line_.ok()) << line_.error(); }
  void TearDown() override {
    plat::set_test_clock({});
    DestroyThreadInstance();
  }
  // Request frames the simulator received for a station (waiting up to 2 s of real time for at
  // least min: the bytes cross a pseudo-terminal).
  int Requests(int station, int min = 0) {
    auto count = [&] {
      int n = 0;
      for (const auto& e : line_.sim().log())
        if (e.dir == sim::WireEvent::Dir::Received && e.station == station) ++n;
      return n;
    };
    for (int i = 0; i < 2000 && count() < min; ++i) plat::sleep_ms(1);
    return count();
  }
  bool Received(const std::string& bytes) {
    for (const auto& e : line_.sim().log())
      if (e.dir == sim::WireEvent::Dir::Received && e.bytes == bytes) return true;
    return false;
  }
  sim::SimLine line_{1, true};
};

// ---------------------------------------------------------------- the default test tag

TEST(DefaultTestTag, AddressesThePVOfTheLowestConfiguredModule) {
  auto block = Block({{7, 1}, {3, 0}}, 100);
  EXPECT_EQ(DefaultTestAddress(*block), "PV3:1");
  // A list page packs its modules from entry 0 on: the module number counts, not the entry.
  block->Devices[0].DevID = 42;
  block->Devices[0].DevType = 1;
  EXPECT_EQ(DefaultTestAddress(*block), "PV3:1");
  block->Devices[3].DevType = 2;
  block->Devices[7].DevType = 2;
  EXPECT_EQ(DefaultTestAddress(*block), "PV42:1");
  // Unknown types and wild numbers are no modules.
  block->Devices[0].DevType = 9;
  block->Devices[5].DevType = 1;
  block->Devices[5].DevID = 250;
  EXPECT_EQ(DefaultTestAddress(*block), "PV0:1");
  // The host's defaults configure module 0.
  PDB defaults{};
  FullPDB(&defaults);
  EXPECT_EQ(DefaultTestAddress(defaults), "PV0:1");
}

// ---------------------------------------------------------------- the silent check

TEST_F(DeviceTest, SilentCheckIsTrueWhenAModuleAnswers) {
  auto block = Block({{tl::kGood, 1}}, 200);
  EXPECT_EQ(DLLTestDev(block.get(), 0), 1);
  EXPECT_GE(Requests(tl::kGood, 1), 1);
  // The export releases the instance the check made.
  EXPECT_EQ(ThreadInstance(), nullptr);
}

TEST_F(DeviceTest, SilentCheckStopsAtTheFirstAcknowledgedRead) {
  auto block = Block({{tl::kGood, 1}}, 200);
  TSampleTest w(*block);
  ASSERT_TRUE(w.Open(false));
  // The first poll sends the request, the next one (a time-out later) collects its answer.
  EXPECT_EQ(w.AttemptTicks().size(), 2u);
  EXPECT_TRUE(w.ReadSucceeded());
}

TEST_F(DeviceTest, SilentCheckIsFalseAfterSixSpacedAttemptsOnASilentModule) {
  uint64_t now = 5000;
  plat::set_test_clock([&now] { return now; });
  auto block = Block({{tl::kSilent, 1}}, 250);
  TSampleTest w(*block);
  w.Sleep = [&now](uint32_t ms) { now += ms; };
  const uint64_t start = now;
  EXPECT_FALSE(w.Open(false));
  ASSERT_EQ(w.AttemptTicks().size(), static_cast<size_t>(kSilentCheckAttempts));
  uint64_t previous = start;
  for (uint64_t t : w.AttemptTicks()) {
    EXPECT_GT(t - previous, 250u);
    previous = t;
  }
  EXPECT_FALSE(w.ReadSucceeded());
  // The check really asked the module; it just never answered.
  EXPECT_GE(Requests(tl::kSilent, 1), 1);
}

TEST_F(DeviceTest, SilentCheckCountsNoAnswerThatFailsItsChecks) {
  // Damaged, refused and foreign answers are exchanges, but no module acknowledged a read.
  for (int station : {tl::kBadCheck, tl::kRefuse, tl::kWrongStation, tl::kUnconfigured}) {
    auto block = Block({{station, 1}}, 10);
    EXPECT_EQ(DLLTestDev(block.get(), 0), 0) << "station " << station;
    EXPECT_GE(Requests(station, 1), 1) << "station " << station;
  }
}

TEST_F(DeviceTest, SilentCheckOnAMissingPortIsFalse) {
  auto block = Block({{tl::kGood, 1}}, 10);
  block->ComPort = 14;  // Com15: nothing behind it
  korvel::plat::set_env("KORVELPLNK_COM15", "/nonexistent/korvel-devtest");
  uint64_t now = 1000000;
  plat::set_test_clock([&now] { return now += 100; });  // the open retries run out at once
  EXPECT_EQ(DLLTestDev(block.get(), 0), 0);
  korvel::plat::unset_env("KORVELPLNK_COM15");
  EXPECT_EQ(DLLTestDev(nullptr, 0), 0);
  EXPECT_EQ(ThreadInstance(), nullptr);
}

// ---------------------------------------------------------------- without a display

class NoDisplay final : public ui::Backend {
 public:
  NoDisplay() { ui::set_backend(this); }
  ~NoDisplay() override { ui::set_backend(nullptr); }
  bool Available() override { return false; }
  int ShowModal(ui::TForm&) override {
    ++shown;
    return ui::mrNone;
  }
  int MessageBox(const ui::MessageBoxParams&) override {
    ++shown;
    return ui::mrNone;
  }
  bool SaveDialog(ui::TSaveDialog&) override { return false; }
  bool PrintDialog(ui::TPrintDialog&) override { return false; }
  bool Print(const ui::PrintDocument&) override { return false; }
  ui::ScreenSize Screen() override { return {}; }
  int shown = 0;
};

TEST_F(DeviceTest, WithoutADisplayTheWindowReturnsFalseAtOnce) {
  NoDisplay none;
  auto block = Block({{tl::kGood, 1}}, 100);
  EXPECT_EQ(DLLTestDev(block.get(), 1), 0);
  EXPECT_EQ(none.shown, 0);
  // Nothing was opened or sent.
  EXPECT_EQ(Requests(tl::kGood), 0);
  EXPECT_EQ(ThreadInstance(), nullptr);
}

TEST_F(DeviceTest, WithoutADisplayTheRealBackendAlsoReturnsAtOnce) {
  // The host's process as it usually is on a server: no display of any kind.
  std::vector<std::pair<std::string, std::optional<std::string>>> saved;
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const std::string v = korvel::plat::get_env(name);
    saved.emplace_back(name, v.empty() ? std::nullopt : std::optional<std::string>(v));
    korvel::plat::unset_env(name);
  }
  ui::set_backend(nullptr);
#ifdef KORVEL_QT_BACKEND_FILE
  ui::SetQtBackendPath(KORVEL_QT_BACKEND_FILE);
#endif
  const bool fresh = ui::RetryQtBackend();
  if (fresh) {
    auto block = Block({{tl::kGood, 1}}, 100);
    EXPECT_EQ(DLLTestDev(block.get(), 1), 0);
#ifdef KORVEL_QT_BACKEND_FILE
    EXPECT_EQ(ui::QtBackendError(), "no display");
#endif
    EXPECT_EQ(Requests(tl::kGood), 0);
    ui::RetryQtBackend();
  }
  for (const auto& [name, value] : saved)
    if (value) korvel::plat::set_env(name, *value);
  if (!fresh) GTEST_SKIP() << "a Qt backend already runs in this process";
}

// ---------------------------------------------------------------- the window

TEST_F(DeviceTest, WindowShowsTheValueAndTheFramesOfTheTestTag) {
  auto block = Block({{tl::kGood, 1}}, 200);
  ui::ScriptedBackend ui;
  ui.On("TSampleTest", [&](ScriptedForm& f) {
    TSampleTest& w = Window(f);
    EXPECT_EQ(f.Text("TSampleTest"), GBK("设备测试窗口"));
    EXPECT_EQ(w.Height(), TSampleTest::kNormalHeight);
    EXPECT_FALSE(f.Visible("Panel2"));
    EXPECT_FALSE(f.Visible("DebugPn"));
    EXPECT_EQ(Cell(f, 0, 0), GBK("标签地址"));
    EXPECT_EQ(Cell(f, 1, 0), GBK("标签值"));
    EXPECT_EQ(Cell(f, 2, 0), GBK("标签操作"));
    EXPECT_EQ(Cell(f, 3, 0), GBK("主机命令"));
    EXPECT_EQ(f.Text("AddrEd"), "PV1:1");
    EXPECT_EQ(f.ItemIndex("TypeGroup"), 0);
    EXPECT_FALSE(f.Enabled("WriteCk"));
    EXPECT_EQ(w.Timer1.Interval(), w.Driver()->ScanTime);
    EXPECT_TRUE(w.Timer1.Enabled());

    // The tick that sees the request on the line shows it as a read with its frame.
    ASSERT_TRUE(TickUntil(f, [&] { return Cell(f, 2, 1) == GBK("读标签"); }));
    const std::string ask = Cell(f, 3, 1);
    EXPECT_EQ(ask, w.Driver()->CommandList.front()->AskStr);
    ASSERT_TRUE(TickUntil(f, [&] { return Cell(f, 1, 1) == "12.5"; }));
    f.Advance(w.Timer1.Interval());
    EXPECT_EQ(Cell(f, 0, 1), "PV1:1");
    EXPECT_EQ(Cell(f, 3, 2), ask);  // the read commands
    EXPECT_TRUE(Received(ask));
    // The answer stays shown between exchanges: the frame the module sent.
    ASSERT_FALSE(f.Text("AnswerMsg").empty());
    bool sent = false;
    for (const auto& e : line_.sim().log())
      if (e.dir == sim::WireEvent::Dir::Sent && e.bytes == f.Text("AnswerMsg")) sent = true;
    EXPECT_TRUE(sent) << f.Text("AnswerMsg");
    EXPECT_TRUE(w.ReadSucceeded());
    f.Click("ExitBtn");
    EXPECT_EQ(w.ModalResult(), ui::mrOk);
  });
  EXPECT_EQ(DLLTestDev(block.get(), 1), 1);
  EXPECT_TRUE(ui.Errors().empty()) << ui.ErrorText();
  EXPECT_EQ(ui.Shown().size(), 1u);
  EXPECT_TRUE(ui.Messages().empty());
  EXPECT_EQ(ThreadInstance(), nullptr);
}

TEST_F(DeviceTest, ClosingWithoutAnAcknowledgedReadGivesNoAndStopsTheDriver) {
  auto block = Block({{tl::kSilent, 1}}, 10);
  ui::ScriptedBackend ui;
  int result = -1;
  bool stopped = false;
  ui.On("TSampleTest", [&](ScriptedForm& f) {
    TSampleTest& w = Window(f);
    for (int i = 0; i < 30; ++i) f.Advance(w.Timer1.Interval());
    EXPECT_GE(Requests(tl::kSilent, 1), 1);
    EXPECT_FALSE(w.ReadSucceeded());
    f.Click("ExitBtn");
    result = w.ModalResult();
    stopped = w.Driver()->Stopped;
  });
  EXPECT_EQ(DLLTestDev(block.get(), 1), 0);
  EXPECT_EQ(result, ui::mrNo);
  EXPECT_TRUE(stopped);
  EXPECT_TRUE(ui.Errors().empty()) << ui.ErrorText();
}

TEST_F(DeviceTest, OpeningFailsWithoutAWindowWhenTheDriverCannotStart) {
  auto block = Block({{tl::kGood, 1}}, 10);
  block->ComPort = 14;
  korvel::plat::set_env("KORVELPLNK_COM15", "/nonexistent/korvel-devtest");
  uint64_t now = 1000000;
  plat::set_test_clock([&now] { return now += 100; });
  ui::ScriptedBackend ui;
  EXPECT_EQ(DLLTestDev(block.get(), 1), 0);
  korvel::plat::unset_env("KORVELPLNK_COM15");
  EXPECT_TRUE(ui.Shown().empty());
  EXPECT_TRUE(ui.Messages().empty());
}

TEST_F(DeviceTest, PauseStopsAndResumesPolling) {
  auto block = Block({{tl::kGood, 1}}, 100);
  ui::ScriptedBackend ui;
  ui.On("TSampleTest", [&](ScriptedForm& f) {
    TSampleTest& w = Window(f);
    f.Click("PauseBtn");
    EXPECT_EQ(f.Text("PauseBtn"), GBK("继续"));
    EXPECT_FALSE(w.Timer1.Enabled());
    for (int i = 0; i < 20; ++i) f.Advance(10);
    EXPECT_EQ(Requests(tl::kGood), 0);
    f.Click("PauseBtn");
    EXPECT_EQ(f.Text("PauseBtn"), GBK("暂停"));
    EXPECT_TRUE(w.Timer1.Enabled());
    EXPECT_TRUE(TickUntil(f, [&] { return w.ReadSucceeded(); }));
    f.Click("ExitBtn");
  });
  EXPECT_EQ(DLLTestDev(block.get(), 1), 1);
  EXPECT_TRUE(ui.Errors().empty()) << ui.ErrorText();
}

TEST_F(DeviceTest, AdvancedDebugReadsSwitchValuesAsOnAndOff) {
  auto block = Block({{tl::kGood, 1}, {tl::kGoodPlne, 0}}, 200);
  ui::ScriptedBackend ui;
  ui.On("TSampleTest", [&](ScriptedForm& f) {
    TSampleTest& w = Window(f);
    f.Click("PauseBtn");  // the debug toggle restarts a paused timer
    f.Click("DebugBtn");
    EXPECT_TRUE(w.AdvancedDebug());
    EXPECT_EQ(w.Height(), TSampleTest::kDebugHeight);
    EXPECT_TRUE(f.Visible("Panel2"));
    EXPECT_TRUE(f.Visible("DebugPn"));
    EXPECT_EQ(f.Text("DebugBtn"), GBK("自动检测↑"));
    EXPECT_FALSE(f.Enabled("PauseBtn"));
    EXPECT_EQ(f.Text("PauseBtn"), GBK("暂停"));
    EXPECT_TRUE(w.Timer1.Enabled());

    // Module 1 has alarm bit 1 set, module 2 has not.
    f.Paste("AddrEd", "PV_ALARM1:1");
    f.Select("TypeGroup", 1);
    f.Click("ReadCk");
    EXPECT_TRUE(f.Checked("ReadCk"));
    EXPECT_TRUE(f.Enabled("WriteCk"));
    ASSERT_NE(w.BufferTag(), nullptr);
    EXPECT_STREQ(w.BufferTag()->TagName, "Y0.0");
    EXPECT_EQ(w.BufferTag()->TagType, 1);
    // The window follows the new instance; the one it replaced is gone from the slot.
    EXPECT_EQ(w.Driver(), ThreadInstance());
    EXPECT_EQ(w.Driver()->TagList.at(0)->TagAddr, "PV_ALARM1:1");
    EXPECT_EQ(SlotInstanceCount(), 1);
    EXPECT_TRUE(TickUntil(f, [&] { return Cell(f, 1, 1) == GBK("开"); })) << Cell(f, 1, 1);
    EXPECT_EQ(Cell(f, 0, 1), "PV_ALARM1:1");

    f.Paste("AddrEd", "PV_ALARM2:1");  // an edit unchecks the boxes
    EXPECT_FALSE(f.Checked("ReadCk"));
    EXPECT_FALSE(f.Enabled("WriteCk"));
    f.Click("ReadCk");
    EXPECT_TRUE(TickUntil(f, [&] {
      return Cell(f, 0, 1) == "PV_ALARM2:1" && Cell(f, 1, 1) == GBK("关") &&
             w.Driver()->TagList[0]->Status == 0 && w.Driver()->ReadCommCount > 0;
    }));

    // A type the grid does not know.
    w.Driver()->TagList[0]->TagType = 7;
    f.Advance(w.Timer1.Interval());
    EXPECT_EQ(Cell(f, 1, 1), "[Other Type]");

    // Back to the automatic test: a fresh default tag and a new driver.
    f.Click("DebugBtn");
    EXPECT_FALSE(w.AdvancedDebug());
    EXPECT_EQ(f.Text("DebugBtn"), GBK("高级调试↓"));
    EXPECT_EQ(w.Height(), TSampleTest::kNormalHeight);
    EXPECT_TRUE(f.Enabled("PauseBtn"));
    EXPECT_FALSE(f.Checked("ReadCk"));
    EXPECT_STREQ(w.BufferTag()->TagAddr, "PV1:1");
    EXPECT_TRUE(w.DriverReady());
    EXPECT_EQ(f.Text("SysMsg"), w.LastText());
    EXPECT_TRUE(TickUntil(f, [&] { return Cell(f, 1, 1) == "12.5"; }));
    EXPECT_EQ(SlotInstanceCount(), 1);
    f.Click("ExitBtn");
  });
  EXPECT_EQ(DLLTestDev(block.get(), 1), 1);
  EXPECT_TRUE(ui.Errors().empty()) << ui.ErrorText();
}

TEST_F(DeviceTest, WriteBoxSendsThePasswordWrite) {
  auto block = Block({{tl::kGood, 1}}, 200);
  ui::ScriptedBackend ui;
  ui.On("TSampleTest", [&](ScriptedForm& f) {
    TSampleTest& w = Window(f);
    f.Click("DebugBtn");
    f.Paste("AddrEd", "SetPassWord1:0");
    f.Select("TypeGroup", 1);
    f.Click("ReadCk");
    ASSERT_TRUE(f.Enabled("WriteCk"));
    // A write-only tag has no command on the line; the write box must still work.
    EXPECT_EQ(w.Driver()->CurCommand, nullptr);
    f.Type("wValueMsg", "true");
    f.Click("WriteCk");
    EXPECT_TRUE(f.Checked("ReadCk"));
    ASSERT_EQ(w.Driver()->PendingWrites.size(), 1u);
    EXPECT_EQ(w.Driver()->PendingWrites[0]->Values.at(0), Variant(true));
    EXPECT_TRUE(TickUntil(f, [&] { return line_.sim().record(tl::kGood).password_writes == 1; }));
    EXPECT_TRUE(TickUntil(
        f, [&] { return !f.Text("wStrMsg").empty(); }, 5));
    EXPECT_TRUE(Received(f.Text("wStrMsg"))) << f.Text("wStrMsg");
    f.Click("ExitBtn");
  });
  DLLTestDev(block.get(), 1);
  EXPECT_TRUE(ui.Errors().empty()) << ui.ErrorText();
}

TEST_F(DeviceTest, WriteValuesOtherThanTrueFalseAreNumbersOrZero) {
  auto block = Block({{tl::kGood, 1}}, 200);
  ui::ScriptedBackend ui;
  ui.On("TSampleTest", [&](ScriptedForm& f) {
    TSampleTest& w = Window(f);
    f.Click("DebugBtn");
    f.Paste("AddrEd", "SetPassWord1:0");
    auto written = [&](int type, const std::string& typed) {
      if (f.ItemIndex("TypeGroup") != type) {
        f.Select("TypeGroup", type);
        f.Click("ReadCk");  // uncheck: the next write box click re-reads the tag with the new type
      }
      f.Paste("wValueMsg", typed);
      EXPECT_FALSE(f.Checked("WriteCk"));
      f.Click("WriteCk");
      // The tag takes the written value at once.
      EXPECT_EQ(w.Driver()->PendingWrites.size(), 1u) << typed;
      return w.Driver()->TagList.at(0)->Value;
    };
    // A switch tag: TRUE and FALSE in any case.
    const Variant on = written(1, "True");
    EXPECT_EQ(on.kind(), Variant::Kind::Bool);
    EXPECT_EQ(on, Variant(true));
    EXPECT_EQ(written(1, "fAlSe"), Variant(false));
    // An analog tag: the number (the protocol sends whole numbers), and 0 for a text that is none.
    EXPECT_EQ(written(0, "-7.25").toDouble(), -7.0);
    EXPECT_EQ(written(0, "abc").toDouble(), 0.0);
    f.Click("ExitBtn");
  });
  DLLTestDev(block.get(), 1);
  EXPECT_TRUE(ui.Errors().empty()) << ui.ErrorText();
}

TEST_F(DeviceTest, HandTypedCommandGoesOutInPlaceOfTheRead) {
  auto block = Block({{tl::kGood, 1}}, 100);
  ui::ScriptedBackend ui;
  ui.On("TSampleTest", [&](ScriptedForm& f) {
    TSampleTest& w = Window(f);
    f.Click("DebugBtn");
    f.Type("AskMsg", "#02");
    f.Click("AskBtn");
    EXPECT_EQ(w.Driver()->CommandList.front()->AskStr, "#02\r");
    EXPECT_TRUE(TickUntil(f, [&] { return Received("#02\r"); }));
    // The stored text is cut to 255 characters.
    f.Paste("AskMsg", std::string(300, 'A'));
    f.Click("AskBtn");
    TCommand* c = w.Driver()->CurCommand ? w.Driver()->CurCommand : w.Driver()->CommandList.front();
    EXPECT_EQ(c->AskStr, std::string(255, 'A'));
    f.Click("ExitBtn");
  });
  DLLTestDev(block.get(), 1);
  EXPECT_TRUE(ui.Errors().empty()) << ui.ErrorText();
}

TEST_F(DeviceTest, ABusyPortIsReportedAfterReinitialisation) {
  auto block = Block({{tl::kGood, 1}}, 100);
  ui::ScriptedBackend ui;
  ui.On("TSampleTest", [&](ScriptedForm& f) {
    TSampleTest& w = Window(f);
    f.Click("DebugBtn");
    // Another program takes the port while the window's driver lets go of it.
    w.Driver()->Stop();
    TDLLObject other(false);
    PDB copy{};
    CopyPDB(*block, copy);
    ASSERT_TRUE(other.IniParm(&copy));
    uint64_t now = 1000000;
    plat::set_test_clock([&now] { return now += 100; });  // the open retries run out at once
    f.Click("DebugBtn");
    plat::set_test_clock({});
    EXPECT_FALSE(w.DriverReady());
    ASSERT_EQ(ui.Messages().size(), 1u);
    EXPECT_EQ(ui.Messages()[0].Text, GBK("串口被其他应用程序占用!"));
    EXPECT_EQ(ui.Messages()[0].Icon, ui::MsgIcon::None);
    // Ticks of a driver that did not start do nothing.
    f.Advance(100);
    EXPECT_EQ(Cell(f, 0, 1), "");
    f.Click("ExitBtn");
  });
  DLLTestDev(block.get(), 1);
  EXPECT_TRUE(ui.Errors().empty()) << ui.ErrorText();
}

}  // namespace
}  // namespace korvel
