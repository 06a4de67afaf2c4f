// The OS-neutral part of a loaded library: ownership of its handle. Opening, symbols and closing
// are the OS files' work.
#include "platform/dynlib.h"

#include <utility>

namespace korvel::plat {

DynLib::~DynLib() {
  close();
}

DynLib::DynLib(DynLib&& other) noexcept : handle_(other.handle_) {
  other.handle_ = nullptr;
}

DynLib& DynLib::operator=(DynLib&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = other.handle_;
    other.handle_ = nullptr;
  }
  return *this;
}

}  // namespace korvel::plat
