// The Win32 platform services, run under Wine: clock widening, code page 936, files with Windows
// paths, the host's event, the string allocator, the thread slot, the registry, the serial
// service's refusals and the system facts.
#include <objbase.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/event.h"
#include "platform/files.h"
#include "platform/hoststring.h"
#include "platform/registry.h"
#include "platform/serial.h"
#include "platform/sysinfo.h"
#include "platform/text.h"
#include "platform/thread_slot.h"
#include "platform/version.h"

namespace plat = korvel::plat;

namespace {

TEST(Clock, TickCounterWrapsIntoSixtyFourBits) {
  plat::TickWidener w;
  EXPECT_EQ(w.widen(0xFFFFFF00u), 0xFFFFFF00ull);
  EXPECT_EQ(w.widen(0xFFFFFFFFu), 0xFFFFFFFFull);
  EXPECT_EQ(w.widen(5), 0x100000005ull);  // wrapped: the clock keeps counting up
  EXPECT_EQ(w.widen(5), 0x100000005ull);
  EXPECT_EQ(w.widen(0xFFFFFFF0u), 0x1FFFFFFF0ull);
  EXPECT_EQ(w.widen(1), 0x200000001ull);
  // The driver's clock follows a test clock across the same wrap.
  uint64_t now = 0xFFFFFFF0ull;
  plat::set_test_clock([&now] { return now; });
  EXPECT_EQ(plat::tick_ms(), 0xFFFFFFF0ull);
  now += 0x20;
  EXPECT_EQ(plat::tick_ms(), 0x100000010ull);
  plat::set_test_clock({});
  // The real clock moves on and never back (by how much depends on the tick's resolution and the
  // machine's load, which a test must not guess).
  const uint64_t a = plat::tick_ms();
  uint64_t b = a;
  for (int i = 0; i < 200 && b == a; ++i) {
    plat::sleep_ms(5);
    b = plat::tick_ms();
  }
  EXPECT_GT(b, a);
}

TEST(Text, CodePage936BothWays) {
  const std::string gbk = plat::utf8_to_gbk("通道地址");
  EXPECT_EQ(gbk, "\xCD\xA8\xB5\xC0\xB5\xD8\xD6\xB7");
  EXPECT_EQ(plat::gbk_to_utf8(gbk), "通道地址");
  EXPECT_EQ(plat::utf8_to_gbk("abc"), "abc");
  EXPECT_EQ(plat::utf8_to_gbk("\xF0\x9F\x98\x80"), "?");  // not in GBK
  EXPECT_EQ(plat::utf8_to_gbk(""), "");
}

std::string temp_dir() {
  char buf[MAX_PATH];
  GetTempPathA(sizeof buf, buf);
  return std::string(buf) + "korvel-plat-" + std::to_string(GetCurrentProcessId());
}

TEST(Files, WindowsPathsSharedAppendSizeAndDelete) {
  EXPECT_EQ(plat::path_separator(), '\\');
  EXPECT_EQ(plat::native_path("a/b\\c"), "a\\b\\c");
  const std::string dir = temp_dir() + "/one/two";
  ASSERT_TRUE(plat::create_directories(dir));
  EXPECT_TRUE(plat::directory_exists(temp_dir() + "\\one\\two"));
  const std::string file = dir + "\\x.Log";
  plat::delete_file(file);
  EXPECT_EQ(plat::file_size(file), -1);
  // Another writer holds the file open (as a second host thread's log would): appends still land.
  HANDLE other = CreateFileA(plat::native_path(file).c_str(), GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(plat::append_shared(file, "abc"));
  EXPECT_TRUE(plat::append_shared(file, "de"));
  CloseHandle(other);
  EXPECT_EQ(plat::file_size(file), 5);
  std::string text;
  ASSERT_TRUE(plat::read_file(file, text));
  EXPECT_EQ(text, "abcde");
  EXPECT_TRUE(plat::file_exists(file));
  EXPECT_FALSE(plat::file_exists(dir));
  EXPECT_TRUE(plat::path_exists(dir));
  EXPECT_FALSE(plat::create_new_file(file));  // taken
  ASSERT_TRUE(plat::create_new_file(dir + "\\y.Log"));
  auto names = plat::list_files(dir);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"x.Log", "y.Log"}));  // no folders, no "." or ".."
  EXPECT_TRUE(plat::delete_file(dir + "/y.Log"));
  EXPECT_TRUE(plat::delete_file(file));
  EXPECT_FALSE(plat::file_exists(file));
  EXPECT_TRUE(plat::list_files(dir + "\\none").empty());
  // A folder that cannot be made (a file is in the way) is a plain false.
  ASSERT_TRUE(plat::write_file(dir + "\\blocker", "x"));
  EXPECT_FALSE(plat::create_directories(dir + "\\blocker\\sub"));
  EXPECT_FALSE(plat::append_shared(dir + "\\blocker\\sub\\y.Log", "x"));
}

TEST(HostEvent, SignalAndTake) {
  const plat::HostEvent e = plat::create_host_event();
  ASSERT_NE(e, 0);
  EXPECT_FALSE(plat::take_host_event(e));
  EXPECT_TRUE(plat::signal_host_event(e));
  EXPECT_TRUE(plat::take_host_event(e));
  EXPECT_FALSE(plat::take_host_event(e));
  plat::close_host_event(e);
  EXPECT_FALSE(plat::signal_host_event(0));
}

TEST(HostString, ComesFromTheTaskAllocator) {
  EXPECT_EQ(plat::host_strdup(""), nullptr);
  char* s = plat::host_strdup("Com1");
  ASSERT_NE(s, nullptr);
  EXPECT_STREQ(s, "Com1");
  IMalloc* m = nullptr;
  ASSERT_TRUE(SUCCEEDED(CoGetMalloc(1, &m)));
  EXPECT_EQ(m->DidAlloc(s), 1);
  EXPECT_EQ(m->GetSize(s), 5u);
  m->Release();
  CoTaskMemFree(s);  // as a host frees it
}

TEST(ThreadSlot, OnePointerPerThread) {
  static int a = 1, b = 2;
  plat::thread_slot_set(&a, nullptr);
  void* seen = &b;
  std::thread([&] { seen = plat::thread_slot_get(); }).join();
  EXPECT_EQ(seen, nullptr);
  EXPECT_EQ(plat::thread_slot_get(), &a);
  plat::thread_slot_set(nullptr, nullptr);
  EXPECT_EQ(plat::thread_slot_get(), nullptr);
}

TEST(Registry, InstallPathAndProcessor) {
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\ORVANE");
  EXPECT_EQ(plat::host_install_path(), "");
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\ORVANE", 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                            nullptr),
            ERROR_SUCCESS);
  const DWORD number = 7;
  RegSetValueExA(key, "PATH", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
  EXPECT_EQ(plat::host_install_path(), "");  // not a string
  const char value[] = "C:\\Tavlin\\Tavlin.exe";
  RegSetValueExA(key, "PATH", 0, REG_SZ, reinterpret_cast<const BYTE*>(value), sizeof value);
  EXPECT_EQ(plat::host_install_path(), value);
  RegCloseKey(key);
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\ORVANE");
  EXPECT_TRUE(plat::processor_description().available);
}

TEST(Serial, PortNamesAndRefusals) {
  EXPECT_EQ(plat::serial_device_path("Com9"), "Com9");
  EXPECT_EQ(plat::serial_device_path("Com10"), "\\\\?\\Com10");
  plat::SerialPort port;
  EXPECT_EQ(port.open("\\\\?\\Com16"), plat::OpenResult::Missing);
  EXPECT_FALSE(port.is_open());
  char buf[4];
  EXPECT_EQ(port.read(buf, sizeof buf), -1);
  EXPECT_EQ(port.write("x", 1, 100), -1);
  EXPECT_EQ(port.queued_input(), -1);
  EXPECT_FALSE(port.apply(plat::SerialLine{}));
  // A file is not a serial device.
  const std::string file = temp_dir() + "\\notaport";
  ASSERT_TRUE(plat::write_file(file, "x"));
  EXPECT_EQ(port.open(file), plat::OpenResult::NotTerminal);
  EXPECT_FALSE(port.is_open());
}

// Over a real line: the Linux side of the suite serves the simulator's test line on a
// pseudo-terminal mapped to the port named by KORVEL_HOST_COM (the block's ComPort, 4 = Com5).
class SerialLine : public ::testing::Test {
 protected:
  void SetUp() override {
    char buf[16];
    const DWORD n = GetEnvironmentVariableA("KORVEL_HOST_COM", buf, sizeof buf);
    if (n == 0 || n >= sizeof buf) GTEST_SKIP() << "run by the Linux side of the suite (tests/wine)";
    name_ = "Com" + std::to_string(std::stoi(std::string(buf, n)) + 1);
  }
  std::string name_;
};

// The DCB's software flow control as a raw handle of the device sees it (the terminal keeps it).
static bool SoftwareFlowControl(const std::string& name, bool set) {
  const HANDLE h = CreateFileA(plat::serial_device_path(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                               nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(h, INVALID_HANDLE_VALUE);
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  EXPECT_TRUE(GetCommState(h, &dcb));
  if (set) {
    dcb.fOutX = dcb.fInX = TRUE;
    EXPECT_TRUE(SetCommState(h, &dcb));
    EXPECT_TRUE(GetCommState(h, &dcb));
  }
  CloseHandle(h);
  return dcb.fOutX || dcb.fInX;
}

TEST_F(SerialLine, EveryRateParityAndStopBitsThenAnExchange) {
  // A port left with XON/XOFF by an earlier program: one stray XOFF would stop our sending.
  ASSERT_TRUE(SoftwareFlowControl(name_, true));
  plat::SerialPort port;
  ASSERT_EQ(port.open(plat::serial_device_path(name_)), plat::OpenResult::Ok);
  plat::SerialLine plain;
  plain.parity = plat::SerialParity::None;
  EXPECT_TRUE(port.apply(plain));
  port.close();
  EXPECT_FALSE(SoftwareFlowControl(name_, false));
  ASSERT_EQ(port.open(plat::serial_device_path(name_)), plat::OpenResult::Ok);
  // A pseudo-terminal carries no parity, and Wine's SetCommState refuses parity on one once it
  // has been set: the rates and stop bits are checked without parity.
  plat::SerialLine line;
  line.parity = plat::SerialParity::None;
  for (uint32_t baud : {110u, 300u, 600u, 1200u, 2400u, 4800u, 9600u, 14400u, 19200u, 38400u, 56000u, 57600u,
                        115200u, 128000u, 256000u}) {
    line.baud = baud;
    EXPECT_TRUE(port.apply(line)) << baud;
    plat::SerialLine back;
    ASSERT_TRUE(port.read_back(&back));
    // Wine takes the rates a terminal has no code for (14400, 56000, 128000, 256000) but reads
    // them back as the terminal's fallback; the others read back as set.
    const bool custom = baud == 14400 || baud == 56000 || baud == 128000 || baud == 256000;
    if (!custom) {
      EXPECT_EQ(back.baud, baud);
    }
  }
  line.baud = 19200;
  for (auto stop : {plat::SerialStopBits::Two, plat::SerialStopBits::OneAndHalf, plat::SerialStopBits::One}) {
    line.stop_bits = stop;
    EXPECT_TRUE(port.apply(line)) << static_cast<int>(stop);
    plat::SerialLine back;
    ASSERT_TRUE(port.read_back(&back));
    // A terminal has no 1.5 stop bits: it sends two.
    EXPECT_EQ(back.stop_bits, stop == plat::SerialStopBits::OneAndHalf ? plat::SerialStopBits::Two : stop);
  }
  // Every parity and a 4-bit word: whatever the device refuses, the port stays usable.
  for (auto parity : {plat::SerialParity::Odd, plat::SerialParity::Mark, plat::SerialParity::Space,
                      plat::SerialParity::Even}) {
    plat::SerialLine p = line;
    p.parity = parity;
    p.parity_check = true;
    port.apply(p);
  }
  plat::SerialLine four = line;
  four.data_bits = 4;
  EXPECT_FALSE(port.apply(four));
  EXPECT_TRUE(port.is_open());
  EXPECT_TRUE(port.apply(line));
  EXPECT_TRUE(port.set_queue_sizes(2048, 2048));
  char buf[64] = {};
  EXPECT_EQ(port.read(buf, sizeof buf), 0);  // nothing queued: at once, nothing
  port.purge_input();
  ASSERT_EQ(port.write("#01HD\r", 6, 1000), 6);
  std::string got;
  for (int i = 0; i < 200 && got.find('\r') == std::string::npos; ++i) {
    const long n = port.read(buf, sizeof buf);
    ASSERT_GE(n, 0);
    got.append(buf, static_cast<size_t>(n));
    if (n == 0) Sleep(10);
  }
  EXPECT_EQ(got, "=12.5AJE\r");
  EXPECT_FALSE(port.gone());
  port.close();
  EXPECT_FALSE(port.is_open());
}

TEST(SystemFacts, WindowsNamesAndSixtyFourBitMemory) {
  EXPECT_EQ(plat::windows_platform_text(2, 5, 1, 2600, ""), "Microsoft Windows XP (Build 2600)");
  EXPECT_EQ(plat::windows_platform_text(2, 5, 0, 0x12340893, "Service Pack 4"),
            "Microsoft Windows 2000Service Pack 4(Build 2195)");
  EXPECT_EQ(plat::windows_platform_text(2, 4, 0, 1381, "Service Pack 6"),
            "Microsoft Windows NT " + plat::utf8_to_gbk("版本 ") + "4.0.Service Pack 6(Build 1381)");
  EXPECT_EQ(plat::windows_platform_text(1, 4, 0, 950, " C"), "Microsoft Windows 95 OSR2 ");
  EXPECT_EQ(plat::windows_platform_text(1, 4, 10, 1998, " A"), "Microsoft Windows 98 SE ");
  EXPECT_EQ(plat::windows_platform_text(1, 4, 90, 3000, ""), "Microsoft Windows Millennium Edition ");
  EXPECT_EQ(plat::windows_platform_text(2, 10, 0, 19045, ""), "Microsoft Windows 10.0 (Build 19045)");
  EXPECT_EQ(plat::windows_platform_text(3, 5, 1, 0, ""), "");
  const plat::OsFacts os = plat::os_facts();
  EXPECT_TRUE(os.available);
  EXPECT_EQ(os.platform.rfind("Microsoft Windows", 0), 0u) << os.platform;
  const plat::MemoryFacts m = plat::memory_facts();
  EXPECT_GT(m.total_physical, 0);
  EXPECT_GE(m.total_physical, m.available_physical);
  const plat::ComputerFacts c = plat::computer_facts();
  EXPECT_EQ(c.architecture, "Intel");
  EXPECT_GT(c.processors, 0u);
  EXPECT_NE(plat::logical_drives() & (1u << 2), 0u);  // C:
}

TEST(Version, AProgramWithoutAResourceHasNone) {
  plat::FileVersion v;
  char exe[MAX_PATH];
  GetModuleFileNameA(nullptr, exe, sizeof exe);
  EXPECT_FALSE(plat::file_version_info(exe, v));
  EXPECT_FALSE(plat::file_version_info("no-such-file.dll", v));
  plat::ProductBranding b;
  EXPECT_FALSE(plat::product_branding(b));
  EXPECT_TRUE(b.product_text.empty());
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  const int rc = RUN_ALL_TESTS();
  CoUninitialize();
  return rc;
}
