#include "ui/qt/QtFormView.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QEvent>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTimer>
#include <QTreeWidget>

#include <QGuiApplication>
#include <QWindow>

#include <cstdlib>
#include <set>

#include "platform/dynlib.h"
#include "platform/text.h"

namespace korvel::ui::qt {

QString ToQ(const std::string& gbk) {
  return QString::fromStdString(plat::gbk_to_utf8(gbk));
}

std::string FromQ(const QString& s) {
  return plat::utf8_to_gbk(s.toStdString());
}

QFont ToQFont(const TFont& f, const QFont& base) {
  QFont q = base;
  if (!f.Name.empty()) q.setFamilies({ToQ(f.Name), base.family()});
  if (f.Size > 0) q.setPointSize(f.Size);
  q.setBold(f.Bold);
  q.setItalic(f.Italic);
  return q;
}

QColor ToQColor(TColor c) {
  return QColor((c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF);
}

int ToVirtualKey(int qt_key) {
  switch (qt_key) {
    case Qt::Key_Backspace:
      return vkBack;
    case Qt::Key_Tab:
      return vkTab;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return vkReturn;
    case Qt::Key_Escape:
      return vkEscape;
    case Qt::Key_Delete:
      return vkDelete;
    default:
      if (qt_key >= Qt::Key_0 && qt_key <= Qt::Key_9) return '0' + (qt_key - Qt::Key_0);
      if (qt_key >= Qt::Key_A && qt_key <= Qt::Key_Z) return 'A' + (qt_key - Qt::Key_A);
      return qt_key & 0xFFFF;
  }
}

namespace {

// Routes widget events the signals do not cover (typed keys, double clicks, key releases).
class EventHook : public QObject {
 public:
  EventHook(QObject* parent, std::function<bool(QEvent*)> fn) : QObject(parent), fn_(std::move(fn)) {}
  bool eventFilter(QObject*, QEvent* e) override { return fn_(e); }

 private:
  std::function<bool(QEvent*)> fn_;
};

}  // namespace

void Hook(QWidget* w, std::function<bool(QEvent*)> fn) {
  w->installEventFilter(new EventHook(w, std::move(fn)));
}

void FormWindow::closeEvent(QCloseEvent* e) {
  // The model decides (OnCloseQuery / OnClose); the modal loop ends the window.
  e->ignore();
  if (on_close_) on_close_();
}

namespace {
int ActionKey(const QKeyEvent* e) {
  switch (e->key()) {
    case Qt::Key_Escape:
      return vkEscape;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return vkReturn;
    default:
      return 0;
  }
}
}  // namespace

void FormWindow::keyPressEvent(QKeyEvent* e) {
  const int vk = on_key_ ? ActionKey(e) : 0;
  if (vk == 0) {
    QWidget::keyPressEvent(e);
    return;
  }
  if (isActiveWindow() && !e->isAutoRepeat() && KeyTracker::FreshPress(e)) armed_ = vk;
}

bool FormWindow::eventFilter(QObject* watched, QEvent* e) {
  if (e->type() == QEvent::KeyRelease && watched == windowHandle()) {
    auto* k = static_cast<QKeyEvent*>(e);
    const int vk = on_key_ ? ActionKey(k) : 0;
    if (vk != 0 && !k->isAutoRepeat()) {
      const bool act = armed_ == vk && isActiveWindow();
      armed_ = 0;
      if (act) on_key_(vk);
    }
  }
  return false;
}

void FormWindow::showEvent(QShowEvent* e) {
  if (!watching_ && windowHandle()) {
    windowHandle()->installEventFilter(this);
    watching_ = true;
  }
  QWidget::showEvent(e);
}

void FormWindow::changeEvent(QEvent* e) {
  if (e->type() == QEvent::ActivationChange && !isActiveWindow()) armed_ = 0;
  QWidget::changeEvent(e);
}

namespace {

// Watches every key event that reaches a window of the process (before any widget sees it).
class KeyWatch : public QObject {
 public:
  bool eventFilter(QObject* obj, QEvent* e) override {
    const QEvent::Type t = e->type();
    if ((t == QEvent::KeyPress || t == QEvent::KeyRelease) && e->spontaneous() && obj->isWindowType()) {
      auto* k = static_cast<QKeyEvent*>(e);
      const quint32 code = Code(k);
      if (t == QEvent::KeyPress) {
        // Held keys repeat as presses without a release, or as a release and a press that carry
        // the same time stamp.
        auto last = last_release_.find(code);
        const bool repeat = k->isAutoRepeat() || down_.count(code) != 0 ||
                            (last != last_release_.end() && last->second == k->timestamp());
        down_.insert(code);
        current_ = k;
        current_time_ = k->timestamp();
        current_fresh_ = !repeat;
      } else if (!k->isAutoRepeat()) {
        down_.erase(code);
        last_release_[code] = k->timestamp();
      }
    } else if (t == QEvent::WindowActivate && obj->isWindowType()) {
      // Keys the display reports down when a window becomes active were pressed elsewhere; keys it
      // reports up were let go elsewhere.
      std::set<quint32> now;
      if (DisplayKeysDown(now)) down_ = std::move(now);
    }
    return false;
  }

  static quint32 Code(const QKeyEvent* k) {
    return k->nativeScanCode() != 0 ? k->nativeScanCode() : 0x80000000u | static_cast<quint32>(k->key());
  }

  bool Fresh(const QKeyEvent* e) const {
    // Events delivered straight to a widget (not through a window) were never seen here.
    return e != current_ || e->timestamp() != current_time_ || current_fresh_;
  }

 private:
  // The X server's own record of held keys (by key code); false where there is no such record.
  static bool DisplayKeysDown(std::set<quint32>& out) {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->connection()) return false;
    struct Cookie {
      unsigned int sequence;
    };
    struct Reply {
      std::uint8_t response_type, pad0;
      std::uint16_t sequence;
      std::uint32_t length;
      std::uint8_t keys[32];
    };
    using Query = Cookie (*)(void*);
    using QueryReply = Reply* (*)(void*, Cookie, void**);
    static plat::DynLib xcb;
    if (!xcb.is_open() && xcb.open("libxcb.so.1") != plat::OpenResult::Ok) return false;
    auto query = reinterpret_cast<Query>(xcb.symbol("xcb_query_keymap"));
    auto reply_of = reinterpret_cast<QueryReply>(xcb.symbol("xcb_query_keymap_reply"));
    if (!query || !reply_of) return false;
    Reply* reply = reply_of(x11->connection(), query(x11->connection()), nullptr);
    if (!reply) return false;
    for (quint32 code = 0; code < 256; ++code)
      if (reply->keys[code / 8] & (1u << (code % 8))) out.insert(code);
    std::free(reply);
    return true;
  }

  std::set<quint32> down_;
  std::map<quint32, quint64> last_release_;
  const QKeyEvent* current_ = nullptr;
  quint64 current_time_ = 0;
  bool current_fresh_ = true;
};

KeyWatch* g_key_watch = nullptr;

}  // namespace

void KeyTracker::Install() {
  if (g_key_watch || !qApp) return;
  g_key_watch = new KeyWatch;
  qApp->installEventFilter(g_key_watch);
}

bool KeyTracker::FreshPress(const QKeyEvent* e) {
  return !g_key_watch || g_key_watch->Fresh(e);
}

FormView::FormView(TForm& form, std::function<void(std::function<void()>)> dispatch)
    : form_(form), dispatch_(std::move(dispatch)) {
  Build();
}

FormView::~FormView() {
  syncing_ = true;  // no model calls from widgets going away
  for (auto& [t, q] : timers_) q->stop();
  delete window_;
}

QWidget* FormView::ParentWidget(TControl& c) {
  TControl* p = c.Parent();
  if (!p || p == &form_) return window_;
  auto it = index_.find(p);
  return it == index_.end() ? window_ : entries_[it->second].widget;
}

TControl* FormView::ControlOf(QWidget* widget) const {
  for (QWidget* w = widget; w; w = w->parentWidget()) {
    if (w == window_) return &form_;
    for (const auto& e : entries_)
      if (e.widget == w && e.model->kind() != Kind::Timer) return static_cast<TControl*>(e.model);
  }
  return nullptr;
}

QWidget* FormView::WidgetOf(const std::string& name) const {
  for (const auto& e : entries_)
    if (e.model->Name() == name) return e.widget;
  return nullptr;
}

void FormView::Build() {
  window_ = new FormWindow([this] { User([this] { form_.Close(); }); },
                           [this](int key) {
                             TButton* target = key == vkEscape ? EscapeTarget() : ReturnTarget();
                             if (target)
                               User([target] { target->UserClick(); });
                             else if (key == vkEscape)
                               User([this] { form_.Close(); });
                           });
  window_->setWindowFlag(Qt::Dialog);
  window_->setWindowModality(Qt::ApplicationModal);
  window_->setAttribute(Qt::WA_DeleteOnClose, false);
  Hook(window_, [this](QEvent* e) {
    if (e->type() == QEvent::MouseButtonDblClick && form_.OnDblClick) User([this] { form_.UserDblClick(); });
    return false;
  });
  for (const auto& c : form_.Components()) {
    Entry e;
    e.model = c.get();
    if (c->kind() == Kind::SaveDialog || c->kind() == Kind::PrintDialog) continue;
    if (c->kind() == Kind::Timer) {
      auto* t = static_cast<TTimer*>(c.get());
      auto* q = new QTimer(window_);
      QObject::connect(q, &QTimer::timeout, window_, [this, t] { User([t] { t->Fire(); }); });
      timers_[t] = q;
    } else {
      e.widget = Create(*c, ParentWidget(*static_cast<TControl*>(c.get())));
    }
    index_[c.get()] = entries_.size();
    entries_.push_back(std::move(e));
  }
}

namespace {
bool Pressable(const TControl* c) {
  return c != nullptr && c->kind() == Kind::Button && c->VisibleInForm() && c->EnabledInForm();
}
}  // namespace

TButton* FormView::ButtonWhere(bool (TButton::*flag)() const) const {
  for (const auto& c : form_.Components()) {
    auto* b = c->kind() == Kind::Button ? static_cast<TButton*>(c.get()) : nullptr;
    if (Pressable(b) && (b->*flag)()) return b;
  }
  return nullptr;
}

TButton* FormView::ReturnTarget() const {
  // The button the user sees focused, not the one the model last heard of.
  TControl* focused = ControlOf(window_->focusWidget());
  if (Pressable(focused)) return static_cast<TButton*>(focused);
  return ButtonWhere(&TButton::Default);
}

TButton* FormView::EscapeTarget() const {
  return ButtonWhere(&TButton::Cancel);
}

QWidget* FormView::Create(TComponent& comp, QWidget* parent) {
  const KindView* view = ViewOf(comp.kind());
  return view != nullptr ? (this->*view->create)(comp, parent) : new QWidget(parent);
}

void FormView::SyncCommon(TControl& c, QWidget* w) {
  w->setGeometry(c.Left(), c.Top(), c.Width(), c.Height());
  w->setFont(ToQFont(c.Font(), QApplication::font()));
  QPalette pal = w->palette();
  if (c.Font().Color != clDefault) {
    pal.setColor(QPalette::WindowText, ToQColor(c.Font().Color));
    pal.setColor(QPalette::Text, ToQColor(c.Font().Color));
  }
  if (c.Color() != clDefault) {
    pal.setColor(QPalette::Window, ToQColor(c.Color()));
    pal.setColor(QPalette::Base, ToQColor(c.Color()));
  }
  w->setPalette(pal);
  w->setEnabled(c.Enabled());
  w->setToolTip(ToQ(c.Hint()));
  w->setVisible(c.Visible());
}

void FormView::SyncTimer(Entry& e) {
  auto* t = static_cast<TTimer*>(e.model);
  if (t->Generation() == e.timer_generation) return;
  e.timer_generation = t->Generation();
  QTimer* q = timers_[t];
  q->stop();
  if (t->Enabled() && t->Interval() > 0) q->start(t->Interval());
}

bool FormView::CheckedStateDiffers(const Entry& e) {
  switch (e.model->kind()) {
    case Kind::CheckBox:
      return static_cast<QCheckBox*>(e.widget)->isChecked() != static_cast<TCheckBox*>(e.model)->Checked();
    case Kind::RadioButton:
      return static_cast<QRadioButton*>(e.widget)->isChecked() !=
             static_cast<TRadioButton*>(e.model)->Checked();
    case Kind::RadioGroup: {
      const int index = static_cast<TRadioGroup*>(e.model)->ItemIndex();
      auto buttons = e.widget->findChildren<QRadioButton*>(Qt::FindDirectChildrenOnly);
      for (int i = 0; i < buttons.size(); ++i)
        if (buttons[i]->isChecked() != (i == index)) return true;
      return false;
    }
    default:
      return false;
  }
}

void FormView::SyncOne(Entry& e) {
  if (e.model->kind() == Kind::Timer) {
    SyncTimer(e);
    return;
  }
  // A click on a checked option flips the widget although the model keeps it: what shows a checked
  // state is compared with the model as well, not only when the model changed.
  if (e.synced == e.model->Version() && !CheckedStateDiffers(e)) return;
  e.synced = e.model->Version();
  auto& c = *static_cast<TControl*>(e.model);
  QWidget* w = e.widget;
  if (const KindView* view = ViewOf(c.kind())) (this->*view->sync)(e, c, w);
  SyncCommon(c, w);
}

void FormView::Sync() {
  syncing_ = true;
  if (form_synced_ != form_.Version()) {
    form_synced_ = form_.Version();
    window_->setWindowTitle(ToQ(form_.Caption()));
    window_->setFont(ToQFont(form_.Font(), QApplication::font()));
    if (form_.Sizeable()) {
      window_->setMinimumSize(0, 0);
      window_->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
      window_->resize(form_.ClientWidth(), form_.ClientHeight());
    } else {
      window_->setFixedSize(form_.ClientWidth(), form_.ClientHeight());
    }
    window_->move(form_.Left(), form_.Top());
    if (window_->windowFlags().testFlag(Qt::WindowStaysOnTopHint) != form_.StayOnTop())
      window_->setWindowFlag(Qt::WindowStaysOnTopHint, form_.StayOnTop());
    if (form_.Color() != clDefault) {
      QPalette pal = window_->palette();
      pal.setColor(QPalette::Window, ToQColor(form_.Color()));
      window_->setPalette(pal);
    }
  }
  for (auto& e : entries_) SyncOne(e);
  // The page's focus choice reaches the widget (the first focus of a window, or a SetFocus call).
  if (TControl* active = form_.ActiveControl()) {
    auto it = index_.find(active);
    if (it != index_.end()) {
      QWidget* w = entries_[it->second].widget;
      if (w && window_->isVisible() && !w->hasFocus() && w->isVisibleTo(window_) && w->isEnabled())
        w->setFocus(Qt::OtherFocusReason);
    }
  }
  syncing_ = false;
}

}  // namespace korvel::ui::qt
