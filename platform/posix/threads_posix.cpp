#include "platform/threads.h"

#include <sys/syscall.h>
#include <unistd.h>

namespace korvel::plat {

bool on_main_thread() {
  // The main thread's id is the process id.
  return static_cast<long>(::getpid()) == ::syscall(SYS_gettid);
}

}  // namespace korvel::plat
