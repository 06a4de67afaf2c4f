#include <windows.h>

#include "platform/event.h"

namespace korvel::plat {

// The host owns the event; a bad handle only makes SetEvent fail.
bool signal_host_event(HostEvent handle) {
  if (handle == 0) return false;
  return SetEvent(reinterpret_cast<HANDLE>(handle)) != 0;
}

HostEvent create_host_event() {
  HANDLE h = CreateEventA(nullptr, FALSE, FALSE, nullptr);  // auto-reset: a take clears it
  return h == nullptr ? 0 : reinterpret_cast<HostEvent>(h);
}

bool take_host_event(HostEvent handle) {
  if (handle == 0) return false;
  return WaitForSingleObject(reinterpret_cast<HANDLE>(handle), 0) == WAIT_OBJECT_0;
}

void close_host_event(HostEvent handle) {
  if (handle != 0) CloseHandle(reinterpret_cast<HANDLE>(handle));
}

}  // namespace korvel::plat
