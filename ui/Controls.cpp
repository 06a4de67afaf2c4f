#include "ui/Controls.h"

#include <algorithm>

namespace korvel::ui {

TComponent::TComponent(Kind kind, TForm* owner, std::string name)
    : kind_(kind), owner_(owner), name_(std::move(name)) {}

// ---------------------------------------------------------------- TControl

TControl::TControl(Kind kind, TForm* owner, std::string name, TControl* parent)
    : TComponent(kind, owner, std::move(name)), parent_(parent) {}

void TControl::SetBounds(int left, int top, int width, int height) {
  if (left == left_ && top == top_ && width == width_ && height == height_) return;
  left_ = left;
  top_ = top;
  width_ = std::max(0, width);
  height_ = std::max(0, height);
  Touch();
}

void TControl::SetVisible(bool v) {
  if (v == visible_) return;
  visible_ = v;
  Touch();
}

void TControl::SetEnabled(bool v) {
  if (v == enabled_) return;
  enabled_ = v;
  Touch();
}

bool TControl::VisibleInForm() const {
  for (const TControl* c = this; c && c->kind() != Kind::Form; c = c->parent_)
    if (!c->visible_) return false;
  return true;
}

bool TControl::EnabledInForm() const {
  for (const TControl* c = this; c && c->kind() != Kind::Form; c = c->parent_)
    if (!c->enabled_) return false;
  return true;
}

void TControl::SetFont(const TFont& f) {
  if (f == font_) return;
  font_ = f;
  Touch();
}

void TControl::SetColor(TColor c) {
  if (c == color_) return;
  color_ = c;
  Touch();
}

void TControl::SetHint(std::string h) {
  if (h == hint_) return;
  hint_ = std::move(h);
  Touch();
}

void TControl::SetFocus() {
  if (Owner()) Owner()->SetActiveControl(this);
}

bool TControl::Focused() const {
  return Owner() && Owner()->ActiveControl() == this;
}

void TControl::UserClick() {
  if (Focusable()) SetFocus();
  if (OnClick) OnClick();
}

void TControl::UserDblClick() {
  if (OnDblClick) OnDblClick();
}

void TControl::UserKeyUp(int key) {
  if (Focusable() && !Focused()) SetFocus();
  if (OnKeyUp) OnKeyUp(key);
}

char TControl::FilterKey(char key) {
  if (OnKeyPress) OnKeyPress(key);
  return key;
}

// ---------------------------------------------------------------- simple controls

TLabel::TLabel(TForm* owner, std::string name, TControl* parent)
    : TControl(kKind, owner, std::move(name), parent) {}

void TLabel::SetCaption(std::string s) {
  if (s == caption_) return;
  caption_ = std::move(s);
  Touch();
}

void TLabel::SetAlignment(TAlignment a) {
  if (a == alignment_) return;
  alignment_ = a;
  Touch();
}

void TLabel::SetWordWrap(bool w) {
  if (w == word_wrap_) return;
  word_wrap_ = w;
  Touch();
}

void TLabel::SetTransparent(bool t) {
  if (t == transparent_) return;
  transparent_ = t;
  Touch();
}

TButton::TButton(TForm* owner, std::string name, TControl* parent)
    : TControl(kKind, owner, std::move(name), parent) {}

void TButton::SetCaption(std::string s) {
  if (s == caption_) return;
  caption_ = std::move(s);
  Touch();
}

void TButton::SetModalResult(int mr) {
  modal_result_ = mr;
}

void TButton::SetDefault(bool d) {
  if (d == default_) return;
  default_ = d;
  Touch();
}

void TButton::SetCancel(bool c) {
  cancel_ = c;
}

void TButton::SetFlat(bool f) {
  if (f == flat_) return;
  flat_ = f;
  Touch();
}

void TButton::Click() {
  if (OnClick) OnClick();
  if (modal_result_ != mrNone && Owner()) Owner()->SetModalResult(modal_result_);
}

void TButton::UserClick() {
  SetFocus();
  Click();
}

// ---------------------------------------------------------------- TEdit

TEdit::TEdit(TForm* owner, std::string name, TControl* parent)
    : TControl(kKind, owner, std::move(name), parent) {}

void TEdit::ChangeText(std::string s, bool by_user) {
  if (max_length_ > 0 && s.size() > static_cast<size_t>(max_length_))
    s.resize(static_cast<size_t>(max_length_));
  modified_ = by_user;
  if (s == text_) return;
  text_ = std::move(s);
  Touch();
  if (OnChange) OnChange();
}

void TEdit::SetText(std::string s) {
  ChangeText(std::move(s), false);
}

void TEdit::SetMaxLength(int n) {
  max_length_ = std::max(0, n);
}

void TEdit::SetReadOnly(bool r) {
  if (r == read_only_) return;
  read_only_ = r;
  Touch();
}

void TEdit::UserType(const std::string& keys) {
  if (!Focused()) SetFocus();
  for (char k : keys) {
    char key = FilterKey(k);
    if (key == 0 || read_only_) continue;
    std::string next = text_;
    if (key == '\b') {
      if (next.empty()) continue;
      // A GBK double-byte character goes as a whole: its lead byte is 0x81..0xFE.
      size_t cut = next.size() - 1;
      size_t i = 0;
      while (i < next.size()) {
        size_t len = (static_cast<unsigned char>(next[i]) >= 0x81 && i + 1 < next.size()) ? 2 : 1;
        if (i + len >= next.size()) {
          cut = i;
          break;
        }
        i += len;
      }
      next.resize(cut);
    } else {
      if (max_length_ > 0 && next.size() >= static_cast<size_t>(max_length_)) continue;
      next.push_back(key);
    }
    ChangeText(std::move(next), true);
  }
}

void TEdit::UserSetText(std::string s) {
  if (!Focused()) SetFocus();
  if (read_only_) return;
  ChangeText(std::move(s), true);
}

// ---------------------------------------------------------------- TMemo

TMemo::TMemo(TForm* owner, std::string name, TControl* parent)
    : TControl(kKind, owner, std::move(name), parent) {}

void TMemo::Changed() {
  Touch();
  if (OnChange) OnChange();
}

void TMemo::SetLines(std::vector<std::string> lines) {
  if (lines == lines_) return;
  lines_ = std::move(lines);
  Changed();
}

void TMemo::Add(std::string line) {
  lines_.push_back(std::move(line));
  Changed();
}

void TMemo::Clear() {
  if (lines_.empty()) return;
  lines_.clear();
  Changed();
}

std::string TMemo::Text() const {
  std::string out;
  for (const auto& l : lines_) {
    out += l;
    out += "\r\n";
  }
  return out;
}

namespace {
std::vector<std::string> SplitLines(const std::string& s) {
  std::vector<std::string> out;
  std::string cur;
  for (size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (c == '\r' || c == '\n') {
      out.push_back(std::move(cur));
      cur.clear();
      if (c == '\r' && i + 1 < s.size() && s[i + 1] == '\n') ++i;
    } else {
      cur.push_back(c);
    }
  }
  if (!cur.empty()) out.push_back(std::move(cur));
  return out;
}
}  // namespace

void TMemo::SetText(const std::string& s) {
  modified_ = false;
  SetLines(SplitLines(s));
}

void TMemo::SetReadOnly(bool r) {
  if (r == read_only_) return;
  read_only_ = r;
  Touch();
}

void TMemo::SetWordWrap(bool w) {
  if (w == word_wrap_) return;
  word_wrap_ = w;
  Touch();
}

void TMemo::SetScrollBars(ScrollBars s) {
  if (s == scroll_bars_) return;
  scroll_bars_ = s;
  Touch();
}

void TMemo::UserSetText(const std::string& s) {
  if (!Focused()) SetFocus();
  if (read_only_) return;
  auto lines = SplitLines(s);
  if (lines == lines_) return;
  modified_ = true;
  lines_ = std::move(lines);
  Changed();
}

// ---------------------------------------------------------------- check box, radio button, radio group

TCheckBox::TCheckBox(TForm* owner, std::string name, TControl* parent)
    : TControl(kKind, owner, std::move(name), parent) {}

void TCheckBox::SetCaption(std::string s) {
  if (s == caption_) return;
  caption_ = std::move(s);
  Touch();
}

void TCheckBox::SetChecked(bool c) {
  if (c == checked_) return;
  checked_ = c;
  Touch();
  if (OnClick) OnClick();
}

void TCheckBox::UserClick() {
  SetFocus();
  SetChecked(!checked_);
}

TRadioButton::TRadioButton(TForm* owner, std::string name, TControl* parent)
    : TControl(kKind, owner, std::move(name), parent) {}

void TRadioButton::SetCaption(std::string s) {
  if (s == caption_) return;
  caption_ = std::move(s);
  Touch();
}

void TRadioButton::SetChecked(bool c) {
  if (c == checked_) return;
  checked_ = c;
  Touch();
  if (!c) return;
  if (Owner()) {
    for (const auto& comp : Owner()->Components()) {
      if (comp.get() == this || comp->kind() != Kind::RadioButton) continue;
      auto* other = static_cast<TRadioButton*>(comp.get());
      if (other->Parent() == Parent()) other->SetChecked(false);
    }
  }
  if (OnClick) OnClick();
}

void TRadioButton::UserClick() {
  SetFocus();
  SetChecked(true);
}

void TRadioButton::UserDblClick() {
  UserClick();
  if (OnDblClick) OnDblClick();
}

TRadioGroup::TRadioGroup(TForm* owner, std::string name, TControl* parent)
    : TControl(kKind, owner, std::move(name), parent) {}

void TRadioGroup::SetCaption(std::string s) {
  if (s == caption_) return;
  caption_ = std::move(s);
  Touch();
}

void TRadioGroup::SetItems(std::vector<std::string> items) {
  items_ = std::move(items);
  item_index_ = -1;
  Touch();
}

void TRadioGroup::SetItemIndex(int i) {
  if (i < -1 || i >= static_cast<int>(items_.size())) i = -1;
  if (i == item_index_) return;
  item_index_ = i;
  Touch();
  if (OnClick) OnClick();
}

void TRadioGroup::SetColumns(int c) {
  c = std::max(1, c);
  if (c == columns_) return;
  columns_ = c;
  Touch();
}

void TRadioGroup::UserSelect(int i) {
  SetFocus();
  if (i < 0 || i >= static_cast<int>(items_.size())) return;
  SetItemIndex(i);
}

// ---------------------------------------------------------------- TComboBox

TComboBox::TComboBox(TForm* owner, std::string name, TControl* parent)
    : TControl(kKind, owner, std::move(name), parent) {}

int TComboBox::IndexOf(const std::string& s) const {
  auto it = std::find(items_.begin(), items_.end(), s);
  return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
}

void TComboBox::SetStyle(Style s) {
  if (s == style_) return;
  style_ = s;
  if (style_ == Style::DropDownList && item_index_ < 0) text_.clear();
  Touch();
}

void TComboBox::SetItems(std::vector<std::string> items) {
  items_ = std::move(items);
  item_index_ = -1;
  if (style_ == Style::DropDownList) text_.clear();
  Touch();
}

void TComboBox::AddItem(std::string item) {
  items_.push_back(std::move(item));
  Touch();
}

void TComboBox::SetItemIndex(int i) {
  if (i < -1 || i >= static_cast<int>(items_.size())) i = -1;
  if (i == item_index_ && (i < 0 || text_ == items_[static_cast<size_t>(i)])) return;
  item_index_ = i;
  if (i >= 0)
    text_ = items_[static_cast<size_t>(i)];
  else
    text_.clear();
  Touch();
}

void TComboBox::SetText(std::string s) {
  if (style_ == Style::DropDownList) {
    SetItemIndex(IndexOf(s));
    return;
  }
  if (s == text_) return;
  item_index_ = IndexOf(s);
  text_ = std::move(s);
  Touch();
}

void TComboBox::UserSelect(int i) {
  SetFocus();
  if (i < 0 || i >= static_cast<int>(items_.size())) return;
  if (i == item_index_) return;
  SetItemIndex(i);
  if (OnChange) OnChange();
}

void TComboBox::UserType(std::string s) {
  SetFocus();
  if (style_ == Style::DropDownList || s == text_) return;
  item_index_ = IndexOf(s);
  text_ = std::move(s);
  Touch();
  if (OnChange) OnChange();
}

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
  if (node == selected_) return;
  selected_ = node;
  Touch();
  if (OnChange) OnChange();
}

void TTreeView::SetReadOnly(bool r) {
  if (r == read_only_) return;
  read_only_ = r;
  Touch();
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
  n = std::clamp(n, 0, rows_ - 1);
  if (n == fixed_rows_) return;
  fixed_rows_ = n;
  Touch();
}

void TStringGrid::SetFixedCols(int n) {
  n = std::clamp(n, 0, cols_ - 1);
  if (n == fixed_cols_) return;
  fixed_cols_ = n;
  Touch();
}

const std::string& TStringGrid::Cell(int col, int row) const {
  static const std::string empty;
  if (col < 0 || row < 0 || col >= cols_ || row >= rows_) return empty;
  return cells_[static_cast<size_t>(row * cols_ + col)];
}

void TStringGrid::SetCell(int col, int row, std::string s) {
  if (col < 0 || row < 0 || col >= cols_ || row >= rows_) return;
  auto& cell = cells_[static_cast<size_t>(row * cols_ + col)];
  if (cell == s) return;
  cell = std::move(s);
  Touch();
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
  if (e == editing_) return;
  editing_ = e;
  Touch();
}

void TStringGrid::UserSetCell(int col, int row, std::string s) {
  SetFocus();
  if (!editing_ || col < fixed_cols_ || row < fixed_rows_ || col >= cols_ || row >= rows_) return;
  if (Cell(col, row) == s) return;
  SetCell(col, row, std::move(s));
  if (OnSetEditText) OnSetEditText(col, row);
}

// ---------------------------------------------------------------- progress bar, containers

TProgressBar::TProgressBar(TForm* owner, std::string name, TControl* parent)
    : TControl(kKind, owner, std::move(name), parent) {}

void TProgressBar::SetRange(int min, int max) {
  if (max < min) std::swap(min, max);
  min_ = min;
  max_ = max;
  position_ = std::clamp(position_, min_, max_);
  Touch();
}

void TProgressBar::SetPosition(int p) {
  p = std::clamp(p, min_, max_);
  if (p == position_) return;
  position_ = p;
  Touch();
}

TGroupBox::TGroupBox(TForm* owner, std::string name, TControl* parent)
    : TControl(kKind, owner, std::move(name), parent) {}

void TGroupBox::SetCaption(std::string s) {
  if (s == caption_) return;
  caption_ = std::move(s);
  Touch();
}

TPanel::TPanel(TForm* owner, std::string name, TControl* parent)
    : TControl(kKind, owner, std::move(name), parent) {}

void TPanel::SetCaption(std::string s) {
  if (s == caption_) return;
  caption_ = std::move(s);
  Touch();
}

void TPanel::SetBevelOuter(Bevel b) {
  if (b == bevel_) return;
  bevel_ = b;
  Touch();
}

// ---------------------------------------------------------------- TTimer

TTimer::TTimer(TForm* owner, std::string name, TControl*) : TComponent(kKind, owner, std::move(name)) {}

void TTimer::SetInterval(int ms) {
  ms = std::max(0, ms);
  if (ms == interval_) return;
  interval_ = ms;
  ++generation_;
  Touch();
}

void TTimer::SetEnabled(bool e) {
  if (e == enabled_) return;
  enabled_ = e;
  ++generation_;
  Touch();
}

void TTimer::Fire() {
  if (enabled_ && interval_ > 0 && OnTimer) OnTimer();
}

}  // namespace korvel::ui
