// One form model shown as a native Win32 window with the common controls, kept in step with the
// model both ways. Windows only; everything runs on the thread that shows the form.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ui/Controls.h"

namespace korvel::ui::win32 {

// GBK bytes to UTF-16 and back, always through code page 936, whatever the system's code page.
std::wstring ToW(const std::string& gbk);
std::string FromW(const std::wstring& text);

// The window property that carries a control's component name (as an atom), so automation and
// tests find controls by the names the pages use.
inline constexpr const wchar_t* kNameProperty = L"KorvelName";

// Logical pixels (as the pages give them) to device pixels of the screen, and the shared GDI
// objects: one font per TFont, one brush per colour, all kept for the process's life.
class Gdi {
 public:
  static int Dpi();
  static int Scale(int v) { return MulDiv(v, Dpi(), 96); }
  static int Unscale(int v) { return MulDiv(v, 96, Dpi()); }
  static HFONT Font(const TFont& f);
  static HBRUSH Brush(TColor c);
  static COLORREF Ref(TColor c) { return RGB((c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF); }
  // The face used when a page names none: the first installed face with the Chinese glyphs.
  static const std::wstring& DefaultFace();
  static HINSTANCE Instance();
};

class FormView {
 public:
  // dispatch runs a user action on the model, then lets the backend bring every form up to date.
  FormView(TForm& form, HWND owner, std::function<void(std::function<void()>)> dispatch);
  ~FormView();
  FormView(const FormView&) = delete;
  FormView& operator=(const FormView&) = delete;

  TForm& form() { return form_; }
  HWND hwnd() const { return hwnd_; }
  // Brings the window up to the model (only what changed since the last call).
  void Sync();
  bool closed = false;

  LRESULT FormProc(UINT msg, WPARAM wp, LPARAM lp);
  // Messages of a container (group box, panel, radio group) that concern its controls.
  bool ContainerMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result);
  LRESULT ControlProc(HWND h, UINT msg, WPARAM wp, LPARAM lp, size_t entry);
  // The in-place editor of a grid cell asks to end: keep its text or drop it.
  void RequestEndCellEdit(bool keep);
  void PaintContainer(HWND h, size_t entry);

 private:
  struct Entry {
    TComponent* model = nullptr;
    HWND hwnd = nullptr;             // the control, or the container window
    std::vector<HWND> items;         // radio group buttons
    std::vector<std::string> shown;  // items (combo, radio group) or cells as last shown
    std::vector<TTreeNode*> nodes;   // tree nodes by item lParam
    std::vector<std::string> shape;  // tree structure as last built
    std::uint64_t synced = 0;
    std::uint64_t timer_generation = 0;
    int shown_enabled = -1, shown_visible = -1;
    bool container = false;
  };
  void Build();
  HWND Create(size_t index, HWND parent);
  HWND ParentOf(TControl& c) const;
  void Place(Entry& e);
  void SyncOne(size_t index);
  void SyncTree(Entry& e);
  void SyncGrid(Entry& e);
  void SyncRadioGroup(Entry& e);
  void SyncTimer(size_t index);
  void SetText(HWND h, const std::string& gbk);
  void User(std::function<void()> action);
  // The control an HWND shows, and which item of it (radio group buttons), or npos.
  size_t EntryOf(HWND h, int* item = nullptr) const;
  void Command(HWND from, UINT code, UINT id);
  LRESULT Notify(NMHDR* hdr);
  HBRUSH ColorMessage(HDC dc, HWND control);
  void Cancel();
  TButton* DefaultButton() const;

  TForm& form_;
  HWND owner_;
  std::function<void(std::function<void()>)> dispatch_;
  HWND hwnd_ = nullptr;
  std::vector<Entry> entries_;  // in component order: parents before children
  std::map<const TComponent*, size_t> index_;
  std::map<HWND, std::pair<size_t, int>> by_hwnd_;
  std::uint64_t form_synced_ = 0;
  bool syncing_ = false;
  // A grid cell being edited in place (one at a time).
  struct CellEdit {
    HWND edit = nullptr;
    size_t entry = 0;
    int col = 0, row = 0;
    bool ending = false;
  } cell_edit_;
  void BeginCellEdit(size_t entry, int item, int sub_item);
  void EndCellEdit(bool keep);
};

}  // namespace korvel::ui::win32
