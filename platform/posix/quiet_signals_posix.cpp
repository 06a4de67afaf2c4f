#include <pthread.h>
#include <time.h>

#include <cerrno>

#include "platform/posix/quiet_signals.h"

namespace korvel::plat {

namespace {
constexpr int kHeld[] = {SIGPIPE, SIGXFSZ};
}

QuietSignals::QuietSignals() {
  sigemptyset(&held_);
  for (int s : kHeld) sigaddset(&held_, s);
  // A signal already pending belongs to someone else and stays for them.
  sigemptyset(&pendingBefore_);
  sigpending(&pendingBefore_);
  active_ = pthread_sigmask(SIG_BLOCK, &held_, &previous_) == 0;
}

QuietSignals::~QuietSignals() {
  if (!active_) return;
  const int savedErrno = errno;
  sigset_t pending;
  sigemptyset(&pending);
  sigpending(&pending);
  for (int s : kHeld) {
    if (sigismember(&pendingBefore_, s) == 1 || sigismember(&pending, s) != 1) continue;
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, s);
    const timespec zero{0, 0};
    while (sigtimedwait(&one, nullptr, &zero) < 0 && errno == EINTR) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  errno = savedErrno;
}

}  // namespace korvel::plat
