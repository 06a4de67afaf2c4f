// The native Win32 backend, built into the Windows library: page models shown as real windows with
// the common controls, each page modal with its own message loop on the calling thread.
#include <windows.h>

#include <commdlg.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "ui/Backend.h"
#include "ui/NativeBackend.h"
#include "ui/win32/Win32FormView.h"

namespace korvel::ui::win32 {
namespace {

// Whether this process can show windows at all: a service's invisible window station, or (under
// Wine) no display to draw on, cannot.
bool DesktopUsable() {
  HWINSTA station = GetProcessWindowStation();
  USEROBJECTFLAGS flags{};
  DWORD got = 0;
  if (station && GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, &got) &&
      !(flags.dwFlags & WSF_VISIBLE))
    return false;
  if (GetSystemMetrics(SM_CXSCREEN) <= 0) return false;
  HWND probe = CreateWindowExW(WS_EX_TOOLWINDOW, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                               nullptr, nullptr);
  if (!probe) return false;
  DestroyWindow(probe);
  return true;
}

// "description|pattern|description|pattern" → the dialog's pairs of NUL-terminated texts. A pattern
// without a wildcard is taken as an extension ("log" → "*.log").
std::wstring ToFilter(const std::string& filter) {
  std::vector<std::wstring> parts;
  std::wstring all = ToW(filter);
  for (size_t start = 0; start <= all.size();) {
    size_t bar = all.find(L'|', start);
    if (bar == std::wstring::npos) bar = all.size();
    parts.push_back(all.substr(start, bar - start));
    start = bar + 1;
  }
  std::wstring out;
  for (size_t i = 0; i + 1 < parts.size(); i += 2) {
    std::wstring pattern = parts[i + 1];
    if (pattern.find_first_of(L"*?") == std::wstring::npos) pattern = L"*." + pattern;
    out += parts[i] + L" (" + pattern + L")" + L'\0' + pattern + L'\0';
  }
  return out + L'\0';
}

// Splits text into pieces that fit width on dc.
std::vector<std::wstring> Wrap(HDC dc, const std::wstring& text, int width) {
  std::vector<std::wstring> out;
  size_t at = 0;
  do {
    int fit = 0;
    SIZE ext{};
    const int rest = static_cast<int>(text.size() - at);
    GetTextExtentExPointW(dc, text.c_str() + at, rest, std::max(1, width), &fit, nullptr, &ext);
    fit = std::clamp(fit, std::min(1, rest), rest);
    out.push_back(text.substr(at, static_cast<size_t>(fit)));
    at += static_cast<size_t>(fit);
  } while (at < text.size());
  return out;
}

class Win32Backend final : public Backend {
 public:
  bool Available() override { return DesktopUsable(); }

  int ShowModal(TForm& form) override {
    if (!DesktopUsable()) return mrNone;
    SyncAll();
    HWND owner = TopWindow(&form);
    auto view = std::make_unique<FormView>(form, owner,
                                           [this](std::function<void()> fn) { Dispatch(std::move(fn)); });
    if (!view->hwnd()) return mrNone;
    FormView* v = view.get();
    if (TForm* top = TopForm()) top->SetActive(false);
    views().push_back(v);
    try {
      form.BeginModal();
    } catch (...) {
      // Page code keeps its exceptions; a failing OnShow still leaves a usable window.
    }
    form.SetActive(true);
    // Modal: the owner takes no input while the page is up.
    const bool owner_enabled = owner && IsWindowEnabled(owner);
    if (owner_enabled) EnableWindow(owner, FALSE);
    SyncAll();
    if (form.Visible()) {
      ShowWindow(v->hwnd(), SW_SHOW);
      SetForegroundWindow(v->hwnd());
    }
    SyncAll();  // the first focus needs a visible window
    bool quit = false;
    WPARAM quit_code = 0;
    if (!CheckClose(*v)) {
      MSG msg;
      while (!v->closed) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got <= 0) {
          // The host is ending its loop: the page goes as by its close box, and the quit goes on.
          quit = got == 0;
          quit_code = msg.wParam;
          Dispatch([&form] { form.Close(); });
          v->closed = true;
          break;
        }
        if (Swallowed(msg, *v)) continue;
        if (GetActiveWindow() == v->hwnd() && IsDialogMessageW(v->hwnd(), &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
    }
    form.EndModal();
    auto& list = views();
    list.erase(std::find(list.begin(), list.end(), v));
    // The owner gets its input back before this window goes, or Windows would activate some other
    // program's window in its place.
    if (owner_enabled) EnableWindow(owner, TRUE);
    if (owner && GetActiveWindow() == v->hwnd()) SetActiveWindow(owner);
    view.reset();
    if (TForm* top = TopForm()) top->SetActive(true);
    SyncAll();
    if (quit) PostQuitMessage(static_cast<int>(quit_code));
    return form.ModalResult();
  }

  int MessageBox(const MessageBoxParams& p) override {
    if (!DesktopUsable()) return mrNone;
    SyncAll();
    UINT flags = 0;
    switch (p.Icon) {
      case MsgIcon::Information:
        flags |= MB_ICONINFORMATION;
        break;
      case MsgIcon::Warning:
        flags |= MB_ICONWARNING;
        break;
      case MsgIcon::Error:
        flags |= MB_ICONERROR;
        break;
      case MsgIcon::Question:
        flags |= MB_ICONQUESTION;
        break;
      case MsgIcon::None:
        break;
    }
    switch (p.Buttons) {
      case MsgButtons::Ok:
        flags |= MB_OK;
        break;
      case MsgButtons::OkCancel:
        flags |= MB_OKCANCEL;
        break;
      case MsgButtons::YesNo:
        flags |= MB_YESNO;
        break;
      case MsgButtons::YesNoCancel:
        flags |= MB_YESNOCANCEL;
        break;
    }
    HWND owner = TopWindow(p.Owner);
    if (!owner) flags |= MB_TASKMODAL;
    const std::wstring caption = p.Caption.empty() ? std::wstring(L"KorvelPLNK") : ToW(p.Caption);
    const int r = MessageBoxW(owner, ToW(p.Text).c_str(), caption.c_str(), flags | MB_SETFOREGROUND);
    SyncAll();
    switch (r) {
      case IDOK:
        return mrOk;
      case IDYES:
        return mrYes;
      case IDNO:
        return mrNo;
      case IDCANCEL:
        return mrCancel;
      default:
        return mrNone;
    }
  }

  bool SaveDialog(TSaveDialog& d) override {
    if (!DesktopUsable()) return false;
    SyncAll();
    std::vector<wchar_t> file(32768, L'\0');
    const std::wstring initial = ToW(d.FileName);
    std::copy_n(initial.begin(), std::min(initial.size(), file.size() - 1), file.begin());
    const std::wstring filter = ToFilter(d.Filter), ext = ToW(d.DefaultExt), title = ToW(d.Title);
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = TopWindow(nullptr);
    ofn.lpstrFilter = filter.size() > 1 ? filter.c_str() : nullptr;
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<DWORD>(file.size());
    ofn.lpstrDefExt = ext.empty() ? nullptr : ext.c_str();
    ofn.lpstrTitle = title.empty() ? nullptr : title.c_str();
    ofn.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | OFN_HIDEREADONLY;
    const bool ok = GetSaveFileNameW(&ofn) != 0;
    if (ok) d.FileName = FromW(file.data());
    SyncAll();
    return ok;
  }

  bool PrintDialog(TPrintDialog& d) override {
    if (!DesktopUsable()) return false;
    SyncAll();
    PRINTDLGW pd{};
    pd.lStructSize = sizeof pd;
    pd.hwndOwner = TopWindow(nullptr);
    pd.Flags = PD_RETURNDC | PD_NOPAGENUMS | PD_NOSELECTION | PD_USEDEVMODECOPIESANDCOLLATE;
    pd.nCopies = static_cast<WORD>(std::clamp(d.Copies, 1, 999));
    const bool ok = PrintDlgW(&pd) != 0 && pd.hDC;
    if (pd.hDevMode) GlobalFree(pd.hDevMode);
    if (pd.hDevNames) GlobalFree(pd.hDevNames);
    if (ok) {
      if (printer_) DeleteDC(printer_);
      printer_ = pd.hDC;
      d.Copies = pd.nCopies;
    }
    SyncAll();
    return ok;
  }

  bool Print(const PrintDocument& doc) override {
    HDC dc = printer_;
    printer_ = nullptr;
    if (!dc) {
      // No dialog before: the default printer.
      PRINTDLGW pd{};
      pd.lStructSize = sizeof pd;
      pd.Flags = PD_RETURNDEFAULT | PD_RETURNDC;
      if (PrintDlgW(&pd)) dc = pd.hDC;
      if (pd.hDevMode) GlobalFree(pd.hDevMode);
      if (pd.hDevNames) GlobalFree(pd.hDevNames);
    }
    if (!dc) return false;
    const std::wstring title = doc.Title.empty() ? std::wstring(L"KorvelPLNK") : ToW(doc.Title);
    DOCINFOW info{};
    info.cbSize = sizeof info;
    info.lpszDocName = title.c_str();
    bool ok = StartDocW(dc, &info) > 0;
    const std::wstring face = doc.Font.Name.empty() ? Gdi::DefaultFace() : ToW(doc.Font.Name);
    HFONT font = CreateFontW(
        -MulDiv(doc.Font.Size > 0 ? doc.Font.Size : 9, GetDeviceCaps(dc, LOGPIXELSY), 72), 0, 0, 0,
        doc.Font.Bold ? FW_BOLD : FW_NORMAL, doc.Font.Italic, FALSE, FALSE, DEFAULT_CHARSET,
        OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, face.c_str());
    const int margin_x = GetDeviceCaps(dc, LOGPIXELSX) / 2, margin_y = GetDeviceCaps(dc, LOGPIXELSY) / 2;
    const int width = GetDeviceCaps(dc, HORZRES) - 2 * margin_x;
    const int bottom = GetDeviceCaps(dc, VERTRES) - margin_y;
    if (ok) {
      HGDIOBJ old = SelectObject(dc, font);
      TEXTMETRICW tm{};
      GetTextMetricsW(dc, &tm);
      const int line_gap = std::max(1, static_cast<int>(tm.tmHeight + tm.tmExternalLeading));
      for (const auto& lines : doc.Pages) {
        ok = ok && StartPage(dc) > 0;
        int y = margin_y;
        for (const auto& line : lines) {
          for (const std::wstring& piece : Wrap(dc, ToW(line), width)) {
            if (y + line_gap > bottom && y > margin_y) {
              ok = ok && EndPage(dc) > 0 && StartPage(dc) > 0;
              y = margin_y;
            }
            TextOutW(dc, margin_x, y, piece.c_str(), static_cast<int>(piece.size()));
            y += line_gap;
          }
        }
        ok = ok && EndPage(dc) > 0;
      }
      SelectObject(dc, old);
      if (ok)
        ok = EndDoc(dc) > 0;
      else
        AbortDoc(dc);
    }
    DeleteObject(font);
    DeleteDC(dc);
    return ok;
  }

  ScreenSize Screen() override {
    const int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
    if (w <= 0 || h <= 0) return {};
    return {Gdi::Unscale(w), Gdi::Unscale(h)};
  }

  void ProcessMessages() override {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        PostQuitMessage(static_cast<int>(msg.wParam));  // for the loop that owns it
        return;
      }
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }

 private:
  // The forms shown on the calling thread, oldest first: each thread's windows are its own.
  static std::vector<FormView*>& views() {
    static thread_local std::vector<FormView*> list;
    return list;
  }

  TForm* TopForm() const {
    for (auto it = views().rbegin(); it != views().rend(); ++it)
      if (!(*it)->closed) return &(*it)->form();
    return nullptr;
  }

  // The owner of a new window: the top visible page of this thread, else the host's window that
  // the form names, else the host's window active on this thread (a call that names none, such as
  // the device test, is modal to the window the user called it from).
  HWND TopWindow(const TForm* form) const {
    for (auto it = views().rbegin(); it != views().rend(); ++it)
      if (!(*it)->closed && IsWindowVisible((*it)->hwnd())) return (*it)->hwnd();
    HWND host = form ? reinterpret_cast<HWND>(form->OwnerWindow()) : nullptr;
    if (!host)
      for (auto it = views().rbegin(); it != views().rend() && !host; ++it)
        host = reinterpret_cast<HWND>((*it)->form().OwnerWindow());
    if (!host) host = GetActiveWindow();
    return host && IsWindow(host) ? host : nullptr;
  }

  // A key that must not act on this page: the repeats of a held Return or Escape (the press began
  // before, perhaps in the window it closed), and those keys while another window is active.
  static bool Swallowed(const MSG& msg, const FormView& v) {
    if (msg.message != WM_KEYDOWN && msg.message != WM_CHAR) return false;
    const bool action_key = msg.message == WM_KEYDOWN ? (msg.wParam == VK_RETURN || msg.wParam == VK_ESCAPE)
                                                      : (msg.wParam == L'\r' || msg.wParam == 0x1B);
    if (!action_key) return false;
    if (msg.lParam & (1 << 30)) return true;  // held down before this message
    return GetActiveWindow() != v.hwnd() && (msg.hwnd == v.hwnd() || IsChild(v.hwnd(), msg.hwnd));
  }

  void SyncAll() {
    if (in_sync_) return;
    in_sync_ = true;
    for (auto* v : views()) {
      if (v->closed) continue;
      v->Sync();
      const bool shown = IsWindowVisible(v->hwnd()) != 0;
      if (shown != v->form().Visible()) ShowWindow(v->hwnd(), v->form().Visible() ? SW_SHOW : SW_HIDE);
    }
    in_sync_ = false;
  }

  // Runs a user action on the models; page code never lets an exception into the message loop.
  void Dispatch(std::function<void()> fn) {
    if (in_sync_) return;
    RunPageCode(fn);
    SyncAll();
    for (auto* v : std::vector<FormView*>(views())) CheckClose(*v);
  }

  // A form that asked to close (and may) leaves its loop.
  static bool CheckClose(FormView& v) {
    if (v.closed) return true;
    if (!FormClosesNow(v.form())) return false;
    v.closed = true;
    return true;
  }

  static thread_local bool in_sync_;
  // The printer the print dialog chose, for the next print job of the same thread.
  static thread_local HDC printer_;
};

thread_local bool Win32Backend::in_sync_ = false;
thread_local HDC Win32Backend::printer_ = nullptr;

}  // namespace
}  // namespace korvel::ui::win32

namespace korvel::ui {

Backend* NativeBackend() {
  static win32::Win32Backend backend;
  return &backend;
}

}  // namespace korvel::ui
