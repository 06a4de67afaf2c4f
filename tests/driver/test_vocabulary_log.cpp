// The naming vocabulary, the host paths and the log file: place, rotation, clean-up, banner.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "driver/PDB.h"
#include "exports/KorvelPLNK.h"
#include "sim/sim_line.h"

#include "driver/getfileinfo.h"
#include "framework/DLLBase.h"
#include "platform/clock.h"
#include "platform/datetime.h"
#include "platform/env.h"
#include "platform/files.h"
#include "platform/text.h"
#include "protocol/DLLRealize.h"

using namespace korvel;
namespace fs = std::filesystem;

namespace {

class HostSetup : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("korvel_log_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_);
    saved_path_ = plat::get_env("ORVANE_PATH");
    saved_log_ = LogFileName();
  }
  void TearDown() override {
    if (saved_path_.empty())
      plat::unset_env("ORVANE_PATH");
    else
      plat::set_env("ORVANE_PATH", saved_path_);
    ReloadVocabulary();
    SetLogFileName(saved_log_);
    fs::remove_all(root_);
  }
  // A host installation: directory with Sentrel.ini whose DefaultPROJECT is project.
  void host_with_project(const std::string& project) {
    fs::create_directories(root_ / "host");
    std::ofstream(root_ / "host" / "Sentrel.ini") << "[WORKING]\r\nDefaultPROJECT=" << project << "\r\n";
    plat::set_env("ORVANE_PATH", (root_ / "host").string() + "/");
    ReloadVocabulary();
  }
  static std::string read(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
  }
  fs::path root_;
  std::string saved_path_, saved_log_;
};

}  // namespace

TEST(Vocabulary, ThisLibrarysWordsAndDefaults) {
  const TfileInfo& v = Vocabulary();
  EXPECT_EQ(v[fiNumericVersion], "4.8.3.0");
  EXPECT_EQ(v[fiFileVersion], "4.8.3.0");
  EXPECT_EQ(v[fiDeviceName], GBK("Korvel智能模块"));
  EXPECT_EQ(v[fiDevTypeName], GBK("智能模块"));
  EXPECT_EQ(v[fiDevIDName], GBK("设备号"));
  EXPECT_EQ(v[fiChIDName], GBK("通道地址"));
  EXPECT_EQ(v[fiOriginalFileName], "KORVELPLNK.DLL");  // key looked up without case
  EXPECT_EQ(v[fiSlotIDName], GBK("槽号"));             // missing key: default
  EXPECT_EQ(v[fiFourSegName], GBK("第四段地址"));
  EXPECT_EQ(v[fiCompanyName], "");
  // The host program carries no version information here: its record stays empty.
  EXPECT_EQ(HostInfo()[fiFileDescription], "");
  EXPECT_FALSE(Branding().hasBitmap);
}

TEST_F(HostSetup, HostDirectoryNeedsSentrelIni) {
  plat::unset_env("ORVANE_PATH");
  EXPECT_EQ(HostDirectory(), "../");
  fs::create_directories(root_ / "host");
  plat::set_env("ORVANE_PATH", "  " + (root_ / "host").string() + "  ");
  EXPECT_EQ(HostDirectory(), "../") << "no Sentrel.ini there";
  std::ofstream(root_ / "host" / "Sentrel.ini") << "[WORKING]\n";
  EXPECT_EQ(HostDirectory(), (root_ / "host").string() + "/");
  // A value naming the host program keeps its directory part; Windows separators are read too.
  plat::set_env("ORVANE_PATH", (root_ / "host").string() + "\\Tavlin.exe");
  EXPECT_EQ(HostDirectory(), (root_ / "host").string() + "/");
  ReloadVocabulary();
  EXPECT_EQ(Vocabulary()[fiHostDir], (root_ / "host").string() + "/");
}

TEST_F(HostSetup, LogPathRules) {
  plat::unset_env("ORVANE_PATH");
  EXPECT_EQ(ComputeLogFileName(), "./Debug/KorvelPLNK.Log");

  host_with_project((root_ / "Work" / "Plant1").string());
  EXPECT_EQ(ComputeLogFileName(), (root_ / "Work" / "Debug" / "KorvelPLNK.Log").string());
  host_with_project((root_ / "Work" / "Plant1").string() + "/");
  EXPECT_EQ(ComputeLogFileName(), (root_ / "Work" / "Plant1" / "Debug" / "KorvelPLNK.Log").string());
  host_with_project("D:\\Work\\Plant1\\");
  EXPECT_EQ(ComputeLogFileName(), "D:/Work/Plant1/Debug/KorvelPLNK.Log");

  // Without the key the project is the current directory.
  fs::create_directories(root_ / "host");
  std::ofstream(root_ / "host" / "Sentrel.ini", std::ios::trunc) << "[OTHER]\nDefaultPROJECT=x\n";
  EXPECT_EQ(ComputeLogFileName(), "./Debug/KorvelPLNK.Log");
}

TEST_F(HostSetup, CreatingAnInstanceCreatesTheLogAndWritesTheBanner) {
  const fs::path log = root_ / "p" / "Debug" / "KorvelPLNK.Log";
  SetLogFileName(log.string());
  { TDLLObject obj(false); }
  ASSERT_TRUE(fs::exists(log));
  const std::string text = read(log);
  EXPECT_NE(text.find(GBK("：启动驱动程序") + GBK("Korvel智能模块") + "  ...\r\n"), std::string::npos);
  EXPECT_NE(text.find(GBK("：驱动程序版本") + "4.8.3.0  ...\r\n"), std::string::npos);
  EXPECT_NE(text.find(GBK("：已使用内存 = ")), std::string::npos);
  EXPECT_NE(text.find(GBK("：总物理内存 = ")), std::string::npos);
  EXPECT_NE(text.find(GBK("：可用虚拟内存 = ")), std::string::npos);
  // With every switch off and no tag table, an instance writes its banner and nothing else.
  size_t lines = 0;
  for (size_t p = text.find("\r\n"); p != std::string::npos; p = text.find("\r\n", p + 2)) ++lines;
  EXPECT_GE(lines, 9u);
  EXPECT_LE(lines, 10u);
  // Every line starts with the date-time and its text with the full-width colon.
  const std::string first = text.substr(0, text.find("\r\n"));
  EXPECT_EQ(first.substr(19, 2), GBK("："));
  EXPECT_EQ(first[4], '-');
  EXPECT_EQ(first[10], ' ');
}

TEST_F(HostSetup, RotationAboveHalfAMillionBytes) {
  const fs::path dir = root_ / "Debug";
  const fs::path log = dir / "KorvelPLNK.Log";
  SetLogFileName(log.string());
  TDLLObject obj(false);
  fs::resize_file(log, 500000);
  obj.SetLogMsg("kept");
  EXPECT_EQ(LogFileName(), log.string()) << "500000 bytes are still appended to";
  EXPECT_EQ(fs::file_size(log), 500004u);

  fs::resize_file(log, 500001);
  obj.SetLogMsg("moved");
  const std::string rotated = LogFileName();
  ASSERT_NE(rotated, log.string());
  EXPECT_EQ(fs::file_size(log), 500001u);
  EXPECT_EQ(read(rotated), "moved");
  // KorvelPLNKyyyy-mm-dd-hh-nn-ss.LOG in the same directory.
  const std::string name = fs::path(rotated).filename().string();
  EXPECT_EQ(name.substr(0, 10), "KorvelPLNK");
  EXPECT_EQ(name.size(), 10u + 19u + 4u);
  EXPECT_EQ(name.substr(name.size() - 4), ".LOG");
  EXPECT_EQ(fs::path(rotated).parent_path(), dir);
}

TEST_F(HostSetup, DayLogsThirtyToAHundredDaysOldAreDeleted) {
  const fs::path dir = root_ / "Debug";
  fs::create_directories(dir);
  SetLogFileName((dir / "KorvelPLNK.Log").string());
  const double today = std::floor(plat::now_datetime());
  auto day_log = [&](int age) { return dir / ("KorvelPLNK" + plat::date_text(today - age) + ".LOG"); };
  for (int age : {29, 30, 64, 100, 101}) std::ofstream(day_log(age)) << "old";
  { TDLLObject obj(false); }
  EXPECT_TRUE(fs::exists(day_log(29)));
  EXPECT_FALSE(fs::exists(day_log(30)));
  EXPECT_FALSE(fs::exists(day_log(64)));
  EXPECT_FALSE(fs::exists(day_log(100)));
  EXPECT_TRUE(fs::exists(day_log(101)));
}

TEST_F(HostSetup, UnwritableLogPlaceLosesLinesQuietly) {
  std::ofstream(root_ / "plainfile") << "x";
  SetLogFileName((root_ / "plainfile" / "Debug" / "KorvelPLNK.Log").string());
  TDLLObject obj(false);
  obj.SetLogMsg("lost");
  obj.Parm.ErrorLog = 1;
  obj.LogException("TBaseDLLObject", "IniTagList");
  EXPECT_FALSE(fs::exists(root_ / "plainfile" / "Debug"));
  EXPECT_TRUE(obj.LogAllowed) << "composing the banner succeeded; only the file is missing";
}

TEST_F(HostSetup, ExceptionLinePatternAndLogSwitch) {
  const fs::path log = root_ / "Debug" / "KorvelPLNK.Log";
  SetLogFileName(log.string());
  TDLLObject obj(false);
  fs::resize_file(log, 0);
  obj.LogException("TBaseDLLObject", "IniTagList");
  EXPECT_EQ(read(log), "") << "ErrorLog off";
  obj.Parm.ErrorLog = 1;
  obj.LogException("TBaseDLLObject", "IniTagList");
  const std::string text = read(log);
  EXPECT_EQ(text.substr(19), GBK("：TBaseDLLObject.IniTagList异常！") + "\r\n");
  // EnLog follows the setter only while the banner was written.
  obj.SetEnLog(true);
  EXPECT_TRUE(obj.EnLog);
  obj.LogAllowed = false;
  obj.SetEnLog(true);
  EXPECT_FALSE(obj.EnLog);
}

TEST_F(HostSetup, AStartStopCycleWithEverySwitchOffWritesOnlyItsReports) {
  const fs::path log = root_ / "Debug" / "KorvelPLNK.Log";
  SetLogFileName(log.string());
  sim::SimLine line(1);
  ASSERT_TRUE(line.ok()) << line.error();
  std::thread host([] {
    auto block = std::make_unique<PDB>();
    std::memset(block.get(), 0, sizeof(PDB));
    FillPDBDefaults(block.get());
    block->Devices[1].DevType = 1;
    block->Devices[1].DevTypeName.set("PLNK");
    TTagInfo info{};
    info.TagID = 1;
    std::strcpy(info.TagName, "Flow");
    std::strcpy(info.TagAddr, "PV1:1");
    info.ScanPeriod = 100;
    TTagInfo* tags[1] = {&info};
    char* msg = nullptr;
    EXPECT_EQ(IniDriver(1, tags, block.get(), &msg), 1);
    std::free(msg);
    // Poll until the module's value came back, so the run really exchanged frames.
    TTagValue buf[2];
    bool answered = false;
    for (int i = 0; i < 400 && !answered; ++i) {
      int32_t n = 0;
      OnDataRead(&n, buf, &msg);
      std::free(msg);
      for (int32_t k = 0; k < n; ++k) answered = answered || (buf[k].TagID == 1 && buf[k].Status == 0);
      plat::sleep_ms(2);
    }
    EXPECT_TRUE(answered);
    FreeDriver();
  });
  host.join();
  const std::string text = read(log);
  // Banner, the start lines the protocol writes whatever the switches, the statistics: nothing of
  // the run itself (no command, answer, trace or exception lines).
  EXPECT_NE(text.find(GBK("：启动驱动程序")), std::string::npos);
  EXPECT_NE(text.find(GBK("：标签Flow，地址=PV1:1，读扫描周期(毫秒)=")), std::string::npos);
  EXPECT_NE(text.find(GBK("：本次运行总时间（毫秒）=")), std::string::npos);
  EXPECT_NE(text.find(GBK("退出运行！")), std::string::npos);
  EXPECT_NE(text.find(std::string(60, '-')), std::string::npos);
  EXPECT_EQ(text.find(GBK("：读通讯总次数= 0")), std::string::npos) << "the run exchanged frames";
  EXPECT_EQ(text.find(GBK("异常！")), std::string::npos);
  EXPECT_EQ(text.find(GBK("发送读标签命令")), std::string::npos);
  EXPECT_EQ(text.find(GBK("接收到应答信息")), std::string::npos);
  EXPECT_EQ(text.find(GBK("工程中存在")), std::string::npos) << "module list lines need DebugLog";
  EXPECT_EQ(text.find(GBK("生成读标签命令串")), std::string::npos) << "command lines need DebugLog";
}

// Instances that stop together write their statistics into one file: a line and its line end
// are one append, so no other instance's text lands inside a line.
TEST_F(HostSetup, StatisticsLinesOfInstancesStoppingTogetherStayWhole) {
  const fs::path log = root_ / "Debug" / "KorvelPLNK.Log";
  SetLogFileName(log.string());
  constexpr int kInstances = 4, kTags = 2000;
  std::vector<TTagInfo> infos(kTags);
  std::vector<const TTagInfo*> list;
  for (int i = 0; i < kTags; ++i) {
    std::memset(&infos[i], 0, sizeof(TTagInfo));
    infos[i].TagID = i;
    std::snprintf(infos[i].TagName, sizeof infos[i].TagName, "Tag%d", i);
    std::strcpy(infos[i].TagAddr, i % 2 ? "SetPassWord1:" : "PV1:1");  // both kinds of statistics line
    list.push_back(&infos[i]);
  }
  auto block = std::make_unique<PDB>();
  std::memset(block.get(), 0, sizeof(PDB));
  FillPDBDefaults(block.get());
  block->Devices[1].DevType = 1;
  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  for (int n = 0; n < kInstances; ++n)
    threads.emplace_back([&] {
      TBaseDLLObject obj(false);
      obj.IniDLLObj(block.get(), list);
      ++ready;
      while (ready.load() < kInstances) std::this_thread::yield();
      obj.Stop();
    });
  for (std::thread& t : threads) t.join();
  // So many lines cross the rotation size: every file of the folder counts.
  std::string text;
  for (const auto& e : fs::directory_iterator(log.parent_path())) text += read(e.path());
  const std::string statMark = GBK("，读扫描周期(毫秒)=");
  int tagLines = 0;
  for (size_t begin = 0; begin < text.size();) {
    size_t end = text.find("\r\n", begin);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(begin, end - begin);
    begin = end + 2;
    const size_t mark = line.find(statMark);
    if (mark == std::string::npos) continue;
    ++tagLines;
    ASSERT_EQ(line.find(GBK("：标签Tag")), 19u)
        << "a line starts with its own date-time: " << plat::gbk_to_utf8(line);
    ASSERT_EQ(line.find(statMark, mark + 1), std::string::npos)
        << "two lines joined: " << plat::gbk_to_utf8(line);
  }
  EXPECT_EQ(tagLines, kInstances * kTags);
}

// Another process that rotated within the same second holds the stamped name: its file keeps
// its lines and this process's rotation gets a name of its own.
TEST_F(HostSetup, ARotatedLogIsNeverOverwritten) {
  const fs::path dir = root_ / "Debug";
  const fs::path log = dir / "KorvelPLNK.Log";
  SetLogFileName(log.string());
  TDLLObject obj(false);
  fs::resize_file(log, 500001);
  const double now = plat::now_datetime();
  std::vector<fs::path> others;
  for (int s = 0; s < 3; ++s) {
    others.push_back(dir / ("KorvelPLNK" + plat::rotation_stamp(now + s / 86400.0) + ".LOG"));
    std::ofstream(others.back(), std::ios::binary) << "other process";
  }
  obj.SetLogMsg("mine");
  const std::string rotated = LogFileName();
  ASSERT_NE(rotated, log.string());
  for (const fs::path& p : others) {
    EXPECT_EQ(read(p), "other process") << p;
    EXPECT_NE(rotated, p.string());
  }
  EXPECT_EQ(read(rotated), "mine");
  const std::string name = fs::path(rotated).filename().string();
  EXPECT_EQ(name.substr(0, 10), "KorvelPLNK");
  EXPECT_EQ(name.substr(name.size() - 4), ".LOG");
  EXPECT_EQ(fs::path(rotated).parent_path(), dir);

  // The instance start that rotates (main log still too big) also takes a name of its own.
  SetLogFileName(log.string());
  { TDLLObject second(false); }
  EXPECT_NE(LogFileName(), rotated);
  EXPECT_NE(LogFileName(), log.string());
  EXPECT_EQ(read(rotated), "mine");
}

TEST_F(HostSetup, RotatedLogsThirtyToAHundredDaysOldAreDeleted) {
  const fs::path dir = root_ / "Debug";
  fs::create_directories(dir);
  SetLogFileName((dir / "KorvelPLNK.Log").string());
  const double today = std::floor(plat::now_datetime());
  auto stamped = [&](int age, const std::string& counter = "") {
    return dir / ("KorvelPLNK" + plat::rotation_stamp(today - age + 0.5) + counter + ".LOG");
  };
  for (int age : {29, 30, 64, 100, 101}) std::ofstream(stamped(age)) << "old";
  std::ofstream(stamped(45, "-2")) << "old";
  const fs::path notOurs = dir / ("KorvelPLNK" + plat::rotation_stamp(today - 45) + ".txt");
  const fs::path otherBase = dir / ("Other" + plat::rotation_stamp(today - 45) + ".LOG");
  std::ofstream(notOurs) << "x";
  std::ofstream(otherBase) << "x";
  { TDLLObject obj(false); }
  EXPECT_TRUE(fs::exists(stamped(29)));
  EXPECT_FALSE(fs::exists(stamped(30)));
  EXPECT_FALSE(fs::exists(stamped(64)));
  EXPECT_FALSE(fs::exists(stamped(100)));
  EXPECT_TRUE(fs::exists(stamped(101)));
  EXPECT_FALSE(fs::exists(stamped(45, "-2")));
  EXPECT_TRUE(fs::exists(notOurs));
  EXPECT_TRUE(fs::exists(otherBase));

  // A process still writing into an old rotated file keeps it.
  std::ofstream(stamped(50)) << "in use";
  SetLogFileName(stamped(50).string());
  { TDLLObject obj(false); }
  EXPECT_TRUE(fs::exists(stamped(50)));
}
