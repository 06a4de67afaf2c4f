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
      // At process exit (reserved != null) other threads are gone without notice; their
      // instances are not touched, as the host's process is ending anyway.
      if (reserved == nullptr) w::thread_slot_process_detach();
      break;
    default:
      break;
  }
  return TRUE;
}
