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

namespace {

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

// Routes widget events the signals do not cover (typed keys, double clicks, key releases).
class EventHook : public QObject {
 public:
  EventHook(QObject* parent, std::function<bool(QEvent*)> fn) : QObject(parent), fn_(std::move(fn)) {}
  bool eventFilter(QObject*, QEvent* e) override { return fn_(e); }

 private:
  std::function<bool(QEvent*)> fn_;
};

void Hook(QWidget* w, std::function<bool(QEvent*)> fn) {
  w->installEventFilter(new EventHook(w, std::move(fn)));
}

// A radio group's buttons, rebuilt when its items change.
void LayOutRadioGroup(QGroupBox* box, const TRadioGroup& rg, const std::function<void(int)>& on_click) {
  for (auto* b : box->findChildren<QRadioButton*>(Qt::FindDirectChildrenOnly)) delete b;
  delete box->layout();
  auto* grid = new QGridLayout(box);
  grid->setContentsMargins(8, 4, 8, 4);
  const int cols = std::max(1, rg.Columns());
  const int n = static_cast<int>(rg.Items().size());
  const int rows = (n + cols - 1) / cols;
  for (int i = 0; i < n; ++i) {
    auto* b = new QRadioButton(ToQ(rg.Items()[static_cast<size_t>(i)]), box);
    b->setAutoExclusive(false);
    grid->addWidget(b, rows ? i % rows : 0, rows ? i / rows : 0);
    QObject::connect(b, &QRadioButton::clicked, box, [on_click, i] { on_click(i); });
  }
}

}  // namespace

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
                             User([this, key] {
                               for (const auto& c : form_.Components()) {
                                 if (c->kind() != Kind::Button) continue;
                                 auto* b = static_cast<TButton*>(c.get());
                                 if (!b->VisibleInForm() || !b->EnabledInForm()) continue;
                                 if ((key == vkEscape && b->Cancel()) || (key == vkReturn && b->Default())) {
                                   b->UserClick();
                                   return;
                                 }
                               }
                             });
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

QWidget* FormView::Create(TComponent& comp, QWidget* parent) {
  switch (comp.kind()) {
    case Kind::Label: {
      auto* w = new QLabel(parent);
      w->setAlignment(Qt::AlignLeft | Qt::AlignTop);
      return w;
    }
    case Kind::Button: {
      auto* m = static_cast<TButton*>(&comp);
      auto* w = new QPushButton(parent);
      w->setAutoDefault(false);
      QObject::connect(w, &QPushButton::clicked, w, [this, m] { User([m] { m->UserClick(); }); });
      // A focused default button would click on every Return press it gets, repeats included: the
      // window decides instead.
      Hook(w, [](QEvent* e) {
        if (e->type() != QEvent::KeyPress && e->type() != QEvent::KeyRelease) return false;
        const int key = static_cast<QKeyEvent*>(e)->key();
        if (key != Qt::Key_Return && key != Qt::Key_Enter) return false;
        e->ignore();
        return true;
      });
      return w;
    }
    case Kind::Edit: {
      auto* m = static_cast<TEdit*>(&comp);
      auto* w = new QLineEdit(parent);
      QObject::connect(w, &QLineEdit::textEdited, w,
                       [this, m](const QString& s) { User([m, s] { m->UserSetText(FromQ(s)); }); });
      // Typed characters pass the page's key filter first (digits-only fields and the like).
      Hook(w, [this, m](QEvent* e) {
        if (e->type() != QEvent::KeyPress || !m->OnKeyPress || syncing_) return false;
        auto* k = static_cast<QKeyEvent*>(e);
        char key = 0;
        if (k->key() == Qt::Key_Backspace)
          key = '\b';
        else if (k->text().size() == 1 && k->text()[0].unicode() >= 0x20 && k->text()[0].unicode() < 0x7F)
          key = static_cast<char>(k->text()[0].unicode());
        else if (!k->text().isEmpty() && k->text()[0].unicode() >= 0x80)
          key = FromQ(k->text()).front();  // a GBK lead byte, as the original saw a double-byte key
        if (key == 0) return false;
        m->OnKeyPress(key);
        return key == 0;  // swallowed
      });
      return w;
    }
    case Kind::Memo: {
      auto* m = static_cast<TMemo*>(&comp);
      auto* w = new QPlainTextEdit(parent);
      // A native edit box keeps about two pixels between its frame and the text, not Qt's four.
      w->document()->setDocumentMargin(2);
      QObject::connect(w, &QPlainTextEdit::textChanged, w, [this, m, w] {
        if (syncing_) return;
        User([m, w] { m->UserSetText(FromQ(w->toPlainText())); });
      });
      return w;
    }
    case Kind::CheckBox: {
      auto* m = static_cast<TCheckBox*>(&comp);
      auto* w = new QCheckBox(parent);
      QObject::connect(w, &QCheckBox::clicked, w, [this, m] { User([m] { m->UserClick(); }); });
      return w;
    }
    case Kind::RadioButton: {
      auto* m = static_cast<TRadioButton*>(&comp);
      auto* w = new QRadioButton(parent);
      w->setAutoExclusive(false);  // the model groups by parent and the view follows it
      QObject::connect(w, &QRadioButton::clicked, w, [this, m] { User([m] { m->UserClick(); }); });
      Hook(w, [this, m](QEvent* e) {
        if (e->type() == QEvent::MouseButtonDblClick && m->OnDblClick)
          User([m] {
            if (m->OnDblClick) m->OnDblClick();
          });
        return false;
      });
      return w;
    }
    case Kind::RadioGroup:
    case Kind::GroupBox:
      return new QGroupBox(parent);
    case Kind::ComboBox: {
      auto* m = static_cast<TComboBox*>(&comp);
      auto* w = new QComboBox(parent);
      w->setInsertPolicy(QComboBox::NoInsert);
      QObject::connect(w, qOverload<int>(&QComboBox::activated), w,
                       [this, m](int i) { User([m, i] { m->UserSelect(i); }); });
      return w;
    }
    case Kind::TreeView: {
      auto* m = static_cast<TTreeView*>(&comp);
      auto* w = new QTreeWidget(parent);
      w->setHeaderHidden(true);
      w->setColumnCount(1);
      size_t idx = entries_.size();
      QObject::connect(w, &QTreeWidget::currentItemChanged, w, [this, m, idx](QTreeWidgetItem* cur) {
        if (syncing_) return;
        auto& nodes = entries_[idx].nodes;
        auto it = nodes.find(cur);
        TTreeNode* node = it == nodes.end() ? nullptr : it->second;
        User([m, node] { m->SetSelected(node); });
      });
      QObject::connect(w, &QTreeWidget::itemClicked, w, [this, m, idx](QTreeWidgetItem* item) {
        auto& nodes = entries_[idx].nodes;
        auto it = nodes.find(item);
        TTreeNode* node = it == nodes.end() ? nullptr : it->second;
        User([m, node] { m->UserClickNode(node); });
      });
      auto on_expand = [this, m, idx](QTreeWidgetItem* item, bool expanded) {
        if (syncing_) return;
        auto& e = entries_[idx];
        auto it = e.nodes.find(item);
        if (it == e.nodes.end() || !m->Contains(it->second)) return;
        it->second->SetExpanded(expanded);
        e.synced = m->Version();  // the view already shows it
      };
      QObject::connect(w, &QTreeWidget::itemExpanded, w,
                       [on_expand](QTreeWidgetItem* i) { on_expand(i, true); });
      QObject::connect(w, &QTreeWidget::itemCollapsed, w,
                       [on_expand](QTreeWidgetItem* i) { on_expand(i, false); });
      Hook(w, [this, m](QEvent* e) {
        if (e->type() == QEvent::KeyRelease && !static_cast<QKeyEvent*>(e)->isAutoRepeat()) {
          int key = ToVirtualKey(static_cast<QKeyEvent*>(e)->key());
          User([m, key] { m->UserKeyUp(key); });
        }
        return false;
      });
      return w;
    }
    case Kind::StringGrid: {
      auto* m = static_cast<TStringGrid*>(&comp);
      auto* w = new QTableWidget(parent);
      w->horizontalHeader()->hide();
      w->verticalHeader()->hide();
      w->setSelectionMode(QAbstractItemView::SingleSelection);
      QObject::connect(w, &QTableWidget::itemChanged, w, [this, m](QTableWidgetItem* item) {
        if (syncing_) return;
        int col = item->column(), row = item->row();
        std::string text = FromQ(item->text());
        User([m, col, row, text] { m->UserSetCell(col, row, text); });
      });
      return w;
    }
    case Kind::ProgressBar: {
      auto* w = new QProgressBar(parent);
      w->setTextVisible(false);
      return w;
    }
    case Kind::Panel: {
      auto* w = new QFrame(parent);
      auto* caption = new QLabel(w);
      caption->setObjectName("korvel_panel_caption");
      caption->setAlignment(Qt::AlignCenter);
      return w;
    }
    default:
      return new QWidget(parent);
  }
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

namespace {
// Nodes, texts, levels and expansion in tree order: a rebuild is needed only when this changes.
void TreeShape(const TTreeNode* node, int level, std::vector<std::string>& out) {
  out.push_back(std::to_string(reinterpret_cast<std::uintptr_t>(node)) + ":" + std::to_string(level) + ":" +
                (node->Expanded() ? "+" : "-") + node->Text());
  for (int i = 0; i < node->Count(); ++i) TreeShape(node->Item(i), level + 1, out);
}
}  // namespace

void FormView::SyncTree(Entry& e) {
  auto* m = static_cast<TTreeView*>(e.model);
  auto* w = static_cast<QTreeWidget*>(e.widget);
  std::vector<std::string> shape;
  for (int i = 0; i < m->TopCount(); ++i) TreeShape(m->TopItem(i), 0, shape);
  if (shape != e.shape) {
    // Rebuilt only on a change of structure, so a click that merely selects keeps the user's view.
    e.shape = std::move(shape);
    w->clear();
    e.nodes.clear();
    std::function<void(TTreeNode*, QTreeWidgetItem*)> add = [&](TTreeNode* node, QTreeWidgetItem* parent) {
      auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(w);
      item->setText(0, ToQ(node->Text()));
      e.nodes[item] = node;
      for (int i = 0; i < node->Count(); ++i) add(node->Item(i), item);
      item->setExpanded(node->Expanded());
    };
    for (int i = 0; i < m->TopCount(); ++i) add(m->TopItem(i), nullptr);
  }
  QTreeWidgetItem* current = nullptr;
  for (const auto& [item, node] : e.nodes)
    if (node == m->Selected()) current = item;
  if (w->currentItem() != current) w->setCurrentItem(current);
  if (!current) w->clearSelection();
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
  switch (c.kind()) {
    case Kind::Label: {
      auto* m = static_cast<TLabel*>(&c);
      auto* l = static_cast<QLabel*>(w);
      l->setText(ToQ(m->Caption()));
      l->setWordWrap(m->WordWrap());
      Qt::Alignment h = m->Alignment() == TAlignment::Center  ? Qt::AlignHCenter
                        : m->Alignment() == TAlignment::Right ? Qt::AlignRight
                                                              : Qt::AlignLeft;
      l->setAlignment(h | Qt::AlignTop);
      l->setAutoFillBackground(!m->Transparent() || m->Color() != clDefault);
      break;
    }
    case Kind::Button: {
      auto* m = static_cast<TButton*>(&c);
      auto* b = static_cast<QPushButton*>(w);
      b->setText(ToQ(m->Caption()));
      b->setFlat(m->Flat());
      b->setDefault(m->Default());
      break;
    }
    case Kind::Edit: {
      auto* m = static_cast<TEdit*>(&c);
      auto* ed = static_cast<QLineEdit*>(w);
      QString text = ToQ(m->Text());
      if (ed->text() != text) ed->setText(text);
      ed->setReadOnly(m->ReadOnly());
      ed->setMaxLength(m->MaxLength() > 0 ? m->MaxLength() : 32767);
      break;
    }
    case Kind::Memo: {
      auto* m = static_cast<TMemo*>(&c);
      auto* ed = static_cast<QPlainTextEdit*>(w);
      QStringList lines;
      for (const auto& l : m->Lines()) lines << ToQ(l);
      QString text = lines.join('\n');
      // The model keeps lines: a trailing line break typed by the user is the same content.
      QString shown = ed->toPlainText();
      if (shown != text && !(shown.endsWith('\n') && shown.chopped(1) == text)) ed->setPlainText(text);
      ed->setReadOnly(m->ReadOnly());
      ed->setLineWrapMode(m->WordWrap() ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
      auto sb = m->GetScrollBars();
      bool v = sb == TMemo::ScrollBars::Vertical || sb == TMemo::ScrollBars::Both;
      bool h = sb == TMemo::ScrollBars::Horizontal || sb == TMemo::ScrollBars::Both;
      // A memo without scroll bars has none, whatever its content (a note that fits shows no bar).
      ed->setVerticalScrollBarPolicy(v ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
      ed->setHorizontalScrollBarPolicy(h ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
      break;
    }
    case Kind::CheckBox: {
      auto* m = static_cast<TCheckBox*>(&c);
      auto* b = static_cast<QCheckBox*>(w);
      b->setText(ToQ(m->Caption()));
      b->setChecked(m->Checked());
      break;
    }
    case Kind::RadioButton: {
      auto* m = static_cast<TRadioButton*>(&c);
      auto* b = static_cast<QRadioButton*>(w);
      b->setText(ToQ(m->Caption()));
      b->setChecked(m->Checked());
      break;
    }
    case Kind::RadioGroup: {
      auto* m = static_cast<TRadioGroup*>(&c);
      auto* box = static_cast<QGroupBox*>(w);
      box->setTitle(ToQ(m->Caption()));
      if (e.items != m->Items() || box->layout() == nullptr) {
        e.items = m->Items();
        LayOutRadioGroup(box, *m, [this, m](int i) { User([m, i] { m->UserSelect(i); }); });
      }
      auto buttons = box->findChildren<QRadioButton*>(Qt::FindDirectChildrenOnly);
      for (int i = 0; i < buttons.size(); ++i) buttons[i]->setChecked(i == m->ItemIndex());
      break;
    }
    case Kind::ComboBox: {
      auto* m = static_cast<TComboBox*>(&c);
      auto* cb = static_cast<QComboBox*>(w);
      bool editable = m->GetStyle() == TComboBox::Style::DropDown;
      if (cb->isEditable() != editable) {
        cb->setEditable(editable);
        if (editable) {
          cb->lineEdit()->setFont(cb->font());
          QObject::connect(cb->lineEdit(), &QLineEdit::textEdited, cb,
                           [this, m](const QString& s) { User([m, s] { m->UserType(FromQ(s)); }); });
        }
      }
      if (e.items != m->Items()) {
        e.items = m->Items();
        cb->clear();
        for (const auto& it : m->Items()) cb->addItem(ToQ(it));
      }
      cb->setMaxVisibleItems(std::max(1, m->DropDownCount));
      if (cb->currentIndex() != m->ItemIndex()) cb->setCurrentIndex(m->ItemIndex());
      if (editable && cb->currentText() != ToQ(m->Text())) cb->setEditText(ToQ(m->Text()));
      break;
    }
    case Kind::TreeView:
      SyncTree(e);
      break;
    case Kind::StringGrid: {
      auto* m = static_cast<TStringGrid*>(&c);
      auto* t = static_cast<QTableWidget*>(w);
      if (t->columnCount() != m->ColCount()) t->setColumnCount(m->ColCount());
      if (t->rowCount() != m->RowCount()) t->setRowCount(m->RowCount());
      const QColor fixed = QApplication::palette().color(QPalette::Button);
      for (int col = 0; col < m->ColCount(); ++col) {
        t->setColumnWidth(col, m->ColWidth(col));
        for (int row = 0; row < m->RowCount(); ++row) {
          QTableWidgetItem* item = t->item(row, col);
          bool is_fixed = row < m->FixedRows() || col < m->FixedCols();
          if (!item) {
            item = new QTableWidgetItem;
            if (is_fixed) item->setBackground(fixed);
            t->setItem(row, col, item);
          }
          QString text = ToQ(m->Cell(col, row));
          if (item->text() != text) item->setText(text);
          Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
          if (m->Editing() && !is_fixed) flags |= Qt::ItemIsEditable;
          if (item->flags() != flags) item->setFlags(flags);
        }
      }
      for (int row = 0; row < m->RowCount(); ++row)
        if (t->rowHeight(row) != m->DefaultRowHeight()) t->setRowHeight(row, m->DefaultRowHeight());
      break;
    }
    case Kind::ProgressBar: {
      auto* m = static_cast<TProgressBar*>(&c);
      auto* p = static_cast<QProgressBar*>(w);
      p->setRange(m->Min(), m->Max());
      p->setValue(m->Position());
      break;
    }
    case Kind::GroupBox:
      static_cast<QGroupBox*>(w)->setTitle(ToQ(static_cast<TGroupBox*>(&c)->Caption()));
      break;
    case Kind::Panel: {
      auto* m = static_cast<TPanel*>(&c);
      auto* f = static_cast<QFrame*>(w);
      f->setFrameShape(m->BevelOuter() == TPanel::Bevel::None ? QFrame::NoFrame : QFrame::Panel);
      f->setFrameShadow(m->BevelOuter() == TPanel::Bevel::Lowered ? QFrame::Sunken : QFrame::Raised);
      f->setAutoFillBackground(m->Color() != clDefault);
      if (auto* cap = f->findChild<QLabel*>("korvel_panel_caption", Qt::FindDirectChildrenOnly)) {
        cap->setText(ToQ(m->Caption()));
        cap->setGeometry(0, 0, m->Width(), m->Height());
        cap->lower();
      }
      break;
    }
    default:
      break;
  }
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
