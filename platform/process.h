// Starting other programs (the help viewer, the web browser) without waiting for them.
#pragma once
#include <string>
#include <vector>

namespace korvel::plat {

// Starts program (found on the search path) with args, detached from the caller; maximised asks
// for a maximised window where the platform has such a thing. True when the program was started.
bool start_program(const std::string& program, const std::vector<std::string>& args, bool maximised);
// Replaces the calling process by a fresh run of its own program with args (args[0] being the
// program's name as started): a service's restart in place, same process id. Returns only when
// that failed (false); not available on Windows.
bool run_self_again(const std::vector<std::string>& args);
// Opens an address (URL) in the user's web browser; true when the browser was started.
bool open_url(const std::string& url);

}  // namespace korvel::plat
