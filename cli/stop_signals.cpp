#include "cli/stop_signals.h"

#include <csignal>

namespace talverin_cli {
namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
volatile sig_atomic_t gStopSignal = 0;

}  // namespace

void NoteStopSignal(int signal) {
  if (gStopSignal == 0) gStopSignal = signal;
}

void CatchStopSignals() {
  struct sigaction action {};
  action.sa_handler = NoteStopSignal;
  action.sa_flags = SA_RESTART;  // a write to a slow stdout goes on; poll still wakes up
  sigemptyset(&action.sa_mask);
  for (const int s : kStopSignals) sigaction(s, &action, nullptr);
}

bool StopRequested() { return gStopSignal != 0; }

int StopSignal() { return gStopSignal; }

HeldStopSignals::HeldStopSignals() {
  sigset_t held;
  sigemptyset(&held);
  for (const int s : kStopSignals) sigaddset(&held, s);
  sigprocmask(SIG_BLOCK, &held, &previous_);
}

HeldStopSignals::~HeldStopSignals() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }

}  // namespace talverin_cli
