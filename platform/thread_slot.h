// One pointer per host thread, destroyed when that thread ends.
#pragma once

namespace korvel::plat {

using SlotDeleter = void (*)(void*);

// The calling thread's slot value (null when empty).
void* thread_slot_get();
// Stores a value in the calling thread's slot; the deleter runs on it when the thread ends,
// unless the slot was cleared or overwritten first. Does not delete the previous value.
void thread_slot_set(void* value, SlotDeleter deleter);

}  // namespace korvel::plat
