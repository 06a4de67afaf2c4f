#include <windows.h>

#include "platform/thread_slot.h"
#include "platform/win32/module_win32.h"

namespace korvel::plat {
namespace {

struct Holder {
  void* value = nullptr;
  SlotDeleter deleter = nullptr;
};

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
  void* v = h->value;
  const SlotDeleter deleter = h->deleter;
  delete h;
  if (v != nullptr && deleter != nullptr) deleter(v);
}

void thread_slot_process_detach() {
  const DWORD index = slot_index();
  if (index != TLS_OUT_OF_INDEXES) TlsFree(index);
}

}  // namespace win32
}  // namespace korvel::plat
