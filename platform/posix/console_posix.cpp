#include <unistd.h>

#include "platform/console.h"

namespace korvel::plat {

bool stdout_is_terminal() {
  return ::isatty(STDOUT_FILENO) == 1;
}

}  // namespace korvel::plat
