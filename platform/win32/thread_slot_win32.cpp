#include <windows.h>

#include "platform/thread_slot.h"
#include "platform/win32/module_win32.h"

namespace korvel::plat {
namespace {

struct Holder {
  void* value = nullptr;
  SlotDeleter deleter = nullptr;
  Holder* prev = nullptr;  // every thread's holder, for an unload while threads still run
  Holder* next = nullptr;
};

SRWLOCK g_holders_lock = SRWLOCK_INIT;
Holder* g_holders = nullptr;

void link(Holder* h) {
  AcquireSRWLockExclusive(&g_holders_lock);
  h->next = g_holders;
  if (g_holders != nullptr) g_holders->prev = h;
  g_holders = h;
  ReleaseSRWLockExclusive(&g_holders_lock);
}

void unlink(Holder* h) {
  AcquireSRWLockExclusive(&g_holders_lock);
  if (h->prev != nullptr) h->prev->next = h->next;
  if (h->next != nullptr) h->next->prev = h->prev;
  if (g_holders == h) g_holders = h->next;
  ReleaseSRWLockExclusive(&g_holders_lock);
}

// Empties a holder that has left the list: its value is destroyed, then the holder.
void destroy(Holder* h) {
  void* v = h->value;
  const SlotDeleter deleter = h->deleter;
  delete h;
  if (v != nullptr && deleter != nullptr) deleter(v);
}

// Allocated on first use: static constructors run before DllMain sees the process attach.
DWORD slot_index() {
  static const DWORD index = TlsAlloc();
  return index;
}

Holder* holder(bool create) {
  const DWORD index = slot_index();
  if (index == TLS_OUT_OF_INDEXES) return nullptr;
  auto* h = static_cast<Holder*>(TlsGetValue(index));
  if (h == nullptr && create) {
    h = new (std::nothrow) Holder;
    if (h != nullptr && !TlsSetValue(index, h)) {
      delete h;
      h = nullptr;
    }
    if (h != nullptr) link(h);
  }
  return h;
}

}  // namespace

void* thread_slot_get() {
  Holder* h = holder(false);
  return h != nullptr ? h->value : nullptr;
}

void thread_slot_set(void* value, SlotDeleter deleter) {
  Holder* h = holder(value != nullptr);
  if (h == nullptr) return;
  h->value = value;
  h->deleter = deleter;
}

namespace win32 {

void thread_slot_thread_detach() {
  const DWORD index = slot_index();
  if (index == TLS_OUT_OF_INDEXES) return;
  auto* h = static_cast<Holder*>(TlsGetValue(index));
  if (h == nullptr) return;
  TlsSetValue(index, nullptr);
  unlink(h);
  destroy(h);
}

void thread_slot_process_detach() {
  const DWORD index = slot_index();
  if (index == TLS_OUT_OF_INDEXES) return;
  // Unloaded while threads that hold instances still run: their detach will never reach us, so
  // their instances end here, as at thread end (and the port of each is closed).
  for (;;) {
    AcquireSRWLockExclusive(&g_holders_lock);
    Holder* h = g_holders;
    ReleaseSRWLockExclusive(&g_holders_lock);
    if (h == nullptr) break;
    unlink(h);
    destroy(h);
  }
  TlsFree(index);
}

}  // namespace win32
}  // namespace korvel::plat
