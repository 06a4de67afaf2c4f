#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

#include "platform/dynlib.h"

namespace korvel::plat {

OpenResult DynLib::open(const std::string& path) {
  close();
  if (path.empty()) {
    set_last_error_text("empty path");
    return OpenResult::Missing;
  }
  dlerror();
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle_) {
    const char* e = dlerror();
    set_last_error_text(e ? e : "dlopen failed");
    // A name without a slash is searched for; only a path can be told missing.
    struct stat st {};
    const bool exists = path.find('/') == std::string::npos || ::stat(path.c_str(), &st) == 0;
    return exists ? OpenResult::Failed : OpenResult::Missing;
  }
  return OpenResult::Ok;
}

void DynLib::close() {
  if (handle_) dlclose(handle_);
  handle_ = nullptr;
}

void* DynLib::symbol(const char* name) const {
  if (!handle_ || !name) return nullptr;
  return dlsym(handle_, name);
}

std::string module_path_of(const void* address) {
  Dl_info info{};
  link_map* map = nullptr;
  if (!address || dladdr1(address, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) == 0) return {};
  // The program itself is reported by the name it was started with, which says nothing about where
  // it lies (a bare name found through PATH would resolve against the working directory): ask the
  // system instead.
  if (map && map->l_name && !*map->l_name) {
    char exe[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return {};
    exe[n] = '\0';
    return exe;
  }
  if (!info.dli_fname || !*info.dli_fname) return {};
  char resolved[PATH_MAX];
  if (realpath(info.dli_fname, resolved)) return resolved;
  return info.dli_fname;
}

std::string module_dir_of(const void* address) {
  std::string path = module_path_of(address);
  auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return {};
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace korvel::plat
