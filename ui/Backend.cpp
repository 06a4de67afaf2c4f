#include "ui/Backend.h"

#include <cstdlib>
#include <mutex>

#include "platform/dynlib.h"
#include "platform/env.h"
#include "ui/NativeBackend.h"
#include "ui/QtEntry.h"

namespace korvel::ui {
namespace {

bool HasEnv(const char* name) {
  return !plat::get_env(name).empty();
}

// The Qt backend's shared object, loaded once per process and never unloaded.
class QtLoader {
 public:
  static QtLoader& Get() {
    static QtLoader loader;
    return loader;
  }

  // A loaded toolkit stays loaded and its backend alive: unloading Qt at process exit (or when the
  // host unloads this library), under its own live objects, can crash.
  ~QtLoader() { lib_.release(); }

  void SetPath(std::string path) {
    std::lock_guard lock(mutex_);
    path_ = std::move(path);
  }

  std::string Error() {
    std::lock_guard lock(mutex_);
    return error_;
  }

  // The backend, or nullptr when windows cannot be shown (the reason goes to Error()).
  Backend* GetBackend() {
    std::lock_guard lock(mutex_);
    if (tried_backend_) return backend_;
    tried_backend_ = true;
    // Without any display there is nothing to connect to: do not load a toolkit at all.
    if (!HasEnv("DISPLAY") && !HasEnv("WAYLAND_DISPLAY") && !HasEnv("QT_QPA_PLATFORM")) {
      error_ = "no display";
      return nullptr;
    }
    if (!LoadLocked()) return nullptr;
    auto create = reinterpret_cast<QtCreateBackendFn>(lib_.symbol(kQtCreateBackendSymbol));
    if (!create) {
      error_ = "the Qt backend has no entry point";
      return nullptr;
    }
    char err[512] = {};
    int later = 0;
    backend_ = create(kBackendAbi, err, sizeof err, &later);
    if (!backend_) error_ = err[0] ? err : "the Qt backend could not start";
    // A thread that may not own the toolkit leaves the start to a later call from one that may.
    if (!backend_ && later) tried_backend_ = false;
    return backend_;
  }

  bool Retry() {
    std::lock_guard lock(mutex_);
    if (backend_) return false;
    tried_backend_ = false;
    load_failed_ = false;
    error_.clear();
    return true;
  }

  bool UserAction(TForm& form, const std::string& control, const std::string& action,
                  const std::string& arg) {
    QtUserActionFn act = nullptr;
    {
      std::lock_guard lock(mutex_);
      if (!backend_ || !lib_.is_open()) return false;
      act = reinterpret_cast<QtUserActionFn>(lib_.symbol(kQtUserActionSymbol));
    }
    return act && act(kBackendAbi, &form, control.c_str(), action.c_str(), arg.c_str()) != 0;
  }

  bool Render(TForm& form, const std::string& path, std::string* error) {
    QtRenderPngFn render = nullptr;
    {
      std::lock_guard lock(mutex_);
      if (!LoadLocked()) {
        if (error) *error = error_;
        return false;
      }
      render = reinterpret_cast<QtRenderPngFn>(lib_.symbol(kQtRenderPngSymbol));
    }
    if (!render) {
      if (error) *error = "the Qt backend has no render entry point";
      return false;
    }
    char err[512] = {};
    bool ok = render(kBackendAbi, &form, path.c_str(), err, sizeof err) != 0;
    if (!ok && error) *error = err;
    return ok;
  }

 private:
  bool LoadLocked() {
    if (lib_.is_open()) return true;
    if (load_failed_) return false;
    std::string path = path_;
    if (path.empty() && HasEnv("KORVEL_QT_BACKEND")) path = plat::get_env("KORVEL_QT_BACKEND");
    if (path.empty()) {
      // Next to the library (or program) that holds this code.
      std::string dir = plat::module_dir_of(reinterpret_cast<const void*>(&QtBackendError));
      if (dir.empty()) {
        error_ = "cannot locate the library directory";
        load_failed_ = true;
        return false;
      }
      path = dir + "/" + kQtBackendFile;
    }
    if (lib_.open(path) != plat::OpenResult::Ok) {
      error_ = "cannot load " + path + ": " + plat::last_error_text();
      load_failed_ = true;
      return false;
    }
    return true;
  }

  std::mutex mutex_;
  std::string path_;
  std::string error_;
  plat::DynLib lib_;
  bool load_failed_ = false;
  bool tried_backend_ = false;
  Backend* backend_ = nullptr;  // owned by the loaded object, lives as long as the process
};

// The default backend: the one built into the library (Windows), else the Qt one when it can be
// had, else nothing.
class DefaultBackend final : public Backend {
 public:
  bool Available() override { return Impl() && Impl()->Available(); }
  int ShowModal(TForm& form) override { return Impl() ? Impl()->ShowModal(form) : mrNone; }
  int MessageBox(const MessageBoxParams& p) override { return Impl() ? Impl()->MessageBox(p) : mrNone; }
  bool SaveDialog(TSaveDialog& d) override { return Impl() && Impl()->SaveDialog(d); }
  bool PrintDialog(TPrintDialog& d) override { return Impl() && Impl()->PrintDialog(d); }
  bool Print(const PrintDocument& doc) override { return Impl() && Impl()->Print(doc); }
  ScreenSize Screen() override { return Impl() ? Impl()->Screen() : ScreenSize{}; }
  void ProcessMessages() override {
    if (Impl()) Impl()->ProcessMessages();
  }

 private:
  static Backend* Impl() {
    static Backend* const native = NativeBackend();
    return native ? native : QtLoader::Get().GetBackend();
  }
};

DefaultBackend g_default;
Backend* g_current = nullptr;

}  // namespace

Backend& backend() {
  return g_current ? *g_current : g_default;
}

void set_backend(Backend* b) {
  g_current = b;
}

bool Available() {
  return backend().Available();
}

int MessageBox(const std::string& text, const std::string& caption, MsgIcon icon, MsgButtons buttons,
               const TForm* owner) {
  return backend().MessageBox(MessageBoxParams{text, caption, icon, buttons, owner});
}

void ShowMessage(const std::string& text) {
  MessageBox(text, {}, MsgIcon::None, MsgButtons::Ok);
}

ScreenSize Screen() {
  return backend().Screen();
}

void SetQtBackendPath(std::string path) {
  QtLoader::Get().SetPath(std::move(path));
}

std::string QtBackendError() {
  return QtLoader::Get().Error();
}

void RunPageCode(const std::function<void()>& fn) noexcept {
  try {
    fn();
  } catch (...) {
  }
}

bool FormClosesNow(TForm& form) noexcept {
  if (form.ModalResult() == mrNone) return false;
  try {
    return form.CloseModal();
  } catch (...) {
    return true;
  }
}

bool RetryQtBackend() {
  return QtLoader::Get().Retry();
}

bool RenderToPng(TForm& form, const std::string& png_path, std::string* error) {
  return QtLoader::Get().Render(form, png_path, error);
}

bool QtUserAction(TForm& form, const std::string& control, const std::string& action,
                  const std::string& arg) {
  return QtLoader::Get().UserAction(form, control, action, arg);
}

}  // namespace korvel::ui
