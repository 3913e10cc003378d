// The full GPS week of a download set or of a GPB file: the one rule every command uses to
// resolve the receivers' ten-bit weeks. The evidence, in this order: the date in the file
// name ("yy.ddd" of a set's file; the "yy" of a GPB file named after its set), then the
// ephemerides' GPS weeks (E file, or the .epp beside a GPB file; ten bits as stored), then the
// latest date the data can have (a GPB file's creation stamp, else the machine's clock). The
// week is never in the future, and a choice between weeks 1024 apart is always noted. An
// explicit week overrides all, unless the evidence fixes another week (SessionWeek::refusal).
// Calendar and leap seconds: dataset/gps_calendar.h.
#pragma once

#include <cstdint>
#include <string>

namespace talverin {

enum class WeekSource {
  kOverride,   // given by the user
  kAgreed,     // ephemerides and file name agree
  kFileName,   // the file name's date (no ephemerides, or they disagree)
  kEphemeris,  // the ephemerides (no date in the file name)
  kUnknown,    // neither: week -1
};

struct SessionWeek {
  int32_t week = -1;            // full GPS week, -1 when unknown
  double referenceTow_s = 0.0;  // s of week of a moment inside the session (the file
                                // name's day at 00:00, or the ephemerides' median toe)
  WeekSource source = WeekSource::kUnknown;
  std::string note;  // set only when the choice was in doubt or no week was found
  // An explicit week the set's own evidence contradicts (week -1): more than a week from the
  // week of the file name's date (or of the name and the ephemerides agreeing), and, where
  // the ephemerides decide alone or disagree with the name, from every week with their ten
  // bits. The text names both weeks; the command refuses the set.
  std::string refusal;
  int32_t ephemerisWeek = -1;  // the ephemerides' most frequent week as stored; -1 none
};

// What is known of a session's week; -1 (or empty) where a piece is missing.
struct WeekEvidence {
  int32_t overrideWeek = -1;
  int32_t nameYear = -1;       // four digits, from the file name
  int32_t nameDayOfYear = -1;  // 1-366; -1 when the name gives the year only
  int32_t storedWeek = -1;     // the ephemerides' most frequent GPS week as stored
  double medianToe_s = 0.0;    // their median toe in that week
  int32_t notAfterWeek = -1;   // the data are not later than this full week
  std::string ephemerisPath;   // named in the notes
};

// The week the evidence gives, after the rule in this file's header.
[[nodiscard]] SessionWeek ResolveWeek(const WeekEvidence& evidence);

// The date in a download-set file name (directory ignored). False when the name does not
// end in "yy.ddd" with a day of year 1-366 after a letter, 4 site and 1-2 session characters.
[[nodiscard]] bool SessionDateFromName(const std::string& path, int32_t* year, int32_t* dayOfYear);

// The week of a set from its ephemeris file and the file name of any of its files, not later
// than the machine's clock. overrideWeek >= 0 wins. An unreadable or empty E file counts as
// no ephemerides.
[[nodiscard]] SessionWeek ResolveSessionWeek(const std::string& setFilePath,
                                             const std::string& ephemerisPath,
                                             int32_t overrideWeek);

// The week of a GPB file's epochs. overrideWeek >= 0 wins; else the download set beside it
// that the GPB file is named after (DIR/NAME_ddd.gpb from DIR/NAME.ddd, the default output
// name; DIR/NAME.gpb from the one DIR/NAME.ddd)
// gives it as ResolveSessionWeek does; else the GpsEph weeks of its .epp file with the year
// of its name (NAME = letter, 4 site, 1-2 session characters, yy) and writtenWeek, the week
// its header says it was written (-1 unknown), as the latest possible week.
[[nodiscard]] SessionWeek ResolveGpbWeek(const std::string& gpbPath, const std::string& eppPath,
                                         int32_t writtenWeek, int32_t overrideWeek);

// "override", "ephemeris and file name", "file name", "ephemeris", "unknown".
[[nodiscard]] const char* WeekSourceName(WeekSource source);

// Gives each seconds-of-week time its full week: the week that puts it nearest to the time
// placed before (at first, the session's reference), so a session crossing the end of a
// week goes on into the next one.
class WeekTracker {
 public:
  explicit WeekTracker(const SessionWeek& session);
  // The full week of tow_s; -1 when the session's week is unknown or tow_s is not finite.
  [[nodiscard]] int32_t WeekOf(double tow_s);

 private:
  int32_t week_;
  double lastTow_s_;
};

}  // namespace talverin
