#include "ui/Scripted.h"

#include <algorithm>
#include <stdexcept>

namespace korvel::ui {

// ---------------------------------------------------------------- ScriptedForm

void ScriptedForm::Fail(const std::string& what) const {
  backend_.Error(form_.ClassName() + ": " + what);
}

TControl* ScriptedForm::Usable(const std::string& name) {
  if (backend_.IsClosed(form_)) {
    Fail("acts on the closed form (" + name + ")");
    return nullptr;
  }
  if (!backend_.IsTop(form_)) {
    Fail("acts under another modal form (" + name + ")");
    return nullptr;
  }
  if (name == form_.ClassName()) return &form_;
  TComponent* comp = form_.FindComponent(name);
  if (!comp || comp->kind() == Kind::Timer || comp->kind() == Kind::SaveDialog ||
      comp->kind() == Kind::PrintDialog) {
    Fail("no control " + name);
    return nullptr;
  }
  auto* c = static_cast<TControl*>(comp);
  if (!form_.Visible()) {
    Fail(name + " on a hidden form");
    return nullptr;
  }
  if (!c->VisibleInForm()) {
    Fail(name + " is hidden");
    return nullptr;
  }
  if (!c->EnabledInForm()) {
    Fail(name + " is disabled");
    return nullptr;
  }
  return c;
}

void ScriptedForm::AfterAction() {
  backend_.SettleClose(form_);
}

void ScriptedForm::Click(const std::string& name) {
  TControl* c = Usable(name);
  if (!c) return;
  if (c->kind() == Kind::TreeView) {
    static_cast<TTreeView*>(c)->UserClickNode(nullptr);
  } else {
    c->UserClick();
  }
  AfterAction();
}

void ScriptedForm::DblClick(const std::string& name) {
  TControl* c = Usable(name);
  if (!c) return;
  c->UserDblClick();
  AfterAction();
}

void ScriptedForm::Type(const std::string& name, const std::string& keys) {
  TControl* c = Usable(name);
  if (!c) return;
  switch (c->kind()) {
    case Kind::Edit:
      if (static_cast<TEdit*>(c)->ReadOnly()) Fail(name + " is read-only");
      static_cast<TEdit*>(c)->UserType(keys);
      break;
    case Kind::ComboBox:
      if (static_cast<TComboBox*>(c)->GetStyle() == TComboBox::Style::DropDownList)
        Fail(name + " takes no typed text");
      static_cast<TComboBox*>(c)->UserType(keys);
      break;
    case Kind::Memo:
      if (static_cast<TMemo*>(c)->ReadOnly()) Fail(name + " is read-only");
      static_cast<TMemo*>(c)->UserSetText(keys);
      break;
    default:
      Fail(name + " takes no text");
      return;
  }
  AfterAction();
}

void ScriptedForm::Paste(const std::string& name, const std::string& text) {
  TControl* c = Usable(name);
  if (!c) return;
  if (c->kind() != Kind::Edit) {
    Type(name, text);
    return;
  }
  if (static_cast<TEdit*>(c)->ReadOnly()) Fail(name + " is read-only");
  static_cast<TEdit*>(c)->UserSetText(text);
  AfterAction();
}

void ScriptedForm::Focus(const std::string& name) {
  TControl* c = Usable(name);
  if (!c) return;
  if (!c->Focusable()) {
    Fail(name + " takes no focus");
    return;
  }
  c->SetFocus();
  AfterAction();
}

void ScriptedForm::Select(const std::string& name, int index) {
  TControl* c = Usable(name);
  if (!c) return;
  if (c->kind() == Kind::ComboBox) {
    auto* cb = static_cast<TComboBox*>(c);
    if (index < 0 || index >= static_cast<int>(cb->Items().size()))
      Fail(name + " has no item " + std::to_string(index));
    cb->UserSelect(index);
  } else if (c->kind() == Kind::RadioGroup) {
    auto* rg = static_cast<TRadioGroup*>(c);
    if (index < 0 || index >= static_cast<int>(rg->Items().size()))
      Fail(name + " has no item " + std::to_string(index));
    rg->UserSelect(index);
  } else {
    Fail(name + " has no items");
    return;
  }
  AfterAction();
}

bool ScriptedForm::ClickNode(const std::string& tree, const std::vector<std::string>& path) {
  TControl* c = Usable(tree);
  if (!c) return false;
  if (c->kind() != Kind::TreeView) {
    Fail(tree + " is not a tree");
    return false;
  }
  bool found = static_cast<TTreeView*>(c)->UserClickPath(path);
  if (!found) Fail(tree + " has no such node");
  AfterAction();
  return found;
}

void ScriptedForm::KeyUp(const std::string& name, int key) {
  TControl* c = Usable(name);
  if (!c) return;
  c->UserKeyUp(key);
  AfterAction();
}

void ScriptedForm::SetCell(const std::string& grid, int col, int row, const std::string& text) {
  TControl* c = Usable(grid);
  if (!c) return;
  if (c->kind() != Kind::StringGrid || !static_cast<TStringGrid*>(c)->Editing()) {
    Fail(grid + " is not an editable grid");
    return;
  }
  static_cast<TStringGrid*>(c)->UserSetCell(col, row, text);
  AfterAction();
}

void ScriptedForm::Close() {
  if (backend_.IsClosed(form_)) {
    Fail("closes the closed form");
    return;
  }
  form_.Close();
  AfterAction();
}

void ScriptedForm::Advance(int ms) {
  backend_.Advance(ms);
}

std::string ScriptedForm::Text(const std::string& name) const {
  const TComponent* c = name == form_.ClassName() ? &form_ : form_.FindComponent(name);
  if (!c) {
    Fail("reads missing " + name);
    return {};
  }
  switch (c->kind()) {
    case Kind::Form:
      return static_cast<const TForm*>(c)->Caption();
    case Kind::Label:
      return static_cast<const TLabel*>(c)->Caption();
    case Kind::Button:
      return static_cast<const TButton*>(c)->Caption();
    case Kind::Edit:
      return static_cast<const TEdit*>(c)->Text();
    case Kind::Memo:
      return static_cast<const TMemo*>(c)->Text();
    case Kind::CheckBox:
      return static_cast<const TCheckBox*>(c)->Caption();
    case Kind::RadioButton:
      return static_cast<const TRadioButton*>(c)->Caption();
    case Kind::RadioGroup:
      return static_cast<const TRadioGroup*>(c)->Caption();
    case Kind::ComboBox:
      return static_cast<const TComboBox*>(c)->Text();
    case Kind::GroupBox:
      return static_cast<const TGroupBox*>(c)->Caption();
    case Kind::Panel:
      return static_cast<const TPanel*>(c)->Caption();
    default:
      return {};
  }
}

bool ScriptedForm::Checked(const std::string& name) const {
  const TComponent* c = form_.FindComponent(name);
  if (c && c->kind() == Kind::CheckBox) return static_cast<const TCheckBox*>(c)->Checked();
  if (c && c->kind() == Kind::RadioButton) return static_cast<const TRadioButton*>(c)->Checked();
  Fail("reads the checked state of " + name);
  return false;
}

int ScriptedForm::ItemIndex(const std::string& name) const {
  const TComponent* c = form_.FindComponent(name);
  if (c && c->kind() == Kind::RadioGroup) return static_cast<const TRadioGroup*>(c)->ItemIndex();
  if (c && c->kind() == Kind::ComboBox) return static_cast<const TComboBox*>(c)->ItemIndex();
  Fail("reads the item index of " + name);
  return -1;
}

bool ScriptedForm::Enabled(const std::string& name) const {
  const TComponent* c = form_.FindComponent(name);
  if (!c || c->kind() == Kind::Timer || c->kind() == Kind::SaveDialog || c->kind() == Kind::PrintDialog) {
    Fail("reads the enabled state of " + name);
    return false;
  }
  return static_cast<const TControl*>(c)->EnabledInForm();
}

bool ScriptedForm::Visible(const std::string& name) const {
  const TComponent* c = form_.FindComponent(name);
  if (!c || c->kind() == Kind::Timer || c->kind() == Kind::SaveDialog || c->kind() == Kind::PrintDialog) {
    Fail("reads the visibility of " + name);
    return false;
  }
  return static_cast<const TControl*>(c)->VisibleInForm();
}

bool ScriptedForm::Closed() const {
  return backend_.IsClosed(form_);
}

// ---------------------------------------------------------------- ScriptedBackend

ScriptedBackend::ScriptedBackend() {
  set_backend(this);
}

ScriptedBackend::~ScriptedBackend() {
  if (&backend() == this) set_backend(nullptr);
}

void ScriptedBackend::On(const std::string& form_key, FormScript script) {
  scripts_[form_key] = std::move(script);
}

void ScriptedBackend::Expect(const std::string& form_key, FormScript script) {
  expected_.emplace_back(form_key, std::move(script));
}

void ScriptedBackend::AnswerMessage(int modal_result) {
  message_answers_.push_back(modal_result);
}

void ScriptedBackend::AnswerSaveDialog(std::optional<std::string> path) {
  save_answers_.push_back(std::move(path));
}

void ScriptedBackend::AnswerPrintDialog(bool ok) {
  print_answers_.push_back(ok);
}

std::string ScriptedBackend::ErrorText() const {
  std::string out;
  for (const auto& e : errors_) out += e + "\n";
  return out;
}

void ScriptedBackend::ClearRecords() {
  messages_.clear();
  save_dialogs_.clear();
  print_dialogs_ = 0;
  printed_.clear();
  shown_.clear();
  errors_.clear();
}

TForm* ScriptedBackend::ActiveForm() const {
  for (auto it = stack_.rbegin(); it != stack_.rend(); ++it)
    if (!it->closed) return it->form;
  return nullptr;
}

bool ScriptedBackend::IsClosed(const TForm& form) const {
  for (const auto& o : stack_)
    if (o.form == &form) return o.closed;
  return true;
}

bool ScriptedBackend::IsTop(const TForm& form) const {
  return ActiveForm() == &form;
}

bool ScriptedBackend::SettleClose(TForm& form) {
  for (auto& o : stack_) {
    if (o.form != &form) continue;
    if (o.closed) return true;
    if (form.ModalResult() != mrNone && form.CloseModal()) o.closed = true;
    return o.closed;
  }
  return true;
}

int ScriptedBackend::ShowModal(TForm& form) {
  auto matches = [&form](const std::string& key) { return key == form.ClassName() || key == form.Caption(); };
  if (TForm* top = ActiveForm()) top->SetActive(false);
  stack_.push_back({&form, false});
  shown_.push_back(form.ClassName());
  // An exception from page code is a test failure, recorded; the modal chain stays consistent.
  auto guarded = [this, &form](const std::function<void()>& fn) {
    try {
      fn();
    } catch (const std::exception& e) {
      Error(form.ClassName() + ": exception: " + e.what());
    } catch (...) {
      Error(form.ClassName() + ": exception");
    }
  };
  guarded([&form] { form.BeginModal(); });
  form.SetActive(true);

  FormScript script;
  if (!expected_.empty()) {
    if (matches(expected_.front().first)) {
      script = std::move(expected_.front().second);
      expected_.pop_front();
    } else {
      Error("expected form " + expected_.front().first + ", shown " + form.ClassName());
    }
  }
  if (!script) {
    auto it = scripts_.find(form.ClassName());
    if (it == scripts_.end()) it = scripts_.find(form.Caption());
    if (it != scripts_.end()) script = it->second;
  }
  ScriptedForm handle(*this, form);
  // OnShow may already have closed the form.
  guarded([&] { SettleClose(form); });
  if (!script) {
    Error("no script for form " + form.ClassName());
  } else if (!IsClosed(form)) {
    guarded([&] { script(handle); });
  }
  if (!IsClosed(form)) {
    // The script left it open: the user closes it with the close box.
    guarded([&form] { form.Close(); });
    bool closed = false;
    guarded([&] { closed = SettleClose(form); });
    if (!closed) {
      Error(form.ClassName() + " refused to close");
      stack_.back().closed = true;
    }
  }
  int result = form.ModalResult();
  stack_.erase(
      std::find_if(stack_.begin(), stack_.end(), [&form](const OpenForm& o) { return o.form == &form; }));
  form.EndModal();
  // Timers of a closed form stop with it.
  for (const auto& c : form.Components())
    if (c->kind() == Kind::Timer) timers_.erase(static_cast<const TTimer*>(c.get()));
  if (TForm* top = ActiveForm()) top->SetActive(true);
  return result;
}

int ScriptedBackend::MessageBox(const MessageBoxParams& p) {
  int answer;
  if (!message_answers_.empty()) {
    answer = message_answers_.front();
    message_answers_.pop_front();
  } else {
    answer = (p.Buttons == MsgButtons::Ok || p.Buttons == MsgButtons::OkCancel) ? mrOk : mrYes;
  }
  bool fits = false;
  switch (p.Buttons) {
    case MsgButtons::Ok:
      fits = answer == mrOk;
      break;
    case MsgButtons::OkCancel:
      fits = answer == mrOk || answer == mrCancel;
      break;
    case MsgButtons::YesNo:
      fits = answer == mrYes || answer == mrNo;
      break;
    case MsgButtons::YesNoCancel:
      fits = answer == mrYes || answer == mrNo || answer == mrCancel;
      break;
  }
  if (!fits) Error("message box answered with a button it does not have: " + std::to_string(answer));
  messages_.push_back({p.Text, p.Caption, p.Icon, p.Buttons, p.Owner ? p.Owner->ClassName() : "", answer});
  return answer;
}

bool ScriptedBackend::SaveDialog(TSaveDialog& dialog) {
  SaveDialogRecord rec{dialog.FileName, dialog.Filter, dialog.DefaultExt, false};
  std::optional<std::string> answer;
  if (!save_answers_.empty()) {
    answer = std::move(save_answers_.front());
    save_answers_.pop_front();
  }
  if (answer) {
    std::string path = *answer;
    auto slash = path.find_last_of("/\\");
    auto dot = path.find_last_of('.');
    bool has_ext = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    if (!has_ext && !dialog.DefaultExt.empty()) path += "." + dialog.DefaultExt;
    dialog.FileName = path;
    rec.Confirmed = true;
  }
  save_dialogs_.push_back(std::move(rec));
  return answer.has_value();
}

bool ScriptedBackend::PrintDialog(TPrintDialog&) {
  ++print_dialogs_;
  if (print_answers_.empty()) return false;
  bool ok = print_answers_.front();
  print_answers_.pop_front();
  return ok;
}

bool ScriptedBackend::Print(const PrintDocument& doc) {
  printed_.push_back(doc);
  return true;
}

void ScriptedBackend::RefreshTimers() {
  std::map<const TTimer*, TimerState> next;
  for (const auto& o : stack_) {
    if (o.closed) continue;
    for (const auto& c : o.form->Components()) {
      if (c->kind() != Kind::Timer) continue;
      const auto* t = static_cast<const TTimer*>(c.get());
      if (!t->Enabled() || t->Interval() <= 0 || !t->OnTimer) continue;
      auto it = timers_.find(t);
      if (it != timers_.end() && it->second.generation == t->Generation())
        next[t] = it->second;
      else
        next[t] = {t->Generation(), now_ + static_cast<std::uint64_t>(t->Interval())};
    }
  }
  timers_ = std::move(next);
}

void ScriptedBackend::Advance(int ms) {
  if (ms < 0) return;
  const std::uint64_t end = now_ + static_cast<std::uint64_t>(ms);
  for (;;) {
    RefreshTimers();
    const TTimer* due = nullptr;
    std::uint64_t when = end + 1;
    for (const auto& [t, st] : timers_)
      if (st.due < when) {
        when = st.due;
        due = t;
      }
    if (!due || when > end) break;
    now_ = when;
    timers_[due].due = when + static_cast<std::uint64_t>(due->Interval());
    TForm* owner = due->Owner();
    try {
      const_cast<TTimer*>(due)->Fire();
      if (owner) SettleClose(*owner);
    } catch (const std::exception& e) {
      Error("timer " + due->Name() + ": exception: " + e.what());
    } catch (...) {
      Error("timer " + due->Name() + ": exception");
    }
  }
  now_ = end;
}

}  // namespace korvel::ui
