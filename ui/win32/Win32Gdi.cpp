// Texts between GBK and UTF-16, and the fonts and brushes all windows of the library share.
#include <algorithm>
#include <map>
#include <mutex>
#include <tuple>

#include "platform/win32/module_win32.h"
#include "ui/win32/Win32FormView.h"

namespace korvel::ui::win32 {

// ---------------------------------------------------------------- texts and GDI objects

std::wstring ToW(const std::string& gbk) {
  if (gbk.empty()) return {};
  const int n = MultiByteToWideChar(936, 0, gbk.data(), static_cast<int>(gbk.size()), nullptr, 0);
  if (n <= 0) return {};
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(936, 0, gbk.data(), static_cast<int>(gbk.size()), out.data(), n);
  return out;
}

std::string FromW(const std::wstring& text) {
  if (text.empty()) return {};
  const int n =
      WideCharToMultiByte(936, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, "?", nullptr);
  if (n <= 0) return {};
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(936, 0, text.data(), static_cast<int>(text.size()), out.data(), n, "?", nullptr);
  return out;
}

std::wstring WindowText(HWND h) {
  const int n = GetWindowTextLengthW(h);
  std::wstring s(static_cast<size_t>(std::max(0, n)) + 1, L'\0');
  const int got = GetWindowTextW(h, s.data(), n + 1);
  s.resize(static_cast<size_t>(std::max(0, got)));
  return s;
}

namespace {

int CALLBACK FaceFound(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
  *reinterpret_cast<bool*>(found) = true;
  return 0;
}

bool FaceInstalled(const wchar_t* face) {
  HDC dc = GetDC(nullptr);
  LOGFONTW lf{};
  lf.lfCharSet = GB2312_CHARSET;
  wcsncpy(lf.lfFaceName, face, LF_FACESIZE - 1);
  bool found = false;
  EnumFontFamiliesExW(dc, &lf, FaceFound, reinterpret_cast<LPARAM>(&found), 0);
  if (!found) {
    lf.lfCharSet = DEFAULT_CHARSET;
    EnumFontFamiliesExW(dc, &lf, FaceFound, reinterpret_cast<LPARAM>(&found), 0);
  }
  ReleaseDC(nullptr, dc);
  return found;
}

}  // namespace

int Gdi::Dpi() {
  static const int dpi = [] {
    HDC dc = GetDC(nullptr);
    int d = dc ? GetDeviceCaps(dc, LOGPIXELSY) : 96;
    if (dc) ReleaseDC(nullptr, dc);
    return d > 0 ? d : 96;
  }();
  return dpi;
}

const std::wstring& Gdi::DefaultFace() {
  // Windows in any language carries Microsoft YaHei or SimSun; Wine on Linux finds the
  // WenQuanYi face that Debian installs. Without any of them the system's choice stays.
  static const std::wstring face = [] {
    for (const wchar_t* f : {L"Microsoft YaHei", L"SimSun", L"WenQuanYi Micro Hei", L"NSimSun"})
      if (FaceInstalled(f)) return std::wstring(f);
    return std::wstring(L"MS Shell Dlg");
  }();
  return face;
}

namespace {
// Windows of different host threads share the fonts and brushes.
std::mutex& GdiMutex() {
  static std::mutex m;
  return m;
}
}  // namespace

HFONT Gdi::Font(const TFont& f) {
  std::lock_guard lock(GdiMutex());
  static std::map<std::tuple<std::string, int, bool, bool>, HFONT> fonts;
  auto key = std::make_tuple(f.Name, f.Size, f.Bold, f.Italic);
  auto it = fonts.find(key);
  if (it != fonts.end()) return it->second;
  std::wstring face = f.Name.empty() ? DefaultFace() : ToW(f.Name);
  HFONT font = CreateFontW(-MulDiv(f.Size > 0 ? f.Size : 9, Dpi(), 72), 0, 0, 0, f.Bold ? FW_BOLD : FW_NORMAL,
                           f.Italic, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                           CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_DONTCARE, face.c_str());
  fonts[key] = font;
  return font;
}

HBRUSH Gdi::Brush(TColor c) {
  std::lock_guard lock(GdiMutex());
  static std::map<TColor, HBRUSH> brushes;
  auto it = brushes.find(c);
  if (it != brushes.end()) return it->second;
  HBRUSH b = c == clBtnFace ? GetSysColorBrush(COLOR_BTNFACE) : CreateSolidBrush(Ref(c));
  brushes[c] = b;
  return b;
}

HINSTANCE Gdi::Instance() {
  return plat::win32::own_module();
}

}  // namespace korvel::ui::win32
