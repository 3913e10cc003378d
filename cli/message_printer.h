// Prints the module's messages on stderr by level, each with its epoch's calendar GPS time
// (from the set's GPS week) and its level from the module's catalog (base/message_texts.h):
//   2004-06-10 00:00:30.000 warning: PRN 12 had large C/A residual (153.2 m)
//   error: Error: Unable to open /data/EBAHRA04.162. Will Not be able to Re-Calc ...
// Verbosity 0 shows errors, 1 (default) errors and warnings plus one line counting the
// ephemerides loaded, 2 every message. Below 2, three different messages of each catalog text
// are shown at most, a message already shown is not shown again, and the rest is counted in
// closing lines.
// Each line is one write(2), so lines of sets converted side by side never mix.
#pragma once

#include <map>
#include <set>
#include <string>

#include "base/message_texts.h"
#include "dataset/session_week.h"

namespace talverin_cli {

class MessagePrinter {
 public:
  MessagePrinter(int verbosity, const talverin::SessionWeek& week, std::string label);

  // One message as the module's callback gives it (time -1.0: no epoch).
  void OnMessage(double time_s, const char* text);
  // A line of the host's own, in the same form (time_s < 0: none); with -q errors only.
  void Print(talverin::MessageLevel level, double time_s, const std::string& text);
  // The ephemeris count (if not yet printed) and the counts of repeats not shown.
  void Finish();

  int errors() const { return errors_; }
  int warnings() const { return warnings_; }
  // Messages received that came from this catalog text.
  int Count(const char* format) const;

 private:
  void PrintEphemerisCount();

  int verbosity_;
  talverin::WeekTracker weeks_;
  std::string label_;
  std::map<const talverin::MessageText*, int> received_;
  std::map<const talverin::MessageText*, int> hidden_;
  std::map<const talverin::MessageText*, std::string> firstHidden_;  // as received
  std::map<const talverin::MessageText*, int> shownPerText_;
  std::set<std::string> shown_;
  int errors_ = 0;
  int warnings_ = 0;
  bool ephemerisCountShown_ = false;
};

// Writes one line to stderr in a single write; errors are ignored.
void ErrorLine(const std::string& line);

}  // namespace talverin_cli
