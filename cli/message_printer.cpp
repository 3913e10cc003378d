#include "cli/message_printer.h"
#include "dataset/gps_calendar.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>

namespace talverin_cli {
namespace {

using talverin::MessageLevel;
using talverin::MessageText;
namespace msg = talverin::msg;

constexpr int kRepeatsShown = 3;  // per catalog text, below verbosity 2

int Rank(MessageLevel level) {
  return level == MessageLevel::kError ? 0 : level == MessageLevel::kWarning ? 1 : 2;
}

// The text as shown after its level: a level word the text starts with is left out (the line
// has one already), and runs of blanks (a blank field padded out) become one.
std::string Tidy(const std::string& text) {
  std::string out = text;
  for (const char* word : {"Error: ", "Warning: ", "Info: "}) {
    if (out.rfind(word, 0) == 0) out.erase(0, std::char_traits<char>::length(word));
  }
  std::replace(out.begin(), out.end(), '\n', ' ');
  out.erase(
      std::unique(out.begin(), out.end(), [](char a, char b) { return a == ' ' && b == ' '; }),
      out.end());
  const size_t dot = out.rfind(" .");
  if (dot != std::string::npos && dot + 2 == out.size()) out.erase(dot, 1);
  return out;
}

}  // namespace

void ErrorLine(const std::string& line) {
  const std::string text = line + "\n";
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(STDERR_FILENO, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

MessagePrinter::MessagePrinter(int verbosity, const talverin::SessionWeek& week, std::string label)
    : verbosity_(verbosity), weeks_(week), label_(std::move(label)) {}

int MessagePrinter::Count(const char* format) const {
  for (const auto& [row, n] : received_) {
    if (row != nullptr && row->format == format) return n;
  }
  return 0;
}

void MessagePrinter::Print(MessageLevel level, double time_s, const std::string& text) {
  if (verbosity_ == 0 && level != MessageLevel::kError) return;  // -q: errors only
  std::string line = label_;
  if (time_s >= 0.0) {
    const int32_t week = weeks_.WeekOf(time_s);
    char tow[64];
    std::snprintf(tow, sizeof tow, "%.3f s of week", time_s);
    line += (week >= 0 ? talverin::FormatGpsTime(week, time_s) : std::string(tow)) + " ";
  }
  line += std::string(talverin::MessageLevelName(level)) + ": " + Tidy(text);
  ErrorLine(line);
}

void MessagePrinter::PrintEphemerisCount() {
  if (ephemerisCountShown_) return;
  ephemerisCountShown_ = true;
  const int healthy = Count(msg::kGpsEphemerisHealthy);
  const int unhealthy = Count(msg::kGpsEphemerisUnhealthy);
  const int glonass = Count(msg::kGlonassEphemerisLoaded);
  if (verbosity_ < 1 || healthy + unhealthy + glonass == 0) return;
  std::string text = std::to_string(healthy + unhealthy) + " GPS ephemerides loaded (" +
                     std::to_string(unhealthy) + " unhealthy)";
  if (glonass > 0) text += ", " + std::to_string(glonass) + " GLONASS";
  Print(MessageLevel::kInfo, -1.0, text);
}

void MessagePrinter::OnMessage(double time_s, const char* text) {
  const MessageText* row = talverin::FindMessageText(text);
  const MessageLevel level = row != nullptr ? row->level : MessageLevel::kWarning;
  errors_ += level == MessageLevel::kError ? 1 : 0;
  warnings_ += level == MessageLevel::kWarning ? 1 : 0;
  ++received_[row];
  // The ephemerides are all read before the first epoch.
  if (time_s >= 0.0) PrintEphemerisCount();
  if (Rank(level) > verbosity_) return;
  // Below verbosity 2 a text already shown, or a catalog text shown often enough, is counted.
  if (verbosity_ < 2 && (shown_.count(text) > 0 || shownPerText_[row] >= kRepeatsShown)) {
    if (hidden_[row]++ == 0) firstHidden_[row] = text;
    return;
  }
  shown_.insert(text);
  ++shownPerText_[row];
  Print(level, time_s, text);
}

void MessagePrinter::Finish() {
  PrintEphemerisCount();
  for (const auto& [row, n] : hidden_) {
    const MessageLevel level = row != nullptr ? row->level : MessageLevel::kWarning;
    Print(level, -1.0,
          std::to_string(n) + " more like \"" + Tidy(firstHidden_[row]) +
              "\" not shown (-v shows every message)");
  }
  hidden_.clear();
  firstHidden_.clear();
}

}  // namespace talverin_cli
