#include <objbase.h>
#include <windows.h>

#include <cstring>

#include "platform/hoststring.h"

namespace korvel::plat {

// The COM task allocator belongs to the system, not to our C runtime: any host frees the string
// with CoTaskMemFree (a .NET marshaller does so by itself), whatever runtime it was built with.
char* host_strdup(const std::string& text) {
  if (text.empty()) return nullptr;
  char* p = static_cast<char*>(CoTaskMemAlloc(text.size() + 1));
  if (p == nullptr) return nullptr;
  std::memcpy(p, text.data(), text.size());
  p[text.size()] = '\0';
  return p;
}

void host_free(void* p) {
  CoTaskMemFree(p);
}

}  // namespace korvel::plat
