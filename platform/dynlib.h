// Loading a shared object at run time, and finding where a loaded module lives.
#pragma once
#include <string>

#include "platform/result.h"

namespace korvel::plat {

// An opened shared object; closed when the handle is destroyed unless kept with release().
class DynLib {
 public:
  DynLib() = default;
  ~DynLib();
  DynLib(DynLib&& other) noexcept;
  DynLib& operator=(DynLib&& other) noexcept;
  DynLib(const DynLib&) = delete;
  DynLib& operator=(const DynLib&) = delete;

  // Opens the file at path (all symbols resolved now, kept local). Missing when there is no such
  // file, Failed when the OS refuses it (a dependency missing, a wrong format): last_error_text()
  // then has the loader's words.
  OpenResult open(const std::string& path);
  void close();
  bool is_open() const { return handle_ != nullptr; }
  // Address of an exported symbol, nullptr when absent or not open.
  void* symbol(const char* name) const;
  // Leaves the object loaded for the rest of the process (toolkits must not be unloaded).
  void release() { handle_ = nullptr; }

 private:
  void* handle_ = nullptr;
};

// Full path of the loaded module (shared object or program) that contains address; "" if unknown.
std::string module_path_of(const void* address);
// Directory of that module without a trailing separator; "" if unknown.
std::string module_dir_of(const void* address);

}  // namespace korvel::plat
