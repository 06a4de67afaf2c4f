// Strings handed to the host: a new NUL-terminated copy of exactly length+1 bytes that the
// host frees (free() on POSIX, CoTaskMemFree() on Windows); an empty text is a null pointer.
#pragma once
#include <string>

namespace korvel::plat {

char* host_strdup(const std::string& text);
void host_free(void* p);

}  // namespace korvel::plat
