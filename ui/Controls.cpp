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
  Assign(visible_, v);
}

void TControl::SetEnabled(bool v) {
  Assign(enabled_, v);
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
  Assign(font_, f);
}

void TControl::SetColor(TColor c) {
  Assign(color_, c);
}

void TControl::SetHint(std::string h) {
  Assign(hint_, std::move(h));
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
  Assign(caption_, std::move(s));
}

void TLabel::SetAlignment(TAlignment a) {
  Assign(alignment_, a);
}

void TLabel::SetWordWrap(bool w) {
  Assign(word_wrap_, w);
}

void TLabel::SetTransparent(bool t) {
  Assign(transparent_, t);
}

TButton::TButton(TForm* owner, std::string name, TControl* parent)
    : TControl(kKind, owner, std::move(name), parent) {}

void TButton::SetCaption(std::string s) {
  Assign(caption_, std::move(s));
}

void TButton::SetModalResult(int mr) {
  modal_result_ = mr;
}

void TButton::SetDefault(bool d) {
  Assign(default_, d);
}

void TButton::SetCancel(bool c) {
  cancel_ = c;
}

void TButton::SetFlat(bool f) {
  Assign(flat_, f);
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
  Assign(read_only_, r);
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
  Assign(read_only_, r);
}

void TMemo::SetWordWrap(bool w) {
  Assign(word_wrap_, w);
}

void TMemo::SetScrollBars(ScrollBars s) {
  Assign(scroll_bars_, s);
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
  Assign(caption_, std::move(s));
}

void TCheckBox::SetChecked(bool c) {
  if (Assign(checked_, c) && OnClick) OnClick();
}

void TCheckBox::UserClick() {
  SetFocus();
  SetChecked(!checked_);
}

TRadioButton::TRadioButton(TForm* owner, std::string name, TControl* parent)
    : TControl(kKind, owner, std::move(name), parent) {}

void TRadioButton::SetCaption(std::string s) {
  Assign(caption_, std::move(s));
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
  Assign(caption_, std::move(s));
}

void TRadioGroup::SetItems(std::vector<std::string> items) {
  items_ = std::move(items);
  item_index_ = -1;
  Touch();
}

void TRadioGroup::SetItemIndex(int i) {
  if (i < -1 || i >= static_cast<int>(items_.size())) i = -1;
  if (Assign(item_index_, i) && OnClick) OnClick();
}

void TRadioGroup::SetColumns(int c) {
  Assign(columns_, std::max(1, c));
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
  Assign(position_, std::clamp(p, min_, max_));
}

TGroupBox::TGroupBox(TForm* owner, std::string name, TControl* parent)
    : TControl(kKind, owner, std::move(name), parent) {}

void TGroupBox::SetCaption(std::string s) {
  Assign(caption_, std::move(s));
}

TPanel::TPanel(TForm* owner, std::string name, TControl* parent)
    : TControl(kKind, owner, std::move(name), parent) {}

void TPanel::SetCaption(std::string s) {
  Assign(caption_, std::move(s));
}

void TPanel::SetBevelOuter(Bevel b) {
  Assign(bevel_, b);
}

// ---------------------------------------------------------------- TTimer

TTimer::TTimer(TForm* owner, std::string name, TControl*) : TComponent(kKind, owner, std::move(name)) {}

void TTimer::SetInterval(int ms) {
  if (Assign(interval_, std::max(0, ms))) ++generation_;
}

void TTimer::SetEnabled(bool e) {
  if (Assign(enabled_, e)) ++generation_;
}

void TTimer::Fire() {
  if (enabled_ && interval_ > 0 && OnTimer) OnTimer();
}

}  // namespace korvel::ui
