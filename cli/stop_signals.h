// The user's stop requests (SIGINT, SIGTERM, SIGHUP; on Windows the console's Ctrl-C and close
// events, cli/platform.h): once caught they only mark the process as stopped, so that the work
// in hand ends at a point of its own choosing, never halfway through putting files in place.
// The batch runner catches them before it makes any temporary file, and its children inherit
// the catching through fork. HeldStopSignals blocks them for a step that must not be split
// (the renames of a set's outputs); a signal that comes meanwhile is delivered after it (on
// Windows, where the handler runs in a thread of its own, it only marks). Nothing here kills.
#pragma once

#ifndef _WIN32
#include <signal.h>
#endif

#include <string>

namespace talverin_cli {

// From here on the stop requests mark the process as stopped (restarting interrupted reads
// and writes) instead of ending it.
void CatchStopSignals();
// What the catching handler does, for a handler of a caller's own (async-signal-safe).
void NoteStopSignal(int signal);
// Whether a stop request has come; the first one's signal number, 0 before one came.
bool StopRequested();
int StopSignal();
// "signal 2 (Interrupt)" for the request that came.
std::string StopSignalText();

// Blocks the stop signals while it lives, then restores the previous signal mask.
class HeldStopSignals {
 public:
  HeldStopSignals();
  ~HeldStopSignals();
  HeldStopSignals(const HeldStopSignals&) = delete;
  HeldStopSignals& operator=(const HeldStopSignals&) = delete;

#ifndef _WIN32
 private:
  sigset_t previous_;
#endif
};

}  // namespace talverin_cli
