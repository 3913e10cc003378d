// The one calendar of the layers above the module: Gregorian dates, full GPS weeks and
// seconds of week (GPS time scale, 1980-01-06 00:00:00 is week 0, second 0), day of year,
// two-digit years, calendar texts, and GPS-UTC from every leap second announced to date
// (IERS Bulletin C). Past the end of what the bulletins announce, GPS-UTC is not known and
// says so. The module keeps its own shorter table (time/gps_time.h) for its .epp output;
// nothing here changes what a conversion writes.
#pragma once

#include <cstdint>
#include <string>

namespace talverin {

// A GPS-time instant kept as full week and seconds of that week, so that epoch seconds keep
// their 0.1 us resolution (a single double of seconds since 1980 would not).
struct GpsInstant {
  int32_t week = 0;    // full GPS week since 1980-01-06
  double tow_s = 0.0;  // 0 <= tow_s < 604800
  double FullSeconds() const { return week * 604800.0 + tow_s; }
};

struct CalendarTime {
  int32_t year = 0;  // four digits
  int32_t month = 0, day = 0, hour = 0, minute = 0;
  double second = 0.0;
  int32_t dayOfYear = 0;  // 1-366
};

[[nodiscard]] bool IsLeapYear(int32_t year);
// Days of a month (1-12) of a year; 0 for a month outside 1-12.
[[nodiscard]] int32_t DaysInMonth(int32_t year, int32_t month);
// Day of year (1-366) of a valid date.
[[nodiscard]] int32_t DayOfYear(int32_t year, int32_t month, int32_t day);
// Days from 1970-01-01 to a proleptic Gregorian date (month 1-12); any 64-bit year.
[[nodiscard]] int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day);
void CivilFromDays(int64_t days, int64_t* year, int64_t* month, int64_t* day);
// Four-digit year of a two-digit year as receivers and RINEX 2 write it: 80-99 are
// 1980-1999, 00-79 are 2000-2079.
[[nodiscard]] int32_t FullYearOfTwoDigits(int32_t yy);

// Calendar date and time of a GPS instant, GPS time scale.
[[nodiscard]] CalendarTime GpsCalendar(const GpsInstant& t);
// tow_s brought into 0..604800 by moving whole weeks.
[[nodiscard]] GpsInstant NormalisedInstant(int32_t week, double tow_s);
// Full GPS week and seconds of week of a calendar date at 00:00 (GPS time). Day numbers
// past the month's end run on into the next months, so (year, 1, day of year) works.
void CalendarToFullWeek(int32_t year, int32_t month, int32_t day, int32_t* week, double* tow_s);
// GPS time of a calendar date and time (GPS time scale). false, with week 0 and 0 s, for a
// date before the GPS epoch or after 2200, or outside the calendar (month 1-12, day within
// the month, hour 0-23, minute 0-59, second 0 to below 61).
[[nodiscard]] bool CalendarToGps(const CalendarTime& c, int32_t* week, double* tow_s);
// The full GPS week of the machine's clock now.
[[nodiscard]] int32_t CurrentGpsWeek();

// "2004-06-10 00:00:30.000" (milliseconds rounded); "-" when the week is unknown (< 0) or
// tow is not finite.
[[nodiscard]] std::string FormatGpsTime(int32_t week, double tow_s);
// "2004-06-10" of the GPS day holding (week, tow_s); "-" when unknown.
[[nodiscard]] std::string FormatGpsDate(int32_t week, double tow_s);

// GPS-UTC in whole seconds at a GPS time, from every leap second announced to date; -1 where
// it is not known: before the GPS epoch, from kLeapSecondsKnownUntil on, or for a time that
// is not finite or an unknown week.
[[nodiscard]] int32_t GpsMinusUtc_s(int32_t week, double tow_s);
// GPS-UTC of the last leap second announced (18 s since 2017-01-01).
[[nodiscard]] int32_t LastAnnouncedGpsMinusUtc_s();
// The UTC date up to which the announcements reach: "2026-01-01" (IERS Bulletin C 70 of
// July 2025: no leap second at the end of December 2025).
extern const char kLeapSecondsKnownUntil[];
// The UTC time of a GPS time in ISO 8601, as KML and GPX want it: GPS 2004-06-10 00:00:30
// is "2004-06-10T00:00:17.000Z". Past the end of the announcements the last announced
// GPS-UTC is applied and *assumed (when given) is set true. Empty when the week is unknown.
[[nodiscard]] std::string FormatUtcIso(int32_t week, double tow_s, bool* assumed = nullptr);

}  // namespace talverin
