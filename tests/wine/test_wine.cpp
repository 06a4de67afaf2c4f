// The Windows library end to end: each case runs the 32-bit host program (tests/win32) under
// Wine against the module simulator, served here on a pseudo-terminal that the Wine prefix maps
// to a COM port (a link in its dosdevices folder). The host checks what it received through the
// exports; this side checks what went over the wire.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/env.h"
#include "sim/sim_line.h"
#include "sim/wire.h"
#include "tests/common/png_image.h"
#include "tests/common/skip.h"
#include "tests/common/window_scenarios.h"

namespace korvel {
namespace {

namespace fs = std::filesystem;
namespace tl = sim::test_line;

constexpr int kCom = 4;   // Com5 for the driver (block ComPort 4)
constexpr int kCom2 = 5;  // Com6

std::string Frame(const std::string& text) {
  return sim::request_frame(text);
}

class Wine : public ::testing::Test {
 protected:
  void SetUp() override {
    prefix_ = plat::get_env("WINEPREFIX");
    ASSERT_FALSE(prefix_.empty()) << "WINEPREFIX is not set";
    ASSERT_TRUE(fs::exists(fs::path(prefix_) / "dosdevices")) << "no Wine prefix at " << prefix_;
    tmp_ = fs::path(::testing::TempDir()) / ("korvel-wine-" + std::to_string(std::random_device{}()));
    fs::create_directories(tmp_);
  }
  void TearDown() override {
    for (const std::string& link : dos_links_) fs::remove(link);
    lines_.clear();
    std::error_code ec;
    fs::remove_all(tmp_, ec);
  }

  // A simulator on a new pseudo-terminal, reachable from Wine as Com(com+1).
  sim::SimLine& Serve(int com, bool test_line = true) {
    sim::RunnerOptions opts;
    opts.link = (tmp_ / ("line" + std::to_string(com))).string();
    lines_.push_back(std::make_unique<sim::SimLine>(0, test_line, opts));
    sim::SimLine& line = *lines_.back();
    EXPECT_TRUE(line.ok()) << line.error();
    const std::string dos = prefix_ + "/dosdevices/com" + std::to_string(com + 1);
    fs::remove(dos);
    fs::create_symlink(opts.link, dos);
    dos_links_.push_back(dos);
    return line;
  }

  // Runs one case of the host program; its output lands in *out. True when it passed. Cases without
  // a display see none (their windows return at once); window cases get the virtual X server.
  bool Host(const std::string& test_case, std::string* out, const std::string& extra_env = {}) {
    std::string file = test_case + ".out";
    std::replace(file.begin(), file.end(), '/', '_');
    const std::string log = (tmp_ / file).string();
    const std::string name = test_case.find('.') == std::string::npos ? "Wine." + test_case : test_case;
    const std::string display = extra_env.empty() ? "env -u DISPLAY " : extra_env + " ";
    const std::string cmd = display + "KORVEL_HOST_COM=" + std::to_string(kCom) +
                            " KORVEL_HOST_COM2=" + std::to_string(kCom2) + " WINEDEBUG=-all wine '" +
                            KORVEL_WINE_HOST + "' --gtest_filter=" + name + " > '" + log + "' 2>&1";
    const int rc = std::system(cmd.c_str());
    std::ifstream in(log, std::ios::binary);
    *out = std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return rc == 0 && out->find("[  PASSED  ] 1 test") != std::string::npos;
  }

  static std::vector<std::string> Requests(const sim::ModuleSim& s) {
    std::vector<std::string> out;
    for (const sim::WireEvent& e : s.log())
      if (e.dir == sim::WireEvent::Dir::Received) out.push_back(e.bytes);
    return out;
  }

  std::string prefix_;
  fs::path tmp_;
  std::vector<std::unique_ptr<sim::SimLine>> lines_;
  std::vector<std::string> dos_links_;
};

TEST_F(Wine, SerialServiceOverAPseudoTerminal) {
  sim::SimLine& line = Serve(kCom);
  const std::string log = (tmp_ / "serial.out").string();
  const std::string cmd = "KORVEL_HOST_COM=" + std::to_string(kCom) + " WINEDEBUG=-all wine '" +
                          KORVEL_WINE_PLATFORM_TEST + "' --gtest_filter=SerialLine.* > '" + log + "' 2>&1";
  const int rc = std::system(cmd.c_str());
  std::ifstream in(log, std::ios::binary);
  const std::string out((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(rc, 0) << out;
  EXPECT_NE(out.find("[  PASSED  ] 1 test"), std::string::npos) << out;
  EXPECT_EQ(Requests(line.sim()), std::vector<std::string>{"#01HD\r"});
}

// The host guide's C example as the package test (win32.package_zip) built it from the zip alone,
// run beside the zip's DLL on Com1.
TEST_F(Wine, TheGuidesExampleBuiltFromTheZipPolls) {
  sim::SimLine& line = Serve(0);
  const fs::path dir = KORVEL_WINE_ZIP_HOST;
  ASSERT_TRUE(fs::exists(dir / "minimal_host.exe")) << "run the win32.package_zip test first";
  const std::string log = (tmp_ / "example.out").string();
  const std::string cmd = "cd '" + dir.string() +
                          "' && env -u DISPLAY WINEDEBUG=-all wine minimal_host.exe 4 > '" + log + "' 2>&1";
  const int rc = std::system(cmd.c_str());
  std::ifstream in(log, std::ios::binary);
  const std::string out((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(rc, 0) << out;
  EXPECT_NE(out.find("Flow = 12.5 status 0x00000000"), std::string::npos) << out;
  EXPECT_NE(out.find("write Unlock = true queued"), std::string::npos) << out;
  EXPECT_EQ(line.sim().record(tl::kGood).password_writes, 1);
}

TEST_F(Wine, UnloadingStopsTheLiveInstanceAndClosesItsPort) {
  Serve(kCom);
  std::string out;
  EXPECT_TRUE(Host("UnloadingStopsTheLiveInstanceAndClosesItsPort", &out)) << out;
}

TEST_F(Wine, TwoModulesValuesAndStatusWords) {
  Serve(kCom);
  std::string out;
  EXPECT_TRUE(Host("TwoModulesValuesAndStatusWords", &out)) << out;
}

TEST_F(Wine, WorkedFramesOnTheWireByteForByte) {
  sim::SimLine& line = Serve(kCom);
  sim::ModuleConfig seven = sim::ModuleConfig::with_defaults(sim::Family::PLNK);
  seven.pv = sim::Signal(7);
  line.sim().set_module(7, seven);
  std::string out;
  ASSERT_TRUE(Host("WorkedFrames", &out)) << out;
  // Each frame in the order of its first appearance (a real-time line may repeat one).
  std::vector<std::string> req;
  for (const std::string& r : Requests(line.sim()))
    if (std::find(req.begin(), req.end(), r) == req.end()) req.push_back(r);
  ASSERT_GE(req.size(), 4u);
  // The tags PV1:1, PV7:1, AO1:1, PARM1:1A give these frames, in table order.
  EXPECT_EQ(req[0], "#01HD\r");
  EXPECT_EQ(req[1], "#07HJ\r");
  EXPECT_EQ(req[2], "#010001DE\r");
  EXPECT_EQ(req[3], Frame("$011A"));
}

TEST_F(Wine, SilentModuleFailureTextsAndRecovery) {
  sim::SimLine& line = Serve(kCom);
  line.sim().add_fault(tl::kGood, {sim::FaultKind::Silent, -1, 12});
  std::string out;
  EXPECT_TRUE(Host("SilentModuleFailureTextsAndRecovery", &out)) << out;
  EXPECT_GE(Requests(line.sim()).size(), 13u);
}

TEST_F(Wine, PasswordWriteOnTheWire) {
  sim::SimLine& line = Serve(kCom);
  std::string out;
  ASSERT_TRUE(Host("PasswordWrite", &out)) << out;
  EXPECT_EQ(line.sim().record(tl::kGood).password_writes, 1);
  bool seen = false;
  for (const std::string& r : Requests(line.sim())) seen = seen || r == Frame("%0110+07342");
  EXPECT_TRUE(seen);
}

TEST_F(Wine, CommunicationPausesAndResumes) {
  sim::SimLine& line = Serve(kCom);
  std::string out;
  ASSERT_TRUE(Host("CommunicationPausesAndResumes", &out)) << out;
  // Requests before the pause and after it; none in 200 polls while paused is checked by the
  // host seeing the switch off, here the line shows it resumed.
  EXPECT_GE(Requests(line.sim()).size(), 2u);
}

TEST_F(Wine, PortVanishesAndComesBack) {
  sim::SimLine& line = Serve(kCom);
  line.sim().clear_faults(tl::kVanish);
  line.sim().add_fault(tl::kVanish, {sim::FaultKind::Vanish, tl::kVanishMs, 1});
  std::string out;
  ASSERT_TRUE(Host("PortVanishesAndComesBack", &out)) << out;
  EXPECT_EQ(line.runner().reopen_count(), 1u);
  // The good module was asked again after the line came back.
  bool back = false, asked_after = false;
  for (const sim::WireEvent& e : line.sim().log()) {
    back = back || (e.dir == sim::WireEvent::Dir::Line && e.note.starts_with("line back: "));
    asked_after = asked_after || (back && e.dir == sim::WireEvent::Dir::Received && e.bytes == "#01HD\r");
  }
  EXPECT_TRUE(asked_after);
}

TEST_F(Wine, TheHostsEventIsSetOnASevereFault) {
  Serve(kCom);
  std::string out;
  EXPECT_TRUE(Host("TheHostsEventIsSetOnASevereFault", &out)) << out;
}

TEST_F(Wine, TwoThreadsTwoPortsAndTheLogInTheProjectFolder) {
  Serve(kCom);
  Serve(kCom2);
  std::string out;
  EXPECT_TRUE(Host("TwoThreadsTwoPortsAndTheLogInTheProjectFolder", &out)) << out;
}

TEST_F(Wine, RotationAndDayLogCleanUpWithWindowsPaths) {
  Serve(kCom);
  std::string out;
  EXPECT_TRUE(Host("RotationAndDayLogCleanUpWithWindowsPaths", &out)) << out;
}

TEST_F(Wine, AnUnwritableLogFolderStopsNothing) {
  Serve(kCom);
  std::string out;
  EXPECT_TRUE(Host("AnUnwritableLogFolderStopsNothing", &out)) << out;
}

TEST_F(Wine, AMissingOrNonStringInstallPathLogsBelowTheWorkingFolder) {
  Serve(kCom);
  std::string out;
  EXPECT_TRUE(Host("AMissingOrNonStringInstallPathLogsBelowTheWorkingFolder", &out)) << out;
}

TEST_F(Wine, BadInputGetsClearResults) {
  std::string out;
  EXPECT_TRUE(Host("BadInputGetsClearResults", &out)) << out;
}

TEST_F(Wine, VersionInformationMatchesTheTable) {
  std::string out;
  EXPECT_TRUE(Host("VersionInformationMatchesTheTable", &out)) << out;
}

// ---------------------------------------------------------------- the library's windows

// The window cases need the virtual X server that scripts/test-windows starts (its display in
// KORVEL_WINE_DISPLAY) and a prefix that maps the Chinese face names and lets Wine draw captions.
class WineWindows : public Wine {
 protected:
  void SetUp() override {
    Wine::SetUp();
    display_ = plat::get_env("KORVEL_WINE_DISPLAY");
    if (display_.empty()) KORVEL_SKIP_MISSING("a virtual X server (KORVEL_WINE_DISPLAY)");
    fs::create_directories(KORVEL_WINE_SCREENSHOT_DIR);
  }
  // The host case with the display; code page 936 unless western, pictures into the build folder.
  bool Windows(const std::string& test_case, std::string* out, bool western = false,
               const std::string& more_env = {}) {
    const std::string env = "DISPLAY=" + display_ + (western ? " LC_ALL=en_US.UTF-8" : " LC_ALL=zh_CN.GBK") +
                            " KORVEL_SCREENSHOT_DIR='Z:" + std::string(KORVEL_WINE_SCREENSHOT_DIR) + "' " +
                            more_env;
    return Host(test_case.find('.') == std::string::npos ? "Windows." + test_case : test_case, out, env);
  }
  // A picture the host saved: a window's size, many colours (not a blank or one-colour area).
  static void CheckPicture(const std::string& file) {
    SCOPED_TRACE(file);
    const std::string path = std::string(KORVEL_WINE_SCREENSHOT_DIR) + "/" + file;
    ASSERT_TRUE(fs::exists(path));
#ifdef KORVEL_TEST_HAS_PNG
    test::Image img;
    ASSERT_TRUE(test::ReadPng(path, img));
    EXPECT_GT(img.width, 200);
    EXPECT_GT(img.height, 100);
    EXPECT_GT(img.Colours(), 20u);
    EXPECT_GT(img.Dark(0, 0, img.width, img.height), 1000);
#endif
  }
  std::string display_;
};

TEST_F(WineWindows, WizardRoundTripThroughWindowMessages) {
  std::string out;
  EXPECT_TRUE(Windows("WizardRoundTripThroughWindowMessages", &out)) << out;
  for (const char* f :
       {"win_1_TStartFrm.png", "win_2_TStep1Frm.png", "win_4_TStep11Frm.png", "win_5_TStep12Frm.png",
        "win_6_TStep4Frm.png", "win_7_TStep5Frm.png", "win_8_TEndFrm.png"})
    CheckPicture(f);
}

TEST_F(WineWindows, ASecondWizardIsRefusedAndTheHostsQuitEndsTheFirst) {
  std::string out;
  EXPECT_TRUE(Windows("ASecondWizardIsRefusedAndTheHostsQuitEndsTheFirst", &out)) << out;
}

TEST_F(WineWindows, CancelLeavesTheBlockByteForByteAndTheDebugWindowShows) {
  std::string out;
  EXPECT_TRUE(Windows("CancelLeavesTheBlockByteForByteAndTheDebugWindowShows", &out)) << out;
  CheckPicture("win_3_TStep2Frm.png");
  CheckPicture("win_9_TDebugFrm.png");
}

TEST_F(WineWindows, DebugWindowWarnsOnceAndSavesItsMemoThroughTheSaveDialog) {
  std::string out;
  EXPECT_TRUE(Windows("DebugWindowWarnsOnceAndSavesItsMemoThroughTheSaveDialog", &out)) << out;
  CheckPicture("win_11_warning.png");
}

// A session at 144 dpi; the next session is at 96 dpi again, whatever this case's outcome.
TEST_F(WineWindows, PagesFollowTheScreensDpi) {
  auto session_at = [&](int dpi) {
    const std::string env = "DISPLAY=" + display_ + " WINEDEBUG=-all ";
    const std::string cmd = env +
                            "wine reg add 'HKCU\\Control Panel\\Desktop' /v LogPixels /t REG_DWORD /d " +
                            std::to_string(dpi) + " /f >/dev/null 2>&1; wineserver -k; " + env +
                            "LC_ALL=zh_CN.GBK wine cmd /c exit >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
  };
  ASSERT_TRUE(session_at(144));
  std::string out;
  const bool passed = Windows("PagesFollowTheScreensDpi", &out, false, "KORVEL_EXPECT_DPI=144");
  EXPECT_TRUE(session_at(96));
  EXPECT_TRUE(passed) << out;
  CheckPicture("win_12_TStartFrm_144dpi.png");
}

// Under a western code page: the texts are converted from GBK by the library itself.
TEST_F(WineWindows, DeviceTestWindowShowsALiveValueKeepsAnEditedCellAndExits) {
  Serve(kCom);
  std::string out;
  EXPECT_TRUE(Windows("DeviceTestWindowShowsALiveValueKeepsAnEditedCellAndExits", &out, true)) << out;
  CheckPicture("win_10_TSampleTest.png");
}

TEST_F(WineWindows, TheDeviceTestIsModalToTheHostAndASecondOneIsRefused) {
  Serve(kCom);
  std::string out;
  EXPECT_TRUE(Windows("TheDeviceTestIsModalToTheHostAndASecondOneIsRefused", &out)) << out;
}

}  // namespace

namespace test {
// A row by its name in test names and messages.
static void PrintTo(const WindowScenario& row, std::ostream* os) {
  *os << row.name;
}
}  // namespace test

namespace {

// The table of user scenarios, played under Wine with real keyboard and mouse input by the host
// program (the same rows the Qt backend plays under X).
class WineWindowScenario : public WineWindows, public ::testing::WithParamInterface<test::WindowScenario> {};

TEST_P(WineWindowScenario, GivesTheIntendedResultAndBlock) {
  std::string out;
  EXPECT_TRUE(Windows(
      "Win32/WindowScenarioUnderWine.GivesTheIntendedResultAndBlock/" + std::string(GetParam().name), &out))
      << out;
}

INSTANTIATE_TEST_SUITE_P(Win32, WineWindowScenario, ::testing::ValuesIn(test::WindowScenarios()),
                         [](const ::testing::TestParamInfo<test::WindowScenario>& row) {
                           return row.param.name;
                         });

}  // namespace
}  // namespace korvel
