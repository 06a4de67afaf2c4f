// The terminal the command-line tools write to.
#pragma once

namespace korvel::plat {

// True when standard output is a terminal (live tables redraw only there).
bool stdout_is_terminal();

}  // namespace korvel::plat
