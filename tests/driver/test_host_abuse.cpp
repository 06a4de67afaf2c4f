// The library inside a hostile or careless host: odd records and type codes, absurd counts, calls
// from the wrong thread or after FreeDriver, a closed fault pipe, file-size limits, a log folder
// that cannot be written or is full. Every case drives the exports as a host does and ends with
// the host alive and a clear result. Cases that change process limits or could end the process
// run in a child process of their own.
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "driver/PDB.h"
#include "driver/records.h"
#include "exports/DLLMain.h"
#include "exports/KorvelPLNK.h"
#include "framework/DLLBase.h"
#include "platform/clock.h"
#include "platform/event.h"
#include "platform/text.h"
#include "sim/faults.h"
#include "sim/sim_line.h"

using namespace korvel;
namespace fs = std::filesystem;

namespace {

std::string take(char* p) {
  std::string s = p != nullptr ? p : "";
  std::free(p);
  return s;
}

std::string utf8(const std::string& gbk) {
  return plat::gbk_to_utf8(gbk);
}

std::string read_file(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

// Runs f in a child process. Success means the child ended by itself without a failed check;
// a signal that ended it is named in the failure.
::testing::AssertionResult EndsNormally(const std::function<void()>& f) {
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) return ::testing::AssertionFailure() << "fork failed";
  if (pid == 0) {
    const rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    f();
    std::fflush(nullptr);
    ::_exit(::testing::Test::HasFailure() ? 1 : 0);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFSIGNALED(status))
    return ::testing::AssertionFailure() << "the host was ended by signal " << WTERMSIG(status) << " ("
                                         << ::strsignal(WTERMSIG(status)) << ")";
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return ::testing::AssertionFailure()
           << "the child reported failed checks (exit " << WEXITSTATUS(status) << ")";
  return ::testing::AssertionSuccess();
}

// A host with a simulated line on COM1, its own log folder and a tag table over the test line's
// stations. Everything the host does runs on the thread that calls the helpers.
class Host {
 public:
  explicit Host(const fs::path& logDir) : line_(1) {
    SetLogFileName((logDir / "KorvelPLNK.Log").string());
    block_ = std::make_unique<PDB>();
    std::memset(block_.get(), 0, sizeof(PDB));
    FillPDBDefaults(block_.get());
    for (int m : {sim::test_line::kGood, sim::test_line::kSilent}) {
      block_->Devices[m].DevType = 1;
      block_->Devices[m].DevTypeName.set("PLNK");
    }
  }
  bool lineOk() const { return line_.ok(); }
  PDB* block() { return block_.get(); }

  TTagInfo& Add(int32_t id, const std::string& addr, uint8_t type) {
    auto info = std::make_unique<TTagInfo>();
    std::memset(info.get(), 0, sizeof(TTagInfo));
    info->TagID = id;
    std::snprintf(info->TagName, sizeof info->TagName, "T%d", id);
    std::memcpy(info->TagAddr, addr.data(), std::min(addr.size(), sizeof info->TagAddr - 1));
    info->TagType = type;
    info->ScanPeriod = 100;
    infos_.push_back(std::move(info));
    pointers_.push_back(infos_.back().get());
    return *infos_.back();
  }
  // IniDriver over the tags added so far; the message goes to *msg when asked for.
  KBool Start(std::string* msg = nullptr) {
    char* m = nullptr;
    const KBool r = IniDriver(static_cast<int32_t>(pointers_.size()), pointers_.data(), block_.get(), &m);
    const std::string text = take(m);
    if (msg != nullptr) *msg = text;
    return r;
  }
  // One poll; returns the records reported (string values already released) and the message.
  std::vector<TTagValue> Poll(std::string* msg = nullptr) {
    std::vector<TTagValue> buf(pointers_.size() + 1);
    int32_t count = -1;
    char* m = nullptr;
    EXPECT_EQ(OnDataRead(&count, buf.data(), &m), 1);
    const std::string text = take(m);
    if (msg != nullptr) *msg = text;
    EXPECT_GE(count, 0);
    buf.resize(static_cast<size_t>(count < 0 ? 0 : count));
    for (TTagValue& r : buf)
      if (r.DataType == 2) {
        std::free(r.Data.str);
        r.Data.str = nullptr;
      }
    return buf;
  }

 private:
  sim::SimLine line_;
  std::unique_ptr<PDB> block_;
  std::vector<std::unique_ptr<TTagInfo>> infos_;
  std::vector<TTagInfo*> pointers_;
};

TTagValue Record(int32_t id, uint8_t type) {
  TTagValue v;
  std::memset(&v, 0, sizeof v);
  v.TagID = id;
  v.DataType = type;
  return v;
}

class HostAbuse : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    root_ = fs::temp_directory_path() /
            ("korvel_abuse_" + std::to_string(::getpid()) + "_" + std::string(info->name()));
    fs::remove_all(root_);
    fs::create_directories(root_ / "Debug");
    savedLog_ = LogFileName();
  }
  void TearDown() override {
    // Whatever a case left on this thread ends here, before its line and folder go.
    FreeDriver();
    DestroyThreadInstance();
    plat::set_test_clock({});
    SetLogFileName(savedLog_);
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  fs::path logDir() const { return root_ / "Debug"; }

  fs::path root_;
  std::string savedLog_;
};

// A write record whose type code is none of 0, 1, 2 used to be read as a string pointer.
TEST_F(HostAbuse, WriteRecordsWithAnUnknownTypeCodeAreRefusedWithAMessage) {
  Host host(logDir());
  ASSERT_TRUE(host.lineOk());
  host.Add(1, "ENCOMMLINK", 0);
  host.Add(2, "PV1:1", 5);  // the host's own type code 5: the table keeps it, writes cannot use it
  ASSERT_EQ(host.Start(), 1);
  host.Poll();

  TTagValue recs[3] = {Record(2, 5), Record(1, 200), Record(1, 0)};
  std::memset(recs[0].Data.bytes, 0x41, sizeof recs[0].Data.bytes);  // no pointer at all
  recs[2].Data.dbl = 1.0;
  char* msg = nullptr;
  EXPECT_EQ(OnDataWrite(1, recs, &msg), 0);
  const std::string text = utf8(take(msg));
  EXPECT_NE(text.find("数据类型5无效"), std::string::npos) << text;

  EXPECT_EQ(OnDataWrite(2, recs, &msg), 0);
  EXPECT_NE(utf8(take(msg)).find("数据类型5无效"), std::string::npos) << "the first unknown code is named";
  // A good record after the bad ones is still written: the result is that of the last record.
  EXPECT_EQ(OnDataWrite(3, recs, &msg), 1) << utf8(msg != nullptr ? msg : "");
  EXPECT_NE(utf8(take(msg)).find("无效"), std::string::npos);
}

// The fault event on POSIX is a descriptor; a host that closed the reading end of its pipe must
// not be ended by SIGPIPE when the driver signals a severe fault.
TEST_F(HostAbuse, SignallingAFaultPipeWhoseReaderHasGoneReturnsQuietly) {
  const auto host = [] {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ::close(fds[0]);
    EXPECT_FALSE(plat::signal_host_event(fds[1]));
    ::close(fds[1]);
  };
  EXPECT_TRUE(EndsNormally(host));
}

TEST_F(HostAbuse, ASevereFaultWithTheFaultPipeClosedLeavesTheHostRunning) {
  const fs::path dir = logDir();
  const auto hostProcess = [dir] {
    static uint64_t now = 1000000;
    plat::set_test_clock([] { return now; });
    Host host(dir);
    ASSERT_TRUE(host.lineOk());
    host.Add(1, "PV" + std::to_string(sim::test_line::kSilent) + ":1", 0);
    ASSERT_EQ(host.Start(), 1);
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    EXPECT_EQ(IniDriverEx(fds[1]), 1);
    ::close(fds[0]);  // the host's reader is gone
    bool severe = false;
    for (int i = 0; i < 100 && !severe; ++i) {
      std::string msg;
      host.Poll(&msg);
      severe = utf8(msg).find("严重故障") != std::string::npos;
      now += 1000;  // every request times out
    }
    EXPECT_TRUE(severe) << "the silent module never made the fault severe";
    host.Poll();  // and the host keeps polling
    FreeDriver();
    ::close(fds[1]);
  };
  EXPECT_TRUE(EndsNormally(hostProcess));
}

// A file-size limit below the rotation size: the log lines that do not fit are lost, whole, and
// neither SIGXFSZ nor anything else ends the host.
TEST_F(HostAbuse, ALogAtTheFileSizeLimitLosesLinesAndTheDriverGoesOn) {
  const fs::path dir = logDir();
  const auto hostProcess = [dir] {
    constexpr rlim_t kLimit = 6000;
    const rlimit limit{kLimit, kLimit};
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    Host host(dir);
    ASSERT_TRUE(host.lineOk());
    host.block()->DebugLog = host.block()->ErrorLog = host.block()->TraceLog = 1;
    host.Add(1, "PV1:1", 0);
    host.Add(2, "PV1:", 0);  // a trace line for its missing channel
    for (int round = 0; round < 4; ++round) {
      ASSERT_EQ(host.Start(), 1);
      bool answered = false;
      for (int i = 0; i < 300 && !answered; ++i) {
        for (const TTagValue& r : host.Poll()) answered = answered || (r.TagID == 1 && r.Status == 0);
        plat::sleep_ms(2);
      }
      EXPECT_TRUE(answered) << "round " << round;
      FreeDriver();
    }
    const std::string text = read_file(dir / "KorvelPLNK.Log");
    EXPECT_LE(text.size(), kLimit);
    EXPECT_GT(text.size(), kLimit / 2) << "the log was written up to the limit";
    ASSERT_GE(text.size(), 2u);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n") << "no line is cut off at the limit";
  };
  EXPECT_TRUE(EndsNormally(hostProcess));
}

// Polls until the good module's value came in (the run really talks to the line).
bool PollUntilAnswered(Host& host, int32_t id) {
  for (int i = 0; i < 500; ++i) {
    for (const TTagValue& r : host.Poll())
      if (r.TagID == id && r.Status == 0) return true;
    plat::sleep_ms(2);
  }
  return false;
}

TEST_F(HostAbuse, NullAndGarbageRecordsGetClearResults) {
  Host host(logDir());
  ASSERT_TRUE(host.lineOk());
  host.Add(1, "PV1:1", 0);
  host.Add(2, "ENCOMMLINK", 1);
  host.Add(3, "COMMLINK", 2);
  std::mt19937 rng(7);
  std::vector<TTagInfo> garbage(40);
  for (TTagInfo& g : garbage) {
    auto* raw = reinterpret_cast<uint8_t*>(&g);
    for (size_t i = 0; i < sizeof g; ++i) raw[i] = static_cast<uint8_t>(rng());
    // A string initial value is a pointer the host owns: a garbage one cannot be survived by
    // anyone, so the garbage stays within the value types.
    if (g.Value.vt == VT_LPSTR || g.Value.vt == VT_BSTR || (g.Value.vt & 0x4000)) g.Value.vt = VT_I4;
    g.TagID = 100 + static_cast<int32_t>(&g - garbage.data());
    host.Add(g.TagID, "", 0) = g;
  }
  std::string msg;
  EXPECT_EQ(host.Start(&msg), 1) << utf8(msg);
  EXPECT_TRUE(PollUntilAnswered(host, 1));

  // Garbage write records: unknown identifiers and type codes, Data of random bytes. String
  // records carry NULL or a real text, as the contract asks.
  static char text[] = "text";
  std::vector<TTagValue> recs(200);
  for (TTagValue& r : recs) {
    auto* raw = reinterpret_cast<uint8_t*>(&r);
    for (size_t i = 0; i < sizeof r; ++i) raw[i] = static_cast<uint8_t>(rng());
    if (r.DataType == 2) r.Data.str = (rng() & 1) != 0 ? text : nullptr;
    if ((rng() & 3) == 0) r.TagID = static_cast<int32_t>(rng() % 4);  // now and then a real tag
  }
  char* m = nullptr;
  const KBool result = OnDataWrite(static_cast<int32_t>(recs.size()), recs.data(), &m);
  EXPECT_TRUE(result == 0 || result == 1);
  take(m);
  host.Poll();
  // Null pointers everywhere.
  EXPECT_EQ(OnDataWrite(1, nullptr, nullptr), 0);
  EXPECT_EQ(OnDataRead(nullptr, nullptr, nullptr), 1);
  TTagInfo* none[3] = {nullptr, nullptr, nullptr};
  EXPECT_EQ(IniDriver(3, none, host.block(), &m), 0);
  EXPECT_NE(utf8(take(m)).find("无合法标签"), std::string::npos);
}

TEST_F(HostAbuse, HugeAndNegativeCountsAreRefusedWithoutReadingRecords) {
  Host host(logDir());
  ASSERT_TRUE(host.lineOk());
  TTagInfo info{};
  info.TagID = 1;
  std::strcpy(info.TagAddr, "PV1:1");
  TTagInfo* one[1] = {&info};
  char* msg = nullptr;
  EXPECT_EQ(IniDriver(INT32_MAX, one, host.block(), &msg), 0);
  EXPECT_EQ(utf8(take(msg)), "无效的标签列表。");
  EXPECT_EQ(IniDriver(-5, one, host.block(), &msg), 0);
  EXPECT_NE(utf8(take(msg)).find("无合法标签"), std::string::npos);

  EXPECT_EQ(IniDriver(1, one, host.block(), &msg), 1);
  take(msg);
  TTagValue rec = Record(1, 0);
  for (int32_t count : {INT32_MAX, (1 << 20) + 1, -1, INT32_MIN, 0}) {
    EXPECT_EQ(OnDataWrite(count, &rec, &msg), 0) << count;
    EXPECT_EQ(utf8(take(msg)), "通讯设备初始化失败") << count;
  }
  std::vector<TTagAddrInfo> items(7);
  int32_t count = -3;
  GetTagAddrList(0, &count, items.data());
  count = INT32_MAX;
  GetTagAddrList(0, &count, items.data());
  EXPECT_EQ(items[6].Prefix[0], std::strlen("DeviceLink"));
}

TEST_F(HostAbuse, CallsFromAThreadWithoutAnInstanceLeaveTheOwnersInstanceAlone) {
  Host host(logDir());
  ASSERT_TRUE(host.lineOk());
  host.Add(1, "PV1:1", 0);
  ASSERT_EQ(host.Start(), 1);
  std::thread other([] {
    char* msg = nullptr;
    int32_t count = -1;
    TTagValue buf[4];
    EXPECT_EQ(OnDataRead(&count, buf, &msg), 1);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(utf8(take(msg)), "通讯设备初始化失败");
    TTagValue rec = Record(1, 0);
    EXPECT_EQ(OnDataWrite(1, &rec, &msg), 0);
    EXPECT_EQ(utf8(take(msg)), "通讯设备初始化失败");
    EXPECT_EQ(GetDeviceStatus(&msg), 1);
    EXPECT_EQ(utf8(take(msg)), "通讯设备初始化失败");
    WriteLog(1, &msg);
    EXPECT_EQ(utf8(take(msg)), "通讯设备初始化失败");
    EXPECT_EQ(DetectScanTime(), 1000);
    EXPECT_EQ(IniDriverEx(12345), 1);
    EXPECT_EQ(FreeDriver(), 1);
    ReleaseDriver();
  });
  other.join();
  EXPECT_TRUE(PollUntilAnswered(host, 1)) << "the owner's instance still runs";
  EXPECT_EQ(ThreadInstance()->NotifyEvent, 0) << "another thread's event never reaches this instance";
}

TEST_F(HostAbuse, CallsAfterFreeDriverAnswerAsAnInstanceWithoutTags) {
  Host host(logDir());
  ASSERT_TRUE(host.lineOk());
  host.Add(1, "PV1:1", 0);
  host.Add(2, "ENCOMMLINK", 0);
  ASSERT_EQ(host.Start(), 1);
  EXPECT_TRUE(PollUntilAnswered(host, 1));
  EXPECT_EQ(FreeDriver(), 1);
  EXPECT_EQ(FreeDriver(), 1) << "a second stop does nothing";
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(host.Poll().empty());
  char* msg = nullptr;
  TTagValue rec = Record(2, 0);
  EXPECT_EQ(OnDataWrite(1, &rec, &msg), 0);
  take(msg);
  EXPECT_EQ(GetDeviceStatus(&msg), 1);
  take(msg);
  WriteLog(1, &msg);
  take(msg);
  EXPECT_EQ(IniDriverEx(0), 1);
  EXPECT_GT(DetectScanTime(), 0);
  // And the thread can start again on the same line.
  ASSERT_EQ(host.Start(), 1);
  EXPECT_TRUE(PollUntilAnswered(host, 1));
}

TEST_F(HostAbuse, IniDriverTwiceOnOneThreadRunsTheSecondInstanceOnTheSameLine) {
  Host host(logDir());
  ASSERT_TRUE(host.lineOk());
  host.Add(1, "PV1:1", 0);
  const int before = SlotInstanceCount();
  ASSERT_EQ(host.Start(), 1);
  ASSERT_EQ(host.Start(), 1) << "the first instance gave the port back";
  EXPECT_EQ(SlotInstanceCount(), before + 1);
  EXPECT_TRUE(PollUntilAnswered(host, 1));
}

// Runs a whole start-poll-write-stop cycle with every log switch on; the log place is the caller's.
void FullCycle(Host& host) {
  host.block()->DebugLog = host.block()->ErrorLog = host.block()->TraceLog = 1;
  host.Add(1, "PV1:1", 0);
  host.Add(2, "ENCOMMLINK", 0);
  host.Add(3, "XYZ", 0);  // an address error: more log lines
  std::string msg;
  ASSERT_EQ(host.Start(&msg), 1) << utf8(msg);
  EXPECT_TRUE(PollUntilAnswered(host, 1));
  TTagValue rec = Record(2, 0);
  rec.Data.dbl = 1;
  char* m = nullptr;
  EXPECT_EQ(OnDataWrite(1, &rec, &m), 1);
  take(m);
  host.Poll();
  EXPECT_EQ(FreeDriver(), 1);
}

TEST_F(HostAbuse, AnUnwritableLogFolderLosesTheLogAndNothingElse) {
  std::ofstream(root_ / "plainfile") << "x";  // a folder that cannot be made: its parent is a file
  {
    Host host(root_ / "plainfile" / "Debug");
    ASSERT_TRUE(host.lineOk());
    FullCycle(host);
  }
  EXPECT_FALSE(fs::exists(root_ / "plainfile" / "Debug"));
  if (::geteuid() != 0) {  // permissions bind everyone but root
    fs::create_directories(root_ / "locked");
    fs::permissions(root_ / "locked", fs::perms::owner_read | fs::perms::owner_exec);
    {
      Host host(root_ / "locked" / "Debug");
      ASSERT_TRUE(host.lineOk());
      FullCycle(host);
    }
    fs::permissions(root_ / "locked", fs::perms::owner_all);
    EXPECT_FALSE(fs::exists(root_ / "locked" / "Debug"));
  }
}

// A full disk: a small tmpfs in a mount namespace of the child's own when the system allows one,
// otherwise a device that is always full. The main log is past the rotation size, so the
// rotation runs into the full disk too.
TEST_F(HostAbuse, AFullLogFolderLosesTheLogAndNothingElse) {
  const fs::path dir = root_ / "full";
  const auto hostProcess = [dir] {
    fs::create_directories(dir);
    fs::path logDir = dir / "Debug";
    bool mounted = ::unshare(CLONE_NEWNS) == 0 &&
                   ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                   ::mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=1m") == 0;
    if (mounted) {
      fs::create_directories(logDir);
      std::ofstream(logDir / "KorvelPLNK.Log", std::ios::binary) << std::string(500001, 'x');
      std::ofstream filler(dir / "filler", std::ios::binary);
      const std::string block(4096, 'f');
      for (int i = 0; i < 1024 && filler; ++i) filler.write(block.data(), block.size()), filler.flush();
      std::printf("tmpfs of 1 MiB, filled\n");
    }
    const uintmax_t before = mounted ? fs::file_size(logDir / "KorvelPLNK.Log") : 0;
    {
      Host host(logDir);
      if (!mounted) SetLogFileName("/dev/full");  // every append fails with "no space"
      ASSERT_TRUE(host.lineOk());
      FullCycle(host);
    }
    if (mounted) {
      EXPECT_EQ(fs::file_size(logDir / "KorvelPLNK.Log"), before);
      for (const auto& e : fs::directory_iterator(logDir))
        if (e.path().filename() != "KorvelPLNK.Log") {
          EXPECT_LT(fs::file_size(e.path()), 4096u) << e.path();
        }
    }
  };
  EXPECT_TRUE(EndsNormally(hostProcess));
}

}  // namespace
