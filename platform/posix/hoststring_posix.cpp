#include <cstdlib>
#include <cstring>

#include "platform/hoststring.h"

namespace korvel::plat {

char* host_strdup(const std::string& text) {
  if (text.empty()) return nullptr;
  char* p = static_cast<char*>(std::malloc(text.size() + 1));
  if (p == nullptr) return nullptr;
  std::memcpy(p, text.data(), text.size());
  p[text.size()] = '\0';
  return p;
}

void host_free(void* p) {
  std::free(p);
}

}  // namespace korvel::plat
