// Strings handed to the host: a new NUL-terminated copy of exactly length+1 bytes that the
// host frees with free(); an empty text is handed out as a null pointer.
#pragma once
#include <string>

namespace korvel::plat {

char* host_strdup(const std::string& text);
void host_free(void* p);

}  // namespace korvel::plat
