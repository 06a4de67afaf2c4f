// Which thread the caller runs on, where a window toolkit cares.
#pragma once

namespace korvel::plat {

// True on the process's main thread (the one the program started on). Toolkits such as Qt on X11
// want their application object there and nowhere else.
bool on_main_thread();

}  // namespace korvel::plat
