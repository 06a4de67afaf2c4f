// The form's own window, its containers and the plumbing every control shares: building the
// windows, keeping them in step with the model, and turning window messages into user actions. What
// differs per control kind is in Win32Controls.cpp and Win32Lists.cpp.
#include "ui/win32/Win32FormView.h"

#include <algorithm>

namespace korvel::ui::win32 {

// ---------------------------------------------------------------- window classes

namespace {

constexpr const wchar_t* kFormClass = L"KorvelPLNKForm";

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
    if (msg == WM_CLOSE) return 0;       // a container is no window of its own to close
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
  const KindView* view = ViewOf(entries_[index].model->kind());
  return view ? (this->*view->create)(index, parent) : nullptr;
}

HWND FormView::MakeControl(size_t index, HWND parent, const wchar_t* cls, DWORD style, DWORD ex) {
  const bool container = entries_[index].container;
  HWND h = CreateWindowExW(ex, cls, L"", WS_CHILD | WS_CLIPSIBLINGS | style, 0, 0, 0, 0, parent,
                           reinterpret_cast<HMENU>(static_cast<UINT_PTR>(kFirstId + index)), Gdi::Instance(),
                           container ? this : nullptr);
  if (h && !container) Subclass(h, index);
  return h;
}

void FormView::Subclass(HWND h, size_t index, int item) {
  SetWindowSubclass(h, ControlSubclass, index, reinterpret_cast<DWORD_PTR>(this));
  by_hwnd_[h] = {index, item};
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

void FormView::SyncTimer(size_t index) {
  Entry& e = entries_[index];
  auto* t = static_cast<TTimer*>(e.model);
  if (t->Generation() == e.timer_generation) return;
  e.timer_generation = t->Generation();
  KillTimer(hwnd_, index + 1);
  if (t->Enabled() && t->Interval() > 0)
    SetTimer(hwnd_, index + 1, static_cast<UINT>(t->Interval()), nullptr);
}

namespace {

// Whether the control shows a checked state, and which.
bool ShowsCheck(const TControl& c, bool& checked) {
  if (c.kind() == Kind::CheckBox) checked = static_cast<const TCheckBox&>(c).Checked();
  if (c.kind() == Kind::RadioButton) checked = static_cast<const TRadioButton&>(c).Checked();
  return c.kind() == Kind::CheckBox || c.kind() == Kind::RadioButton;
}

}  // namespace

void FormView::SyncOne(size_t index) {
  Entry& e = entries_[index];
  if (e.model->kind() == Kind::Timer) {
    SyncTimer(index);
    return;
  }
  if (!e.hwnd) return;
  auto& c = *static_cast<TControl*>(e.model);
  // What shows a checked state is compared with the model every time: the screen always equals it.
  bool checked = false;
  if (ShowsCheck(c, checked) && (SendMessageW(e.hwnd, BM_GETCHECK, 0, 0) == BST_CHECKED) != checked)
    SendMessageW(e.hwnd, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
  if (e.synced != e.model->Version()) {
    e.synced = e.model->Version();
    if (const KindView* view = ViewOf(c.kind())) (this->*view->sync)(e, c);
    Place(e);
  }
  SyncEnabledVisible(e, c);
}

void FormView::SyncEnabledVisible(Entry& e, TControl& c) {
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
  const KindView* view = ViewOf(entries_[index].model->kind());
  if (view && view->command) (this->*view->command)(index, from, code, item);
}

LRESULT FormView::Notify(NMHDR* hdr) {
  const size_t index = EntryOf(hdr->hwndFrom);
  if (index >= entries_.size()) return 0;
  const KindView* view = ViewOf(entries_[index].model->kind());
  return view && view->notify ? (this->*view->notify)(index, hdr) : 0;
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

namespace {

// A typed character as the page's key filter sees it (0 for none): ASCII, backspace, or the lead byte
// of a GBK character, as the original saw a double-byte key.
char FilterKey(WPARAM wp) {
  if (wp == VK_BACK) return '\b';
  if (wp >= 0x20 && wp < 0x7F) return static_cast<char>(wp);
  if (wp < 0x80) return 0;
  const std::string gbk = FromW(std::wstring(1, static_cast<wchar_t>(wp)));
  return gbk.empty() ? 0 : gbk.front();
}

}  // namespace

LRESULT FormView::ControlProc(HWND h, UINT msg, WPARAM wp, LPARAM lp, size_t index) {
  if (index >= entries_.size()) return DefSubclassProc(h, msg, wp, lp);
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
    case WM_GETDLGCODE:
      if (model->kind() == Kind::Memo) return MemoDialogCode(h, wp, lp, *static_cast<TMemo*>(model));
      break;
    case WM_KEYDOWN:
      if (KeyDown(index, wp)) return 0;
      break;
    case WM_CHAR:
      if ((model->kind() == Kind::Edit || model->kind() == Kind::ComboBox) && c->OnKeyPress && !syncing_) {
        // Typed characters pass the page's key filter first (digits-only fields and the like).
        char key = FilterKey(wp);
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
  return DefSubclassProc(h, msg, wp, lp);
}

LRESULT FormView::MemoDialogCode(HWND h, WPARAM wp, LPARAM lp, const TMemo& m) {
  // A memo keeps the keys it edits with, but not the page's keys: Tab moves the focus on (Ctrl+Tab
  // stays with an editable memo), Escape acts on the page, and a read-only memo leaves Return to
  // the page's buttons as well.
  const LRESULT code = DefSubclassProc(h, WM_GETDLGCODE, wp, lp);
  const auto* msg = reinterpret_cast<const MSG*>(lp);
  if (!msg || msg->message != WM_KEYDOWN) return code;
  const bool ctrl = GetKeyState(VK_CONTROL) < 0;
  const bool page_key = (msg->wParam == VK_TAB && (m.ReadOnly() || !ctrl)) || msg->wParam == VK_ESCAPE ||
                        (msg->wParam == VK_RETURN && m.ReadOnly());
  return page_key ? code & ~static_cast<LRESULT>(DLGC_WANTALLKEYS | DLGC_WANTTAB) : code;
}

bool FormView::KeyDown(size_t index, WPARAM key) {
  TComponent* model = entries_[index].model;
  if (model->kind() == Kind::Memo && key == VK_ESCAPE) {
    // The edit control would send its page a close of its own, to its parent: a group box it sits
    // in would go. Escape in a memo is Escape on the page.
    Cancel();
    return true;
  }
  if (model->kind() != Kind::TreeView) return false;
  auto* tree = static_cast<TTreeView*>(model);
  const bool moves = key == VK_DOWN || key == VK_UP || key == VK_HOME || key == VK_END || key == VK_NEXT ||
                     key == VK_PRIOR || key == VK_LEFT || key == VK_RIGHT;
  if (!moves || tree->Selected() || tree->TopCount() == 0) return false;
  // With nothing selected, the first move of the keyboard selects the first node (the tree itself
  // would not move from nothing).
  User([tree] { tree->SetSelected(tree->TopItem(0)); });
  return true;
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
