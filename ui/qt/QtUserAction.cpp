// The user actions of automation and tests on a shown form (korvel_qt_user_action): each goes
// through the same signals and events a real user's produces.
#include <QAbstractButton>
#include <QComboBox>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QScrollBar>
#include <QTableWidget>
#include <QTreeWidget>
#include <QWindow>

#include <cstdlib>
#include <string>

#include "ui/qt/QtFormView.h"

// Qt's entry for key input that takes the platform's path to a window (what QTest uses).
Q_GUI_EXPORT void qt_handleKeyEvent(QWindow* w, QEvent::Type t, int k, Qt::KeyboardModifiers mods,
                                    const QString& text, bool autorep, ushort count);

namespace korvel::ui::qt {
namespace {

void SendKey(QWidget* w, int key, const QString& text) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
  QCoreApplication::sendEvent(w, &press);
  QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
  QCoreApplication::sendEvent(w, &release);
}

void DoubleClick(QWidget* w) {
  QPointF at(w->width() / 2.0, w->height() / 2.0);
  QMouseEvent dbl(QEvent::MouseButtonDblClick, at, w->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                  Qt::NoModifier);
  QCoreApplication::sendEvent(w, &dbl);
}

bool ActClose(FormView& view, const std::string&) {
  view.window()->close();
  return true;
}

bool ActClick(QWidget* w, const std::string&) {
  w->setFocus(Qt::MouseFocusReason);
  if (auto* b = qobject_cast<QAbstractButton*>(w)) {
    b->click();
    return true;
  }
  return false;
}

bool ActDoubleClick(QWidget* w, const std::string&) {
  if (auto* b = qobject_cast<QAbstractButton*>(w)) {
    w->setFocus(Qt::MouseFocusReason);
    b->click();
  }
  DoubleClick(w);
  return true;
}

bool ActType(QWidget* w, const std::string& arg) {
  QWidget* target = w;
  if (auto* cb = qobject_cast<QComboBox*>(w)) target = cb->lineEdit();
  if (!target) return false;
  target->setFocus(Qt::OtherFocusReason);
  QString keys = ToQ(arg);
  for (QChar ch : keys) {
    if (ch == QChar('\b'))
      SendKey(target, Qt::Key_Backspace, QString());
    else if (ch == QChar('\n'))
      SendKey(target, Qt::Key_Return, QStringLiteral("\r"));
    else
      SendKey(target, ch.unicode() < 0x80 ? ch.toUpper().unicode() : int(Qt::Key_unknown), QString(ch));
  }
  return true;
}

bool ActSelect(QWidget* w, const std::string& arg) {
  int i = std::atoi(arg.c_str());
  w->setFocus(Qt::MouseFocusReason);
  if (auto* cb = qobject_cast<QComboBox*>(w)) {
    if (i < 0 || i >= cb->count()) return false;
    cb->setCurrentIndex(i);
    emit cb->activated(i);
    return true;
  }
  auto buttons = w->findChildren<QRadioButton*>(Qt::FindDirectChildrenOnly);
  if (i < 0 || i >= buttons.size()) return false;
  buttons[i]->click();
  return true;
}

bool ActNode(QWidget* w, const std::string& arg) {
  auto* tree = qobject_cast<QTreeWidget*>(w);
  if (!tree) return false;
  auto found = tree->findItems(ToQ(arg), Qt::MatchExactly | Qt::MatchRecursive);
  if (found.isEmpty()) return false;
  tree->setFocus(Qt::MouseFocusReason);
  tree->setCurrentItem(found.first());
  emit tree->itemClicked(found.first(), 0);
  return true;
}

bool ActKeyUp(QWidget* w, const std::string& arg) {
  w->setFocus(Qt::OtherFocusReason);
  int vk = std::atoi(arg.c_str());
  int key = vk == vkDelete   ? Qt::Key_Delete
            : vk == vkReturn ? Qt::Key_Return
            : vk == vkBack   ? Qt::Key_Backspace
                             : vk;
  QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
  QCoreApplication::sendEvent(w, &release);
  return true;
}

bool ActShows(QWidget* w, const std::string& arg) {
  // What the widget shows: "checked" / "unchecked" for a check box or radio button, the checked
  // item's index ("-1": none) for a radio group, "scrolls sideways" for a memo whose lines run on
  // past its right edge behind a horizontal scroll bar.
  if (auto* b = qobject_cast<QAbstractButton*>(w)) return (b->isChecked() ? "checked" : "unchecked") == arg;
  if (auto* ed = qobject_cast<QPlainTextEdit*>(w)) {
    const QScrollBar* bar = ed->horizontalScrollBar();
    return arg == "scrolls sideways" && ed->lineWrapMode() == QPlainTextEdit::NoWrap && bar->isVisible() &&
           bar->maximum() > 0;
  }
  auto buttons = w->findChildren<QRadioButton*>(Qt::FindDirectChildrenOnly);
  int shown = -1, count = 0;
  for (int i = 0; i < buttons.size(); ++i)
    if (buttons[i]->isChecked()) {
      shown = i;
      ++count;
    }
  return count <= 1 && std::to_string(shown) == arg;
}

bool ActCell(QWidget* w, const std::string& arg) {
  auto* table = qobject_cast<QTableWidget*>(w);
  auto c1 = arg.find(','), c2 = c1 == std::string::npos ? c1 : arg.find(',', c1 + 1);
  if (!table || c2 == std::string::npos) return false;
  int col = std::atoi(arg.substr(0, c1).c_str()), row = std::atoi(arg.substr(c1 + 1, c2 - c1 - 1).c_str());
  QTableWidgetItem* item = table->item(row, col);
  if (!item || !(item->flags() & Qt::ItemIsEditable)) return false;
  item->setText(ToQ(arg.substr(c2 + 1)));
  return true;
}

// "press Return", "release Return" or "Return" (both): a key from the keyboard, the way the
// platform hands it to the form's window. Keys: Return, Escape.
bool ActKey(FormView& view, const std::string& arg) {
  const bool press = arg.rfind("release ", 0) != 0;
  const bool release = arg.rfind("press ", 0) != 0;
  const std::string name = arg.substr(arg.find(' ') == std::string::npos ? 0 : arg.find(' ') + 1);
  const int key = name == "Return" ? int(Qt::Key_Return) : name == "Escape" ? int(Qt::Key_Escape) : 0;
  QWindow* target = view.window()->windowHandle();
  if (key == 0 || !target) return false;
  const QString text = key == Qt::Key_Return ? QStringLiteral("\r") : QStringLiteral("\x1b");
  if (press) qt_handleKeyEvent(target, QEvent::KeyPress, key, Qt::NoModifier, text, false, 1);
  if (release) qt_handleKeyEvent(target, QEvent::KeyRelease, key, Qt::NoModifier, text, false, 1);
  return true;
}

}  // namespace

bool UserAction(FormView& view, const std::string& control, const std::string& action,
                const std::string& arg) {
  struct WindowAction {
    const char* name;
    bool (*act)(FormView&, const std::string&);
  };
  static const WindowAction kWindowActions[] = {{"close", ActClose}, {"key", ActKey}};
  for (const WindowAction& a : kWindowActions)
    if (action == a.name) return a.act(view, arg);
  QWidget* w = control == view.form().ClassName() ? view.window() : view.WidgetOf(control);
  if (!w || !w->isVisible() || !w->isEnabled()) return false;
  struct WidgetAction {
    const char* name;
    bool (*act)(QWidget*, const std::string&);
  };
  static const WidgetAction kWidgetActions[] = {
      {"click", ActClick}, {"dblclick", ActDoubleClick}, {"type", ActType},   {"select", ActSelect},
      {"node", ActNode},   {"keyup", ActKeyUp},          {"shows", ActShows}, {"cell", ActCell}};
  for (const WidgetAction& a : kWidgetActions)
    if (action == a.name) return a.act(w, arg);
  return false;
}

}  // namespace korvel::ui::qt
