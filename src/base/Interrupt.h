#pragma once

#include <stdexcept>

namespace orolith {

// A stop asked for from outside the work (INT, TERM or HUP, or the window closing during a
// download). Long waits and loops throw it; the unwinding removes whatever was half-written.
class Interrupted : public std::runtime_error {
 public:
  Interrupted() : std::runtime_error("Interrupted") {}
};

// From now on INT, TERM and HUP only ask for a stop, which the work notices at its next check;
// a second one of them ends the process at once, as it did before. PIPE no longer ends the
// process: a write to a pipe whose reader has gone fails with EPIPE instead.
void InstallInterruptHandlers();

// The signal that asked for a stop; 0 while none has.
int InterruptSignal() noexcept;

// Throws Interrupted once a stop has been asked for.
void ThrowIfInterrupted();

// Forgets the stop asked for, for a program (or a test) that has handled it and goes on.
void ClearInterrupt() noexcept;

}  // namespace orolith
