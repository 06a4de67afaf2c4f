// The window backend built into the library for its operating system: the Win32 one in the
// Windows library; none on POSIX, where windows come from the Qt backend loaded on demand.
#pragma once

namespace korvel::ui {

class Backend;

// The built-in backend, or nullptr when this build has none. Lives as long as the process.
Backend* NativeBackend();

}  // namespace korvel::ui
