#include <windows.h>

#include "platform/console.h"

namespace korvel::plat {

bool stdout_is_terminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

}  // namespace korvel::plat
