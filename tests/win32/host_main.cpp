// A 32-bit Windows host in a box: loads KorvelPLNK.dll with LoadLibraryA and GetProcAddress only,
// as a SCADA host does, and polls it. Each case runs in its own process (the library reads its
// registry value and version texts once, at load), started by the Linux side of the suite, which
// serves the module simulator on a pseudo-terminal that the Wine prefix maps to a COM port and
// checks the wire afterwards. The port comes in KORVEL_HOST_COM (and KORVEL_HOST_COM2): the
// block's ComPort, 0 for Com1.
#include <objbase.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "driver/PDB.h"
#include "driver/records.h"
#include "exports/KorvelPLNK.h"
#include "version_table.h"

namespace {

using korvel::PDB;

// ---------------------------------------------------------------- texts

std::string convert(const std::string& in, UINT from, UINT to) {
  if (in.empty()) return {};
  const int wn = MultiByteToWideChar(from, 0, in.data(), static_cast<int>(in.size()), nullptr, 0);
  std::wstring w(static_cast<size_t>(wn), L'\0');
  MultiByteToWideChar(from, 0, in.data(), static_cast<int>(in.size()), w.data(), wn);
  const int n = WideCharToMultiByte(to, 0, w.data(), wn, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(to, 0, w.data(), wn, out.data(), n, nullptr, nullptr);
  return out;
}
std::string gbk(const std::string& utf8) {
  return convert(utf8, CP_UTF8, 936);
}
std::string utf8(const std::string& gbk_text) {
  return convert(gbk_text, 936, CP_UTF8);
}
bool ends_with(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}
std::string env(const char* name) {
  char buf[512];
  const DWORD n = GetEnvironmentVariableA(name, buf, sizeof buf);
  return n > 0 && n < sizeof buf ? std::string(buf, n) : std::string();
}
int com_port(const char* name = "KORVEL_HOST_COM") {
  const std::string v = env(name);
  return v.empty() ? 4 : std::stoi(v);
}
std::string exe_dir() {
  char buf[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
  std::string p(buf, n);
  return p.substr(0, p.find_last_of('\\') + 1);
}

// ---------------------------------------------------------------- the library through its exports

struct Api {
  HMODULE lib = nullptr;
  decltype(&::GetPDBLen) GetPDBLen = nullptr;
  decltype(&::FullPDB) FullPDB = nullptr;
  decltype(&::DLLEdDev) DLLEdDev = nullptr;
  decltype(&::DLLTestDev) DLLTestDev = nullptr;
  decltype(&::TagEdAddr) TagEdAddr = nullptr;
  decltype(&::GetTagAddrList) GetTagAddrList = nullptr;
  decltype(&::DetectScanTime) DetectScanTime = nullptr;
  decltype(&::IniDriver) IniDriver = nullptr;
  decltype(&::IniDriverEx) IniDriverEx = nullptr;
  decltype(&::OnDataRead) OnDataRead = nullptr;
  decltype(&::OnDataWrite) OnDataWrite = nullptr;
  decltype(&::GetDeviceStatus) GetDeviceStatus = nullptr;
  decltype(&::WriteLog) WriteLog = nullptr;
  decltype(&::FreeDriver) FreeDriver = nullptr;
  decltype(&::ReleaseDriver) ReleaseDriver = nullptr;
};

template <typename F>
void bind(HMODULE lib, const char* name, F* fn) {
  *fn = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(lib, name)));
  ASSERT_NE(*fn, nullptr) << name;
}

// Loaded on first use, after the case has prepared the registry and files it wants seen at load.
Api& api() {
  static Api a;
  if (a.lib != nullptr) return a;
  a.lib = LoadLibraryA((exe_dir() + "KorvelPLNK.dll").c_str());
  EXPECT_NE(a.lib, nullptr) << "LoadLibraryA: error " << GetLastError();
  if (a.lib == nullptr) return a;
  bind(a.lib, "GetPDBLen", &a.GetPDBLen);
  bind(a.lib, "FullPDB", &a.FullPDB);
  bind(a.lib, "DLLEdDev", &a.DLLEdDev);
  bind(a.lib, "DLLTestDev", &a.DLLTestDev);
  bind(a.lib, "TagEdAddr", &a.TagEdAddr);
  bind(a.lib, "GetTagAddrList", &a.GetTagAddrList);
  bind(a.lib, "DetectScanTime", &a.DetectScanTime);
  bind(a.lib, "IniDriver", &a.IniDriver);
  bind(a.lib, "IniDriverEx", &a.IniDriverEx);
  bind(a.lib, "OnDataRead", &a.OnDataRead);
  bind(a.lib, "OnDataWrite", &a.OnDataWrite);
  bind(a.lib, "GetDeviceStatus", &a.GetDeviceStatus);
  bind(a.lib, "WriteLog", &a.WriteLog);
  bind(a.lib, "FreeDriver", &a.FreeDriver);
  bind(a.lib, "ReleaseDriver", &a.ReleaseDriver);
  return a;
}

// Every string the library hands out must come from the COM task allocator, which this host
// frees without sharing the library's C runtime.
std::string take(char* s) {
  if (s == nullptr) return {};
  IMalloc* m = nullptr;
  if (SUCCEEDED(CoGetMalloc(1, &m)) && m != nullptr) {
    EXPECT_EQ(m->DidAlloc(s), 1) << "not from the task allocator: " << s;
    m->Release();
  }
  std::string text = s;
  CoTaskMemFree(s);
  return text;
}

struct Reported {
  double number = 0;
  bool flag = false;
  std::string text;
  uint32_t status = 0;
  int reports = 0;
};

class Host {
 public:
  explicit Host(int com) : a_(api()) {
    block_.reset(static_cast<PDB*>(operator new(sizeof(PDB))));
    a_.FullPDB(block_.get());
    block_->ComPort = static_cast<uint8_t>(com);
    block_->TimeOut = 300;
    block_->WriteCount = 2;
  }

  void Module(int id, uint8_t type = 1) {
    korvel::TDevInfo& d = block_->Devices[id];
    d.DevID = id;
    d.DevType = type;
    d.DevTypeName.set(type == 0 ? "PLNE" : "PLNK");
  }

  int32_t Tag(const std::string& addr, uint8_t type) {
    auto info = std::make_unique<korvel::TTagInfo>();
    std::memset(info.get(), 0, sizeof(korvel::TTagInfo));
    info->TagID = static_cast<int32_t>(infos_.size());
    std::strncpy(info->TagName, ("tag" + std::to_string(info->TagID)).c_str(), sizeof info->TagName - 1);
    std::strncpy(info->TagAddr, addr.c_str(), sizeof info->TagAddr - 1);
    info->TagType = type;
    infos_.push_back(std::move(info));
    return infos_.back()->TagID;
  }

  bool Init(std::string* text = nullptr) {
    std::vector<korvel::TTagInfo*> ptrs;
    for (auto& i : infos_) ptrs.push_back(i.get());
    char* msg = nullptr;
    const bool ok = a_.IniDriver(static_cast<int32_t>(ptrs.size()), ptrs.data(), block_.get(), &msg) != 0;
    const std::string t = take(msg);
    if (text != nullptr) *text = t;
    return ok;
  }

  void Poll() {
    std::vector<korvel::TTagValue> buf(infos_.size() + 1);
    int32_t n = 0;
    char* msg = nullptr;
    a_.OnDataRead(&n, buf.data(), &msg);
    const std::string m = take(msg);
    if (!m.empty()) messages_.push_back(m);
    for (int32_t i = 0; i < n; ++i) {
      const korvel::TTagValue& v = buf[static_cast<size_t>(i)];
      Reported& r = reported_[v.TagID];
      r.status = v.Status;
      ++r.reports;
      if (v.DataType == 0) {
        std::memcpy(&r.number, &v.Data.dbl, sizeof r.number);  // packed record
      } else if (v.DataType == 1) {
        r.flag = v.Data.bln != 0;
      } else {
        char* s = nullptr;
        std::memcpy(&s, &v.Data.str, sizeof s);
        r.text = take(s);
      }
    }
    Sleep(2);
  }

  // Polls until pred holds; false when it did not within ms of real time.
  bool PollUntil(const std::function<bool()>& pred, DWORD ms = 15000) {
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
      Poll();
      if (pred()) return true;
    }
    return false;
  }

  bool Write(int32_t id, bool value) {
    korvel::TTagValue rec{};
    rec.TagID = id;
    rec.DataType = 1;
    rec.Data.bln = value ? 1 : 0;
    char* msg = nullptr;
    const bool ok = a_.OnDataWrite(1, &rec, &msg) != 0;
    take(msg);
    return ok;
  }

  const Reported& Last(int32_t id) { return reported_[id]; }
  PDB& Block() { return *block_; }
  std::vector<std::string> messages_;

 private:
  Api& a_;
  std::unique_ptr<PDB> block_;
  std::vector<std::unique_ptr<korvel::TTagInfo>> infos_;
  std::map<int32_t, Reported> reported_;
};

std::string com_name(int com) {
  return "Com" + std::to_string(com + 1);
}

// ---------------------------------------------------------------- cases against the simulator

TEST(Wine, TwoModulesValuesAndStatusWords) {
  Host h(com_port());
  h.Module(1);
  h.Module(2, 0);
  const int32_t pv1 = h.Tag("PV1:1", 0);
  const int32_t pv2 = h.Tag("PV2:1", 0);
  const int32_t al1 = h.Tag("PV_ALARM1:1", 1);
  const int32_t al2 = h.Tag("PV_ALARM2:2", 1);
  const int32_t p1 = h.Tag("PARM1:10", 0);
  const int32_t comm = h.Tag("COMMLINK", 2);
  std::string msg;
  ASSERT_TRUE(h.Init(&msg)) << utf8(msg);
  EXPECT_EQ(msg, com_name(com_port()) + gbk("打开成功"));
  ASSERT_TRUE(h.PollUntil([&] {
    return h.Last(pv1).number == 12.5 && h.Last(pv2).number == -3.75 && h.Last(p1).number == 16 &&
           h.Last(pv1).status == 0 && h.Last(pv2).status == 0 && h.Last(al2).reports > 0;
  }));
  EXPECT_TRUE(h.Last(al1).flag);  // alarm bits 1
  EXPECT_TRUE(h.Last(al2).flag);  // alarm bits 10: bit 2 set
  EXPECT_EQ(h.Last(p1).status, 0u);
  // The device's name comes from the library's own version resource ("DeviceName").
  ASSERT_TRUE(h.PollUntil([&] { return ends_with(h.Last(comm).text, gbk("通讯正常!")); }));
  EXPECT_EQ(h.Last(comm).text, gbk("Korvel智能模块通讯正常!"));
  api().FreeDriver();
}

TEST(Wine, WorkedFrames) {
  // The Linux side checks the first requests byte for byte.
  Host h(com_port());
  h.Module(1);
  h.Module(7);
  h.Tag("PV1:1", 0);
  const int32_t pv7 = h.Tag("PV7:1", 0);
  h.Tag("AO1:1", 0);
  h.Tag("PARM1:1A", 0);
  ASSERT_TRUE(h.Init());
  ASSERT_TRUE(h.PollUntil([&] { return h.Last(pv7).number == 7 && h.Last(pv7).status == 0; }));
  h.Poll();
  api().FreeDriver();
}

TEST(Wine, SilentModuleFailureTextsAndRecovery) {
  // The simulator keeps station 1 silent for its first requests, then it answers again.
  Host h(com_port());
  h.Module(1);
  const int32_t pv = h.Tag("PV1:1", 0);
  const int32_t dev = h.Tag("DEVICELINK1", 2);
  ASSERT_TRUE(h.Init());
  ASSERT_TRUE(h.PollUntil(
      [&] {
        return ends_with(h.Last(dev).text, gbk("设备掉电或设备故障!")) ||
               ends_with(h.Last(dev).text, gbk("通讯始终不成功!"));
      },
      30000))
      << utf8(h.Last(dev).text);
  EXPECT_NE(h.Last(pv).status, 0u);
  ASSERT_TRUE(h.PollUntil([&] { return ends_with(h.Last(dev).text, gbk("通讯正常!")); }, 30000))
      << utf8(h.Last(dev).text);
  ASSERT_TRUE(h.PollUntil([&] { return h.Last(pv).number == 12.5 && h.Last(pv).status == 0; }));
  api().FreeDriver();
}

TEST(Wine, PasswordWrite) {
  Host h(com_port());
  h.Module(1);
  h.Tag("PV1:1", 0);
  const int32_t pw = h.Tag("SetPassWord1:0", 1);
  ASSERT_TRUE(h.Init());
  for (int i = 0; i < 5; ++i) h.Poll();
  ASSERT_TRUE(h.Write(pw, true));
  EXPECT_FALSE(h.Write(pw, true));  // the same value is already queued
  ASSERT_TRUE(h.PollUntil([&] { return h.Last(pw).flag; }));
  for (int i = 0; i < 20; ++i) h.Poll();
  api().FreeDriver();
}

TEST(Wine, CommunicationPausesAndResumes) {
  Host h(com_port());
  h.Module(1);
  const int32_t pv = h.Tag("PV1:1", 0);
  const int32_t en = h.Tag("ENCOMMLINK", 1);
  ASSERT_TRUE(h.Init());
  ASSERT_TRUE(h.PollUntil([&] { return h.Last(pv).number == 12.5; }));
  ASSERT_TRUE(h.Write(en, false));
  ASSERT_TRUE(h.PollUntil([&] { return h.Last(en).reports > 0 && !h.Last(en).flag; }));
  // The Linux side sees the pause as a gap between the requests; here the switch reads back.
  std::printf("PAUSED\n");
  std::fflush(stdout);
  for (int i = 0; i < 200; ++i) h.Poll();
  std::printf("RESUMED\n");
  std::fflush(stdout);
  ASSERT_TRUE(h.Write(en, true));
  ASSERT_TRUE(h.PollUntil([&] { return h.Last(en).flag; }));
  ASSERT_TRUE(h.PollUntil([&] { return h.Last(pv).number == 12.5 && h.Last(pv).status == 0; }));
  api().FreeDriver();
}

TEST(Wine, PortVanishesAndComesBack) {
  // Station 97's first request makes the simulator drop the line for a while; the driver closes
  // the port and opens it again on a later send.
  Host h(com_port());
  h.Module(1);
  h.Module(97);
  const int32_t good = h.Tag("PV1:1", 0);
  const int32_t gone = h.Tag("PV97:1", 0);
  ASSERT_TRUE(h.Init());
  ASSERT_TRUE(h.PollUntil([&] { return h.Last(gone).status != 0; }, 20000));
  // Polls never wait for the line: each returns at once while the port is away.
  DWORD longest = 0;
  const DWORD start = GetTickCount();
  bool back = false;
  while (GetTickCount() - start < 20000 && !back) {
    const DWORD t0 = GetTickCount();
    h.Poll();
    longest = std::max(longest, GetTickCount() - t0);
    back = h.Last(good).number == 12.5 && h.Last(good).status == 0 && GetTickCount() - start > 1500;
  }
  EXPECT_TRUE(back);
  std::printf("LONGEST_POLL_MS %lu\n", static_cast<unsigned long>(longest));
  api().FreeDriver();
}

TEST(Wine, TheHostsEventIsSetOnASevereFault) {
  // Station 90 of the test line never answers: after more than ten failed requests in a row the
  // driver sets the event the host handed over.
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(event, nullptr);
  Host h(com_port());
  h.Module(90);
  h.Tag("PV90:1", 0);
  ASSERT_TRUE(h.Init());
  EXPECT_NE(api().IniDriverEx(reinterpret_cast<intptr_t>(event)), 0);
  EXPECT_TRUE(h.PollUntil([&] { return WaitForSingleObject(event, 0) == WAIT_OBJECT_0; }, 60000));
  bool severe = false;
  for (const std::string& m : h.messages_)
    severe = severe || m == gbk("严重故障：连续通讯失败，请检查线路和设备");
  EXPECT_TRUE(severe);
  api().FreeDriver();
  CloseHandle(event);
}

// ---------------------------------------------------------------- threads, registry, log

std::string temp_dir(const std::string& name) {
  char buf[MAX_PATH];
  GetTempPathA(sizeof buf, buf);
  std::string dir = std::string(buf) + name + std::to_string(GetCurrentProcessId()) + "\\";
  CreateDirectoryA(dir.c_str(), nullptr);
  return dir;
}

bool write_text(const std::string& path, const std::string& text) {
  HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  DWORD put = 0;
  WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &put, nullptr);
  CloseHandle(f);
  return put == text.size();
}

std::string read_text(const std::string& path) {
  HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return {};
  std::string out;
  char buf[4096];
  DWORD got = 0;
  while (ReadFile(f, buf, sizeof buf, &got, nullptr) && got > 0) out.append(buf, got);
  CloseHandle(f);
  return out;
}

void set_install_path(const std::string* value, DWORD dword = 0) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\ORVANE", 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                            nullptr),
            ERROR_SUCCESS);
  if (value != nullptr)
    RegSetValueExA(key, "PATH", 0, REG_SZ, reinterpret_cast<const BYTE*>(value->c_str()),
                   static_cast<DWORD>(value->size() + 1));
  else
    RegSetValueExA(key, "PATH", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dword), sizeof dword);
  RegCloseKey(key);
}

size_t count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(Wine, TwoThreadsTwoPortsAndTheLogInTheProjectFolder) {
  // The host's installation: "PATH" names its program, whose folder holds Sentrel.ini, which
  // names the project; the log goes into the project's Debug folder.
  const std::string install = temp_dir("korvel-install");
  const std::string project = install + "proj\\";
  const std::string exe = install + "Tavlin.exe";
  ASSERT_TRUE(write_text(install + "Sentrel.ini", "[WORKING]\r\nDefaultPROJECT=" + project + "\r\n"));
  set_install_path(&exe);
  const std::string log = project + "Debug\\KorvelPLNK.Log";
  DeleteFileA(log.c_str());

  struct Result {
    double value = 0;
    uint32_t status = 1;
    std::string init;
  };
  Result r1, r2;
  auto run = [](int com, int module, Result* r) {
    Host h(com);
    h.Module(module);
    const int32_t pv = h.Tag("PV" + std::to_string(module) + ":1", 0);
    if (!h.Init(&r->init)) return;
    h.PollUntil([&] { return h.Last(pv).status == 0 && h.Last(pv).reports > 0; });
    r->value = h.Last(pv).number;
    r->status = h.Last(pv).status;
    // No FreeDriver: the thread's end must stop and destroy the instance.
  };
  std::thread t1(run, com_port(), 1, &r1);
  std::thread t2(run, com_port("KORVEL_HOST_COM2"), 2, &r2);
  t1.join();
  t2.join();
  EXPECT_EQ(r1.init, com_name(com_port()) + gbk("打开成功"));
  EXPECT_EQ(r2.init, com_name(com_port("KORVEL_HOST_COM2")) + gbk("打开成功"));
  EXPECT_EQ(r1.status, 0u);
  EXPECT_EQ(r1.value, 12.5);
  EXPECT_EQ(r2.status, 0u);
  EXPECT_EQ(r2.value, -3.75);
  // Both instances ended with their threads: two stop reports in the log.
  const std::string text = read_text(log);
  ASSERT_FALSE(text.empty()) << "no log at " << log;
  EXPECT_EQ(count(text, gbk("：有效标签个数共计=")), 2u) << utf8(text);
  // And both ports were released: a new driver opens the first one again.
  Host again(com_port());
  again.Module(1);
  again.Tag("PV1:1", 0);
  std::string msg;
  EXPECT_TRUE(again.Init(&msg)) << utf8(msg);
  api().FreeDriver();
}

// "yyyy-mm-dd" (days_ago days back) and the same day as a rotation stamp at noon.
std::string day_text(int days_ago, bool stamp) {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  FILETIME ft{};
  SystemTimeToFileTime(&now, &ft);
  ULARGE_INTEGER t{};
  t.LowPart = ft.dwLowDateTime;
  t.HighPart = ft.dwHighDateTime;
  t.QuadPart -= static_cast<ULONGLONG>(days_ago) * 24 * 3600 * 10000000ull;
  ft.dwLowDateTime = t.LowPart;
  ft.dwHighDateTime = t.HighPart;
  SYSTEMTIME d{};
  FileTimeToSystemTime(&ft, &d);
  char buf[32];
  std::snprintf(buf, sizeof buf, stamp ? "%04u-%02u-%02u-12-00-00" : "%04u-%02u-%02u", d.wYear, d.wMonth,
                d.wDay);
  return buf;
}

bool exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

TEST(Wine, RotationAndDayLogCleanUpWithWindowsPaths) {
  const std::string install = temp_dir("korvel-rotate");
  const std::string project = install + "proj\\";
  const std::string exe = install + "Tavlin.exe";
  ASSERT_TRUE(write_text(install + "Sentrel.ini", "[WORKING]\r\nDefaultPROJECT=" + project + "\r\n"));
  set_install_path(&exe);
  const std::string debug = project + "Debug\\";
  CreateDirectoryA(project.c_str(), nullptr);
  CreateDirectoryA(debug.c_str(), nullptr);
  ASSERT_TRUE(write_text(debug + "KorvelPLNK.Log", std::string(500001, 'x')));  // over the size limit
  const std::string old_day = debug + "KorvelPLNK" + day_text(40, false) + ".LOG";
  const std::string new_day = debug + "KorvelPLNK" + day_text(10, false) + ".LOG";
  const std::string old_rotated = debug + "KorvelPLNK" + day_text(40, true) + ".LOG";
  for (const std::string& f : {old_day, new_day, old_rotated}) ASSERT_TRUE(write_text(f, "old\r\n"));

  Host h(com_port());
  h.Module(1);
  h.Tag("PV1:1", 0);
  ASSERT_TRUE(h.Init());
  for (int i = 0; i < 10; ++i) h.Poll();
  api().FreeDriver();

  EXPECT_FALSE(exists(old_day));
  EXPECT_FALSE(exists(old_rotated));
  EXPECT_TRUE(exists(new_day));
  // The full log stays as it was; the lines went on in a rotated log of today.
  EXPECT_EQ(read_text(debug + "KorvelPLNK.Log").size(), 500001u);
  WIN32_FIND_DATAA found{};
  HANDLE f = FindFirstFileA((debug + "KorvelPLNK" + day_text(0, false) + "-*.LOG").c_str(), &found);
  ASSERT_NE(f, INVALID_HANDLE_VALUE) << "no rotated log of today in " << debug;
  FindClose(f);
  EXPECT_NE(read_text(debug + found.cFileName).find(gbk("：有效标签个数共计=")), std::string::npos);
}

TEST(Wine, AnUnwritableLogFolderStopsNothing) {
  // The project's "Debug" is a file: no log can be written, and the driver runs all the same.
  const std::string install = temp_dir("korvel-nolog");
  const std::string project = install + "proj\\";
  const std::string exe = install + "Tavlin.exe";
  ASSERT_TRUE(write_text(install + "Sentrel.ini", "[WORKING]\r\nDefaultPROJECT=" + project + "\r\n"));
  set_install_path(&exe);
  CreateDirectoryA(project.c_str(), nullptr);
  ASSERT_TRUE(write_text(project + "Debug", "not a folder"));
  Host h(com_port());
  h.Module(1);
  const int32_t pv = h.Tag("PV1:1", 0);
  ASSERT_TRUE(h.Init());
  ASSERT_TRUE(h.PollUntil([&] { return h.Last(pv).number == 12.5 && h.Last(pv).status == 0; }));
  char* msg = nullptr;
  api().WriteLog(1, &msg);
  take(msg);
  api().FreeDriver();
  EXPECT_EQ(read_text(project + "Debug"), "not a folder");
}

TEST(Wine, AMissingOrNonStringInstallPathLogsBelowTheWorkingFolder) {
  set_install_path(nullptr, 42);  // "PATH" is a number, not a text
  const std::string cwd = temp_dir("korvel-cwd");
  ASSERT_TRUE(SetCurrentDirectoryA(cwd.c_str()));
  Host h(com_port());
  h.Module(1);
  h.Tag("PV1:1", 0);
  h.Init();
  api().FreeDriver();
  EXPECT_FALSE(read_text(cwd + "Debug\\KorvelPLNK.Log").empty());
}

// A host that unloads the library with an instance alive (no FreeDriver, the thread goes on):
// the unload stops it as a thread's end does, statistics to the log and the port closed, so the
// reloaded library opens its line again. Twenty cycles.
TEST(Wine, UnloadingStopsTheLiveInstanceAndClosesItsPort) {
  set_install_path(nullptr, 42);  // the log below the working folder
  const std::string cwd = temp_dir("korvel-unload");
  ASSERT_TRUE(SetCurrentDirectoryA(cwd.c_str()));
  const std::string dll = exe_dir() + "KorvelPLNK.dll";
  korvel::TTagInfo info{};
  info.TagID = 0;
  std::strcpy(info.TagName, "flow");
  std::strcpy(info.TagAddr, "PV1:1");
  korvel::TTagInfo* tags[] = {&info};
  std::unique_ptr<PDB> block(static_cast<PDB*>(operator new(sizeof(PDB))));
  for (int cycle = 0; cycle < 20; ++cycle) {
    Api a;
    a.lib = LoadLibraryA(dll.c_str());
    ASSERT_NE(a.lib, nullptr) << cycle;
    bind(a.lib, "FullPDB", &a.FullPDB);
    bind(a.lib, "IniDriver", &a.IniDriver);
    a.FullPDB(block.get());
    block->ComPort = static_cast<uint8_t>(com_port());
    block->Devices[1].DevID = 1;
    block->Devices[1].DevType = 1;
    block->Devices[1].DevTypeName.set("PLNK");
    char* msg = nullptr;
    EXPECT_TRUE(a.IniDriver(1, tags, block.get(), &msg)) << cycle;
    EXPECT_EQ(take(msg), com_name(com_port()) + gbk("打开成功")) << cycle;
    ASSERT_TRUE(FreeLibrary(a.lib));
    ASSERT_EQ(GetModuleHandleA("KorvelPLNK.dll"), nullptr) << "the library stayed loaded";
    // Nothing of ours holds the port: it opens exclusively.
    const HANDLE port = CreateFileA(("\\\\.\\" + com_name(com_port())).c_str(), GENERIC_READ | GENERIC_WRITE,
                                    0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(port, INVALID_HANDLE_VALUE) << cycle;
    CloseHandle(port);
  }
  // Wine does not refuse a second opener: the stop reports show that every port was closed.
  EXPECT_EQ(count(read_text(cwd + "Debug\\KorvelPLNK.Log"), gbk("：有效标签个数共计=")), 20u);
}

// ---------------------------------------------------------------- without the simulator

TEST(Wine, BadInputGetsClearResults) {
  Api& a = api();
  char* msg = nullptr;
  EXPECT_EQ(a.IniDriver(1, nullptr, nullptr, &msg), 0);
  EXPECT_EQ(take(msg), gbk("无效的标签列表。"));
  int32_t n = 5;
  a.OnDataRead(&n, nullptr, &msg);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(take(msg), gbk("通讯设备初始化失败"));
  EXPECT_EQ(a.DetectScanTime(), 1000);
  EXPECT_EQ(a.GetPDBLen(), 26508);
  EXPECT_EQ(a.FullPDB(nullptr), nullptr);
  EXPECT_EQ(a.DLLTestDev(nullptr, 0), 0);
  a.GetTagAddrList(0, &n, nullptr);
  EXPECT_EQ(n, 7);

  // A port that does not exist: refused after the first open's retries, never a crash.
  Host missing(14);  // Com15: no link in the prefix
  missing.Module(1);
  missing.Tag("PV1:1", 0);
  std::string text;
  const DWORD t0 = GetTickCount();
  EXPECT_FALSE(missing.Init(&text));
  EXPECT_EQ(text, "Com15" + gbk("不存在或被其它程序占用！"));
  EXPECT_LT(GetTickCount() - t0, 15000u);
  // Later polls report and return at once.
  const DWORD t1 = GetTickCount();
  for (int i = 0; i < 20; ++i) missing.Poll();
  std::printf("MISSING_PORT_20_POLLS_MS %lu\n", static_cast<unsigned long>(GetTickCount() - t1));
  a.FreeDriver();

  // A port number outside 0..15.
  Host wild(200);
  wild.Module(1);
  wild.Tag("PV1:1", 0);
  EXPECT_FALSE(wild.Init(&text));
  EXPECT_FALSE(text.empty());
  a.FreeDriver();

  // The windows have no display here: they return at once with "nothing changed".
  PDB block{};
  a.FullPDB(&block);
  a.DLLEdDev(0, &block);  // 1 when the block check changed the block, at once either way
  EXPECT_EQ(a.DLLEdDev(0, &block), 2);
  EXPECT_EQ(a.DLLTestDev(&block, 1), 0);

  // An address check hands the normal form back in the task allocator.
  char* addr = static_cast<char*>(CoTaskMemAlloc(8));
  std::strcpy(addr, "PV1:1");
  char* in = addr;
  EXPECT_NE(a.TagEdAddr(&block, &addr, 0, &msg), 0) << take(msg);
  take(msg);
  EXPECT_EQ(take(addr), "PV1:1");
  CoTaskMemFree(in);
}

TEST(Wine, VersionInformationMatchesTheTable) {
  const std::string path = exe_dir() + "KorvelPLNK.dll";
  std::wstring wpath(path.begin(), path.end());
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(wpath.c_str(), &ignored);
  ASSERT_GT(size, 0u);
  std::vector<BYTE> block(size);
  ASSERT_TRUE(GetFileVersionInfoW(wpath.c_str(), 0, size, block.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT len = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &len));
  namespace g = korvel::plat::generated;
  EXPECT_EQ(HIWORD(fixed->dwFileVersionMS), g::kFileVersion[0]);
  EXPECT_EQ(LOWORD(fixed->dwFileVersionMS), g::kFileVersion[1]);
  EXPECT_EQ(HIWORD(fixed->dwFileVersionLS), g::kFileVersion[2]);
  EXPECT_EQ(LOWORD(fixed->dwFileVersionLS), g::kFileVersion[3]);
  WORD* tr = nullptr;
  ASSERT_TRUE(
      VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&tr), &len));
  EXPECT_EQ(tr[0], 0x0804);
  EXPECT_EQ(tr[1], 936);
  for (const auto& s : g::kStrings) {
    const std::string key = std::string("\\StringFileInfo\\080403a8\\") + s.key;
    std::wstring wkey(key.begin(), key.end());
    wchar_t* value = nullptr;
    ASSERT_TRUE(VerQueryValueW(block.data(), wkey.c_str(), reinterpret_cast<void**>(&value), &len)) << s.key;
    const int n = WideCharToMultiByte(CP_UTF8, 0, value, -1, nullptr, 0, nullptr, nullptr);
    std::string got(static_cast<size_t>(n > 0 ? n - 1 : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, value, -1, got.data(), n, nullptr, nullptr);
    EXPECT_EQ(got, s.value) << s.key;
  }
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  const int rc = RUN_ALL_TESTS();
  CoUninitialize();
  return rc;
}
