#include <algorithm>

#include "ui/Controls.h"

namespace korvel::ui {

// ---------------------------------------------------------------- TTreeView

void TTreeNode::SetText(std::string s) {
  if (s == text_) return;
  text_ = std::move(s);
  tree_->Changed();
}

TTreeNode* TTreeNode::Item(int i) const {
  return i >= 0 && i < Count() ? children_[static_cast<size_t>(i)].get() : nullptr;
}

int TTreeNode::Index() const {
  const auto& sibs = parent_ ? parent_->children_ : tree_->roots_;
  for (size_t i = 0; i < sibs.size(); ++i)
    if (sibs[i].get() == this) return static_cast<int>(i);
  return -1;
}

void TTreeNode::SetExpanded(bool e) {
  if (e == expanded_) return;
  expanded_ = e;
  tree_->Changed();
}

void TTreeNode::Expand(bool recurse) {
  SetExpanded(true);
  if (recurse)
    for (auto& c : children_) c->Expand(true);
}

bool TTreeNode::Selected() const {
  return tree_->Selected() == this;
}

TTreeView::TTreeView(TForm* owner, std::string name, TControl* parent)
    : TControl(kKind, owner, std::move(name), parent) {}

TTreeView::~TTreeView() = default;

TTreeNode* TTreeView::AddChild(TTreeNode* parent, std::string text) {
  if (parent && !Contains(parent)) return nullptr;
  auto& list = parent ? parent->children_ : roots_;
  list.push_back(std::unique_ptr<TTreeNode>(new TTreeNode(this, parent, std::move(text))));
  Changed();
  return list.back().get();
}

TTreeNode* TTreeView::Insert(TTreeNode* sibling, std::string text) {
  if (!sibling || !Contains(sibling)) return AddChild(nullptr, std::move(text));
  TTreeNode* parent = sibling->parent_;
  auto& list = parent ? parent->children_ : roots_;
  auto it = list.begin() + sibling->Index();
  it = list.insert(it, std::unique_ptr<TTreeNode>(new TTreeNode(this, parent, std::move(text))));
  Changed();
  return it->get();
}

namespace {
bool Within(const TTreeNode* node, const TTreeNode* ancestor) {
  for (; node; node = node->Parent())
    if (node == ancestor) return true;
  return false;
}
}  // namespace

void TTreeView::Delete(TTreeNode* node) {
  if (!node || !Contains(node)) return;
  bool lost_selection = Within(selected_, node);
  auto& list = node->parent_ ? node->parent_->children_ : roots_;
  list.erase(list.begin() + node->Index());
  Changed();
  if (lost_selection) {
    selected_ = nullptr;
    if (OnChange) OnChange();
  }
}

void TTreeView::Clear() {
  if (roots_.empty()) return;
  bool had_selection = selected_ != nullptr;
  selected_ = nullptr;
  roots_.clear();
  Changed();
  if (had_selection && OnChange) OnChange();
}

TTreeNode* TTreeView::TopItem(int i) const {
  return i >= 0 && i < TopCount() ? roots_[static_cast<size_t>(i)].get() : nullptr;
}

namespace {
int CountNode(const TTreeNode* node) {
  int n = 1;
  for (int i = 0; i < node->Count(); ++i) n += CountNode(node->Item(i));
  return n;
}
// Compares pointers only, so a stale pointer from a page is never dereferenced.
bool ContainsUnder(const TTreeNode* root, const TTreeNode* node) {
  if (root == node) return true;
  for (int i = 0; i < root->Count(); ++i)
    if (ContainsUnder(root->Item(i), node)) return true;
  return false;
}
}  // namespace

int TTreeView::Count() const {
  int n = 0;
  for (const auto& r : roots_) n += CountNode(r.get());
  return n;
}

bool TTreeView::Contains(const TTreeNode* node) const {
  if (!node) return false;
  for (const auto& r : roots_)
    if (ContainsUnder(r.get(), node)) return true;
  return false;
}

void TTreeView::FullExpand() {
  for (auto& r : roots_) r->Expand(true);
}

void TTreeView::SetSelected(TTreeNode* node) {
  if (node && !Contains(node)) return;
  if (Assign(selected_, node) && OnChange) OnChange();
}

void TTreeView::SetReadOnly(bool r) {
  Assign(read_only_, r);
}

void TTreeView::UserClickNode(TTreeNode* node) {
  SetFocus();
  if (node) SetSelected(node);
  if (OnClick) OnClick();
}

bool TTreeView::UserClickPath(const std::vector<std::string>& path) {
  TTreeNode* found = nullptr;
  const std::vector<std::unique_ptr<TTreeNode>>* level = &roots_;
  for (const auto& text : path) {
    found = nullptr;
    for (const auto& c : *level)
      if (c->Text() == text) {
        found = c.get();
        break;
      }
    if (!found) return false;
    level = &found->children_;
  }
  if (!found) return false;
  UserClickNode(found);
  return true;
}

// ---------------------------------------------------------------- TStringGrid

TStringGrid::TStringGrid(TForm* owner, std::string name, TControl* parent)
    : TControl(kKind, owner, std::move(name), parent),
      cells_(static_cast<size_t>(cols_ * rows_)),
      col_widths_(static_cast<size_t>(cols_), default_col_width_) {}

void TStringGrid::SetColCount(int n) {
  n = std::max(1, n);
  if (n == cols_) return;
  std::vector<std::string> cells(static_cast<size_t>(n) * static_cast<size_t>(rows_));
  for (int r = 0; r < rows_; ++r)
    for (int c = 0; c < std::min(n, cols_); ++c)
      cells[static_cast<size_t>(r * n + c)] = std::move(cells_[static_cast<size_t>(r * cols_ + c)]);
  cells_ = std::move(cells);
  col_widths_.resize(static_cast<size_t>(n), default_col_width_);
  cols_ = n;
  fixed_cols_ = std::min(fixed_cols_, cols_ - 1);
  Touch();
}

void TStringGrid::SetRowCount(int n) {
  n = std::max(1, n);
  if (n == rows_) return;
  cells_.resize(static_cast<size_t>(n) * static_cast<size_t>(cols_));
  rows_ = n;
  fixed_rows_ = std::min(fixed_rows_, rows_ - 1);
  Touch();
}

void TStringGrid::SetFixedRows(int n) {
  Assign(fixed_rows_, std::clamp(n, 0, rows_ - 1));
}

void TStringGrid::SetFixedCols(int n) {
  Assign(fixed_cols_, std::clamp(n, 0, cols_ - 1));
}

const std::string& TStringGrid::Cell(int col, int row) const {
  static const std::string empty;
  if (col < 0 || row < 0 || col >= cols_ || row >= rows_) return empty;
  return cells_[static_cast<size_t>(row * cols_ + col)];
}

void TStringGrid::SetCell(int col, int row, std::string s) {
  if (col < 0 || row < 0 || col >= cols_ || row >= rows_) return;
  auto& cell = cells_[static_cast<size_t>(row * cols_ + col)];
  Assign(cell, std::move(s));
}

void TStringGrid::ClearRow(int row) {
  for (int c = 0; c < cols_; ++c) SetCell(c, row, {});
}

int TStringGrid::ColWidth(int col) const {
  return col >= 0 && col < cols_ ? col_widths_[static_cast<size_t>(col)] : 0;
}

void TStringGrid::SetColWidth(int col, int w) {
  if (col < 0 || col >= cols_ || col_widths_[static_cast<size_t>(col)] == w) return;
  col_widths_[static_cast<size_t>(col)] = std::max(0, w);
  Touch();
}

void TStringGrid::SetDefaultColWidth(int w) {
  default_col_width_ = std::max(0, w);
  std::fill(col_widths_.begin(), col_widths_.end(), default_col_width_);
  Touch();
}

void TStringGrid::SetDefaultRowHeight(int h) {
  if (h == default_row_height_) return;
  default_row_height_ = std::max(0, h);
  Touch();
}

void TStringGrid::SetEditing(bool e) {
  Assign(editing_, e);
}

void TStringGrid::UserSetCell(int col, int row, std::string s) {
  SetFocus();
  if (!editing_ || col < fixed_cols_ || row < fixed_rows_ || col >= cols_ || row >= rows_) return;
  if (Cell(col, row) == s) return;
  SetCell(col, row, std::move(s));
  if (OnSetEditText) OnSetEditText(col, row);
}

}  // namespace korvel::ui
