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
// A window's whole text.
std::wstring WindowText(HWND h);

// The window property that carries a control's component name (as an atom), so automation and
// tests find controls by the names the pages use.
inline constexpr const wchar_t* kNameProperty = L"KorvelName";

// The window class of containers (group box, panel, radio group), painted by the form's view, and
// the child id of the first control (the others follow in component order).
inline constexpr const wchar_t* kBoxClass = L"KorvelPLNKBox";
inline constexpr int kFirstId = 100;
// Posted to the form to end the grid cell being edited (wParam: keep the typed text).
inline constexpr UINT kEndCellEdit = WM_APP + 1;

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
  // A control window of a given class, subclassed so that its focus and keys reach the page.
  HWND MakeControl(size_t index, HWND parent, const wchar_t* cls, DWORD style, DWORD ex = 0);
  // Routes a window's focus and keys to the control at index (item: which radio group button).
  void Subclass(HWND h, size_t index, int item = -1);
  void Place(Entry& e);
  void SyncOne(size_t index);
  void SyncEnabledVisible(Entry& e, TControl& c);
  void SyncTimer(size_t index);
  void SetText(HWND h, const std::string& gbk);
  void User(std::function<void()> action);
  // The control an HWND shows, and which item of it (radio group buttons), or npos.
  size_t EntryOf(HWND h, int* item = nullptr) const;
  void Command(HWND from, UINT code, UINT id);
  // What a memo asks of the dialog keys, and keys acted on before the control sees them.
  LRESULT MemoDialogCode(HWND h, WPARAM wp, LPARAM lp, const TMemo& m);
  bool KeyDown(size_t index, WPARAM key);
  LRESULT Notify(NMHDR* hdr);
  HBRUSH ColorMessage(HDC dc, HWND control);
  void Cancel();
  TButton* DefaultButton() const;

  // One set per control kind (Win32Controls.cpp, Win32Lists.cpp): the window created for the
  // model, its update, and what its notifications (WM_COMMAND, WM_NOTIFY) do to the model.
  using CreateFn = HWND (FormView::*)(size_t index, HWND parent);
  using SyncFn = void (FormView::*)(Entry& e, TControl& c);
  using CommandFn = void (FormView::*)(size_t index, HWND from, UINT code, int item);
  using NotifyFn = LRESULT (FormView::*)(size_t index, NMHDR* hdr);
  struct KindView {
    Kind kind;
    CreateFn create;
    SyncFn sync;
    CommandFn command;  // null: none
    NotifyFn notify;    // null: none
  };
  // The set of a kind; null for kinds without a window (timers, dialogs).
  static const KindView* ViewOf(Kind kind);
  HWND CreateLabel(size_t index, HWND parent);
  void SyncLabel(Entry& e, TControl& c);
  void LabelCommand(size_t index, HWND from, UINT code, int item);
  HWND CreateButton(size_t index, HWND parent);
  void SyncButton(Entry& e, TControl& c);
  void ClickCommand(size_t index, HWND from, UINT code, int item);
  HWND CreateEdit(size_t index, HWND parent);
  void SyncEdit(Entry& e, TControl& c);
  void EditCommand(size_t index, HWND from, UINT code, int item);
  HWND CreateMemo(size_t index, HWND parent);
  void SyncMemo(Entry& e, TControl& c);
  void MemoCommand(size_t index, HWND from, UINT code, int item);
  HWND CreateCheckBox(size_t index, HWND parent);
  void SyncCheckBox(Entry& e, TControl& c);
  HWND CreateRadioButton(size_t index, HWND parent);
  void SyncRadioButton(Entry& e, TControl& c);
  void RadioButtonCommand(size_t index, HWND from, UINT code, int item);
  HWND CreateBox(size_t index, HWND parent);
  void SyncBox(Entry& e, TControl& c);
  void SyncRadioGroup(Entry& e, TControl& c);
  void RadioGroupCommand(size_t index, HWND from, UINT code, int item);
  HWND CreateComboBox(size_t index, HWND parent);
  void SyncComboBox(Entry& e, TControl& c);
  void ComboBoxCommand(size_t index, HWND from, UINT code, int item);
  HWND CreateProgressBar(size_t index, HWND parent);
  void SyncProgressBar(Entry& e, TControl& c);
  HWND CreateTreeView(size_t index, HWND parent);
  void SyncTreeView(Entry& e, TControl& c);
  LRESULT TreeViewNotify(size_t index, NMHDR* hdr);
  HWND CreateStringGrid(size_t index, HWND parent);
  void SyncStringGrid(Entry& e, TControl& c);
  LRESULT StringGridNotify(size_t index, NMHDR* hdr);
  // Tree parts: rebuilt on a change of structure; the model's selection shown.
  void BuildTree(Entry& e, const TTreeView& m);
  void SelectTreeItem(Entry& e, const TTreeView& m);
  void TreeClick(Entry& e, TTreeView& m);
  // Grid parts: the columns and headers, then the lines' cells.
  void SyncGridColumns(Entry& e, const TStringGrid& m);
  void SyncGridCells(Entry& e, const TStringGrid& m);

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
