// The full GPS week of a download set, and GPS time as calendar text. The week comes from
// the GPS records of the ephemeris file (E; ten-bit weeks, below 500 read as week + 1024 as
// the module reads them), checked against the date in the set's file name (B/E/S/D, a
// 4-character site, session characters, "yy.ddd"; yy 80-99 is 19yy, 00-79 is 20yy). When
// they disagree (for data after the 2019-04-07 rollover they differ by 1024 weeks) the file
// name decides and a note says so; an explicit week overrides both. Calendar texts are GPS
// time (no leap seconds): "2004-06-10 00:00:30.000", or UTC in ISO form for KML and GPX.
// Tools only, not part of the module.
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
  std::string note;  // why the week is what it is, when that needs saying
};

// The date in a download-set file name (directory ignored). False when the name does not
// end in "yy.ddd" with a day of year 1-366 after a letter, 4 site and 1-2 session characters.
bool SessionDateFromName(const std::string& path, int32_t* year, int32_t* dayOfYear);

// The week of a set from its ephemeris file and the file name of any of its files.
// overrideWeek >= 0 wins over both. An unreadable or empty E file counts as no ephemerides.
SessionWeek ResolveSessionWeek(const std::string& setFilePath, const std::string& ephemerisPath,
                               int32_t overrideWeek);

// The week of a GPB file's epochs. overrideWeek >= 0 wins; else the download set beside it
// that the GPB file is named after (DIR/NAME.gpb from DIR/NAME.ddd, the default output name)
// gives it as ResolveSessionWeek does; else the GpsEph weeks of its .epp file, ten-bit as
// the E file gave them and read as the module reads them (below 500: + 1024), with a note
// naming the week 1024 later when that one is not after writtenWeek (the week the GPB file
// was written, from its header; -1 unknown).
SessionWeek ResolveGpbWeek(const std::string& gpbPath, const std::string& eppPath,
                           int32_t writtenWeek, int32_t overrideWeek);

// "override", "ephemeris and file name", "file name", "ephemeris", "unknown".
const char* WeekSourceName(WeekSource source);

// Full GPS week and seconds of week of a calendar date (GPS time).
void CalendarToFullWeek(int32_t year, int32_t month, int32_t day, int32_t* week, double* tow_s);

// "2004-06-10 00:00:30.000"; "-" when the week is unknown or tow is not finite.
std::string FormatGpsTime(int32_t week, double tow_s);
// GPS-UTC (s) at a GPS time from the leap seconds announced up to 2017-01-01 (18 s since).
int32_t GpsMinusUtc_s(int32_t week, double tow_s);
// The UTC time of a GPS time in ISO 8601, as KML and GPX want it: GPS 2004-06-10 00:00:30
// is "2004-06-10T00:00:17.000Z". Empty when unknown.
std::string FormatUtcIso(int32_t week, double tow_s);

// Gives each seconds-of-week time its full week: the week that puts it nearest to the time
// placed before (at first, the session's reference), so a session crossing the end of a
// week goes on into the next one.
class WeekTracker {
 public:
  explicit WeekTracker(const SessionWeek& session);
  // The full week of tow_s; -1 when the session's week is unknown or tow_s is not finite.
  int32_t WeekOf(double tow_s);

 private:
  int32_t week_;
  double lastTow_s_;
};

}  // namespace talverin
