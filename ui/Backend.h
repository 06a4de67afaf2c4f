// The window backend: what shows page models as real windows (or, in tests, runs them by script).
//
// Pages call the free functions below (MessageBox, TForm::ShowModal, TSaveDialog::Execute ...); they
// go to the process-wide current backend. By default that is the Qt backend, loaded from its own
// shared object on the first window call; without a display (or when it cannot load) the calls return
// at once with "nothing shown" results: ShowModal mrNone, MessageBox mrNone, dialogs false.
// Callers that must not start a window chain at all ask Available() first.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ui/Controls.h"

namespace korvel::ui {

enum class MsgIcon { None, Information, Warning, Error, Question };
enum class MsgButtons { Ok, OkCancel, YesNo, YesNoCancel };

struct MessageBoxParams {
  std::string Text;     // GBK
  std::string Caption;  // GBK; empty = the application's title
  MsgIcon Icon = MsgIcon::None;
  MsgButtons Buttons = MsgButtons::Ok;
  const TForm* Owner = nullptr;  // the page that shows it
};

// A print job: pages of text lines in one font. Pages the caller left long are flowed onto further
// sheets by the backend; lines wider than the sheet are wrapped.
struct PrintDocument {
  std::string Title;  // GBK
  TFont Font;
  std::vector<std::vector<std::string>> Pages;  // GBK lines
};

// Collects a print job: Printer().BeginDoc(); ...Writeln(line)...; NewPage(); ...; EndDoc().
class TPrinter {
 public:
  void BeginDoc(std::string title = {});
  void Writeln(std::string line);  // one printed line
  void NewPage();
  // Hands the job to the backend; true when it was printed.
  bool EndDoc();
  void Abort();  // drops the job
  bool Printing() const { return printing_; }
  TFont Font;

 private:
  PrintDocument doc_;
  bool printing_ = false;
};

// The process-wide printer (the one the print dialog chose).
TPrinter& Printer();

struct ScreenSize {
  int Width = 1024;
  int Height = 768;
};

// Bumped whenever Backend changes in a way a separately built backend would notice.
inline constexpr int kBackendAbi = 2;

class Backend {
 public:
  virtual ~Backend() = default;
  // True when windows can be shown.
  virtual bool Available() = 0;
  // Runs form modally until it closes; returns its modal result (mrNone when not shown).
  // Implementations call form.BeginModal(), loop until form.ModalResult() != 0 && form.CloseModal(),
  // then form.EndModal(). Timers of every shown form run meanwhile.
  virtual int ShowModal(TForm& form) = 0;
  virtual int MessageBox(const MessageBoxParams& params) = 0;
  virtual bool SaveDialog(TSaveDialog& dialog) = 0;
  virtual bool PrintDialog(TPrintDialog& dialog) = 0;
  virtual bool Print(const PrintDocument& doc) = 0;
  virtual ScreenSize Screen() = 0;
  // Lets pending window events run (the original ProcessMessages); nothing for scripted runs.
  virtual void ProcessMessages() {}
};

// For backends: runs page code for a user action; an exception from it never reaches the toolkit's
// event loop.
void RunPageCode(const std::function<void()>& fn) noexcept;
// For backends: true when a shown form asked to close (a modal result is set) and may (CloseModal);
// a CloseModal that fails lets it close.
bool FormClosesNow(TForm& form) noexcept;

// The current backend; never null.
Backend& backend();
// Replaces the current backend (tests); nullptr restores the default (Qt, loaded on demand).
void set_backend(Backend* b);
// Whether windows can be shown at all (loads the Qt backend on first use).
bool Available();

// Message box through the current backend; returns mrOk/mrCancel/mrYes/mrNo, or mrNone when no window
// could be shown.
int MessageBox(const std::string& text, const std::string& caption, MsgIcon icon = MsgIcon::Information,
               MsgButtons buttons = MsgButtons::Ok, const TForm* owner = nullptr);
// The original ShowMessage: no icon, the application's caption.
void ShowMessage(const std::string& text);
ScreenSize Screen();

// Where the Qt backend's shared object is looked for: this path when set, else the environment
// variable KORVEL_QT_BACKEND, else "korvel_qt.so" next to the module containing this library.
void SetQtBackendPath(std::string path);
// Why the Qt backend is unavailable ("" while it is, or before the first try).
std::string QtBackendError();
// The outcome of the first try is kept; this forgets a failed start so that the next window call
// tries again (a display may have appeared; tests change the environment). False when the backend is
// already running (it is kept).
bool RetryQtBackend();

// The picture RenderToPng draws is the window as a desktop shows it: a frame of kRenderFrame pixels
// around the client area and, above the client area, a caption bar of kRenderCaption pixels holding
// the form's caption.
inline constexpr int kRenderFrame = 3;
inline constexpr int kRenderCaption = 22;

// Renders form (laid out as shown, never shown on screen) into a PNG file through the Qt backend.
// Needs a Qt platform; tests set QT_QPA_PLATFORM=offscreen. False with an error text when it fails.
bool RenderToPng(TForm& form, const std::string& png_path, std::string* error = nullptr);

// Acts on the real widget of a control of a form that the Qt backend currently shows, as a user
// would (automation and tests of the backend itself): action "click", "dblclick", "type" (arg: the
// keys, sent one by one), "select" (arg: item index of a combo box or radio group), "node" (arg: the
// text of a tree node), "cell" (arg: "col,row,text"), "keyup" (arg: a virtual key number), "key"
// (arg: "press Return", "release Return" or "Return", likewise Escape: a keyboard key reaching the
// form's window through the platform; control ignored), "close" (the close box; control ignored).
// One action only reads: "shows" is true when the widget shows arg ("checked" / "unchecked" for a
// check box or radio button, the checked item's index or "-1" for a radio group, "scrolls sideways"
// for a memo with unwrapped lines wider than it and a horizontal scroll bar). The model
// sees exactly what the user's action causes. False when the form is not shown by the Qt backend, the control
// is unknown, or the action does not apply.
bool QtUserAction(TForm& form, const std::string& control, const std::string& action,
                  const std::string& arg = {});

}  // namespace korvel::ui
