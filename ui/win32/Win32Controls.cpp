// The Win32 window of each page-model control kind: how it is created, how it is brought up to the
// model, and what its notifications do to the model. FormView looks the set up by the control's kind;
// the tree and the string grid are in Win32Lists.cpp.
#include <algorithm>

#include "ui/win32/Win32FormView.h"

namespace korvel::ui::win32 {
namespace {

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

// ---- Label

HWND FormView::CreateLabel(size_t index, HWND parent) {
  return MakeControl(index, parent, L"STATIC", SS_NOPREFIX | SS_NOTIFY);
}

void FormView::SyncLabel(Entry& e, TControl& c) {
  auto& m = static_cast<TLabel&>(c);
  LONG_PTR style = GetWindowLongPtrW(e.hwnd, GWL_STYLE) & ~static_cast<LONG_PTR>(SS_TYPEMASK);
  style |= m.Alignment() == TAlignment::Center  ? SS_CENTER
           : m.Alignment() == TAlignment::Right ? SS_RIGHT
           : m.WordWrap()                       ? SS_LEFT
                                                : SS_LEFTNOWORDWRAP;
  SetWindowLongPtrW(e.hwnd, GWL_STYLE, style);
  SetText(e.hwnd, m.Caption());
}

void FormView::LabelCommand(size_t index, HWND, UINT code, int) {
  auto* c = static_cast<TControl*>(entries_[index].model);
  if (code == STN_CLICKED) User([c] { c->UserClick(); });
  if (code == STN_DBLCLK) User([c] { c->UserDblClick(); });
}

// ---- Button (and the check box, which clicks the same way)

HWND FormView::CreateButton(size_t index, HWND parent) {
  auto& m = *static_cast<TButton*>(entries_[index].model);
  DWORD style = WS_TABSTOP | (m.Default() ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
  if (m.Flat()) style |= BS_FLAT;
  return MakeControl(index, parent, L"BUTTON", style);
}

void FormView::SyncButton(Entry& e, TControl& c) {
  auto& m = static_cast<TButton&>(c);
  SetText(e.hwnd, m.Caption());
  SendMessageW(e.hwnd, BM_SETSTYLE, m.Default() ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON, TRUE);
}

void FormView::ClickCommand(size_t index, HWND, UINT code, int) {
  if (code == BN_CLICKED) User([c = static_cast<TControl*>(entries_[index].model)] { c->UserClick(); });
}

// ---- Edit

HWND FormView::CreateEdit(size_t index, HWND parent) {
  return MakeControl(index, parent, L"EDIT", WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE);
}

void FormView::SyncEdit(Entry& e, TControl& c) {
  auto& m = static_cast<TEdit&>(c);
  SetText(e.hwnd, m.Text());
  SendMessageW(e.hwnd, EM_SETREADONLY, m.ReadOnly(), 0);
  SendMessageW(e.hwnd, EM_SETLIMITTEXT, m.MaxLength() > 0 ? static_cast<WPARAM>(m.MaxLength()) : 0, 0);
}

void FormView::EditCommand(size_t index, HWND from, UINT code, int) {
  if (code != EN_CHANGE || syncing_) return;
  std::string text = FromW(WindowText(from));
  User([m = static_cast<TEdit*>(entries_[index].model), text] { m->UserSetText(text); });
}

// ---- Memo

HWND FormView::CreateMemo(size_t index, HWND parent) {
  auto& m = *static_cast<TMemo*>(entries_[index].model);
  DWORD style = WS_TABSTOP | ES_MULTILINE | ES_WANTRETURN | ES_AUTOVSCROLL;
  const auto sb = m.GetScrollBars();
  if (sb == TMemo::ScrollBars::Vertical || sb == TMemo::ScrollBars::Both) style |= WS_VSCROLL;
  if (sb == TMemo::ScrollBars::Horizontal || sb == TMemo::ScrollBars::Both) style |= WS_HSCROLL;
  if (!m.WordWrap()) style |= ES_AUTOHSCROLL;
  return MakeControl(index, parent, L"EDIT", style, WS_EX_CLIENTEDGE);
}

void FormView::SyncMemo(Entry& e, TControl& c) {
  auto& m = static_cast<TMemo&>(c);
  // The model keeps lines: a trailing line break typed by the user is the same content.
  const std::string text = Joined(m.Lines());
  const std::string shown = FromW(WindowText(e.hwnd));
  if (shown != text && shown != text + "\r\n") SetWindowTextW(e.hwnd, ToW(text).c_str());
  SendMessageW(e.hwnd, EM_SETREADONLY, m.ReadOnly(), 0);
}

void FormView::MemoCommand(size_t index, HWND from, UINT code, int) {
  if (code != EN_CHANGE || syncing_) return;
  std::string text = FromW(WindowText(from));
  User([m = static_cast<TMemo*>(entries_[index].model), text] { m->UserSetText(text); });
}

// ---- Check box

HWND FormView::CreateCheckBox(size_t index, HWND parent) {
  return MakeControl(index, parent, L"BUTTON", WS_TABSTOP | BS_CHECKBOX);
}

void FormView::SyncCheckBox(Entry& e, TControl& c) {
  SetText(e.hwnd, static_cast<TCheckBox&>(c).Caption());
}

// ---- Radio button

HWND FormView::CreateRadioButton(size_t index, HWND parent) {
  // Not automatic: the model decides what is checked and the button shows it.
  return MakeControl(index, parent, L"BUTTON", WS_TABSTOP | BS_RADIOBUTTON | BS_NOTIFY);
}

void FormView::SyncRadioButton(Entry& e, TControl& c) {
  SetText(e.hwnd, static_cast<TRadioButton&>(c).Caption());
}

void FormView::RadioButtonCommand(size_t index, HWND, UINT code, int) {
  auto* m = static_cast<TRadioButton*>(entries_[index].model);
  if (code == BN_CLICKED) User([m] { m->UserClick(); });
  if (code == BN_DOUBLECLICKED && m->OnDblClick)
    User([m] {
      if (m->OnDblClick) m->OnDblClick();
    });
}

// ---- Containers: group box, panel and radio group (painted by PaintContainer)

HWND FormView::CreateBox(size_t index, HWND parent) {
  entries_[index].container = true;
  return MakeControl(index, parent, kBoxClass, WS_CLIPCHILDREN, WS_EX_CONTROLPARENT);
}

void FormView::SyncBox(Entry&, TControl&) {}

void FormView::SyncRadioGroup(Entry& e, TControl& c) {
  auto& m = static_cast<TRadioGroup&>(c);
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
      Subclass(b, index, static_cast<int>(i));
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

void FormView::RadioGroupCommand(size_t index, HWND, UINT code, int item) {
  if (code == BN_CLICKED && item >= 0)
    User([m = static_cast<TRadioGroup*>(entries_[index].model), item] { m->UserSelect(item); });
}

// ---- Combo box

HWND FormView::CreateComboBox(size_t index, HWND parent) {
  auto& m = *static_cast<TComboBox*>(entries_[index].model);
  const DWORD style = WS_TABSTOP | WS_VSCROLL | CBS_AUTOHSCROLL |
                      (m.GetStyle() == TComboBox::Style::DropDownList ? CBS_DROPDOWNLIST : CBS_DROPDOWN);
  HWND h = MakeControl(index, parent, WC_COMBOBOXW, style);
  // The typed part of a drop-down combo is a window of its own: its focus and keys count too.
  COMBOBOXINFO info{};
  info.cbSize = sizeof info;
  if (h && GetComboBoxInfo(h, &info) && info.hwndItem && info.hwndItem != h) Subclass(info.hwndItem, index);
  return h;
}

void FormView::SyncComboBox(Entry& e, TControl& c) {
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
}

void FormView::ComboBoxCommand(size_t index, HWND, UINT code, int) {
  auto* m = static_cast<TComboBox*>(entries_[index].model);
  HWND combo = entries_[index].hwnd;
  if (code == CBN_SELCHANGE) {
    const int i = static_cast<int>(SendMessageW(combo, CB_GETCURSEL, 0, 0));
    if (i >= 0) User([m, i] { m->UserSelect(i); });
  } else if (code == CBN_EDITCHANGE && !syncing_) {
    std::string text = FromW(WindowText(combo));
    User([m, text] { m->UserType(text); });
  }
}

// ---- Progress bar

HWND FormView::CreateProgressBar(size_t index, HWND parent) {
  return MakeControl(index, parent, PROGRESS_CLASSW, 0);
}

void FormView::SyncProgressBar(Entry& e, TControl& c) {
  auto& m = static_cast<TProgressBar&>(c);
  SendMessageW(e.hwnd, PBM_SETRANGE32, static_cast<WPARAM>(m.Min()), m.Max());
  SendMessageW(e.hwnd, PBM_SETPOS, static_cast<WPARAM>(m.Position()), 0);
}

// ---- the table

const FormView::KindView* FormView::ViewOf(Kind kind) {
  static const KindView kViews[] = {
      {Kind::Label, &FormView::CreateLabel, &FormView::SyncLabel, &FormView::LabelCommand, nullptr},
      {Kind::Button, &FormView::CreateButton, &FormView::SyncButton, &FormView::ClickCommand, nullptr},
      {Kind::Edit, &FormView::CreateEdit, &FormView::SyncEdit, &FormView::EditCommand, nullptr},
      {Kind::Memo, &FormView::CreateMemo, &FormView::SyncMemo, &FormView::MemoCommand, nullptr},
      {Kind::CheckBox, &FormView::CreateCheckBox, &FormView::SyncCheckBox, &FormView::ClickCommand, nullptr},
      {Kind::RadioButton, &FormView::CreateRadioButton, &FormView::SyncRadioButton,
       &FormView::RadioButtonCommand, nullptr},
      {Kind::RadioGroup, &FormView::CreateBox, &FormView::SyncRadioGroup, &FormView::RadioGroupCommand,
       nullptr},
      {Kind::GroupBox, &FormView::CreateBox, &FormView::SyncBox, nullptr, nullptr},
      {Kind::Panel, &FormView::CreateBox, &FormView::SyncBox, nullptr, nullptr},
      {Kind::ComboBox, &FormView::CreateComboBox, &FormView::SyncComboBox, &FormView::ComboBoxCommand,
       nullptr},
      {Kind::TreeView, &FormView::CreateTreeView, &FormView::SyncTreeView, nullptr,
       &FormView::TreeViewNotify},
      {Kind::StringGrid, &FormView::CreateStringGrid, &FormView::SyncStringGrid, nullptr,
       &FormView::StringGridNotify},
      {Kind::ProgressBar, &FormView::CreateProgressBar, &FormView::SyncProgressBar, nullptr, nullptr},
  };
  for (const KindView& v : kViews)
    if (v.kind == kind) return &v;
  return nullptr;
}

}  // namespace korvel::ui::win32
