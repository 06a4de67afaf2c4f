// The Win32 windows of the tree and the string grid (with its cells edited in place): created,
// brought up to the model, and their notifications turned into the user's actions on the model.
#include <algorithm>
#include <cstdint>
#include <functional>

#include "ui/win32/Win32FormView.h"

namespace korvel::ui::win32 {
namespace {

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

HTREEITEM NextItem(HWND tree, UINT how, HTREEITEM item) {
  return reinterpret_cast<HTREEITEM>(
      SendMessageW(tree, TVM_GETNEXTITEM, how, reinterpret_cast<LPARAM>(item)));
}

LPARAM ParamOf(HWND tree, HTREEITEM item) {
  TVITEMW it{};
  it.mask = TVIF_PARAM;
  it.hItem = item;
  SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&it));
  return it.lParam;
}

// The width a header needs for text: the text in the control's font, and the header's margins.
int TextWidth(HWND h, const TFont& font, const std::wstring& text) {
  HDC dc = GetDC(h);
  if (!dc) return 0;
  HGDIOBJ old = SelectObject(dc, Gdi::Font(font));
  SIZE ext{};
  GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &ext);
  SelectObject(dc, old);
  ReleaseDC(h, dc);
  return ext.cx + Gdi::Scale(16);
}

}  // namespace

// ---- Tree

HWND FormView::CreateTreeView(size_t index, HWND parent) {
  return MakeControl(index, parent, WC_TREEVIEWW,
                     WS_TABSTOP | TVS_HASLINES | TVS_HASBUTTONS | TVS_LINESATROOT | TVS_SHOWSELALWAYS,
                     WS_EX_CLIENTEDGE);
}

void FormView::SyncTreeView(Entry& e, TControl& c) {
  auto& m = static_cast<TTreeView&>(c);
  std::vector<std::string> shape = ShapeOf(m);
  if (shape != e.shape) {
    // Rebuilt only on a change of structure, so a click that merely selects keeps the user's view.
    e.shape = std::move(shape);
    BuildTree(e, m);
  }
  SelectTreeItem(e, m);
}

void FormView::BuildTree(Entry& e, const TTreeView& m) {
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
    auto item =
        reinterpret_cast<HTREEITEM>(SendMessageW(e.hwnd, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&ins)));
    for (int i = 0; i < node->Count(); ++i) add(node->Item(i), item);
    if (node->Expanded()) SendMessageW(e.hwnd, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(item));
  };
  for (int i = 0; i < m.TopCount(); ++i) add(m.TopItem(i), TVI_ROOT);
}

void FormView::SelectTreeItem(Entry& e, const TTreeView& m) {
  // The item whose node is the model's selected one.
  HTREEITEM want = nullptr;
  std::function<void(HTREEITEM)> find = [&](HTREEITEM item) {
    for (; item && !want; item = NextItem(e.hwnd, TVGN_NEXT, item)) {
      const auto k = static_cast<size_t>(ParamOf(e.hwnd, item));
      if (k < e.nodes.size() && e.nodes[k] == m.Selected()) want = item;
      find(NextItem(e.hwnd, TVGN_CHILD, item));
    }
  };
  if (m.Selected()) find(NextItem(e.hwnd, TVGN_ROOT, nullptr));
  if (NextItem(e.hwnd, TVGN_CARET, nullptr) != want)
    SendMessageW(e.hwnd, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(want));
}

void FormView::TreeClick(Entry& e, TTreeView& m) {
  TVHITTESTINFO hit{};
  const DWORD pos = GetMessagePos();
  hit.pt = {static_cast<short>(LOWORD(pos)), static_cast<short>(HIWORD(pos))};
  ScreenToClient(e.hwnd, &hit.pt);
  auto item =
      reinterpret_cast<HTREEITEM>(SendMessageW(e.hwnd, TVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
  if (!item || !(hit.flags & TVHT_ONITEM)) return;
  const auto k = static_cast<size_t>(ParamOf(e.hwnd, item));
  TTreeNode* node = k < e.nodes.size() && m.Contains(e.nodes[k]) ? e.nodes[k] : nullptr;
  if (node) User([&m, node] { m.UserClickNode(node); });
}

LRESULT FormView::TreeViewNotify(size_t index, NMHDR* hdr) {
  Entry& e = entries_[index];
  auto* m = static_cast<TTreeView*>(e.model);
  auto node_of = [&e, m](LPARAM param) -> TTreeNode* {
    const auto k = static_cast<size_t>(param);
    return k < e.nodes.size() && m->Contains(e.nodes[k]) ? e.nodes[k] : nullptr;
  };
  auto* nm = reinterpret_cast<NMTREEVIEWW*>(hdr);
  switch (hdr->code) {
    case TVN_SELCHANGINGW:
      // The tree selects an item of its own accord on taking the focus: the page would not know of
      // it, yet show it selected. Only the user's click or key, or the page, selects.
      return !syncing_ && nm->action == TVC_UNKNOWN ? TRUE : FALSE;
    case TVN_SELCHANGEDW:
      if (!syncing_ && nm->action != TVC_UNKNOWN)
        User([m, node = node_of(nm->itemNew.lParam)] { m->SetSelected(node); });
      break;
    case NM_CLICK:
      TreeClick(e, *m);
      break;
    case NM_DBLCLK:
      if (m->OnDblClick) User([m] { m->UserDblClick(); });
      break;
    case TVN_ITEMEXPANDEDW: {
      TTreeNode* node = syncing_ ? nullptr : node_of(nm->itemNew.lParam);
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
  return 0;
}

// ---- String grid

HWND FormView::CreateStringGrid(size_t index, HWND parent) {
  HWND h = MakeControl(index, parent, WC_LISTVIEWW,
                       WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_NOSORTHEADER,
                       WS_EX_CLIENTEDGE);
  if (h) SendMessageW(h, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
  return h;
}

void FormView::SyncStringGrid(Entry& e, TControl& c) {
  auto& m = static_cast<TStringGrid&>(c);
  SyncGridColumns(e, m);
  SyncGridCells(e, m);
}

void FormView::SyncGridColumns(Entry& e, const TStringGrid& m) {
  HWND header = reinterpret_cast<HWND>(SendMessageW(e.hwnd, LVM_GETHEADER, 0, 0));
  int cols = header ? static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0)) : 0;
  for (; cols < m.ColCount(); ++cols) {
    LVCOLUMNW col{};
    col.mask = LVCF_WIDTH;
    SendMessageW(e.hwnd, LVM_INSERTCOLUMNW, static_cast<WPARAM>(cols), reinterpret_cast<LPARAM>(&col));
  }
  for (; cols > m.ColCount(); --cols)
    SendMessageW(e.hwnd, LVM_DELETECOLUMN, static_cast<WPARAM>(cols - 1), 0);
  // The fixed top row is the list's header; the other rows are its lines.
  const bool headed = m.FixedRows() > 0;
  for (int c = 0; c < m.ColCount(); ++c) {
    std::wstring text = headed ? ToW(m.Cell(c, 0)) : std::wstring();
    LVCOLUMNW col{};
    col.mask = LVCF_WIDTH | LVCF_TEXT;
    // At least as wide as the header's text: a cut "标签操..." tells the user nothing.
    col.cx = std::max(Gdi::Scale(m.ColWidth(c)), text.empty() ? 0 : TextWidth(e.hwnd, m.Font(), text));
    col.pszText = text.data();
    SendMessageW(e.hwnd, LVM_SETCOLUMNW, static_cast<WPARAM>(c), reinterpret_cast<LPARAM>(&col));
  }
}

void FormView::SyncGridCells(Entry& e, const TStringGrid& m) {
  const int first = m.FixedRows() > 0 ? m.FixedRows() : 0;
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

LRESULT FormView::StringGridNotify(size_t index, NMHDR* hdr) {
  if (hdr->code != NM_DBLCLK) return 0;
  auto* m = static_cast<TStringGrid*>(entries_[index].model);
  auto* nm = reinterpret_cast<NMITEMACTIVATE*>(hdr);
  if (m->Editing() && nm->iItem >= 0 && nm->iSubItem >= m->FixedCols())
    BeginCellEdit(index, nm->iItem, nm->iSubItem);
  if (m->OnDblClick) User([m] { m->UserDblClick(); });
  return 0;
}

// ---- grid cells edited in place

namespace {

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

}  // namespace korvel::ui::win32
