#include "ui/win32/Win32FormView.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <tuple>

#include "platform/win32/module_win32.h"

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

namespace {

std::wstring WindowText(HWND h) {
  const int n = GetWindowTextLengthW(h);
  std::wstring s(static_cast<size_t>(std::max(0, n)) + 1, L'\0');
  const int got = GetWindowTextW(h, s.data(), n + 1);
  s.resize(static_cast<size_t>(std::max(0, got)));
  return s;
}

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

// ---------------------------------------------------------------- window classes

namespace {

constexpr const wchar_t* kFormClass = L"KorvelPLNKForm";
constexpr const wchar_t* kBoxClass = L"KorvelPLNKBox";
constexpr int kFirstId = 100;

FormView* ViewOf(HWND h) {
  return reinterpret_cast<FormView*>(GetWindowLongPtrW(h, GWLP_USERDATA));
}

LRESULT CALLBACK FormWndProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* cs = reinterpret_cast<CREATESTRUCTW*>(lp);
    SetWindowLongPtrW(h, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
  }
  FormView* v = ViewOf(h);
  if (v && v->hwnd() == h) return v->FormProc(msg, wp, lp);
  return DefWindowProcW(h, msg, wp, lp);
}

LRESULT CALLBACK BoxWndProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* cs = reinterpret_cast<CREATESTRUCTW*>(lp);
    SetWindowLongPtrW(h, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
  }
  FormView* v = ViewOf(h);
  if (v) {
    LRESULT r = 0;
    if (msg == WM_PAINT) {
      v->PaintContainer(h, static_cast<size_t>(GetWindowLongPtrW(h, GWLP_ID) - kFirstId));
      return 0;
    }
    if (msg == WM_ERASEBKGND) return 1;  // painted whole in WM_PAINT
    if (v->ContainerMessage(msg, wp, lp, r)) return r;
  }
  return DefWindowProcW(h, msg, wp, lp);
}

LRESULT CALLBACK ControlSubclass(HWND h, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR entry, DWORD_PTR view) {
  if (msg == WM_NCDESTROY) {
    RemoveWindowSubclass(h, ControlSubclass, entry);
    return DefSubclassProc(h, msg, wp, lp);
  }
  return reinterpret_cast<FormView*>(view)->ControlProc(h, msg, wp, lp, static_cast<size_t>(entry));
}

void RegisterClasses() {
  static const bool done = [] {
    INITCOMMONCONTROLSEX icc{
        sizeof icc, ICC_TREEVIEW_CLASSES | ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = FormWndProc;
    wc.hInstance = Gdi::Instance();
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    wc.lpszClassName = kFormClass;
    RegisterClassExW(&wc);
    wc.lpfnWndProc = BoxWndProc;
    wc.lpszClassName = kBoxClass;
    RegisterClassExW(&wc);
    return true;
  }();
  (void)done;
}

// Nodes, texts, levels and expansion in tree order: a rebuild is needed only when this changes.
void TreeShape(const TTreeNode* node, int level, std::vector<std::string>& out) {
  out.push_back(std::to_string(reinterpret_cast<std::uintptr_t>(node)) + ":" + std::to_string(level) + ":" +
                (node->Expanded() ? "+" : "-") + node->Text());
  for (int i = 0; i < node->Count(); ++i) TreeShape(node->Item(i), level + 1, out);
}

std::vector<std::string> ShapeOf(const TTreeView& tree) {
  std::vector<std::string> shape;
  for (int i = 0; i < tree.TopCount(); ++i) TreeShape(tree.TopItem(i), 0, shape);
  return shape;
}

// A memo's lines as one text with CR LF breaks.
std::string Joined(const std::vector<std::string>& lines) {
  std::string out;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i) out += "\r\n";
    out += lines[i];
  }
  return out;
}

}  // namespace

// ---------------------------------------------------------------- building

FormView::FormView(TForm& form, HWND owner, std::function<void(std::function<void()>)> dispatch)
    : form_(form), owner_(owner), dispatch_(std::move(dispatch)) {
  RegisterClasses();
  Build();
}

FormView::~FormView() {
  syncing_ = true;  // no model calls from controls going away
  for (auto& e : entries_) {
    if (!e.hwnd) continue;
    if (auto atom = static_cast<ATOM>(reinterpret_cast<UINT_PTR>(RemovePropW(e.hwnd, kNameProperty))))
      GlobalDeleteAtom(atom);
  }
  if (hwnd_) {
    for (size_t i = 0; i < entries_.size(); ++i)
      if (entries_[i].model->kind() == Kind::Timer) KillTimer(hwnd_, i + 1);
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    DestroyWindow(hwnd_);
  }
}

void FormView::Build() {
  DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
  if (form_.Sizeable()) style |= WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
  DWORD ex = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT | WS_EX_WINDOWEDGE;
  hwnd_ = CreateWindowExW(ex, kFormClass, ToW(form_.Caption()).c_str(), style, CW_USEDEFAULT, CW_USEDEFAULT,
                          Gdi::Scale(form_.Width()), Gdi::Scale(form_.Height()), owner_, nullptr,
                          Gdi::Instance(), this);
  if (!hwnd_) return;
  for (const auto& c : form_.Components()) {
    if (c->kind() == Kind::SaveDialog || c->kind() == Kind::PrintDialog) continue;
    Entry e;
    e.model = c.get();
    index_[c.get()] = entries_.size();
    entries_.push_back(std::move(e));
  }
  for (size_t i = 0; i < entries_.size(); ++i) {
    if (entries_[i].model->kind() == Kind::Timer) continue;
    HWND h = Create(i, ParentOf(*static_cast<TControl*>(entries_[i].model)));
    entries_[i].hwnd = h;
    if (!h) continue;
    by_hwnd_[h] = {i, -1};
    const std::wstring name = ToW(entries_[i].model->Name());
    SetPropW(h, kNameProperty, reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(GlobalAddAtomW(name.c_str()))));
  }
}

HWND FormView::ParentOf(TControl& c) const {
  TControl* p = c.Parent();
  if (!p || p == &form_) return hwnd_;
  auto it = index_.find(p);
  return it == index_.end() || !entries_[it->second].hwnd ? hwnd_ : entries_[it->second].hwnd;
}

HWND FormView::Create(size_t index, HWND parent) {
  Entry& e = entries_[index];
  auto& c = *static_cast<TControl*>(e.model);
  const wchar_t* cls = L"STATIC";
  DWORD style = WS_CHILD | WS_CLIPSIBLINGS;
  DWORD ex = 0;
  switch (c.kind()) {
    case Kind::Label:
      style |= SS_NOPREFIX | SS_NOTIFY;
      break;
    case Kind::Button:
      cls = L"BUTTON";
      style |= WS_TABSTOP | (static_cast<TButton&>(c).Default() ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
      if (static_cast<TButton&>(c).Flat()) style |= BS_FLAT;
      break;
    case Kind::Edit:
      cls = L"EDIT";
      style |= WS_TABSTOP | ES_AUTOHSCROLL;
      ex = WS_EX_CLIENTEDGE;
      break;
    case Kind::Memo: {
      auto& m = static_cast<TMemo&>(c);
      cls = L"EDIT";
      style |= WS_TABSTOP | ES_MULTILINE | ES_WANTRETURN | ES_AUTOVSCROLL;
      const auto sb = m.GetScrollBars();
      if (sb == TMemo::ScrollBars::Vertical || sb == TMemo::ScrollBars::Both) style |= WS_VSCROLL;
      if (sb == TMemo::ScrollBars::Horizontal || sb == TMemo::ScrollBars::Both) style |= WS_HSCROLL;
      if (!m.WordWrap()) style |= ES_AUTOHSCROLL;
      ex = WS_EX_CLIENTEDGE;
      break;
    }
    case Kind::CheckBox:
      cls = L"BUTTON";
      style |= WS_TABSTOP | BS_CHECKBOX;
      break;
    case Kind::RadioButton:
      // Not automatic: the model decides what is checked and the button shows it.
      cls = L"BUTTON";
      style |= WS_TABSTOP | BS_RADIOBUTTON | BS_NOTIFY;
      break;
    case Kind::ComboBox:
      cls = WC_COMBOBOXW;
      style |= WS_TABSTOP | WS_VSCROLL | CBS_AUTOHSCROLL |
               (static_cast<TComboBox&>(c).GetStyle() == TComboBox::Style::DropDownList ? CBS_DROPDOWNLIST
                                                                                        : CBS_DROPDOWN);
      break;
    case Kind::TreeView:
      cls = WC_TREEVIEWW;
      style |= WS_TABSTOP | TVS_HASLINES | TVS_HASBUTTONS | TVS_LINESATROOT | TVS_SHOWSELALWAYS;
      ex = WS_EX_CLIENTEDGE;
      break;
    case Kind::StringGrid:
      cls = WC_LISTVIEWW;
      style |= WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_NOSORTHEADER;
      ex = WS_EX_CLIENTEDGE;
      break;
    case Kind::ProgressBar:
      cls = PROGRESS_CLASSW;
      break;
    case Kind::GroupBox:
    case Kind::Panel:
    case Kind::RadioGroup:
      cls = kBoxClass;
      style |= WS_CLIPCHILDREN;
      ex = WS_EX_CONTROLPARENT;
      e.container = true;
      break;
    default:
      return nullptr;
  }
  HWND h = CreateWindowExW(ex, cls, L"", style, 0, 0, 0, 0, parent,
                           reinterpret_cast<HMENU>(static_cast<UINT_PTR>(kFirstId + index)), Gdi::Instance(),
                           e.container ? this : nullptr);
  if (!h) return nullptr;
  if (!e.container) SetWindowSubclass(h, ControlSubclass, index, reinterpret_cast<DWORD_PTR>(this));
  if (c.kind() == Kind::StringGrid)
    SendMessageW(h, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
  if (c.kind() == Kind::ComboBox) {
    // The typed part of a drop-down combo is a window of its own: its focus and keys count too.
    COMBOBOXINFO info{};
    info.cbSize = sizeof info;
    if (GetComboBoxInfo(h, &info) && info.hwndItem && info.hwndItem != h) {
      SetWindowSubclass(info.hwndItem, ControlSubclass, index, reinterpret_cast<DWORD_PTR>(this));
      by_hwnd_[info.hwndItem] = {index, -1};
    }
  }
  return h;
}

// ---------------------------------------------------------------- model → window

void FormView::SetText(HWND h, const std::string& gbk) {
  const std::wstring w = ToW(gbk);
  if (WindowText(h) != w) SetWindowTextW(h, w.c_str());
}

void FormView::Place(Entry& e) {
  auto& c = *static_cast<TControl*>(e.model);
  int height = Gdi::Scale(c.Height());
  // A combo box's window height includes its dropped-down list.
  if (c.kind() == Kind::ComboBox)
    height += Gdi::Scale(std::max(1, static_cast<TComboBox&>(c).DropDownCount) * 18 + 4);
  SetWindowPos(e.hwnd, nullptr, Gdi::Scale(c.Left()), Gdi::Scale(c.Top()), Gdi::Scale(c.Width()), height,
               SWP_NOZORDER | SWP_NOACTIVATE);
  SendMessageW(e.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(Gdi::Font(c.Font())), FALSE);
  for (HWND item : e.items)
    SendMessageW(item, WM_SETFONT, reinterpret_cast<WPARAM>(Gdi::Font(c.Font())), FALSE);
  InvalidateRect(e.hwnd, nullptr, TRUE);
}

void FormView::SyncRadioGroup(Entry& e) {
  auto& m = *static_cast<TRadioGroup*>(e.model);
  if (e.shown != m.Items()) {
    for (HWND item : e.items) {
      by_hwnd_.erase(item);
      DestroyWindow(item);
    }
    e.items.clear();
    e.shown = m.Items();
    const size_t index = static_cast<size_t>(&e - entries_.data());
    for (size_t i = 0; i < m.Items().size(); ++i) {
      DWORD style = WS_CHILD | WS_VISIBLE | BS_RADIOBUTTON | BS_NOTIFY | (i == 0 ? WS_GROUP | WS_TABSTOP : 0);
      HWND b = CreateWindowExW(0, L"BUTTON", ToW(m.Items()[i]).c_str(), style, 0, 0, 0, 0, e.hwnd, nullptr,
                               Gdi::Instance(), nullptr);
      if (!b) continue;
      SetWindowSubclass(b, ControlSubclass, index, reinterpret_cast<DWORD_PTR>(this));
      by_hwnd_[b] = {index, static_cast<int>(i)};
      e.items.push_back(b);
    }
  }
  // Items spread evenly over the box below its caption, column by column.
  const int n = static_cast<int>(e.items.size());
  const int cols = std::max(1, m.Columns());
  const int rows = std::max(1, (n + cols - 1) / cols);
  const int top = Gdi::Scale(16), left = Gdi::Scale(8);
  const int w = Gdi::Scale(m.Width()) - 2 * left, h = Gdi::Scale(m.Height()) - top - Gdi::Scale(4);
  const int cell_h = h / rows, item_h = std::min(cell_h, Gdi::Scale(20));
  for (int i = 0; i < n; ++i) {
    const int col = i / rows, row = i % rows;
    SetWindowPos(e.items[static_cast<size_t>(i)], nullptr, left + col * w / cols,
                 top + row * cell_h + (cell_h - item_h) / 2, w / cols - Gdi::Scale(2), item_h,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    SendMessageW(e.items[static_cast<size_t>(i)], BM_SETCHECK,
                 i == m.ItemIndex() ? BST_CHECKED : BST_UNCHECKED, 0);
  }
}

void FormView::SyncTree(Entry& e) {
  auto& m = *static_cast<TTreeView*>(e.model);
  std::vector<std::string> shape = ShapeOf(m);
  static std::vector<HTREEITEM> none;
  if (shape != e.shape) {
    // Rebuilt only on a change of structure, so a click that merely selects keeps the user's view.
    e.shape = std::move(shape);
    SendMessageW(e.hwnd, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
    e.nodes.clear();
    std::function<void(TTreeNode*, HTREEITEM)> add = [&](TTreeNode* node, HTREEITEM parent) {
      std::wstring text = ToW(node->Text());
      TVINSERTSTRUCTW ins{};
      ins.hParent = parent;
      ins.hInsertAfter = TVI_LAST;
      ins.item.mask = TVIF_TEXT | TVIF_PARAM;
      ins.item.pszText = text.data();
      ins.item.lParam = static_cast<LPARAM>(e.nodes.size());
      e.nodes.push_back(node);
      auto item = reinterpret_cast<HTREEITEM>(
          SendMessageW(e.hwnd, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&ins)));
      for (int i = 0; i < node->Count(); ++i) add(node->Item(i), item);
      if (node->Expanded()) SendMessageW(e.hwnd, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(item));
    };
    for (int i = 0; i < m.TopCount(); ++i) add(m.TopItem(i), TVI_ROOT);
  }
  // The selection: find the item whose node is the model's selected one.
  HTREEITEM want = nullptr;
  std::function<void(HTREEITEM)> find = [&](HTREEITEM item) {
    for (; item && !want; item = reinterpret_cast<HTREEITEM>(SendMessageW(e.hwnd, TVM_GETNEXTITEM, TVGN_NEXT,
                                                                          reinterpret_cast<LPARAM>(item)))) {
      TVITEMW it{};
      it.mask = TVIF_PARAM;
      it.hItem = item;
      SendMessageW(e.hwnd, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&it));
      const auto k = static_cast<size_t>(it.lParam);
      if (k < e.nodes.size() && e.nodes[k] == m.Selected()) want = item;
      find(reinterpret_cast<HTREEITEM>(
          SendMessageW(e.hwnd, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(item))));
    }
  };
  if (m.Selected()) find(reinterpret_cast<HTREEITEM>(SendMessageW(e.hwnd, TVM_GETNEXTITEM, TVGN_ROOT, 0)));
  auto current = reinterpret_cast<HTREEITEM>(SendMessageW(e.hwnd, TVM_GETNEXTITEM, TVGN_CARET, 0));
  if (current != want) SendMessageW(e.hwnd, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(want));
}

void FormView::SyncGrid(Entry& e) {
  auto& m = *static_cast<TStringGrid*>(e.model);
  HWND header = reinterpret_cast<HWND>(SendMessageW(e.hwnd, LVM_GETHEADER, 0, 0));
  int cols = header ? static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0)) : 0;
  // The fixed top row is the list's header; the other rows are its lines.
  const bool headed = m.FixedRows() > 0;
  for (; cols < m.ColCount(); ++cols) {
    LVCOLUMNW col{};
    col.mask = LVCF_WIDTH;
    SendMessageW(e.hwnd, LVM_INSERTCOLUMNW, static_cast<WPARAM>(cols), reinterpret_cast<LPARAM>(&col));
  }
  for (; cols > m.ColCount(); --cols)
    SendMessageW(e.hwnd, LVM_DELETECOLUMN, static_cast<WPARAM>(cols - 1), 0);
  for (int c = 0; c < m.ColCount(); ++c) {
    std::wstring text = headed ? ToW(m.Cell(c, 0)) : std::wstring();
    LVCOLUMNW col{};
    col.mask = LVCF_WIDTH | LVCF_TEXT;
    col.cx = Gdi::Scale(m.ColWidth(c));
    col.pszText = text.data();
    SendMessageW(e.hwnd, LVM_SETCOLUMNW, static_cast<WPARAM>(c), reinterpret_cast<LPARAM>(&col));
  }
  const int first = headed ? m.FixedRows() : 0;
  const int lines = std::max(0, m.RowCount() - first);
  int have = static_cast<int>(SendMessageW(e.hwnd, LVM_GETITEMCOUNT, 0, 0));
  if (have != lines) e.shown.clear();
  for (; have < lines; ++have) {
    LVITEMW item{};
    item.iItem = have;
    SendMessageW(e.hwnd, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
  }
  for (; have > lines; --have) SendMessageW(e.hwnd, LVM_DELETEITEM, static_cast<WPARAM>(have - 1), 0);
  const size_t cells = static_cast<size_t>(lines) * static_cast<size_t>(m.ColCount());
  if (e.shown.size() != cells) e.shown.assign(cells, std::string("\x01"));  // nothing shown yet
  for (int r = 0; r < lines; ++r)
    for (int c = 0; c < m.ColCount(); ++c) {
      std::string& shown =
          e.shown[static_cast<size_t>(r) * static_cast<size_t>(m.ColCount()) + static_cast<size_t>(c)];
      const std::string& cell = m.Cell(c, r + first);
      if (shown == cell) continue;
      shown = cell;
      // Frames end in a carriage return: control characters would show as boxes.
      std::wstring text = ToW(cell);
      std::erase_if(text, [](wchar_t ch) { return ch < 0x20; });
      LVITEMW item{};
      item.iSubItem = c;
      item.pszText = text.data();
      SendMessageW(e.hwnd, LVM_SETITEMTEXTW, static_cast<WPARAM>(r), reinterpret_cast<LPARAM>(&item));
    }
}

void FormView::SyncTimer(size_t index) {
  Entry& e = entries_[index];
  auto* t = static_cast<TTimer*>(e.model);
  if (t->Generation() == e.timer_generation) return;
  e.timer_generation = t->Generation();
  KillTimer(hwnd_, index + 1);
  if (t->Enabled() && t->Interval() > 0)
    SetTimer(hwnd_, index + 1, static_cast<UINT>(t->Interval()), nullptr);
}

void FormView::SyncOne(size_t index) {
  Entry& e = entries_[index];
  if (e.model->kind() == Kind::Timer) {
    SyncTimer(index);
    return;
  }
  if (!e.hwnd) return;
  auto& c = *static_cast<TControl*>(e.model);
  // What shows a checked state is compared with the model every time: the screen always equals it.
  if (c.kind() == Kind::CheckBox || c.kind() == Kind::RadioButton) {
    const bool checked = c.kind() == Kind::CheckBox ? static_cast<TCheckBox&>(c).Checked()
                                                    : static_cast<TRadioButton&>(c).Checked();
    if ((SendMessageW(e.hwnd, BM_GETCHECK, 0, 0) == BST_CHECKED) != checked)
      SendMessageW(e.hwnd, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
  }
  const bool changed = e.synced != e.model->Version();
  e.synced = e.model->Version();
  if (changed) {
    switch (c.kind()) {
      case Kind::Label: {
        auto& m = static_cast<TLabel&>(c);
        LONG_PTR style = GetWindowLongPtrW(e.hwnd, GWL_STYLE) & ~static_cast<LONG_PTR>(SS_TYPEMASK);
        style |= m.Alignment() == TAlignment::Center  ? SS_CENTER
                 : m.Alignment() == TAlignment::Right ? SS_RIGHT
                 : m.WordWrap()                       ? SS_LEFT
                                                      : SS_LEFTNOWORDWRAP;
        SetWindowLongPtrW(e.hwnd, GWL_STYLE, style);
        SetText(e.hwnd, m.Caption());
        break;
      }
      case Kind::Button: {
        auto& m = static_cast<TButton&>(c);
        SetText(e.hwnd, m.Caption());
        SendMessageW(e.hwnd, BM_SETSTYLE, m.Default() ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON, TRUE);
        break;
      }
      case Kind::Edit: {
        auto& m = static_cast<TEdit&>(c);
        SetText(e.hwnd, m.Text());
        SendMessageW(e.hwnd, EM_SETREADONLY, m.ReadOnly(), 0);
        SendMessageW(e.hwnd, EM_SETLIMITTEXT, m.MaxLength() > 0 ? static_cast<WPARAM>(m.MaxLength()) : 0, 0);
        break;
      }
      case Kind::Memo: {
        auto& m = static_cast<TMemo&>(c);
        // The model keeps lines: a trailing line break typed by the user is the same content.
        const std::string text = Joined(m.Lines());
        const std::string shown = FromW(WindowText(e.hwnd));
        if (shown != text && shown != text + "\r\n") SetWindowTextW(e.hwnd, ToW(text).c_str());
        SendMessageW(e.hwnd, EM_SETREADONLY, m.ReadOnly(), 0);
        break;
      }
      case Kind::CheckBox:
        SetText(e.hwnd, static_cast<TCheckBox&>(c).Caption());
        break;
      case Kind::RadioButton:
        SetText(e.hwnd, static_cast<TRadioButton&>(c).Caption());
        break;
      case Kind::RadioGroup:
        SyncRadioGroup(e);
        break;
      case Kind::ComboBox: {
        auto& m = static_cast<TComboBox&>(c);
        if (e.shown != m.Items()) {
          e.shown = m.Items();
          SendMessageW(e.hwnd, CB_RESETCONTENT, 0, 0);
          for (const auto& it : m.Items())
            SendMessageW(e.hwnd, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(ToW(it).c_str()));
        }
        if (SendMessageW(e.hwnd, CB_GETCURSEL, 0, 0) != m.ItemIndex())
          SendMessageW(e.hwnd, CB_SETCURSEL, static_cast<WPARAM>(m.ItemIndex()), 0);
        if (m.GetStyle() == TComboBox::Style::DropDown) SetText(e.hwnd, m.Text());
        break;
      }
      case Kind::TreeView:
        SyncTree(e);
        break;
      case Kind::StringGrid:
        SyncGrid(e);
        break;
      case Kind::ProgressBar: {
        auto& m = static_cast<TProgressBar&>(c);
        SendMessageW(e.hwnd, PBM_SETRANGE32, static_cast<WPARAM>(m.Min()), m.Max());
        SendMessageW(e.hwnd, PBM_SETPOS, static_cast<WPARAM>(m.Position()), 0);
        break;
      }
      default:
        break;
    }
    Place(e);
  }
  // Enabled and visible follow the containers as well, which change without this control's version.
  const int enabled = c.EnabledInForm() ? 1 : 0, visible = c.Visible() ? 1 : 0;
  if (enabled != e.shown_enabled) {
    e.shown_enabled = enabled;
    EnableWindow(e.hwnd, enabled);
    for (HWND item : e.items) EnableWindow(item, enabled);
    if (e.container) InvalidateRect(e.hwnd, nullptr, TRUE);
  }
  if (visible != e.shown_visible) {
    e.shown_visible = visible;
    ShowWindow(e.hwnd, visible ? SW_SHOWNA : SW_HIDE);
  }
}

void FormView::Sync() {
  if (!hwnd_) return;
  syncing_ = true;
  if (form_synced_ != form_.Version()) {
    form_synced_ = form_.Version();
    SetText(hwnd_, form_.Caption());
    const auto style = static_cast<DWORD>(GetWindowLongPtrW(hwnd_, GWL_STYLE));
    const auto ex = static_cast<DWORD>(GetWindowLongPtrW(hwnd_, GWL_EXSTYLE));
    RECT r{0, 0, Gdi::Scale(form_.ClientWidth()), Gdi::Scale(form_.ClientHeight())};
    AdjustWindowRectEx(&r, style, FALSE, ex);
    int x = Gdi::Scale(form_.Left()), y = Gdi::Scale(form_.Top());
    if (form_.Left() == 0 && form_.Top() == 0) {
      // A window that never placed itself opens in the middle of the screen, not in its corner.
      x = (GetSystemMetrics(SM_CXSCREEN) - (r.right - r.left)) / 2;
      y = (GetSystemMetrics(SM_CYSCREEN) - (r.bottom - r.top)) / 2;
    }
    SetWindowPos(hwnd_, form_.StayOnTop() ? HWND_TOPMOST : HWND_NOTOPMOST, x, y, r.right - r.left,
                 r.bottom - r.top, SWP_NOACTIVATE);
  }
  for (size_t i = 0; i < entries_.size(); ++i) SyncOne(i);
  // The page's focus choice reaches the control (the first focus of a window, or a SetFocus call).
  if (TControl* active = form_.ActiveControl()) {
    auto it = index_.find(active);
    if (it != index_.end()) {
      HWND h = entries_[it->second].hwnd;
      HWND focus = GetFocus();
      const bool inside = focus && (focus == h || IsChild(h, focus));
      if (h && !inside && IsWindowVisible(h) && IsWindowEnabled(h) && GetActiveWindow() == hwnd_) SetFocus(h);
    }
  }
  syncing_ = false;
}

// ---------------------------------------------------------------- window → model

void FormView::User(std::function<void()> action) {
  if (syncing_) return;
  dispatch_(std::move(action));
}

size_t FormView::EntryOf(HWND h, int* item) const {
  auto it = by_hwnd_.find(h);
  if (it == by_hwnd_.end()) return static_cast<size_t>(-1);
  if (item) *item = it->second.second;
  return it->second.first;
}

TButton* FormView::DefaultButton() const {
  for (const auto& e : entries_)
    if (e.model->kind() == Kind::Button) {
      auto* b = static_cast<TButton*>(e.model);
      if (b->Default() && b->VisibleInForm() && b->EnabledInForm()) return b;
    }
  return nullptr;
}

void FormView::Cancel() {
  // Escape: the page's cancel button when it has one, else what the close box does.
  User([this] {
    for (const auto& e : entries_)
      if (e.model->kind() == Kind::Button) {
        auto* b = static_cast<TButton*>(e.model);
        if (b->Cancel() && b->VisibleInForm() && b->EnabledInForm()) {
          b->UserClick();
          return;
        }
      }
    form_.Close();
  });
}

void FormView::Command(HWND from, UINT code, UINT id) {
  int item = -1;
  const size_t index = from ? EntryOf(from, &item) : static_cast<size_t>(-1);
  if (index >= entries_.size()) {
    if (id == IDCANCEL) Cancel();
    return;
  }
  TComponent* model = entries_[index].model;
  switch (model->kind()) {
    case Kind::Button:
    case Kind::CheckBox:
      if (code == BN_CLICKED) User([c = static_cast<TControl*>(model)] { c->UserClick(); });
      break;
    case Kind::RadioButton: {
      auto* m = static_cast<TRadioButton*>(model);
      if (code == BN_CLICKED) User([m] { m->UserClick(); });
      if (code == BN_DOUBLECLICKED && m->OnDblClick)
        User([m] {
          if (m->OnDblClick) m->OnDblClick();
        });
      break;
    }
    case Kind::RadioGroup:
      if (code == BN_CLICKED && item >= 0)
        User([m = static_cast<TRadioGroup*>(model), item] { m->UserSelect(item); });
      break;
    case Kind::Label:
      if (code == STN_CLICKED) User([c = static_cast<TControl*>(model)] { c->UserClick(); });
      if (code == STN_DBLCLK) User([c = static_cast<TControl*>(model)] { c->UserDblClick(); });
      break;
    case Kind::Edit:
      if (code == EN_CHANGE && !syncing_) {
        std::string text = FromW(WindowText(from));
        User([m = static_cast<TEdit*>(model), text] { m->UserSetText(text); });
      }
      break;
    case Kind::Memo:
      if (code == EN_CHANGE && !syncing_) {
        std::string text = FromW(WindowText(from));
        User([m = static_cast<TMemo*>(model), text] { m->UserSetText(text); });
      }
      break;
    case Kind::ComboBox: {
      auto* m = static_cast<TComboBox*>(model);
      HWND combo = entries_[index].hwnd;
      if (code == CBN_SELCHANGE) {
        const int i = static_cast<int>(SendMessageW(combo, CB_GETCURSEL, 0, 0));
        if (i >= 0) User([m, i] { m->UserSelect(i); });
      } else if (code == CBN_EDITCHANGE && !syncing_) {
        std::string text = FromW(WindowText(combo));
        User([m, text] { m->UserType(text); });
      }
      break;
    }
    default:
      break;
  }
}

LRESULT FormView::Notify(NMHDR* hdr) {
  const size_t index = EntryOf(hdr->hwndFrom);
  if (index >= entries_.size()) return 0;
  Entry& e = entries_[index];
  if (e.model->kind() == Kind::TreeView) {
    auto* m = static_cast<TTreeView*>(e.model);
    auto node_of = [&e, m](LPARAM param) -> TTreeNode* {
      const auto k = static_cast<size_t>(param);
      return k < e.nodes.size() && m->Contains(e.nodes[k]) ? e.nodes[k] : nullptr;
    };
    switch (hdr->code) {
      case TVN_SELCHANGEDW: {
        auto* nm = reinterpret_cast<NMTREEVIEWW*>(hdr);
        if (syncing_ || nm->action == TVC_UNKNOWN) break;
        TTreeNode* node = node_of(nm->itemNew.lParam);
        User([m, node] { m->SetSelected(node); });
        break;
      }
      case NM_CLICK: {
        TVHITTESTINFO hit{};
        const DWORD pos = GetMessagePos();
        hit.pt = {static_cast<short>(LOWORD(pos)), static_cast<short>(HIWORD(pos))};
        ScreenToClient(e.hwnd, &hit.pt);
        auto item =
            reinterpret_cast<HTREEITEM>(SendMessageW(e.hwnd, TVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
        if (!item || !(hit.flags & TVHT_ONITEM)) break;
        TVITEMW it{};
        it.mask = TVIF_PARAM;
        it.hItem = item;
        SendMessageW(e.hwnd, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&it));
        TTreeNode* node = node_of(it.lParam);
        if (node) User([m, node] { m->UserClickNode(node); });
        break;
      }
      case NM_DBLCLK:
        if (m->OnDblClick) User([m] { m->UserDblClick(); });
        break;
      case TVN_ITEMEXPANDEDW: {
        auto* nm = reinterpret_cast<NMTREEVIEWW*>(hdr);
        if (syncing_) break;
        TTreeNode* node = node_of(nm->itemNew.lParam);
        if (!node) break;
        node->SetExpanded((nm->action & TVE_EXPAND) != 0);
        // The view already shows it.
        e.synced = m->Version();
        e.shape = ShapeOf(*m);
        break;
      }
      default:
        break;
    }
  } else if (e.model->kind() == Kind::StringGrid && hdr->code == NM_DBLCLK) {
    auto* m = static_cast<TStringGrid*>(e.model);
    auto* nm = reinterpret_cast<NMITEMACTIVATE*>(hdr);
    if (m->Editing() && nm->iItem >= 0 && nm->iSubItem >= m->FixedCols())
      BeginCellEdit(index, nm->iItem, nm->iSubItem);
    if (m->OnDblClick) User([m] { m->UserDblClick(); });
  }
  return 0;
}

// ---------------------------------------------------------------- grid cells edited in place

namespace {

constexpr UINT kEndCellEdit = WM_APP + 1;

// Return keeps the typed text, Escape drops it, leaving the cell keeps it.
LRESULT CALLBACK CellEditSubclass(HWND h, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR view) {
  auto* v = reinterpret_cast<FormView*>(view);
  switch (msg) {
    case WM_GETDLGCODE:
      return DLGC_WANTALLKEYS | DefSubclassProc(h, msg, wp, lp);
    case WM_KEYDOWN:
      if (wp == VK_RETURN || wp == VK_ESCAPE) {
        v->RequestEndCellEdit(wp == VK_RETURN);
        return 0;
      }
      break;
    case WM_CHAR:
      if (wp == L'\r' || wp == 0x1B) return 0;
      break;
    case WM_KILLFOCUS:
      v->RequestEndCellEdit(true);
      break;
    case WM_NCDESTROY:
      RemoveWindowSubclass(h, CellEditSubclass, 1);
      break;
    default:
      break;
  }
  return DefSubclassProc(h, msg, wp, lp);
}

}  // namespace

void FormView::BeginCellEdit(size_t index, int item, int sub_item) {
  EndCellEdit(true);
  Entry& e = entries_[index];
  auto& m = *static_cast<TStringGrid*>(e.model);
  const int row = item + (m.FixedRows() > 0 ? m.FixedRows() : 0);
  RECT r{};
  r.top = sub_item;
  r.left = LVIR_BOUNDS;
  if (!SendMessageW(e.hwnd, LVM_GETSUBITEMRECT, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&r)))
    return;
  // The first column's bounds are the whole line.
  if (sub_item == 0) r.right = r.left + static_cast<int>(SendMessageW(e.hwnd, LVM_GETCOLUMNWIDTH, 0, 0));
  HWND edit = CreateWindowExW(0, L"EDIT", ToW(m.Cell(sub_item, row)).c_str(),
                              WS_CHILD | WS_VISIBLE | WS_BORDER | ES_AUTOHSCROLL, r.left, r.top,
                              r.right - r.left, r.bottom - r.top, e.hwnd, nullptr, Gdi::Instance(), nullptr);
  if (!edit) return;
  cell_edit_ = {edit, index, sub_item, row, false};
  SendMessageW(edit, WM_SETFONT, reinterpret_cast<WPARAM>(Gdi::Font(m.Font())), FALSE);
  SetWindowSubclass(edit, CellEditSubclass, 1, reinterpret_cast<DWORD_PTR>(this));
  SendMessageW(edit, EM_SETSEL, 0, -1);
  SetFocus(edit);
}

void FormView::RequestEndCellEdit(bool keep) {
  // Ended from the form's own message, not inside the editor's: it is destroyed there.
  if (!cell_edit_.edit || cell_edit_.ending) return;
  cell_edit_.ending = true;
  PostMessageW(hwnd_, kEndCellEdit, keep, 0);
}

void FormView::EndCellEdit(bool keep) {
  CellEdit done = cell_edit_;
  cell_edit_ = {};
  if (!done.edit) return;
  const std::string text = FromW(WindowText(done.edit));
  HWND grid = entries_[done.entry].hwnd;
  const bool had_focus = GetFocus() == done.edit;
  DestroyWindow(done.edit);
  if (had_focus) SetFocus(grid);
  if (keep)
    User([m = static_cast<TStringGrid*>(entries_[done.entry].model), col = done.col, row = done.row, text] {
      m->UserSetCell(col, row, text);
    });
}

HBRUSH FormView::ColorMessage(HDC dc, HWND control) {
  const size_t index = EntryOf(control);
  if (index >= entries_.size()) return nullptr;
  auto& c = *static_cast<TControl*>(entries_[index].model);
  if (c.Font().Color != clDefault && IsWindowEnabled(control)) SetTextColor(dc, Gdi::Ref(c.Font().Color));
  TColor back = c.Color();
  // A transparent label or a button's text shows the colour of what it sits on.
  for (TControl* p = c.Parent(); back == clDefault && p && c.kind() != Kind::Edit && c.kind() != Kind::Memo;
       p = p == &form_ ? nullptr : p->Parent())
    back = p->Color();
  if (c.kind() == Kind::Label && !static_cast<TLabel&>(c).Transparent() && c.Color() != clDefault)
    back = c.Color();
  if (back == clDefault) return nullptr;
  SetBkColor(dc, Gdi::Ref(back));
  return Gdi::Brush(back);
}

bool FormView::ContainerMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
  switch (msg) {
    case WM_COMMAND:
      Command(reinterpret_cast<HWND>(lp), HIWORD(wp), LOWORD(wp));
      result = 0;
      return true;
    case WM_NOTIFY:
      result = Notify(reinterpret_cast<NMHDR*>(lp));
      return true;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORLISTBOX: {
      LRESULT def = DefWindowProcW(hwnd_, msg, wp, lp);
      HBRUSH b = ColorMessage(reinterpret_cast<HDC>(wp), reinterpret_cast<HWND>(lp));
      result = b ? reinterpret_cast<LRESULT>(b) : def;
      return true;
    }
    default:
      return false;
  }
}

void FormView::PaintContainer(HWND h, size_t index) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(h, &ps);
  RECT r;
  GetClientRect(h, &r);
  if (index < entries_.size()) {
    auto& c = *static_cast<TControl*>(entries_[index].model);
    TColor back = clDefault;
    for (TControl* p = &c; back == clDefault && p; p = p == &form_ ? nullptr : p->Parent()) back = p->Color();
    FillRect(dc, &r, back == clDefault ? GetSysColorBrush(COLOR_BTNFACE) : Gdi::Brush(back));
    HGDIOBJ old = SelectObject(dc, Gdi::Font(c.Font()));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, !IsWindowEnabled(h)           ? GetSysColor(COLOR_GRAYTEXT)
                     : c.Font().Color != clDefault ? Gdi::Ref(c.Font().Color)
                                                   : GetSysColor(COLOR_BTNTEXT));
    std::wstring caption;
    if (c.kind() == Kind::GroupBox) caption = ToW(static_cast<TGroupBox&>(c).Caption());
    if (c.kind() == Kind::RadioGroup) caption = ToW(static_cast<TRadioGroup&>(c).Caption());
    if (c.kind() == Kind::Panel) {
      auto& p = static_cast<TPanel&>(c);
      if (p.BevelOuter() != TPanel::Bevel::None)
        DrawEdge(dc, &r, p.BevelOuter() == TPanel::Bevel::Raised ? BDR_RAISEDINNER : BDR_SUNKENOUTER,
                 BF_RECT);
      std::wstring text = ToW(p.Caption());
      DrawTextW(dc, text.c_str(), -1, &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    } else {
      // A group frame: an etched line whose top runs through the middle of the caption.
      SIZE ext{0, Gdi::Scale(12)};
      GetTextExtentPoint32W(dc, caption.empty() ? L"M" : caption.c_str(),
                            std::max(1, static_cast<int>(caption.size())), &ext);
      RECT frame = r;
      frame.top = ext.cy / 2;
      DrawEdge(dc, &frame, EDGE_ETCHED, BF_RECT);
      if (!caption.empty()) {
        RECT text{Gdi::Scale(8), 0, Gdi::Scale(8) + ext.cx + Gdi::Scale(4), ext.cy};
        FillRect(dc, &text, back == clDefault ? GetSysColorBrush(COLOR_BTNFACE) : Gdi::Brush(back));
        text.left += Gdi::Scale(2);
        DrawTextW(dc, caption.c_str(), -1, &text, DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
      }
    }
    SelectObject(dc, old);
  }
  EndPaint(h, &ps);
}

LRESULT FormView::ControlProc(HWND h, UINT msg, WPARAM wp, LPARAM lp, size_t index) {
  if (index < entries_.size()) {
    TComponent* model = entries_[index].model;
    auto* c = static_cast<TControl*>(model);
    switch (msg) {
      case WM_SETFOCUS: {
        LRESULT r = DefSubclassProc(h, msg, wp, lp);
        // The focus in the model follows (the page's OnExit handlers clamp numbers on leaving).
        if (c->Focusable())
          User([this, c] {
            if (form_.ActiveControl() != c) c->SetFocus();
          });
        return r;
      }
      case WM_CHAR:
        if ((model->kind() == Kind::Edit || model->kind() == Kind::ComboBox) && c->OnKeyPress && !syncing_) {
          // Typed characters pass the page's key filter first (digits-only fields and the like).
          char key = 0;
          if (wp == VK_BACK) {
            key = '\b';
          } else if (wp >= 0x20 && wp < 0x7F) {
            key = static_cast<char>(wp);
          } else if (wp >= 0x80) {
            const std::string gbk = FromW(std::wstring(1, static_cast<wchar_t>(wp)));
            if (!gbk.empty()) key = gbk.front();  // a GBK lead byte, as the original saw a double-byte key
          }
          if (key != 0) {
            c->OnKeyPress(key);
            if (key == 0) return 0;  // swallowed
          }
        }
        break;
      case WM_KEYUP:
        if (c->OnKeyUp) {
          const int key = static_cast<int>(wp);
          User([c, key] { c->UserKeyUp(key); });
        }
        break;
      default:
        break;
    }
  }
  return DefSubclassProc(h, msg, wp, lp);
}

LRESULT FormView::FormProc(UINT msg, WPARAM wp, LPARAM lp) {
  LRESULT r = 0;
  if (ContainerMessage(msg, wp, lp, r)) return r;
  switch (msg) {
    case DM_GETDEFID: {
      // Return presses the focused push button, else the page's default button.
      HWND focus = GetFocus();
      const size_t f = focus ? EntryOf(focus) : static_cast<size_t>(-1);
      if (f < entries_.size() && entries_[f].model->kind() == Kind::Button && IsWindowEnabled(focus))
        return MAKELRESULT(kFirstId + f, DC_HASDEFID);
      if (TButton* b = DefaultButton()) return MAKELRESULT(kFirstId + index_[b], DC_HASDEFID);
      return 0;
    }
    case WM_CLOSE:
      User([this] { form_.Close(); });
      return 0;
    case kEndCellEdit:
      EndCellEdit(wp != 0);
      return 0;
    case WM_TIMER: {
      const size_t index = static_cast<size_t>(wp) - 1;
      if (index < entries_.size() && entries_[index].model->kind() == Kind::Timer)
        User([t = static_cast<TTimer*>(entries_[index].model)] { t->Fire(); });
      return 0;
    }
    case WM_LBUTTONDBLCLK:
      if (form_.OnDblClick) User([this] { form_.UserDblClick(); });
      return 0;
    case WM_ACTIVATE:
      if (LOWORD(wp) != WA_INACTIVE) {
        // A plain window gives its controls no focus of its own: the page's active control, else
        // the first in the tab order.
        HWND focus = GetFocus();
        if (!focus || (focus != hwnd_ && !IsChild(hwnd_, focus))) {
          HWND want = nullptr;
          if (TControl* a = form_.ActiveControl()) {
            auto it = index_.find(a);
            if (it != index_.end()) want = entries_[it->second].hwnd;
          }
          if (!want || !IsWindowVisible(want) || !IsWindowEnabled(want))
            want = GetNextDlgTabItem(hwnd_, nullptr, FALSE);
          if (want) SetFocus(want);
        }
        return 0;
      }
      break;
    default:
      break;
  }
  return DefWindowProcW(hwnd_, msg, wp, lp);
}

}  // namespace korvel::ui::win32
