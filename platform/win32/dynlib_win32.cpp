#include <windows.h>

#include "platform/dynlib.h"
#include "platform/win32/module_win32.h"

namespace korvel::plat {
namespace {

std::string error_words(const std::string& what, DWORD err) {
  return what + " (error " + std::to_string(err) + ")";
}

HMODULE g_module = nullptr;

}  // namespace

OpenResult DynLib::open(const std::string& path) {
  close();
  if (path.empty()) {
    set_last_error_text("empty path");
    return OpenResult::Missing;
  }
  // No "cannot find" message box for the host's user.
  const UINT old_mode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  handle_ = LoadLibraryA(path.c_str());
  SetErrorMode(old_mode);
  if (!handle_) {
    const DWORD err = GetLastError();
    set_last_error_text(error_words("cannot load " + path, err));
    // ERROR_MOD_NOT_FOUND also names a missing dependency: only the file itself counts as missing.
    const bool searched = path.find_first_of("\\/") == std::string::npos;
    return searched || GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES ? OpenResult::Failed
                                                                                   : OpenResult::Missing;
  }
  return OpenResult::Ok;
}

void DynLib::close() {
  if (handle_) FreeLibrary(static_cast<HMODULE>(handle_));
  handle_ = nullptr;
}

void* DynLib::symbol(const char* name) const {
  if (!handle_ || !name) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

std::string module_path_of(const void* address) {
  if (!address) return {};
  HMODULE module = nullptr;
  if (!GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          static_cast<LPCSTR>(address), &module))
    return {};
  return win32::module_file(module);
}

std::string module_dir_of(const void* address) {
  std::string path = module_path_of(address);
  const auto cut = path.find_last_of("\\/");
  if (cut == std::string::npos) return {};
  return path.substr(0, cut);
}

namespace win32 {

HMODULE own_module() {
  if (g_module != nullptr) return g_module;
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(&own_module), &module);
  return module;
}

void set_own_module(HMODULE module) {
  g_module = module;
}

std::string module_file(HMODULE module) {
  char buf[MAX_PATH * 2];
  const DWORD n = GetModuleFileNameA(module, buf, sizeof buf);
  if (n == 0 || n >= sizeof buf) return {};
  return std::string(buf, n);
}

}  // namespace win32
}  // namespace korvel::plat
