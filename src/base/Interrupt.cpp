#include "base/Interrupt.h"

#include <signal.h>

#include <atomic>

namespace orolith {
namespace {

std::atomic<int> requested{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free flag");

extern "C" void RequestStop(int signal) {
  if (requested.exchange(signal) == 0) return;
  // Asked twice: whatever the work is doing, it is not listening; end the way the signal would
  // have without us.
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  ::sigaction(signal, &fallback, nullptr);
  ::raise(signal);
}

// A write to a pipe nobody reads any more then fails with EPIPE, reported like any other write
// error. A handler rather than SIG_IGN: a program started from here gets the default again.
extern "C" void NoteBrokenPipe(int /*signal*/) {}

}  // namespace

void InstallInterruptHandlers() {
  struct sigaction action {};
  action.sa_handler = RequestStop;
  sigemptyset(&action.sa_mask);
  // Interrupted system calls resume: every wait of ours is bounded and checks the flag itself,
  // and libraries need not see EINTR.
  action.sa_flags = SA_RESTART;
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal, &action, nullptr);
  struct sigaction brokenPipe {};
  brokenPipe.sa_handler = NoteBrokenPipe;
  sigemptyset(&brokenPipe.sa_mask);
  brokenPipe.sa_flags = SA_RESTART;
  ::sigaction(SIGPIPE, &brokenPipe, nullptr);
}

int InterruptSignal() noexcept {
  return requested.load();
}

void ThrowIfInterrupted() {
  if (requested.load() != 0) throw Interrupted();
}

void ClearInterrupt() noexcept {
  requested.store(0);
}

}  // namespace orolith
