// The Qt widget of each page-model control kind: how it is created (and wired to the model's user
// actions) and how it is brought up to the model. FormView looks the pair up by the control's kind.
#include <QApplication>
#include <QCheckBox>
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
#include <QTextDocument>
#include <QTreeWidget>

#include <algorithm>

#include "ui/qt/QtFormView.h"

namespace korvel::ui::qt {
namespace {

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

// ---- Label

QWidget* FormView::CreateLabel(TComponent&, QWidget* parent) {
  auto* w = new QLabel(parent);
  w->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  return w;
}

void FormView::SyncLabel(Entry&, TControl& c, QWidget* w) {
  auto* m = static_cast<TLabel*>(&c);
  auto* l = static_cast<QLabel*>(w);
  l->setText(ToQ(m->Caption()));
  l->setWordWrap(m->WordWrap());
  Qt::Alignment h = m->Alignment() == TAlignment::Center  ? Qt::AlignHCenter
                    : m->Alignment() == TAlignment::Right ? Qt::AlignRight
                                                          : Qt::AlignLeft;
  l->setAlignment(h | Qt::AlignTop);
  l->setAutoFillBackground(!m->Transparent() || m->Color() != clDefault);
}

// ---- Button

QWidget* FormView::CreateButton(TComponent& comp, QWidget* parent) {
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

void FormView::SyncButton(Entry&, TControl& c, QWidget* w) {
  auto* m = static_cast<TButton*>(&c);
  auto* b = static_cast<QPushButton*>(w);
  b->setText(ToQ(m->Caption()));
  b->setFlat(m->Flat());
  b->setDefault(m->Default());
}

// ---- Edit

QWidget* FormView::CreateEdit(TComponent& comp, QWidget* parent) {
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

void FormView::SyncEdit(Entry&, TControl& c, QWidget* w) {
  auto* m = static_cast<TEdit*>(&c);
  auto* ed = static_cast<QLineEdit*>(w);
  QString text = ToQ(m->Text());
  if (ed->text() != text) ed->setText(text);
  ed->setReadOnly(m->ReadOnly());
  ed->setMaxLength(m->MaxLength() > 0 ? m->MaxLength() : 32767);
}

// ---- Memo

QWidget* FormView::CreateMemo(TComponent& comp, QWidget* parent) {
  auto* m = static_cast<TMemo*>(&comp);
  auto* w = new QPlainTextEdit(parent);
  // A native edit box keeps about two pixels between its frame and the text, not Qt's four.
  w->document()->setDocumentMargin(2);
  // Tab moves the focus on, so a page's buttons stay in reach and no tab lands in a saved text.
  w->setTabChangesFocus(true);
  QObject::connect(w, &QPlainTextEdit::textChanged, w, [this, m, w] {
    if (syncing_) return;
    User([m, w] { m->UserSetText(FromQ(w->toPlainText())); });
  });
  return w;
}

void FormView::SyncMemo(Entry&, TControl& c, QWidget* w) {
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
}

// ---- CheckBox

QWidget* FormView::CreateCheckBox(TComponent& comp, QWidget* parent) {
  auto* m = static_cast<TCheckBox*>(&comp);
  auto* w = new QCheckBox(parent);
  QObject::connect(w, &QCheckBox::clicked, w, [this, m] { User([m] { m->UserClick(); }); });
  return w;
}

void FormView::SyncCheckBox(Entry&, TControl& c, QWidget* w) {
  auto* m = static_cast<TCheckBox*>(&c);
  auto* b = static_cast<QCheckBox*>(w);
  b->setText(ToQ(m->Caption()));
  b->setChecked(m->Checked());
}

// ---- RadioButton

QWidget* FormView::CreateRadioButton(TComponent& comp, QWidget* parent) {
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

void FormView::SyncRadioButton(Entry&, TControl& c, QWidget* w) {
  auto* m = static_cast<TRadioButton*>(&c);
  auto* b = static_cast<QRadioButton*>(w);
  b->setText(ToQ(m->Caption()));
  b->setChecked(m->Checked());
}

// ---- RadioGroup

QWidget* FormView::CreateRadioGroup(TComponent&, QWidget* parent) {
  return new QGroupBox(parent);
}

void FormView::SyncRadioGroup(Entry& e, TControl& c, QWidget* w) {
  auto* m = static_cast<TRadioGroup*>(&c);
  auto* box = static_cast<QGroupBox*>(w);
  box->setTitle(ToQ(m->Caption()));
  if (e.items != m->Items() || box->layout() == nullptr) {
    e.items = m->Items();
    LayOutRadioGroup(box, *m, [this, m](int i) { User([m, i] { m->UserSelect(i); }); });
  }
  auto buttons = box->findChildren<QRadioButton*>(Qt::FindDirectChildrenOnly);
  for (int i = 0; i < buttons.size(); ++i) buttons[i]->setChecked(i == m->ItemIndex());
}

// ---- GroupBox

QWidget* FormView::CreateGroupBox(TComponent&, QWidget* parent) {
  return new QGroupBox(parent);
}

void FormView::SyncGroupBox(Entry&, TControl& c, QWidget* w) {
  static_cast<QGroupBox*>(w)->setTitle(ToQ(static_cast<TGroupBox*>(&c)->Caption()));
}

// ---- ComboBox

QWidget* FormView::CreateComboBox(TComponent& comp, QWidget* parent) {
  auto* m = static_cast<TComboBox*>(&comp);
  auto* w = new QComboBox(parent);
  w->setInsertPolicy(QComboBox::NoInsert);
  QObject::connect(w, qOverload<int>(&QComboBox::activated), w,
                   [this, m](int i) { User([m, i] { m->UserSelect(i); }); });
  return w;
}

void FormView::SyncComboBox(Entry& e, TControl& c, QWidget* w) {
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
}

// ---- TreeView

namespace {

// A tree whose selection is only ever what it highlights. Qt makes the first node current when the
// tree gets the focus with none; that node is not highlighted, so it must not become current either:
// the first arrow key then starts from the top, and nothing is chosen that the user has not seen.
class TreeWidget : public QTreeWidget {
 public:
  using QTreeWidget::QTreeWidget;

 protected:
  void focusInEvent(QFocusEvent* e) override {
    const bool had_current = currentIndex().isValid();
    QTreeWidget::focusInEvent(e);
    if (!had_current && selectedItems().isEmpty())
      selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
  }
};

}  // namespace

QWidget* FormView::CreateTreeView(TComponent& comp, QWidget* parent) {
  auto* m = static_cast<TTreeView*>(&comp);
  auto* w = new TreeWidget(parent);
  w->setHeaderHidden(true);
  w->setColumnCount(1);
  w->setSelectionMode(QAbstractItemView::SingleSelection);
  size_t idx = entries_.size();
  // The page's selection follows the highlighted node, never the current one (which Qt may move
  // without highlighting it).
  QObject::connect(w, &QTreeWidget::itemSelectionChanged, w, [this, m, idx, w] {
    if (syncing_) return;
    auto& nodes = entries_[idx].nodes;
    const QList<QTreeWidgetItem*> chosen = w->selectedItems();
    auto it = chosen.isEmpty() ? nodes.end() : nodes.find(chosen.first());
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
  QObject::connect(w, &QTreeWidget::itemExpanded, w, [on_expand](QTreeWidgetItem* i) { on_expand(i, true); });
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
  if (current) {
    if (w->currentItem() != current || !current->isSelected()) w->setCurrentItem(current);
  } else {
    // No node of the page's selection: nothing highlighted and nothing current.
    w->clearSelection();
    if (w->currentIndex().isValid())
      w->selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
  }
}

void FormView::SyncTreeView(Entry& e, TControl&, QWidget*) {
  SyncTree(e);
}

// ---- StringGrid

QWidget* FormView::CreateStringGrid(TComponent& comp, QWidget* parent) {
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

void FormView::SyncStringGrid(Entry&, TControl& c, QWidget* w) {
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
}

// ---- ProgressBar

QWidget* FormView::CreateProgressBar(TComponent&, QWidget* parent) {
  auto* w = new QProgressBar(parent);
  w->setTextVisible(false);
  return w;
}

void FormView::SyncProgressBar(Entry&, TControl& c, QWidget* w) {
  auto* m = static_cast<TProgressBar*>(&c);
  auto* p = static_cast<QProgressBar*>(w);
  p->setRange(m->Min(), m->Max());
  p->setValue(m->Position());
}

// ---- Panel

QWidget* FormView::CreatePanel(TComponent&, QWidget* parent) {
  auto* w = new QFrame(parent);
  auto* caption = new QLabel(w);
  caption->setObjectName("korvel_panel_caption");
  caption->setAlignment(Qt::AlignCenter);
  return w;
}

void FormView::SyncPanel(Entry&, TControl& c, QWidget* w) {
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
}

const FormView::KindView* FormView::ViewOf(Kind kind) {
  static const KindView kViews[] = {
      {Kind::Label, &FormView::CreateLabel, &FormView::SyncLabel},
      {Kind::Button, &FormView::CreateButton, &FormView::SyncButton},
      {Kind::Edit, &FormView::CreateEdit, &FormView::SyncEdit},
      {Kind::Memo, &FormView::CreateMemo, &FormView::SyncMemo},
      {Kind::CheckBox, &FormView::CreateCheckBox, &FormView::SyncCheckBox},
      {Kind::RadioButton, &FormView::CreateRadioButton, &FormView::SyncRadioButton},
      {Kind::RadioGroup, &FormView::CreateRadioGroup, &FormView::SyncRadioGroup},
      {Kind::GroupBox, &FormView::CreateGroupBox, &FormView::SyncGroupBox},
      {Kind::ComboBox, &FormView::CreateComboBox, &FormView::SyncComboBox},
      {Kind::TreeView, &FormView::CreateTreeView, &FormView::SyncTreeView},
      {Kind::StringGrid, &FormView::CreateStringGrid, &FormView::SyncStringGrid},
      {Kind::ProgressBar, &FormView::CreateProgressBar, &FormView::SyncProgressBar},
      {Kind::Panel, &FormView::CreatePanel, &FormView::SyncPanel},
  };
  for (const KindView& v : kViews)
    if (v.kind == kind) return &v;
  return nullptr;
}

}  // namespace korvel::ui::qt
