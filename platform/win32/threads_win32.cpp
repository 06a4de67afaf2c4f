#include <windows.h>
// after windows.h, which it needs
#include <tlhelp32.h>

#include "platform/threads.h"

namespace korvel::plat {
namespace {

// The process's first thread: the one of its threads created earliest.
DWORD main_thread_id() {
  DWORD best = 0;
  ULONGLONG best_time = ~0ULL;
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snap == INVALID_HANDLE_VALUE) return 0;
  THREADENTRY32 te{};
  te.dwSize = sizeof te;
  const DWORD pid = GetCurrentProcessId();
  for (BOOL more = Thread32First(snap, &te); more; more = Thread32Next(snap, &te)) {
    if (te.th32OwnerProcessID != pid) continue;
    HANDLE t = OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, te.th32ThreadID);
    if (t == nullptr) continue;
    FILETIME created{}, exited{}, kernel{}, user{};
    if (GetThreadTimes(t, &created, &exited, &kernel, &user)) {
      const ULONGLONG when = (ULONGLONG(created.dwHighDateTime) << 32) | created.dwLowDateTime;
      if (when < best_time) {
        best_time = when;
        best = te.th32ThreadID;
      }
    }
    CloseHandle(t);
  }
  CloseHandle(snap);
  return best;
}

}  // namespace

bool on_main_thread() {
  static const DWORD main_id = main_thread_id();
  return GetCurrentThreadId() == main_id;
}

}  // namespace korvel::plat
