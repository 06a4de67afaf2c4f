// The library's windows as a host on Windows sees them: DLLEdDev and DLLTestDev called on the host's
// own GUI thread, and a second thread that plays the user, with window messages or with real
// keyboard and mouse input (SendInput), finding pages by their captions and controls by their
// component names. Each page is photographed from the
// screen into a PNG file and checked for real, distinct Chinese glyphs. Run under Wine with an X
// server by the Linux side (tests/wine), which passes the folder for the pictures.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "driver/PDB.h"
#include "exports/KorvelPLNK.h"
#include "tests/common/window_scenarios.h"

namespace {

using korvel::PDB;

std::string env_text(const char* name) {
  char buf[1024];
  const DWORD n = GetEnvironmentVariableA(name, buf, sizeof buf);
  return n > 0 && n < sizeof buf ? std::string(buf, n) : std::string();
}

std::wstring wide(const char* utf8) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
  std::wstring w(static_cast<size_t>(n > 0 ? n - 1 : 0), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8, -1, w.data(), n);
  return w;
}

std::wstring text_of(HWND h) {
  wchar_t buf[512] = {};
  GetWindowTextW(h, buf, 511);
  return buf;
}

// ---------------------------------------------------------------- the library

struct Lib {
  HMODULE lib = nullptr;
  decltype(&::FullPDB) FullPDB = nullptr;
  decltype(&::DLLEdDev) DLLEdDev = nullptr;
  decltype(&::DLLTestDev) DLLTestDev = nullptr;
};

Lib& lib() {
  static Lib l;
  if (l.lib) return l;
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  std::string dir(path, n);
  dir = dir.substr(0, dir.find_last_of('\\') + 1);
  l.lib = LoadLibraryA((dir + "KorvelPLNK.dll").c_str());
  if (!l.lib) return l;
  l.FullPDB =
      reinterpret_cast<decltype(l.FullPDB)>(reinterpret_cast<void*>(GetProcAddress(l.lib, "FullPDB")));
  l.DLLEdDev =
      reinterpret_cast<decltype(l.DLLEdDev)>(reinterpret_cast<void*>(GetProcAddress(l.lib, "DLLEdDev")));
  l.DLLTestDev =
      reinterpret_cast<decltype(l.DLLTestDev)>(reinterpret_cast<void*>(GetProcAddress(l.lib, "DLLTestDev")));
  return l;
}

// ---------------------------------------------------------------- finding windows and controls

struct Found {
  std::wstring part;
  HWND hwnd = nullptr;
  std::wstring cls = L"KorvelPLNKForm";
};

BOOL CALLBACK match_page(HWND h, LPARAM lp) {
  auto* f = reinterpret_cast<Found*>(lp);
  wchar_t cls[64] = {};
  GetClassNameW(h, cls, 63);
  DWORD pid = 0;
  GetWindowThreadProcessId(h, &pid);
  if (pid == GetCurrentProcessId() && f->cls == cls && IsWindowVisible(h) &&
      text_of(h).find(f->part) != std::wstring::npos) {
    f->hwnd = h;
    return FALSE;
  }
  return TRUE;
}

// The shown page whose caption holds part; nullptr when none appeared within ms.
HWND wait_page(const std::wstring& part, DWORD ms = 60000, const wchar_t* cls = L"KorvelPLNKForm") {
  const DWORD start = GetTickCount();
  do {
    Found f{part, nullptr, cls};
    EnumWindows(match_page, reinterpret_cast<LPARAM>(&f));
    if (f.hwnd) return f.hwnd;
    Sleep(50);
  } while (GetTickCount() - start < ms);
  return nullptr;
}

struct Named {
  std::wstring name;
  HWND hwnd = nullptr;
};

BOOL CALLBACK match_name(HWND h, LPARAM lp) {
  auto* n = reinterpret_cast<Named*>(lp);
  auto atom = static_cast<ATOM>(reinterpret_cast<UINT_PTR>(GetPropW(h, L"KorvelName")));
  wchar_t buf[128] = {};
  if (atom && GlobalGetAtomNameW(atom, buf, 127) && n->name == buf) {
    n->hwnd = h;
    return FALSE;
  }
  return TRUE;
}

// A control of a page by its component name.
HWND control(HWND page, const char* name) {
  Named n{wide(name)};
  EnumChildWindows(page, match_name, reinterpret_cast<LPARAM>(&n));
  return n.hwnd;
}

void click(HWND page, const char* name) {
  HWND b = control(page, name);
  ASSERT_NE(b, nullptr) << name;
  PostMessageW(b, BM_CLICK, 0, 0);
}

// The window with the keyboard focus on the page's thread, nullptr when none.
HWND focus_of(HWND page) {
  GUITHREADINFO gui{};
  gui.cbSize = sizeof gui;
  return GetGUIThreadInfo(GetWindowThreadProcessId(page, nullptr), &gui) ? gui.hwndFocus : nullptr;
}

// A key as the keyboard delivers it to the focused control; held = a repeat of a key held down.
void key(HWND page, UINT vk, bool held = false) {
  HWND target = focus_of(page);
  if (!target) target = page;
  PostMessageW(target, WM_KEYDOWN, vk, held ? 0x40000001 : 1);
  PostMessageW(target, WM_KEYUP, vk, 0xC0000001);
}

// Waits until done() holds; false when it did not within ms.
bool wait_for(const std::function<bool()>& done, DWORD ms = 10000) {
  const DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start >= ms) return false;
    Sleep(20);
  }
  return true;
}

bool gone(HWND h, DWORD ms = 10000) {
  return wait_for([h] { return !IsWindow(h) || !IsWindowVisible(h); }, ms);
}

bool checked(HWND page, const char* name) {
  return SendMessageW(control(page, name), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

// The text of a cell of a list view (a string grid).
std::wstring cell_text(HWND grid, int item, int sub_item) {
  wchar_t buf[128] = {};
  LVITEMW it{};
  it.iSubItem = sub_item;
  it.pszText = buf;
  it.cchTextMax = 127;
  SendMessageW(grid, LVM_GETITEMTEXTW, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&it));
  return buf;
}

// ---------------------------------------------------------------- screenshots

struct Shot {
  int width = 0, height = 0;
  std::vector<std::uint32_t> px;  // 0xRRGGBB, row by row
  std::uint32_t at(int x, int y) const {
    return px[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
  }
};

std::uint32_t crc32(const unsigned char* p, size_t n, std::uint32_t c = 0xFFFFFFFFu) {
  for (size_t i = 0; i < n; ++i) {
    c ^= p[i];
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
  }
  return c;
}

void put32(std::string& s, std::uint32_t v) {
  for (int i = 3; i >= 0; --i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
}

void chunk(std::string& out, const char* type, const std::string& data) {
  put32(out, static_cast<std::uint32_t>(data.size()));
  std::string body = std::string(type, 4) + data;
  out += body;
  put32(out, crc32(reinterpret_cast<const unsigned char*>(body.data()), body.size()) ^ 0xFFFFFFFFu);
}

// An RGB PNG with stored (uncompressed) deflate blocks: small code, any viewer reads it.
bool write_png(const Shot& s, const std::string& path) {
  std::string raw;
  for (int y = 0; y < s.height; ++y) {
    raw += '\0';
    for (int x = 0; x < s.width; ++x) {
      const std::uint32_t p = s.at(x, y);
      raw += static_cast<char>((p >> 16) & 0xFF);
      raw += static_cast<char>((p >> 8) & 0xFF);
      raw += static_cast<char>(p & 0xFF);
    }
  }
  std::string z = "\x78\x01";
  std::uint32_t a = 1, b = 0;
  for (unsigned char ch : raw) {
    a = (a + ch) % 65521;
    b = (b + a) % 65521;
  }
  for (size_t at = 0; at < raw.size() || at == 0;) {
    const size_t n = std::min<size_t>(65535, raw.size() - at);
    const bool last = at + n >= raw.size();
    z += static_cast<char>(last ? 1 : 0);
    z += static_cast<char>(n & 0xFF);
    z += static_cast<char>(n >> 8);
    z += static_cast<char>(~n & 0xFF);
    z += static_cast<char>((~n >> 8) & 0xFF);
    z.append(raw, at, n);
    at += n;
    if (last) break;
  }
  put32(z, (b << 16) | a);
  std::string ihdr;
  put32(ihdr, static_cast<std::uint32_t>(s.width));
  put32(ihdr, static_cast<std::uint32_t>(s.height));
  ihdr += std::string("\x08\x02\x00\x00\x00", 5);
  std::string png = "\x89PNG\r\n\x1a\n";
  chunk(png, "IHDR", ihdr);
  chunk(png, "IDAT", z);
  chunk(png, "IEND", "");
  HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  DWORD put = 0;
  WriteFile(f, png.data(), static_cast<DWORD>(png.size()), &put, nullptr);
  CloseHandle(f);
  return put == png.size();
}

// The window as it is on the screen, frame and caption included.
Shot capture(HWND h) {
  Shot s;
  RECT r;
  GetWindowRect(h, &r);
  s.width = r.right - r.left;
  s.height = r.bottom - r.top;
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = s.width;
  bi.bmiHeader.biHeight = -s.height;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP bmp = CreateDIBSection(mem, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(mem, bmp);
  BitBlt(mem, 0, 0, s.width, s.height, screen, r.left, r.top, SRCCOPY);
  GdiFlush();
  const auto* p = static_cast<const std::uint32_t*>(bits);
  s.px.assign(p, p + static_cast<size_t>(s.width) * static_cast<size_t>(s.height));
  for (auto& v : s.px) v &= 0xFFFFFF;
  SelectObject(mem, old);
  DeleteObject(bmp);
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);
  return s;
}

int dark(const Shot& s, const RECT& r) {
  int n = 0;
  for (int y = std::max(0, static_cast<int>(r.top)); y < std::min(s.height, static_cast<int>(r.bottom)); ++y)
    for (int x = std::max(0, static_cast<int>(r.left)); x < std::min(s.width, static_cast<int>(r.right));
         ++x) {
      const std::uint32_t p = s.at(x, y);
      if (((p >> 16) & 0xFF) + ((p >> 8) & 0xFF) + (p & 0xFF) < 3 * 128) ++n;
    }
  return n;
}

// The pixels of a control, relative to the window's picture.
RECT place(HWND page, HWND c) {
  RECT w, r;
  GetWindowRect(page, &w);
  GetWindowRect(c, &r);
  OffsetRect(&r, -w.left, -w.top);
  return r;
}

// How many different pictures the first cells of a text line hold, one cell per glyph width: text
// drawn with a font that lacks the glyphs shows the same box in every cell.
size_t distinct_cells(const Shot& s, const RECT& r, int cell, int cells) {
  std::set<std::vector<std::uint32_t>> seen;
  for (int i = 0; i < cells; ++i) {
    std::vector<std::uint32_t> px;
    for (int y = r.top; y < std::min(static_cast<int>(r.bottom), s.height); ++y)
      for (int x = r.left + i * cell; x < r.left + (i + 1) * cell && x < s.width; ++x)
        px.push_back(s.at(x, y));
    seen.insert(px);
  }
  return seen.size();
}

// Photographs page into <dir>/<file> and checks the picture: many colours (frame, caption, controls),
// and the named labels show dark, distinct glyphs.
void photograph_texts(HWND page, const std::string& file, std::vector<HWND> texts) {
  SCOPED_TRACE(file);
  ASSERT_NE(page, nullptr);
  // Painted now, by its own thread; the picture is taken once the screen shows the texts (what a
  // window draws reaches the screen a little later).
  RedrawWindow(page, nullptr, nullptr,
               RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
  Shot s;
  wait_for(
      [&] {
        s = capture(page);
        return std::all_of(texts.begin(), texts.end(),
                           [&](HWND l) { return l && dark(s, place(page, l)) > 40; });
      },
      5000);
  ASSERT_GT(s.width, 100);
  ASSERT_GT(s.height, 100);
  const std::string dir = env_text("KORVEL_SCREENSHOT_DIR");
  if (!dir.empty()) {
    EXPECT_TRUE(write_png(s, dir + "\\" + file)) << dir;
  }
  std::set<std::uint32_t> colours(s.px.begin(), s.px.end());
  EXPECT_GT(colours.size(), 20u);
  for (HWND l : texts) {
    ASSERT_NE(l, nullptr);
    RECT r = place(page, l);
    EXPECT_GT(dark(s, r), 40);
    // Glyph cells: the label's font height is about one full-width character's width.
    const int cell = std::max(8, std::min(static_cast<int>(r.bottom - r.top) - 4, 20));
    EXPECT_GE(distinct_cells(s, r, cell, 4), 3u);
  }
  // The caption bar carries its text: light glyphs on the dark bar, or dark on a light one.
  POINT origin{0, 0};
  ClientToScreen(page, &origin);
  RECT w;
  GetWindowRect(page, &w);
  RECT bar{8, 4, s.width - 60, origin.y - w.top - 2};
  EXPECT_GT(bar.bottom - bar.top, 10) << "no caption bar";
  std::set<std::uint32_t> bar_colours;
  for (int y = bar.top; y < bar.bottom; ++y)
    for (int x = bar.left; x < bar.right; ++x) bar_colours.insert(s.at(x, y));
  EXPECT_GT(bar_colours.size(), 4u) << "caption bar without text";
}

// The same for labels named by their component names.
void photograph(HWND page, const std::string& file, std::vector<const char*> labels) {
  std::vector<HWND> texts;
  for (const char* name : labels) {
    texts.push_back(control(page, name));
    EXPECT_NE(texts.back(), nullptr) << name;
  }
  photograph_texts(page, file, texts);
}

// ---------------------------------------------------------------- the host's window

// What the host's menu does while a library window is up (its loop serves the host's window too):
// a device test of the block set here; its result and how long the call took.
std::atomic<void*> g_menu_block{nullptr};
std::atomic<int> g_menu_result{-1};
std::atomic<DWORD> g_menu_ms{0};
// Markers the user thread posts behind its input: counted when the GUI thread's loop comes to them.
std::atomic<int> g_markers{0};
constexpr UINT kMenuTest = WM_APP + 7;
constexpr UINT kMarker = WM_APP + 8;

LRESULT CALLBACK host_proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == kMenuTest) {
    const DWORD t0 = GetTickCount();
    g_menu_result = lib().DLLTestDev(g_menu_block.load(), 1);
    g_menu_ms = GetTickCount() - t0;
    return 0;
  }
  if (msg == kMarker) {
    ++g_markers;
    return 0;
  }
  return DefWindowProcW(h, msg, wp, lp);
}

HWND host_window() {
  static HWND h = [] {
    WNDCLASSW wc{};
    wc.lpfnWndProc = host_proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_APPWORKSPACE + 1);
    wc.lpszClassName = L"KorvelTestHost";
    RegisterClassW(&wc);
    HWND w = CreateWindowExW(0, L"KorvelTestHost", L"Host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 300, 200,
                             nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    return w;
  }();
  return h;
}

// Returns once the GUI thread has handled every message posted to it before this call: a posted
// message is handled after those posted earlier (a sent one would overtake them).
// Set once the library's call on the GUI thread has returned: no loop takes markers any more.
std::atomic<bool> g_returned{false};

bool settle() {
  const int want = g_markers + 1;
  PostMessageW(host_window(), kMarker, 0, 0);
  return wait_for([want] { return g_markers >= want || g_returned; });
}

void pump(DWORD ms) {
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < ms) {
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
    Sleep(10);
  }
}

// Runs user on a second thread while fn runs on this (the host's GUI) thread.
template <class Fn>
auto with_user(std::function<void()> user, Fn fn) {
  std::thread t([&] { user(); });
  auto r = fn();
  t.join();
  return r;
}

std::unique_ptr<PDB> block_with(std::initializer_list<int> modules, int com = 4) {
  std::unique_ptr<PDB> b(static_cast<PDB*>(operator new(sizeof(PDB))));
  lib().FullPDB(b.get());
  b->ComPort = static_cast<uint8_t>(com);
  if (modules.size() > 0) b->Devices[0].DevType = 2;  // the defaults configure module 0
  for (int id : modules) {
    b->Devices[id].DevID = id;
    b->Devices[id].DevType = 1;
    b->Devices[id].DevTypeName.set("PLNK");
  }
  return b;
}

const std::wstring kStart = wide("向导：选择执行的操作方式");
const std::wstring kMethod = wide("向导：选择创建设备的方式");

TEST(Windows, WizardRoundTripThroughWindowMessages) {
  ASSERT_NE(lib().DLLEdDev, nullptr);
  HWND host = host_window();
  pump(200);
  auto block = block_with({3});
  std::atomic<bool> host_disabled{false};
  const int32_t result = with_user(
      [&] {
        HWND start = wait_page(kStart);
        ASSERT_NE(start, nullptr);
        host_disabled = !IsWindowEnabled(host);
        photograph(start, "win_1_TStartFrm.png", {"Label1", "Label2"});
        // Return reaches the default button (Next); a held Return's repeats on the next page do not.
        key(start, VK_RETURN);
        HWND method = wait_page(kMethod);
        ASSERT_NE(method, nullptr);
        EXPECT_TRUE(gone(start));
        key(method, VK_RETURN, true);
        ASSERT_TRUE(settle());
        EXPECT_TRUE(IsWindowVisible(method)) << "a held key walked on";
        photograph(method, "win_2_TStep1Frm.png", {"Label1", "Label2"});
        click(method, "NextBtn");  // single device
        HWND single = wait_page(wide("向导：创建单个"));
        photograph(single, "win_4_TStep11Frm.png", {"Label1", "Label2"});
        click(single, "LastBtn");
        method = wait_page(kMethod);
        ASSERT_NE(method, nullptr);
        click(method, "MulCreate");
        ASSERT_TRUE(wait_for([&] { return checked(method, "MulCreate"); }));
        click(method, "NextBtn");
        HWND list = wait_page(wide("向导：创建多个"));
        ASSERT_NE(list, nullptr);
        HWND id = control(list, "IDEd");
        HWND tree = control(list, "DeviceTree");
        ASSERT_NE(id, nullptr);
        ASSERT_NE(tree, nullptr);
        for (const char* station : {"12", "7"}) {
          const auto nodes = SendMessageW(tree, TVM_GETCOUNT, 0, 0);
          // Sent, so the text is in before the posted character and click that follow.
          SendMessageW(id, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide(station).c_str()));
          PostMessageW(id, WM_CHAR, 'x', 1);  // not a digit: the page's filter drops it
          click(list, "AddBtn");
          ASSERT_TRUE(wait_for([&] { return SendMessageW(tree, TVM_GETCOUNT, 0, 0) > nodes; })) << station;
        }
        photograph(list, "win_5_TStep12Frm.png", {"Label1", "Label2"});
        click(list, "NextBtn");
        HWND serial = wait_page(wide("向导：修改计算机串行口通讯参数"));
        ASSERT_NE(serial, nullptr);
        photograph(serial, "win_6_TStep4Frm.png", {"Label1", "Label2"});
        click(serial, "PModemCbox");
        ASSERT_TRUE(wait_for([&] { return checked(serial, "PModemCbox"); }));
        click(serial, "NextBtn");
        HWND timing = wait_page(wide("向导：其它高级参数及Modem参数设置"));
        ASSERT_NE(timing, nullptr);
        photograph(timing, "win_7_TStep5Frm.png", {"Label1", "Label2"});
        click(timing, "NextBtn");
        HWND end = wait_page(wide("向导：向导退出前的确认"));
        ASSERT_NE(end, nullptr);
        photograph(end, "win_8_TEndFrm.png", {"Label1", "Label2"});
        click(end, "FinishBtn");
      },
      [&] { return lib().DLLEdDev(reinterpret_cast<intptr_t>(host), block.get()); });
  EXPECT_EQ(result, 1);
  EXPECT_TRUE(host_disabled);
  EXPECT_TRUE(IsWindowEnabled(host));
  // The stations, sorted and packed from entry 0, at their places in the stored block.
  const auto* bytes = reinterpret_cast<const unsigned char*>(block.get());
  auto dev_id = [&](int entry) {
    int32_t v = 0;
    std::memcpy(&v,
                bytes + offsetof(PDB, Devices) + static_cast<size_t>(entry) * sizeof(korvel::TDevInfo) +
                    offsetof(korvel::TDevInfo, DevID),
                sizeof v);
    return v;
  };
  EXPECT_EQ(dev_id(0), 3);
  EXPECT_EQ(dev_id(1), 7);
  EXPECT_EQ(dev_id(2), 12);
  EXPECT_NE(block->Devices[2].DevType, 2);
  EXPECT_EQ(block->Devices[3].DevType, 2);
}

BOOL CALLBACK count_pages(HWND h, LPARAM count) {
  wchar_t cls[64] = {};
  GetClassNameW(h, cls, 63);
  if (std::wstring(cls) == L"KorvelPLNKForm" && IsWindowVisible(h)) ++*reinterpret_cast<size_t*>(count);
  return TRUE;
}

// While a wizard runs, a second one from another thread is refused at once and shows nothing; the
// host ending its message loop ends the wizard as the close box does, and the host's loop still
// gets its quit.
TEST(Windows, ASecondWizardIsRefusedAndTheHostsQuitEndsTheFirst) {
  HWND host = host_window();
  pump(200);
  auto block = block_with({3});
  auto other = block_with({5});
  const DWORD gui_thread = GetCurrentThreadId();
  int32_t second = -1;
  DWORD second_ms = 0;
  size_t pages = 0;
  const int32_t result = with_user(
      [&] {
        HWND start = wait_page(kStart);
        ASSERT_NE(start, nullptr);
        const DWORD t0 = GetTickCount();
        second = lib().DLLEdDev(0, other.get());
        second_ms = GetTickCount() - t0;
        EnumWindows(count_pages, reinterpret_cast<LPARAM>(&pages));
        PostThreadMessageW(gui_thread, WM_QUIT, 7, 0);
        EXPECT_TRUE(gone(start));
      },
      [&] { return lib().DLLEdDev(reinterpret_cast<intptr_t>(host), block.get()); });
  EXPECT_EQ(second, 2);
  EXPECT_LT(second_ms, 2000u);
  EXPECT_EQ(pages, 1u);
  EXPECT_TRUE(result == 1 || result == 2) << result;
  EXPECT_TRUE(IsWindowEnabled(host));
  MSG m;
  ASSERT_TRUE(PeekMessageW(&m, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << "the host's quit was swallowed";
  EXPECT_EQ(m.wParam, 7u);
}

TEST(Windows, CancelLeavesTheBlockByteForByteAndTheDebugWindowShows) {
  HWND host = host_window();
  pump(200);
  auto block = block_with({3, 9});
  // A first run settles what the block check changes on its own (a change the host learns of).
  with_user(
      [] {
        HWND start = wait_page(kStart);
        ASSERT_NE(start, nullptr);
        key(start, VK_ESCAPE);
      },
      [&] { return lib().DLLEdDev(reinterpret_cast<intptr_t>(host), block.get()); });
  std::vector<unsigned char> before(reinterpret_cast<unsigned char*>(block.get()),
                                    reinterpret_cast<unsigned char*>(block.get()) + sizeof(PDB));
  const int32_t result = with_user(
      [&] {
        HWND start = wait_page(kStart);
        ASSERT_NE(start, nullptr);
        click(start, "DebugBtn");
        HWND debug = wait_page(wide("设置调试选项"));
        ASSERT_NE(debug, nullptr);
        photograph(debug, "win_9_TDebugFrm.png", {"Label1", "Label2"});
        PostMessageW(debug, WM_CLOSE, 0, 0);  // the close box keeps the switches in the working copy
        ASSERT_TRUE(gone(debug));
        start = wait_page(kStart);
        ASSERT_NE(start, nullptr);
        click(start, "ModifyOp");
        ASSERT_TRUE(wait_for([&] { return checked(start, "ModifyOp"); }));
        click(start, "NextBtn");
        HWND list = wait_page(wide("向导：创建多个"));
        ASSERT_NE(list, nullptr);
        photograph(list, "win_3_TStep2Frm.png", {"Label1", "Label2"});
        // The tree taking the focus (a click below its nodes) highlights nothing: nothing is selected.
        HWND tree = control(list, "DeviceTree");
        ASSERT_NE(tree, nullptr);
        RECT r;
        GetClientRect(tree, &r);
        for (UINT m : {WM_LBUTTONDOWN, WM_LBUTTONUP})
          PostMessageW(tree, m, m == WM_LBUTTONUP ? 0 : MK_LBUTTON, MAKELPARAM(r.right - 4, r.bottom - 4));
        ASSERT_TRUE(wait_for([&] { return focus_of(list) == tree; }));
        ASSERT_TRUE(settle());
        EXPECT_EQ(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0), 0) << "a node is shown selected";
        key(list, VK_ESCAPE);  // Cancel
      },
      [&] { return lib().DLLEdDev(reinterpret_cast<intptr_t>(host), block.get()); });
  EXPECT_EQ(result, 2);
  EXPECT_TRUE(IsWindowEnabled(host));
  EXPECT_EQ(std::memcmp(before.data(), block.get(), sizeof(PDB)), 0);
}

// A system dialog of this process: a message box or the save dialog.
HWND wait_dialog(DWORD ms = 15000) {
  return wait_page(L"", ms, L"#32770");
}

TEST(Windows, DebugWindowWarnsOnceAndSavesItsMemoThroughTheSaveDialog) {
  HWND host = host_window();
  pump(200);
  auto block = block_with({});
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring chosen = std::wstring(temp) + L"korvel-saved";
  const std::wstring saved = chosen + L".Log";  // the dialog adds the default extension
  DeleteFileW(saved.c_str());
  const std::wstring text = wide("第一行\r\nsecond line");
  std::atomic<bool> warned{false};
  with_user(
      [&] {
        HWND start = wait_page(kStart);
        ASSERT_NE(start, nullptr);
        click(start, "DebugBtn");
        HWND debug = wait_page(wide("设置调试选项"));
        ASSERT_NE(debug, nullptr);
        click(debug, "EnDebugChk");
        // The warning comes once, owned by the debug window; OK goes back to it.
        HWND box = wait_dialog();
        ASSERT_NE(box, nullptr);
        warned = GetWindow(box, GW_OWNER) == debug;
        photograph_texts(box, "win_11_warning.png", {GetDlgItem(box, 0xFFFF)});  // its text
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        ASSERT_TRUE(gone(box));
        // The log (if any) is loaded after half a second, while the loading bar shows.
        HWND bar = control(debug, "LoadBar");
        ASSERT_NE(bar, nullptr);
        EXPECT_TRUE(wait_for([bar] { return !IsWindowVisible(bar); }));
        HWND memo = control(debug, "LogMemo");
        ASSERT_NE(memo, nullptr);
        EXPECT_TRUE(wait_for([memo] { return IsWindowEnabled(memo) != FALSE; }));
        // Long log lines scroll sideways instead of being cut at the edge.
        EXPECT_NE(GetWindowLongW(memo, GWL_STYLE) & WS_HSCROLL, 0);
        // Typed over the whole content (a multi-line edit reports no change for WM_SETTEXT).
        SendMessageW(memo, EM_SETSEL, 0, -1);
        SendMessageW(memo, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(text.c_str()));
        // Tab takes the focus on from the editable memo (to the next button) and types nothing.
        for (UINT m : {WM_LBUTTONDOWN, WM_LBUTTONUP})
          PostMessageW(memo, m, m == WM_LBUTTONUP ? 0 : MK_LBUTTON, 0);
        EXPECT_TRUE(wait_for([&] { return focus_of(debug) == memo; }));
        key(debug, VK_TAB);
        EXPECT_TRUE(wait_for([&] { return focus_of(debug) == control(debug, "SaveBtn"); }))
            << "Tab stayed in the memo";
        click(debug, "SaveBtn");
        HWND save = wait_dialog();
        ASSERT_NE(save, nullptr);
        HWND name = GetDlgItem(save, 0x47c);  // the file name box of the save dialog
        if (!name) name = GetDlgItem(save, 0x480);
        ASSERT_NE(name, nullptr);
        SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(chosen.c_str()));
        PostMessageW(save, WM_COMMAND, IDOK, 0);
        ASSERT_TRUE(gone(save));
        PostMessageW(debug, WM_CLOSE, 0, 0);
        ASSERT_TRUE(gone(debug));
        start = wait_page(kStart);
        ASSERT_NE(start, nullptr);
        click(start, "CancelBtn");
      },
      [&] { return lib().DLLEdDev(reinterpret_cast<intptr_t>(host), block.get()); });
  EXPECT_TRUE(warned);
  HANDLE f = CreateFileW(saved.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(f, INVALID_HANDLE_VALUE) << "nothing saved";
  char buf[256] = {};
  DWORD got = 0;
  ReadFile(f, buf, sizeof buf - 1, &got, nullptr);
  CloseHandle(f);
  // The memo's lines as GBK, each ended by CR LF.
  const int n = WideCharToMultiByte(936, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string want(static_cast<size_t>(n - 1), '\0');
  WideCharToMultiByte(936, 0, text.c_str(), -1, want.data(), n, nullptr, nullptr);
  EXPECT_EQ(std::string(buf, got), want + "\r\n");
}

// The page's fixed geometry in logical pixels, scaled by the screen's DPI (KORVEL_EXPECT_DPI names
// the DPI the Linux side gave the session).
TEST(Windows, PagesFollowTheScreensDpi) {
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  const std::string want = env_text("KORVEL_EXPECT_DPI");
  if (!want.empty()) {
    EXPECT_EQ(dpi, std::stoi(want));
  }
  HWND host = host_window();
  pump(200);
  auto block = block_with({});
  with_user(
      [&] {
        HWND start = wait_page(kStart);
        ASSERT_NE(start, nullptr);
        RECT client;
        GetClientRect(start, &client);
        EXPECT_EQ(client.right, MulDiv(480, dpi, 96));
        EXPECT_EQ(client.bottom, MulDiv(340, dpi, 96));
        HWND label = control(start, "Label2");
        ASSERT_NE(label, nullptr);
        RECT r;
        GetWindowRect(label, &r);
        POINT at{r.left, r.top};
        ScreenToClient(start, &at);
        EXPECT_EQ(at.x, MulDiv(16, dpi, 96));
        EXPECT_EQ(at.y, MulDiv(40, dpi, 96));
        EXPECT_EQ(r.right - r.left, MulDiv(450, dpi, 96));
        photograph(start, "win_12_TStartFrm_" + std::to_string(dpi) + "dpi.png", {"Label1", "Label2"});
        key(start, VK_ESCAPE);
        EXPECT_TRUE(gone(start));
      },
      [&] { return lib().DLLEdDev(reinterpret_cast<intptr_t>(host), block.get()); });
}

// The device test of module 1 on the simulator's port, with a short time-out.
std::unique_ptr<PDB> test_block() {
  const std::string com = env_text("KORVEL_HOST_COM");
  auto block = block_with({1}, com.empty() ? 4 : std::stoi(com));
  block->TimeOut = 300;
  return block;
}

// Waits for the grid's first value to show what the simulator answers.
bool shows_live_value(HWND grid) {
  return wait_for([grid] { return cell_text(grid, 0, 1) == L"12.5"; }, 15000);
}

TEST(Windows, DeviceTestWindowShowsALiveValueKeepsAnEditedCellAndExits) {
  ASSERT_NE(lib().DLLTestDev, nullptr);
  auto block = test_block();
  bool live = false;
  const KBool result = with_user(
      [&] {
        HWND w = wait_page(wide("设备测试窗口"));
        ASSERT_NE(w, nullptr);
        HWND grid = control(w, "StringGrid1");
        ASSERT_NE(grid, nullptr);
        live = shows_live_value(grid);
        photograph(w, "win_10_TSampleTest.png", {"Label1", "Label2"});
        // Every header is whole: its column is wider than the header's text and margins.
        HWND header = reinterpret_cast<HWND>(SendMessageW(grid, LVM_GETHEADER, 0, 0));
        HDC dc = GetDC(header);
        HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(header, WM_GETFONT, 0, 0)));
        for (int c = 0; c < 4; ++c) {
          wchar_t text[64] = {};
          HDITEMW item{};
          item.mask = HDI_TEXT;
          item.pszText = text;
          item.cchTextMax = 63;
          SendMessageW(header, HDM_GETITEMW, static_cast<WPARAM>(c), reinterpret_cast<LPARAM>(&item));
          SIZE ext{};
          GetTextExtentPoint32W(dc, text, static_cast<int>(wcslen(text)), &ext);
          EXPECT_GE(SendMessageW(grid, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(c), 0),
                    ext.cx + 6 * GetSystemMetrics(SM_CXEDGE))
              << "column " << c;
        }
        SelectObject(dc, old);
        ReleaseDC(header, dc);
        // Paused, the grid keeps what the user types into a cell (a double click opens it).
        click(w, "PauseBtn");
        ASSERT_TRUE(wait_for([&] { return text_of(control(w, "PauseBtn")) == wide("继续"); }));
        RECT cell{};
        cell.top = 1;
        cell.left = LVIR_BOUNDS;
        SendMessageW(grid, LVM_GETSUBITEMRECT, 0, reinterpret_cast<LPARAM>(&cell));
        const LPARAM at = MAKELPARAM((cell.left + cell.right) / 2, (cell.top + cell.bottom) / 2);
        for (UINT m : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP})
          PostMessageW(grid, m, m == WM_LBUTTONUP ? 0 : MK_LBUTTON, at);
        HWND editor = nullptr;
        wait_for([&] { return (editor = FindWindowExW(grid, nullptr, L"Edit", nullptr)) != nullptr; });
        ASSERT_NE(editor, nullptr) << "no cell editor";
        SendMessageW(editor, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"42"));
        PostMessageW(editor, WM_KEYDOWN, VK_RETURN, 1);
        EXPECT_TRUE(wait_for([&] { return cell_text(grid, 0, 1) == L"42"; }));
        EXPECT_TRUE(wait_for([&] { return !IsWindow(editor); }));
        click(w, "ExitBtn");
        EXPECT_TRUE(gone(w));
      },
      [&] { return lib().DLLTestDev(block.get(), 1); });
  EXPECT_TRUE(live);
  EXPECT_EQ(result, 1);
}

// The device test is modal to the host's window, as the wizard is. A second test while it is open,
// from the host's menu (which the window's loop still serves) or from another thread, is refused
// at once and leaves the open one working.
TEST(Windows, TheDeviceTestIsModalToTheHostAndASecondOneIsRefused) {
  auto block = test_block();
  HWND host = host_window();
  pump(200);
  SetActiveWindow(host);  // the user calls the test from the host's window
  g_menu_block = block.get();
  bool host_disabled = false, owned = false, live = false;
  KBool other = 2;
  DWORD other_ms = 0;
  const KBool result = with_user(
      [&] {
        HWND w = wait_page(wide("设备测试窗口"));
        ASSERT_NE(w, nullptr);
        host_disabled = !IsWindowEnabled(host);
        owned = GetWindow(w, GW_OWNER) == host;
        PostMessageW(host, kMenuTest, 0, 0);
        ASSERT_TRUE(wait_for([] { return g_menu_result != -1; })) << "the second test never returned";
        const DWORD t0 = GetTickCount();
        other = lib().DLLTestDev(block.get(), 1);
        other_ms = GetTickCount() - t0;
        live = IsWindowVisible(w) && shows_live_value(control(w, "StringGrid1"));
        click(w, "ExitBtn");
        EXPECT_TRUE(gone(w));
      },
      [&] { return lib().DLLTestDev(block.get(), 1); });
  EXPECT_TRUE(host_disabled);
  EXPECT_TRUE(owned);
  EXPECT_EQ(g_menu_result, 0);
  EXPECT_LT(g_menu_ms, 2000u);
  EXPECT_EQ(other, 0);
  EXPECT_LT(other_ms, 2000u);
  EXPECT_TRUE(live) << "the open test stopped working";
  EXPECT_EQ(result, 1);
  EXPECT_TRUE(IsWindowEnabled(host));
}

// ---------------------------------------------------------------- the user's scenarios, real input

}  // namespace

namespace korvel::test {
// A row by its name in test names and messages.
static void PrintTo(const WindowScenario& row, std::ostream* os) {
  *os << row.name;
}
static void PrintTo(const HostModule& m, std::ostream* os) {
  *os << "{entry " << m.entry << ", station " << m.id << ", type " << int{m.type} << "}";
}
}  // namespace korvel::test

namespace {
namespace scenario {

using korvel::test::HostModule;
using korvel::test::UserAct;
using korvel::test::UserStep;
using korvel::test::WindowScenario;

// Real input reaches the GUI thread behind the messages posted to it, so a posted marker alone does
// not tell that it arrived: a hook on that thread counts the key presses and button releases it
// takes from its queue. (A key's release may never be taken: its press can end the last window.)
std::atomic<int> g_keys_down{0}, g_buttons_up{0};

LRESULT CALLBACK input_seen(int code, WPARAM wp, LPARAM lp) {
  if (code == HC_ACTION && wp == PM_REMOVE) {
    const UINT m = reinterpret_cast<const MSG*>(lp)->message;
    if (m == WM_KEYDOWN || m == WM_SYSKEYDOWN) ++g_keys_down;
    if (m == WM_LBUTTONUP || m == WM_NCLBUTTONUP) ++g_buttons_up;
  }
  return CallNextHookEx(nullptr, code, wp, lp);
}

// An X key name of the table as a virtual key; 0 when unknown.
WORD virtual_key(const std::string& name) {
  static const std::pair<const char*, WORD> kKeys[] = {
      {"Return", VK_RETURN}, {"Escape", VK_ESCAPE}, {"Tab", VK_TAB},     {"Down", VK_DOWN},
      {"Up", VK_UP},         {"Left", VK_LEFT},     {"Right", VK_RIGHT}, {"Home", VK_HOME},
      {"End", VK_END},       {"Delete", VK_DELETE}, {"space", VK_SPACE},
  };
  for (const auto& [n, vk] : kKeys)
    if (name == n) return vk;
  if (name.size() == 1 && std::isalnum(static_cast<unsigned char>(name[0])))
    return static_cast<WORD>(std::toupper(static_cast<unsigned char>(name[0])));
  return 0;
}

INPUT key_input(WORD vk, bool up) {
  INPUT in{};
  in.type = INPUT_KEYBOARD;
  in.ki.wVk = vk;
  in.ki.wScan = static_cast<WORD>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
  in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
  return in;
}

INPUT mouse_input(POINT at, DWORD flags) {
  INPUT in{};
  in.type = INPUT_MOUSE;
  in.mi.dx = MulDiv(at.x, 65535, GetSystemMetrics(SM_CXSCREEN) - 1);
  in.mi.dy = MulDiv(at.y, 65535, GetSystemMetrics(SM_CYSCREEN) - 1);
  in.mi.dwFlags = flags | MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
  return in;
}

// Plays the steps of a row as the user would, with the keyboard and the mouse (SendInput).
class User {
 public:
  explicit User(DWORD gui_thread) : gui_thread_(gui_thread) {}

  // What went wrong with the step; empty when it was done.
  std::string Do(const UserStep& step) {
    switch (step.act) {
      case UserAct::Page: {
        const char* tail = korvel::test::PageCaptionTail(step.arg);
        if (!tail) return "no caption known for " + std::string(step.arg);
        return Await(wait_page(wide(tail), 20000), step.arg);
      }
      case UserAct::Message:
        return Await(wait_page(wide(step.arg), 20000, L"#32770"), step.arg);
      case UserAct::Keys:
        return Keys(step.arg);
      case UserAct::Click:
      case UserAct::Focus:
        return Mouse(step.arg, step.act == UserAct::Click);
    }
    return "unknown step";
  }

 private:
  // The window becomes the one later steps act on once it is the active window.
  std::string Await(HWND w, const std::string& what) {
    if (!w) return what + " did not show";
    window_ = w;
    const bool active = wait_for([this] {
      GUITHREADINFO gui{};
      gui.cbSize = sizeof gui;
      return GetGUIThreadInfo(gui_thread_, &gui) && gui.hwndActive == window_;
    });
    if (!active) return what + " did not become active";
    // The keyboard's input goes to the foreground window. Without a window manager Wine leaves the
    // foreground where it was when a window of the same thread activates: the user brings it there.
    if (GetForegroundWindow() != window_) SetForegroundWindow(window_);
    return wait_for([this] { return GetForegroundWindow() == window_; }) ? "" : what + " is not in front";
  }

  std::string Keys(const std::string& keys) {
    size_t at = 0;
    while (at < keys.size()) {
      size_t end = keys.find(' ', at);
      if (end == std::string::npos) end = keys.size();
      std::string name = keys.substr(at, end - at);
      at = end + 1;
      const bool shift = name.rfind("shift+", 0) == 0;
      if (shift) name = name.substr(6);
      const WORD vk = virtual_key(name);
      if (!vk) return "unknown key " + name;
      std::vector<INPUT> in;
      if (shift) in.push_back(key_input(VK_SHIFT, false));
      in.push_back(key_input(vk, false));
      in.push_back(key_input(vk, true));
      if (shift) in.push_back(key_input(VK_SHIFT, true));
      const int want = g_keys_down + (shift ? 2 : 1);
      SendInput(static_cast<UINT>(in.size()), in.data(), sizeof(INPUT));
      if (!wait_for([want] { return g_keys_down >= want; })) return "key " + name + " never arrived";
      if (!settle()) return "the window did not take key " + name;
    }
    return "";
  }

  // A click in the middle of the control; or (focus) the press there, the release off it.
  std::string Mouse(const std::string& name, bool click) {
    HWND c = window_ ? control(window_, name.c_str()) : nullptr;
    if (!c || !IsWindowVisible(c)) return "no control " + name;
    RECT r;
    GetWindowRect(c, &r);
    POINT centre{(r.left + r.right) / 2, (r.top + r.bottom) / 2}, off{1, 1};
    ClientToScreen(window_, &off);
    const POINT up = click ? centre : off;
    INPUT in[] = {mouse_input(centre, 0), mouse_input(centre, MOUSEEVENTF_LEFTDOWN), mouse_input(up, 0),
                  mouse_input(up, MOUSEEVENTF_LEFTUP)};
    const int want = g_buttons_up + 1;
    SendInput(4, in, sizeof(INPUT));
    if (!wait_for([want] { return g_buttons_up >= want; })) return "the mouse never reached " + name;
    return settle() ? "" : "the window did not take the mouse on " + name;
  }

  DWORD gui_thread_;
  HWND window_ = nullptr;
};

// The host's block of a row: its modules and nothing else.
std::unique_ptr<PDB> block_of(const WindowScenario& row) {
  auto b = block_with({});
  for (auto& d : b->Devices) d.DevType = 2;
  for (const HostModule& m : row.modules) {
    b->Devices[m.entry].DevID = m.id;
    b->Devices[m.entry].DevType = m.type;
    b->Devices[m.entry].DevTypeName.set(m.type == 1 ? "PLNK" : "PLNE");
  }
  b->DebugLog = row.debug_log ? 1 : 0;
  return b;
}

// The whole content of a file; false when it cannot be read.
bool read_text(const std::wstring& path, std::string& out) {
  HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  out.assign(1 << 20, '\0');
  DWORD got = 0;
  const bool ok = ReadFile(f, out.data(), static_cast<DWORD>(out.size()), &got, nullptr) != 0;
  CloseHandle(f);
  out.resize(got);
  return ok;
}

class WindowScenarioUnderWine : public ::testing::TestWithParam<WindowScenario> {};

TEST_P(WindowScenarioUnderWine, GivesTheIntendedResultAndBlock) {
  const WindowScenario& row = GetParam();
  ASSERT_NE(lib().DLLEdDev, nullptr);
  // The log goes below the current folder.
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring dir = std::wstring(temp) + L"korvel-scenario";
  CreateDirectoryW(dir.c_str(), nullptr);
  CreateDirectoryW((dir + L"\\Debug").c_str(), nullptr);
  DeleteFileW((dir + L"\\Debug\\KorvelPLNK.Log").c_str());
  ASSERT_TRUE(SetCurrentDirectoryW(dir.c_str()));
  HWND host = host_window();
  pump(200);
  auto block = block_of(row);
  // A first run settles what the block check changes on its own.
  with_user([] { key(wait_page(kStart), VK_ESCAPE); },
            [&] { return lib().DLLEdDev(reinterpret_cast<intptr_t>(host), block.get()); });
  const PDB before = *block;
  g_returned = false;
  HHOOK hook = SetWindowsHookExW(WH_GETMESSAGE, input_seen, nullptr, GetCurrentThreadId());
  ASSERT_NE(hook, nullptr);
  std::string failed;
  const DWORD gui_thread = GetCurrentThreadId();
  const int32_t result = with_user(
      [&] {
        User user(gui_thread);
        for (size_t i = 0; i < row.steps.size() && failed.empty(); ++i) {
          failed = user.Do(row.steps[i]);
          if (!failed.empty()) failed = "step " + std::to_string(i + 1) + ": " + failed;
        }
        // A row that went wrong leaves no window behind.
        for (HWND w; !failed.empty() && (w = wait_page(L"", 500)) != nullptr;)
          PostMessageW(w, WM_CLOSE, 0, 0);
      },
      [&] {
        const int32_t r = lib().DLLEdDev(reinterpret_cast<intptr_t>(host), block.get());
        g_returned = true;
        return r;
      });
  UnhookWindowsHookEx(hook);
  EXPECT_EQ(failed, "");
  EXPECT_EQ(result, row.result);
  std::vector<HostModule> modules;
  for (int i = 0; i < static_cast<int>(std::size(block->Devices)); ++i)
    if (block->Devices[i].DevType != 2)
      modules.push_back({i, block->Devices[i].DevID, block->Devices[i].DevType});
  EXPECT_EQ(modules, row.after);
  if (row.untouched) {
    EXPECT_EQ(std::memcmp(&before, block.get(), sizeof(PDB)), 0) << "the host's block changed";
  }
  if (row.log_lacks) {
    std::string log;
    ASSERT_TRUE(read_text(dir + L"\\Debug\\KorvelPLNK.Log", log)) << "the log was not saved";
    EXPECT_EQ(log.find(row.log_lacks), std::string::npos) << log;
  }
}

INSTANTIATE_TEST_SUITE_P(Win32, WindowScenarioUnderWine, ::testing::ValuesIn(korvel::test::WindowScenarios()),
                         [](const ::testing::TestParamInfo<WindowScenario>& row) { return row.param.name; });

}  // namespace scenario

}  // namespace
