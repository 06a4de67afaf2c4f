// One form model shown as Qt widgets, kept in step with the model both ways.
#pragma once

#include <QString>
#include <QWidget>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ui/Controls.h"

class QTimer;
class QEventLoop;
class QTreeWidgetItem;

namespace korvel::ui::qt {

QString ToQ(const std::string& gbk);
std::string FromQ(const QString& s);
QFont ToQFont(const TFont& f, const QFont& base);
QColor ToQColor(TColor c);
// The virtual-key number the pages know for a Qt key.
int ToVirtualKey(int qt_key);
// Routes events of w that the signals do not cover (typed keys, double clicks, key releases) to fn;
// fn returns true to swallow the event.
void Hook(QWidget* w, std::function<bool(QEvent*)> fn);

// Follows which keys are held down across all windows of the process, so that a window acts only
// on keys pressed while it was the active one. A key still held from another window (the one the
// press closed, or the host's) and the repeats of a held key are no new key press.
// Install() once on the GUI thread; until then every press counts as new.
class KeyTracker {
 public:
  static void Install();
  // For the key event being delivered: true when it is a press that began in the window it reaches.
  static bool FreshPress(const QKeyEvent* e);
};

// The top-level window: the close box and Escape / Enter go to the model. Escape and Enter act when
// the key is let go, and only when its press reached this window while it was the active one: one
// key press acts on one window once, however long it is held.
class FormWindow : public QWidget {
 public:
  FormWindow(std::function<void()> on_close, std::function<void(int key)> on_key)
      : on_close_(std::move(on_close)), on_key_(std::move(on_key)) {}

 protected:
  void closeEvent(QCloseEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void changeEvent(QEvent* e) override;
  void showEvent(QShowEvent* e) override;
  // Key releases, as they reach the window before any widget (a focused widget may keep them).
  bool eventFilter(QObject* watched, QEvent* e) override;

 private:
  std::function<void()> on_close_;
  std::function<void(int)> on_key_;
  int armed_ = 0;  // the key whose press this window took, until it is let go
  bool watching_ = false;
};

class FormView;
// Acts on a control of a shown form as a user would (see QtUserAction in ui/Backend.h); false when
// the control is unknown, hidden or disabled, or the action does not apply to it.
bool UserAction(FormView& view, const std::string& control, const std::string& action,
                const std::string& arg);

class FormView {
 public:
  // dispatch runs a user action on the model, then lets the backend bring every form up to date.
  FormView(TForm& form, std::function<void(std::function<void()>)> dispatch);
  ~FormView();
  FormView(const FormView&) = delete;
  FormView& operator=(const FormView&) = delete;

  TForm& form() { return form_; }
  QWidget* window() { return window_; }
  // Brings the widgets up to the model (only what changed since the last call).
  void Sync();
  // The model control a widget belongs to (the form for the window itself), nullptr when none.
  TControl* ControlOf(QWidget* widget) const;
  // The widget of the named control, nullptr when none.
  QWidget* WidgetOf(const std::string& name) const;
  QEventLoop* loop = nullptr;
  bool closed = false;

 private:
  struct Entry {
    TComponent* model = nullptr;
    QWidget* widget = nullptr;
    std::uint64_t synced = 0;
    std::vector<std::string> items;                // radio group / combo items as last shown
    std::map<QTreeWidgetItem*, TTreeNode*> nodes;  // tree items
    std::vector<std::string> shape;                // tree structure as last built
    std::uint64_t timer_generation = 0;
  };
  void Build();
  // What Return presses: the focused button when a button has the focus, else the default button.
  TButton* ReturnTarget() const;
  // What Escape presses: the cancel button; without one Escape is the close box.
  TButton* EscapeTarget() const;
  // The first visible, enabled button whose flag (Default, Cancel) is set.
  TButton* ButtonWhere(bool (TButton::*flag)() const) const;
  QWidget* Create(TComponent& c, QWidget* parent);
  void SyncOne(Entry& e);
  // One pair per control kind (QtControls.cpp): the widget created for the model, and its update.
  using CreateFn = QWidget* (FormView::*)(TComponent& comp, QWidget* parent);
  using SyncFn = void (FormView::*)(Entry& e, TControl& c, QWidget* w);
  struct KindView {
    Kind kind;
    CreateFn create;
    SyncFn sync;
  };
  // The pair of a kind; null for kinds shown as a plain widget (and timers, which have none).
  static const KindView* ViewOf(Kind kind);
  QWidget* CreateLabel(TComponent& comp, QWidget* parent);
  void SyncLabel(Entry& e, TControl& c, QWidget* w);
  QWidget* CreateButton(TComponent& comp, QWidget* parent);
  void SyncButton(Entry& e, TControl& c, QWidget* w);
  QWidget* CreateEdit(TComponent& comp, QWidget* parent);
  void SyncEdit(Entry& e, TControl& c, QWidget* w);
  QWidget* CreateMemo(TComponent& comp, QWidget* parent);
  void SyncMemo(Entry& e, TControl& c, QWidget* w);
  QWidget* CreateCheckBox(TComponent& comp, QWidget* parent);
  void SyncCheckBox(Entry& e, TControl& c, QWidget* w);
  QWidget* CreateRadioButton(TComponent& comp, QWidget* parent);
  void SyncRadioButton(Entry& e, TControl& c, QWidget* w);
  QWidget* CreateRadioGroup(TComponent& comp, QWidget* parent);
  void SyncRadioGroup(Entry& e, TControl& c, QWidget* w);
  QWidget* CreateGroupBox(TComponent& comp, QWidget* parent);
  void SyncGroupBox(Entry& e, TControl& c, QWidget* w);
  QWidget* CreateComboBox(TComponent& comp, QWidget* parent);
  void SyncComboBox(Entry& e, TControl& c, QWidget* w);
  QWidget* CreateTreeView(TComponent& comp, QWidget* parent);
  void SyncTreeView(Entry& e, TControl& c, QWidget* w);
  QWidget* CreateStringGrid(TComponent& comp, QWidget* parent);
  void SyncStringGrid(Entry& e, TControl& c, QWidget* w);
  QWidget* CreateProgressBar(TComponent& comp, QWidget* parent);
  void SyncProgressBar(Entry& e, TControl& c, QWidget* w);
  QWidget* CreatePanel(TComponent& comp, QWidget* parent);
  void SyncPanel(Entry& e, TControl& c, QWidget* w);
  static bool CheckedStateDiffers(const Entry& e);
  void SyncCommon(TControl& c, QWidget* w);
  void SyncTree(Entry& e);
  void SyncTimer(Entry& e);
  void User(std::function<void()> action) { dispatch_(std::move(action)); }
  QWidget* ParentWidget(TControl& c);

  TForm& form_;
  std::function<void(std::function<void()>)> dispatch_;
  FormWindow* window_ = nullptr;
  std::vector<Entry> entries_;  // in component order: parents before children
  std::map<const TComponent*, size_t> index_;
  std::map<const TTimer*, QTimer*> timers_;
  std::uint64_t form_synced_ = 0;
  bool syncing_ = false;
};

}  // namespace korvel::ui::qt
