#include "cli/stop_signals.h"

#include <csignal>
#include <cstring>

#include "cli/platform.h"

namespace talverin_cli {
namespace {

volatile sig_atomic_t gStopSignal = 0;

}  // namespace

void NoteStopSignal(int signal) {
  if (gStopSignal == 0) gStopSignal = signal;
}

bool StopRequested() { return gStopSignal != 0; }

int StopSignal() { return gStopSignal; }

#ifdef _WIN32

void CatchStopSignals() { SetStopHandler(NoteStopSignal); }

std::string StopSignalText() { return "a stop request (Ctrl-C, Ctrl-Break or a closed console)"; }

HeldStopSignals::HeldStopSignals() = default;
HeldStopSignals::~HeldStopSignals() = default;

#else

namespace {
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
}  // namespace

void CatchStopSignals() {
  struct sigaction action {};
  action.sa_handler = NoteStopSignal;
  action.sa_flags = SA_RESTART;  // a write to a slow stdout goes on; poll still wakes up
  sigemptyset(&action.sa_mask);
  for (const int s : kStopSignals) sigaction(s, &action, nullptr);
}

std::string StopSignalText() {
  return "signal " + std::to_string(gStopSignal) + " (" + strsignal(gStopSignal) + ")";
}

HeldStopSignals::HeldStopSignals() {
  sigset_t held;
  sigemptyset(&held);
  for (const int s : kStopSignals) sigaddset(&held, s);
  sigprocmask(SIG_BLOCK, &held, &previous_);
}

HeldStopSignals::~HeldStopSignals() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }

#endif

}  // namespace talverin_cli
