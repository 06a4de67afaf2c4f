// The library's entry point: keeps its module handle, destroys a thread's driver instance when
// that thread ends, and gives the thread slot back at unload.
#include <windows.h>

#include "platform/win32/module_win32.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  namespace w = korvel::plat::win32;
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      w::set_own_module(instance);
      break;
    case DLL_THREAD_DETACH:
      w::thread_slot_thread_detach();
      break;
    case DLL_PROCESS_DETACH:
      // FreeLibrary (reserved == null): every instance still alive is stopped and destroyed, so
      // that a reloaded library can open its ports again. At process exit the other threads are
      // already gone without notice and may have died holding the log's or a port's lock; waiting
      // for it here, under the loader lock, would hang the host's exit, so nothing is touched and
      // the system closes the ports.
      if (reserved == nullptr) w::thread_slot_process_detach();
      break;
    default:
      break;
  }
  return TRUE;
}
