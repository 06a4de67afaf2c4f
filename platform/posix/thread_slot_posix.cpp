#include "platform/thread_slot.h"

namespace korvel::plat {
namespace {

struct Holder {
  void* value = nullptr;
  SlotDeleter deleter = nullptr;
  ~Holder() {
    void* v = value;
    value = nullptr;
    if (v != nullptr && deleter != nullptr) deleter(v);
  }
};

thread_local Holder t_holder;

}  // namespace

void* thread_slot_get() {
  return t_holder.value;
}

void thread_slot_set(void* value, SlotDeleter deleter) {
  t_holder.value = value;
  t_holder.deleter = deleter;
}

}  // namespace korvel::plat
