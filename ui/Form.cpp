#include "ui/Backend.h"
#include "ui/Controls.h"

namespace korvel::ui {

TForm::TForm(std::string class_name)
    : TControl(kKind, this, class_name, nullptr), class_name_(std::move(class_name)) {
  SetBounds(0, 0, 400, 300);
}

TForm::~TForm() = default;

void TForm::SetCaption(std::string s) {
  Assign(caption_, std::move(s));
}

void TForm::SetOwnerWindow(std::uintptr_t h) {
  owner_window_ = h;
}

void TForm::SetStayOnTop(bool s) {
  Assign(stay_on_top_, s);
}

void TForm::SetSizeable(bool s) {
  Assign(sizeable_, s);
}

TComponent* TForm::FindComponent(const std::string& name) const {
  for (const auto& c : components_)
    if (c->Name() == name) return c.get();
  return nullptr;
}

int TForm::ShowModal() {
  if (modal_) return mrNone;  // already running; a second loop on the same form would never end
  return backend().ShowModal(*this);
}

void TForm::SetModalResult(int mr) {
  modal_result_ = mr;
}

void TForm::Close() {
  if (modal_) {
    if (modal_result_ == mrNone) modal_result_ = mrCancel;
    return;
  }
  // Not modal: the close runs at once.
  bool can_close = true;
  if (OnCloseQuery) OnCloseQuery(can_close);
  if (!can_close) return;
  if (OnClose) OnClose();
  Hide();
}

void TForm::SetActiveControl(TControl* c) {
  if (c == active_control_) return;
  if (c && c->Owner() != this) return;
  TControl* old = active_control_;
  active_control_ = c;
  if (old && old->OnExit) old->OnExit();
  // OnExit may have moved the focus elsewhere; then that move wins.
  if (active_control_ == c && c && c->OnEnter) c->OnEnter();
}

bool TForm::CloseModal() {
  bool can_close = true;
  if (OnCloseQuery) OnCloseQuery(can_close);
  if (can_close) {
    if (OnClose) OnClose();
    if (modal_result_ == mrNone) modal_result_ = mrCancel;
    return true;
  }
  modal_result_ = mrNone;
  return false;
}

void TForm::BeginModal() {
  modal_ = true;
  modal_result_ = mrNone;
  SetVisible(true);
  if (OnShow) OnShow();
}

void TForm::EndModal() {
  modal_ = false;
  active_ = false;
  SetVisible(false);
}

std::uint64_t TForm::TotalVersion() const {
  std::uint64_t v = Version();
  for (const auto& c : components_) v += c->Version();
  return v;
}

// ---------------------------------------------------------------- dialogs, printer

TSaveDialog::TSaveDialog(TForm* owner, std::string name, TControl*)
    : TComponent(kKind, owner, std::move(name)) {}

bool TSaveDialog::Execute() {
  return backend().SaveDialog(*this);
}

TPrintDialog::TPrintDialog(TForm* owner, std::string name, TControl*)
    : TComponent(kKind, owner, std::move(name)) {}

bool TPrintDialog::Execute() {
  return backend().PrintDialog(*this);
}

void TPrinter::BeginDoc(std::string title) {
  doc_ = PrintDocument{};
  doc_.Title = std::move(title);
  doc_.Pages.emplace_back();
  printing_ = true;
}

void TPrinter::Writeln(std::string line) {
  if (!printing_) BeginDoc();
  doc_.Pages.back().push_back(std::move(line));
}

void TPrinter::NewPage() {
  if (!printing_) BeginDoc();
  doc_.Pages.emplace_back();
}

bool TPrinter::EndDoc() {
  if (!printing_) return false;
  printing_ = false;
  doc_.Font = Font;
  PrintDocument doc = std::move(doc_);
  doc_ = PrintDocument{};
  return backend().Print(doc);
}

void TPrinter::Abort() {
  printing_ = false;
  doc_ = PrintDocument{};
}

TPrinter& Printer() {
  static TPrinter printer;
  return printer;
}

}  // namespace korvel::ui
