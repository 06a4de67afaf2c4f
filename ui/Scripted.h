// The scripted backend: runs the modal chain with no display, for tests.
//
//   ui::ScriptedBackend ui;                      // installs itself as the current backend
//   ui.Expect("TStartFrm", [](ui::ScriptedForm& f) {
//     EXPECT_EQ(f.Text("Label1"), GBK("欢迎使用..."));
//     f.Click("ModifyOp");
//     f.Click("NextBtn");                         // the page closes itself
//   });
//   ui.On("TStep4Frm", [](ui::ScriptedForm& f) { f.Select("ParityEd", 2); f.Click("NextBtn"); });
//   ui.AnswerMessage(ui::mrYes);                  // the next message box is answered Yes
//   ... run the pages ...
//   EXPECT_TRUE(ui.Errors().empty());             // no unknown form, no click on a disabled control
//   EXPECT_EQ(ui.Messages()[0].Caption, GBK("添加失败"));
//
// A script is chosen by the form's class name or its caption: first the next Expect() entry (which
// must match, else it is an error), then an On() script. A script that returns while its form is still
// open closes it with the close box. Actions act as the user would and are refused (recorded in
// Errors()) on hidden or disabled controls, on forms that are closed or covered by another modal form.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ui/Backend.h"

namespace korvel::ui {

class ScriptedBackend;

// What a script gets: the shown form and the user's actions on it, by component name.
class ScriptedForm {
 public:
  ScriptedForm(ScriptedBackend& backend, TForm& form) : backend_(backend), form_(form) {}
  TForm& form() { return form_; }
  ScriptedBackend& backend() { return backend_; }
  // The named control of type T, nullptr (and an error) when there is none.
  template <class T>
  T* Get(const std::string& name) {
    T* c = form_.Find<T>(name);
    if (!c) Fail("no " + name + " of the expected kind");
    return c;
  }

  void Click(const std::string& name);     // buttons, check boxes, radio buttons, labels, the tree
  void DblClick(const std::string& name);  // a control, or the form itself by its class name
  void Type(const std::string& name, const std::string& keys);   // edit keys; combo/memo: the text
  void Paste(const std::string& name, const std::string& text);  // replaces an edit's whole text
  void Focus(const std::string& name);                           // moves the focus (OnExit/OnEnter)
  void Select(const std::string& name, int index);               // combo box or radio group item
  bool ClickNode(const std::string& tree, const std::vector<std::string>& path);
  void KeyUp(const std::string& name, int key);
  void SetCell(const std::string& grid, int col, int row, const std::string& text);
  void Close();  // the close box
  void Advance(int ms);

  // Readers (no error for hidden or disabled controls).
  std::string Text(const std::string& name) const;  // caption or text of any control; "" if none
  bool Checked(const std::string& name) const;
  int ItemIndex(const std::string& name) const;  // radio group / combo box; -1 if none
  bool Enabled(const std::string& name) const;   // together with its containers
  bool Visible(const std::string& name) const;   // together with its containers
  bool Closed() const;

 private:
  // The control when the user could act on it now, else nullptr and an error.
  TControl* Usable(const std::string& name);
  void Fail(const std::string& what) const;
  void AfterAction();
  ScriptedBackend& backend_;
  TForm& form_;
};

using FormScript = std::function<void(ScriptedForm&)>;

struct MessageRecord {
  std::string Text, Caption;
  MsgIcon Icon = MsgIcon::None;
  MsgButtons Buttons = MsgButtons::Ok;
  std::string Owner;  // class name of the owning form, "" without one
  int Answer = mrNone;
};

struct SaveDialogRecord {
  std::string FileName, Filter, DefaultExt;  // as the dialog was opened
  bool Confirmed = false;
};

class ScriptedBackend final : public Backend {
 public:
  // Installs itself as the current backend; the destructor restores the default.
  ScriptedBackend();
  ~ScriptedBackend() override;

  void On(const std::string& form_key, FormScript script);
  void Expect(const std::string& form_key, FormScript script);
  // Answers of the next message boxes, in order; without one: OK, or Yes when there is no OK.
  void AnswerMessage(int modal_result);
  // Answers of the next save dialogs: confirm with this path, or cancel. Without one: cancel.
  void AnswerSaveDialog(std::optional<std::string> path);
  // Answers of the next print dialogs. Without one: cancel.
  void AnswerPrintDialog(bool ok);
  void SetScreen(ScreenSize s) { screen_ = s; }

  const std::vector<MessageRecord>& Messages() const { return messages_; }
  const std::vector<SaveDialogRecord>& SaveDialogs() const { return save_dialogs_; }
  int PrintDialogs() const { return print_dialogs_; }
  const std::vector<PrintDocument>& Printed() const { return printed_; }
  const std::vector<std::string>& Shown() const { return shown_; }  // class names, in order
  const std::vector<std::string>& Errors() const { return errors_; }
  std::string ErrorText() const;  // all errors, one a line
  void ClearRecords();

  // Runs the timers of every open form for ms of scripted time, in time order.
  void Advance(int ms);
  std::uint64_t Now() const { return now_; }
  // The form the user works in (top of the modal stack), nullptr when none.
  TForm* ActiveForm() const;

  bool Available() override { return true; }
  int ShowModal(TForm& form) override;
  int MessageBox(const MessageBoxParams& params) override;
  bool SaveDialog(TSaveDialog& dialog) override;
  bool PrintDialog(TPrintDialog& dialog) override;
  bool Print(const PrintDocument& doc) override;
  ScreenSize Screen() override { return screen_; }

 private:
  friend class ScriptedForm;
  struct OpenForm {
    TForm* form;
    bool closed;
  };
  struct TimerState {
    std::uint64_t generation;
    std::uint64_t due;
  };
  void Error(std::string what) { errors_.push_back(std::move(what)); }
  // After any event on form: when it asked to close, run its close; true when it is closed.
  bool SettleClose(TForm& form);
  bool IsClosed(const TForm& form) const;
  bool IsTop(const TForm& form) const;
  void RefreshTimers();

  std::deque<std::pair<std::string, FormScript>> expected_;
  std::map<std::string, FormScript> scripts_;
  std::deque<int> message_answers_;
  std::deque<std::optional<std::string>> save_answers_;
  std::deque<bool> print_answers_;
  std::vector<MessageRecord> messages_;
  std::vector<SaveDialogRecord> save_dialogs_;
  int print_dialogs_ = 0;
  std::vector<PrintDocument> printed_;
  std::vector<std::string> shown_;
  std::vector<std::string> errors_;
  std::vector<OpenForm> stack_;
  std::map<const TTimer*, TimerState> timers_;
  std::uint64_t now_ = 0;
  ScreenSize screen_;
};

}  // namespace korvel::ui
