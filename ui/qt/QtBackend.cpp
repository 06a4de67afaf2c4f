// The Qt 6 Widgets backend: shows page models as real windows. Built as its own shared object and
// loaded by the library on the first window call, so hosts that never open a window never load Qt.
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QFileDialog>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QLinearGradient>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTableWidget>
#include <QThread>
#include <QTreeWidget>
#include <QWindow>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/dynlib.h"
#include "platform/env.h"
#include "platform/files.h"
#include "platform/threads.h"
#include "ui/Backend.h"
#include "ui/QtEntry.h"
#include "ui/qt/QtFormView.h"

namespace korvel::ui::qt {
namespace {

std::string Env(const char* name) {
  return plat::get_env(name);
}

bool FileExists(const std::string& path) {
  return !path.empty() && plat::path_exists(path);
}

// The platform plugin Qt would pick, as far as the environment tells.
std::string PlatformName() {
  std::string p = Env("QT_QPA_PLATFORM");
  if (!p.empty()) {
    auto colon = p.find(':');
    auto semi = p.find(';');  // a fallback list: the first entry is tried first
    return p.substr(0, std::min(colon, semi));
  }
  if (!Env("DISPLAY").empty()) return "xcb";
  if (!Env("WAYLAND_DISPLAY").empty()) return "wayland";
  return "";
}

bool PluginPresent(const std::string& platform) {
  std::string file = "/platforms/libq" + platform + ".so";
  std::vector<std::string> dirs;
  if (!Env("QT_QPA_PLATFORM_PLUGIN_PATH").empty()) {
    if (FileExists(Env("QT_QPA_PLATFORM_PLUGIN_PATH") + "/libq" + platform + ".so")) return true;
  }
  std::string list = Env("QT_PLUGIN_PATH");
  for (size_t start = 0; start <= list.size();) {
    size_t end = list.find(':', start);
    if (end == std::string::npos) end = list.size();
    if (end > start) dirs.push_back(list.substr(start, end - start));
    start = end + 1;
  }
  dirs.push_back(QLibraryInfo::path(QLibraryInfo::PluginsPath).toStdString());
  for (const auto& d : dirs)
    if (FileExists(d + file)) return true;
  return false;
}

// Qt ends the process when its platform cannot start, so the display is tried first by hand.
bool XDisplayReachable(std::string& why) {
  plat::DynLib xcb;
  if (xcb.open("libxcb.so.1") != plat::OpenResult::Ok) {
    why = "libxcb is missing";
    return false;
  }
  using Connect = void* (*)(const char*, int*);
  using HasError = int (*)(void*);
  using Disconnect = void (*)(void*);
  auto connect = reinterpret_cast<Connect>(xcb.symbol("xcb_connect"));
  auto has_error = reinterpret_cast<HasError>(xcb.symbol("xcb_connection_has_error"));
  auto disconnect = reinterpret_cast<Disconnect>(xcb.symbol("xcb_disconnect"));
  bool ok = false;
  if (connect && has_error && disconnect) {
    void* conn = connect(nullptr, nullptr);
    ok = conn && has_error(conn) == 0;
    if (conn) disconnect(conn);
  }
  xcb.close();
  if (!ok) why = "cannot connect to the X display " + Env("DISPLAY");
  return ok;
}

bool WaylandReachable(std::string& why) {
  std::string name = Env("WAYLAND_DISPLAY");
  if (name.empty()) name = "wayland-0";
  std::string path = name[0] == '/' ? name : Env("XDG_RUNTIME_DIR") + "/" + name;
  if (FileExists(path)) return true;
  why = "no Wayland display at " + path;
  return false;
}

// The application object: the host's when it has one, else ours (kept for the process lifetime).
// *later is set when only the calling thread stands in the way.
QApplication* EnsureApplication(std::string& why, bool* later = nullptr) {
  if (QCoreApplication* existing = QCoreApplication::instance()) {
    auto* app = qobject_cast<QApplication*>(existing);
    if (!app) why = "the host's Qt application has no widget support";
    return app;
  }
  // Made on a worker thread, the application would be bound to it for good: every later window
  // call, also from the main thread, would find it on the wrong thread.
  if (!plat::on_main_thread()) {
    why = "windows can be opened only from the process's main thread";
    if (later) *later = true;
    return nullptr;
  }
  std::string platform = PlatformName();
  if (platform.empty()) {
    why = "no display";
    return nullptr;
  }
  if (!PluginPresent(platform)) {
    why = "the Qt platform plugin '" + platform + "' is not installed";
    return nullptr;
  }
  if (platform == "xcb" && !XDisplayReachable(why)) return nullptr;
  if (platform == "wayland" && !WaylandReachable(why)) return nullptr;
  static int argc = 1;
  static char arg0[] = "KorvelPLNK";
  static char* argv[] = {arg0, nullptr};
  auto* app = new QApplication(argc, argv);
  // The host's own windows, not ours, decide when the process ends.
  app->setQuitOnLastWindowClosed(false);
  return app;
}

bool OnGuiThread() {
  return qApp && QThread::currentThread() == qApp->thread();
}

void CopyError(const std::string& why, char* err, std::size_t len) {
  if (!err || len == 0) return;
  std::snprintf(err, len, "%s", why.c_str());
}

// "description|pattern|description|pattern" → Qt's "description (pattern);;...". A pattern without a
// wildcard is taken as an extension ("log" → "*.log").
QString ToQtFilter(const std::string& filter) {
  QStringList parts = ToQ(filter).split('|');
  QStringList out;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    QStringList patterns = parts[i + 1].split(';', Qt::SkipEmptyParts);
    for (auto& p : patterns) {
      p = p.trimmed();
      if (!p.contains('*') && !p.contains('?')) p = "*." + p;
    }
    out << parts[i] + " (" + patterns.join(' ') + ")";
  }
  return out.join(";;");
}

class QtBackend final : public Backend {
 public:
  QtBackend() {
    KeyTracker::Install();
    QObject::connect(qApp, &QApplication::focusChanged, qApp, [this](QWidget*, QWidget* now) {
      if (!now || in_sync_) return;
      for (auto* v : views_) {
        if (v->closed) continue;
        TControl* c = v->ControlOf(now);
        if (!c || c == &v->form()) continue;
        if (c->Focusable() && v->form().ActiveControl() != c) Dispatch([c] { c->SetFocus(); });
        return;
      }
    });
  }

  // Widgets live on the thread that made the application; any other thread gets "nothing shown".
  bool Available() override { return OnGuiThread(); }

  int ShowModal(TForm& form) override {
    if (!OnGuiThread()) return mrNone;
    SyncAll();
    QWidget* parent = TopWindow();
    auto view =
        std::make_unique<FormView>(form, [this](std::function<void()> fn) { Dispatch(std::move(fn)); });
    if (parent) {
      view->window()->setParent(parent, view->window()->windowFlags());
    } else if (form.OwnerWindow() != 0 && QGuiApplication::platformName() == "xcb") {
      // The host's window as transient parent, so ours stays above it.
      view->window()->winId();
      if (QWindow* host = QWindow::fromWinId(static_cast<WId>(form.OwnerWindow())))
        view->window()->windowHandle()->setTransientParent(host);
    }
    FormView* v = view.get();
    if (TForm* top = TopForm()) top->SetActive(false);
    views_.push_back(v);
    try {
      form.BeginModal();
    } catch (...) {
      // Page code keeps its exceptions; a failing OnShow still leaves a usable window.
    }
    form.SetActive(true);
    SyncAll();
    v->window()->setVisible(form.Visible());
    v->window()->activateWindow();
    SyncAll();  // the first focus needs a visible window
    if (!CheckClose(*v)) {
      QEventLoop loop;
      v->loop = &loop;
      loop.exec(QEventLoop::DialogExec);
      v->loop = nullptr;
    }
    form.EndModal();
    views_.erase(std::find(views_.begin(), views_.end(), v));
    view.reset();
    if (TForm* top = TopForm()) top->SetActive(true);
    SyncAll();
    return form.ModalResult();
  }

  int MessageBox(const MessageBoxParams& p) override {
    if (!OnGuiThread()) return mrNone;
    SyncAll();
    QMessageBox box(TopWindow());
    box.setWindowTitle(p.Caption.empty() ? QStringLiteral("KorvelPLNK") : ToQ(p.Caption));
    box.setText(ToQ(p.Text));
    switch (p.Icon) {
      case MsgIcon::Information:
        box.setIcon(QMessageBox::Information);
        break;
      case MsgIcon::Warning:
        box.setIcon(QMessageBox::Warning);
        break;
      case MsgIcon::Error:
        box.setIcon(QMessageBox::Critical);
        break;
      case MsgIcon::Question:
        box.setIcon(QMessageBox::Question);
        break;
      case MsgIcon::None:
        box.setIcon(QMessageBox::NoIcon);
        break;
    }
    QMessageBox::StandardButtons buttons;
    switch (p.Buttons) {
      case MsgButtons::Ok:
        buttons = QMessageBox::Ok;
        break;
      case MsgButtons::OkCancel:
        buttons = QMessageBox::Ok | QMessageBox::Cancel;
        break;
      case MsgButtons::YesNo:
        buttons = QMessageBox::Yes | QMessageBox::No;
        break;
      case MsgButtons::YesNoCancel:
        buttons = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
        break;
    }
    box.setStandardButtons(buttons);
    int r = box.exec();
    SyncAll();
    switch (r) {
      case QMessageBox::Ok:
        return mrOk;
      case QMessageBox::Yes:
        return mrYes;
      case QMessageBox::No:
        return mrNo;
      case QMessageBox::Cancel:
        return mrCancel;
      default:
        // The close box: what the box's way out is.
        return p.Buttons == MsgButtons::Ok ? mrOk : p.Buttons == MsgButtons::YesNo ? mrNo : mrCancel;
    }
  }

  bool SaveDialog(TSaveDialog& d) override {
    if (!OnGuiThread()) return false;
    SyncAll();
    QFileDialog dlg(TopWindow(), ToQ(d.Title), ToQ(d.FileName), ToQtFilter(d.Filter));
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    if (!d.DefaultExt.empty()) dlg.setDefaultSuffix(ToQ(d.DefaultExt));
    bool ok = dlg.exec() == QDialog::Accepted && !dlg.selectedFiles().isEmpty();
    if (ok) d.FileName = FromQ(dlg.selectedFiles().first());
    SyncAll();
    return ok;
  }

  bool PrintDialog(TPrintDialog& d) override {
    if (!OnGuiThread()) return false;
    SyncAll();
    QPrinter& printer = GetPrinter();
    // A fixed PDF target (headless systems, automated runs) needs no dialog.
    if (!Env("KORVEL_PRINT_TO_PDF").empty()) return true;
    printer.setCopyCount(std::max(1, d.Copies));
    QPrintDialog dlg(&printer, TopWindow());
    bool ok = dlg.exec() == QDialog::Accepted;
    if (ok) d.Copies = printer.copyCount();
    SyncAll();
    return ok;
  }

  bool Print(const PrintDocument& doc) override {
    if (!OnGuiThread()) return false;
    QPrinter& printer = GetPrinter();
    if (!doc.Title.empty()) printer.setDocName(ToQ(doc.Title));
    QPainter painter;
    if (!painter.begin(&printer)) return false;
    QFont font = ToQFont(doc.Font, QApplication::font());
    painter.setFont(font);
    const QRect page = painter.viewport();
    const int line_gap = painter.fontMetrics().lineSpacing();
    int y = 0;
    bool first_sheet = true;
    auto new_sheet = [&] {
      if (!first_sheet) printer.newPage();
      first_sheet = false;
      y = 0;
    };
    for (const auto& lines : doc.Pages) {
      new_sheet();
      for (const auto& line : lines) {
        QString text = ToQ(line);
        QRect need =
            painter.boundingRect(QRect(0, 0, page.width(), page.height()), Qt::TextWrapAnywhere, text);
        int h = std::max(line_gap, need.height());
        if (y > 0 && y + h > page.height()) new_sheet();
        painter.drawText(QRect(0, y, page.width(), h), Qt::TextWrapAnywhere, text);
        y += h;
      }
    }
    return painter.end();
  }

  // Brings every shown form's widgets up to its model.
  void SyncAll() {
    if (in_sync_) return;
    in_sync_ = true;
    for (auto* v : views_) {
      if (v->closed) continue;
      v->Sync();
      if (v->window()->isVisible() != v->form().Visible()) v->window()->setVisible(v->form().Visible());
    }
    in_sync_ = false;
  }

  FormView* ViewOf(const TForm* form) const {
    for (auto* v : views_)
      if (&v->form() == form && !v->closed) return v;
    return nullptr;
  }

  ScreenSize Screen() override {
    QScreen* s = QGuiApplication::primaryScreen();
    if (!s) return {};
    return {s->geometry().width(), s->geometry().height()};
  }

  void ProcessMessages() override {
    if (OnGuiThread()) QCoreApplication::processEvents();
  }

 private:
  QPrinter& GetPrinter() {
    if (!printer_) printer_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
    std::string pdf = Env("KORVEL_PRINT_TO_PDF");
    if (!pdf.empty()) {
      printer_->setOutputFormat(QPrinter::PdfFormat);
      printer_->setOutputFileName(QString::fromStdString(pdf));
    }
    return *printer_;
  }

  TForm* TopForm() const {
    for (auto it = views_.rbegin(); it != views_.rend(); ++it)
      if (!(*it)->closed) return &(*it)->form();
    return nullptr;
  }

  QWidget* TopWindow() const {
    for (auto it = views_.rbegin(); it != views_.rend(); ++it)
      if (!(*it)->closed && (*it)->window()->isVisible()) return (*it)->window();
    return nullptr;
  }

  // Runs a user action on the models; page code never lets an exception into Qt's event loop.
  void Dispatch(std::function<void()> fn) {
    if (in_sync_) return;
    RunPageCode(fn);
    SyncAll();
    for (auto* v : std::vector<FormView*>(views_)) CheckClose(*v);
  }

  // A form that asked to close (and may) leaves its loop.
  bool CheckClose(FormView& v) {
    if (v.closed) return true;
    if (!FormClosesNow(v.form())) return false;
    v.closed = true;
    v.window()->hide();
    if (v.loop) v.loop->exit(0);
    return true;
  }

  std::vector<FormView*> views_;
  std::unique_ptr<QPrinter> printer_;
  bool in_sync_ = false;
};

QtBackend* g_backend = nullptr;

// The client area inside a plain window frame with its caption bar, as a desktop without a theme
// draws it: the caption is part of what a person checks on a screenshot.
QImage FramedPicture(const QImage& client, const QString& caption) {
  const int f = kRenderFrame, bar = kRenderCaption;
  const int w = client.width() + 2 * f, h = client.height() + 2 * f + bar;
  QImage out(w, h, QImage::Format_RGB32);
  out.fill(QColor(212, 208, 200));
  QPainter p(&out);
  p.setPen(QColor(255, 255, 255));
  p.drawLine(1, 1, w - 2, 1);
  p.drawLine(1, 1, 1, h - 2);
  p.setPen(QColor(64, 64, 64));
  p.drawLine(0, h - 1, w - 1, h - 1);
  p.drawLine(w - 1, 0, w - 1, h - 1);
  const QRect title(f, f, w - 2 * f, bar - 1);
  QLinearGradient shade(title.topLeft(), title.topRight());
  shade.setColorAt(0, QColor(10, 36, 106));
  shade.setColorAt(1, QColor(166, 202, 240));
  p.fillRect(title, shade);
  // The close box at the right end of the bar.
  const QRect close(title.right() - 18, title.top() + 3, 16, 14);
  p.fillRect(close, QColor(212, 208, 200));
  p.setPen(QColor(64, 64, 64));
  p.drawRect(close.adjusted(0, 0, -1, -1));
  p.drawLine(close.left() + 4, close.top() + 3, close.right() - 4, close.bottom() - 3);
  p.drawLine(close.left() + 4, close.bottom() - 3, close.right() - 4, close.top() + 3);
  QFont font = QApplication::font();
  font.setBold(true);
  p.setFont(font);
  p.setPen(Qt::white);
  const QRect text = title.adjusted(4, 0, -24, 0);
  p.drawText(text, Qt::AlignVCenter | Qt::AlignLeft,
             QFontMetrics(font).elidedText(caption, Qt::ElideRight, text.width()));
  p.drawImage(f, f + bar, client);
  return out;
}

// Renders a form that is laid out but never put on a screen.
bool RenderForm(TForm& form, const std::string& path, std::string& why) {
  FormView view(form, [](std::function<void()>) {});
  view.window()->setAttribute(Qt::WA_DontShowOnScreen, true);
  view.Sync();
  view.window()->show();
  QCoreApplication::processEvents();
  QPixmap pixmap = view.window()->grab();
  if (pixmap.isNull()) {
    why = "nothing to render";
    return false;
  }
  const QImage client = pixmap.toImage();
  if (!FramedPicture(client, ToQ(form.Caption())).save(QString::fromStdString(path), "PNG")) {
    why = "cannot write " + path;
    return false;
  }
  return true;
}

}  // namespace
}  // namespace korvel::ui::qt

extern "C" __attribute__((visibility("default"))) korvel::ui::Backend* korvel_qt_create_backend(
    int abi, char* err, std::size_t len, int* later) {
  using namespace korvel::ui::qt;
  if (abi != korvel::ui::kBackendAbi) {
    CopyError("the Qt backend was built for another library version", err, len);
    return nullptr;
  }
  std::string why;
  bool not_this_thread = false;
  if (!EnsureApplication(why, &not_this_thread)) {
    CopyError(why, err, len);
    if (later) *later = not_this_thread ? 1 : 0;
    return nullptr;
  }
  // Lives as long as the application object, which is never destroyed either.
  static QtBackend* backend = new QtBackend;
  g_backend = backend;
  return backend;
}

extern "C" __attribute__((visibility("default"))) int korvel_qt_render_png(int abi, korvel::ui::TForm* form,
                                                                           const char* png_path, char* err,
                                                                           std::size_t len) {
  using namespace korvel::ui::qt;
  if (abi != korvel::ui::kBackendAbi) {
    CopyError("the Qt backend was built for another library version", err, len);
    return 0;
  }
  if (!form || !png_path || !*png_path) {
    CopyError("no form or no file name", err, len);
    return 0;
  }
  std::string why;
  if (!EnsureApplication(why)) {
    CopyError(why, err, len);
    return 0;
  }
  if (!OnGuiThread()) {
    CopyError("windows belong to another thread", err, len);
    return 0;
  }
  try {
    if (!RenderForm(*form, png_path, why)) {
      CopyError(why, err, len);
      return 0;
    }
  } catch (...) {
    CopyError("rendering failed", err, len);
    return 0;
  }
  return 1;
}

extern "C" __attribute__((visibility("default"))) int korvel_qt_user_action(int abi, korvel::ui::TForm* form,
                                                                            const char* control,
                                                                            const char* action,
                                                                            const char* arg) {
  using namespace korvel::ui::qt;
  if (abi != korvel::ui::kBackendAbi || !g_backend || !form || !control || !action || !OnGuiThread())
    return 0;
  FormView* view = g_backend->ViewOf(form);
  if (!view) return 0;
  try {
    // Changes the page made just before (in a handler still running) reach the widgets first.
    g_backend->SyncAll();
    return UserAction(*view, control, action, arg ? arg : "") ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

// Keeps the type of each entry point in step with what the library looks up.
static_assert(std::is_same_v<decltype(&korvel_qt_create_backend), korvel::ui::QtCreateBackendFn>);
static_assert(std::is_same_v<decltype(&korvel_qt_render_png), korvel::ui::QtRenderPngFn>);
static_assert(std::is_same_v<decltype(&korvel_qt_user_action), korvel::ui::QtUserActionFn>);
