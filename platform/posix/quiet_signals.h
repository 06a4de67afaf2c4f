// Library I/O inside a host's process must not raise signals the host never asked for: a write
// to a pipe whose reader has gone raises SIGPIPE, one beyond the file-size limit SIGXFSZ, and
// both end the process by default. Changing the process's signal dispositions is the host's
// business, so the library holds the two back on the calling thread only, for one write, and
// takes away whatever that write raised; the write then simply fails (EPIPE, EFBIG).
#pragma once
#include <signal.h>

namespace korvel::plat {

class QuietSignals {
 public:
  QuietSignals();
  ~QuietSignals();
  QuietSignals(const QuietSignals&) = delete;
  QuietSignals& operator=(const QuietSignals&) = delete;

 private:
  sigset_t held_{};
  sigset_t previous_{};
  sigset_t pendingBefore_{};
  bool active_ = false;
};

}  // namespace korvel::plat
