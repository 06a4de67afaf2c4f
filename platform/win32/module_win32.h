// What the library's entry point (DllMain) tells the Win32 services, and what they ask back.
#pragma once
#include <windows.h>

#include <string>

namespace korvel::plat::win32 {

// The module that holds this code: the library's handle kept at load, or (in a test program that
// links the services directly) the module found from an address of this code.
HMODULE own_module();
void set_own_module(HMODULE module);
// Full path of a module; "" when unknown.
std::string module_file(HMODULE module);

// A thread of the host ends: the driver instance in its slot is destroyed.
void thread_slot_thread_detach();
// The library is unloaded by FreeLibrary: the instance of every thread is destroyed as at thread
// end, then the slot index is given back.
void thread_slot_process_detach();

}  // namespace korvel::plat::win32
