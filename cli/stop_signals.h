// The stop signals of the command line (SIGINT, SIGTERM, SIGHUP): once caught they only mark
// the process as stopped, so that the work in hand ends at a point of its own choosing, never
// halfway through putting files in place. The batch runner catches them before it makes any
// temporary file, and its children inherit the catching through fork. HeldStopSignals blocks
// them for a step that must not be split (the renames of a set's outputs); a signal that comes
// meanwhile is delivered when the step is over. POSIX only; nothing here kills or waits.
#pragma once

#include <signal.h>

namespace talverin_cli {

// From here on SIGINT, SIGTERM and SIGHUP mark the process as stopped (restarting interrupted
// reads and writes) instead of ending it.
void CatchStopSignals();
// What the catching handler does, for a handler of a caller's own (async-signal-safe).
void NoteStopSignal(int signal);
// Whether a stop signal has come; the first one's number, 0 before one came.
bool StopRequested();
int StopSignal();

// Blocks the stop signals while it lives, then restores the previous signal mask.
class HeldStopSignals {
 public:
  HeldStopSignals();
  ~HeldStopSignals();
  HeldStopSignals(const HeldStopSignals&) = delete;
  HeldStopSignals& operator=(const HeldStopSignals&) = delete;

 private:
  sigset_t previous_;
};

}  // namespace talverin_cli
