// The entry points of the Qt backend's shared object (ui/qt/), looked up by name after loading.
#pragma once

#include <cstddef>

namespace korvel::ui {

class Backend;
class TForm;

inline constexpr const char* kQtBackendFile = "korvel_qt.so";
inline constexpr const char* kQtCreateBackendSymbol = "korvel_qt_create_backend";
inline constexpr const char* kQtRenderPngSymbol = "korvel_qt_render_png";
inline constexpr const char* kQtUserActionSymbol = "korvel_qt_user_action";

// Creates (once) the backend, and the application object when the host has none. Returns nullptr
// with a reason in err when abi differs or no window can be shown (no usable display). *later is set
// when only the calling thread is the obstacle (it cannot own the toolkit): a later call from
// another thread may succeed.
using QtCreateBackendFn = Backend* (*)(int abi, char* err, std::size_t err_len, int* later);
// Lays form out and renders it into a PNG file; 1 on success, else 0 with a reason in err.
using QtRenderPngFn = int (*)(int abi, TForm* form, const char* png_path, char* err, std::size_t err_len);

// Acts on a widget of a form the backend shows, as a user would; 1 when the action was carried out.
using QtUserActionFn = int (*)(int abi, TForm* form, const char* control, const char* action,
                               const char* arg);

}  // namespace korvel::ui
