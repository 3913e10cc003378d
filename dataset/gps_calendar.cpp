#include "dataset/gps_calendar.h"

#include <cmath>
#include <cstdio>
#include <ctime>

#include "base/gnss_constants.h"

namespace talverin {
namespace {

constexpr int64_t kDaysPerWeek = 7;
constexpr int64_t kMillisecondsPerDay = 86400000;
constexpr int64_t kMillisecondsPerWeek = kDaysPerWeek * kMillisecondsPerDay;
// Days from 0000-03-01 to 1970-01-01 in the proleptic Gregorian calendar: the era-based
// civil algorithm counts from a March 1st so that the leap day ends each year.
constexpr int64_t kMarchEpochTo1970_days = 719468;
constexpr int32_t kGpsEpochYear = 1980;
constexpr int32_t kLatestYear = 2200;  // beyond any receiver file; keeps day counts small

const int64_t kGpsEpochDays = DaysFromCivil(1980, 1, 6);

int64_t FloorDiv(int64_t a, int64_t b) {
  return a / b - ((a % b != 0 && (a < 0) != (b < 0)) ? 1 : 0);
}

// UTC dates from which GPS-UTC took each value (IERS Bulletin C).
struct LeapStep {
  int32_t year, month, gpsMinusUtc_s;
};
constexpr LeapStep kLeapSteps[] = {
    {1981, 7, 1},  {1982, 7, 2},  {1983, 7, 3},  {1985, 7, 4},  {1988, 1, 5},  {1990, 1, 6},
    {1991, 1, 7},  {1992, 7, 8},  {1993, 7, 9},  {1994, 7, 10}, {1996, 1, 11}, {1997, 7, 12},
    {1999, 1, 13}, {2006, 1, 14}, {2009, 1, 15}, {2012, 7, 16}, {2015, 7, 17}, {2017, 1, 18}};
// The first UTC day that no bulletin has spoken for yet.
constexpr int32_t kKnownUntilYear = 2026;
constexpr int32_t kKnownUntilMonth = 1;

// GPS seconds since the GPS epoch at 00:00 UTC of the first day of a month, for a GPS-UTC
// of offset_s in force from that moment.
double GpsSecondsOfUtcMonth(int32_t year, int32_t month, int32_t offset_s) {
  return static_cast<double>(DaysFromCivil(year, month, 1) - kGpsEpochDays) * kSecondsPerDay +
         offset_s;
}

// Calendar fields of a GPS time, milliseconds rounded; false when unknown or not finite.
bool BreakDown(int32_t week, double tow_s, int64_t f[7]) {
  if (week < 0 || !std::isfinite(tow_s) || std::fabs(tow_s) > 1e12) return false;
  const int64_t ms =
      static_cast<int64_t>(week) * kMillisecondsPerWeek + std::llround(tow_s * 1000.0);
  const int64_t days = FloorDiv(ms, kMillisecondsPerDay);
  const int64_t msOfDay = ms - days * kMillisecondsPerDay;
  CivilFromDays(days + kGpsEpochDays, &f[0], &f[1], &f[2]);
  f[3] = msOfDay / 3600000;
  f[4] = msOfDay / 60000 % 60;
  f[5] = msOfDay / 1000 % 60;
  f[6] = msOfDay % 1000;
  return true;
}

}  // namespace

const char kLeapSecondsKnownUntil[] = "2026-01-01";

bool IsLeapYear(int32_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int32_t DaysInMonth(int32_t year, int32_t month) {
  static const int32_t kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

int32_t DayOfYear(int32_t year, int32_t month, int32_t day) {
  return static_cast<int32_t>(DaysFromCivil(year, month, day) - DaysFromCivil(year, 1, 1)) + 1;
}

int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2 ? 1 : 0;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - kMarchEpochTo1970_days;
}

void CivilFromDays(int64_t z, int64_t* y, int64_t* m, int64_t* d) {
  z += kMarchEpochTo1970_days;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = yoe + era * 400 + (*m <= 2 ? 1 : 0);
}

int32_t FullYearOfTwoDigits(int32_t yy) { return yy >= 80 ? 1900 + yy : 2000 + yy; }

GpsInstant NormalisedInstant(int32_t week, double tow_s) {
  GpsInstant t{week, tow_s};
  if (!std::isfinite(tow_s)) return t;
  const double shift = std::floor(tow_s / kSecondsPerWeek);
  t.week = week + static_cast<int32_t>(shift);
  t.tow_s = tow_s - shift * kSecondsPerWeek;
  if (t.tow_s >= kSecondsPerWeek) {  // rounding of a value just below a whole week
    t.tow_s -= kSecondsPerWeek;
    ++t.week;
  }
  return t;
}

CalendarTime GpsCalendar(const GpsInstant& t) {
  CalendarTime c;
  const int32_t dayOfWeek = static_cast<int32_t>(std::floor(t.tow_s / kSecondsPerDay));
  double secondOfDay = t.tow_s - dayOfWeek * kSecondsPerDay;
  int64_t y = 0, m = 0, d = 0;
  CivilFromDays(kGpsEpochDays + static_cast<int64_t>(t.week) * kDaysPerWeek + dayOfWeek, &y, &m,
                &d);
  c.year = static_cast<int32_t>(y);
  c.month = static_cast<int32_t>(m);
  c.day = static_cast<int32_t>(d);
  c.hour = static_cast<int32_t>(secondOfDay / 3600.0);
  secondOfDay -= c.hour * 3600.0;
  c.minute = static_cast<int32_t>(secondOfDay / 60.0);
  c.second = secondOfDay - c.minute * 60.0;
  c.dayOfYear = DayOfYear(c.year, c.month, c.day);
  return c;
}

void CalendarToFullWeek(int32_t year, int32_t month, int32_t day, int32_t* week, double* tow_s) {
  const int64_t days = DaysFromCivil(year, month, day) - kGpsEpochDays;
  *week = static_cast<int32_t>(FloorDiv(days, kDaysPerWeek));
  *tow_s = static_cast<double>(days - kDaysPerWeek * FloorDiv(days, kDaysPerWeek)) * kSecondsPerDay;
}

bool CalendarToGps(const CalendarTime& c, int32_t* week, double* tow_s) {
  *week = 0;
  *tow_s = 0.0;
  if (c.year < kGpsEpochYear || c.year > kLatestYear || c.day < 1 ||
      c.day > DaysInMonth(c.year, c.month) || c.hour < 0 || c.hour > 23 || c.minute < 0 ||
      c.minute > 59 || !(c.second >= 0.0 && c.second < 61.0)) {
    return false;
  }
  const int64_t days = DaysFromCivil(c.year, c.month, c.day) - kGpsEpochDays;
  if (days < 0) return false;
  *week = static_cast<int32_t>(days / kDaysPerWeek);
  *tow_s = static_cast<double>(days % kDaysPerWeek) * kSecondsPerDay + c.hour * 3600.0 +
           c.minute * 60.0 + c.second;
  return true;
}

int32_t CurrentGpsWeek() {
  // The clock counts UTC; the leap seconds move the week's start by 18 s, which no caller
  // of a whole week can see.
  const int64_t days = FloorDiv(static_cast<int64_t>(std::time(nullptr)), 86400) - kGpsEpochDays;
  return static_cast<int32_t>(FloorDiv(days, kDaysPerWeek));
}

std::string FormatGpsTime(int32_t week, double tow_s) {
  int64_t f[7];
  if (!BreakDown(week, tow_s, f)) return "-";
  char text[128];
  std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld.%03lld",
                static_cast<long long>(f[0]), static_cast<long long>(f[1]),
                static_cast<long long>(f[2]), static_cast<long long>(f[3]),
                static_cast<long long>(f[4]), static_cast<long long>(f[5]),
                static_cast<long long>(f[6]));
  return text;
}

std::string FormatGpsDate(int32_t week, double tow_s) {
  const std::string text = FormatGpsTime(week, tow_s);
  return text == "-" ? text : text.substr(0, 10);
}

int32_t GpsMinusUtc_s(int32_t week, double tow_s) {
  const double gps_s = static_cast<double>(week) * kSecondsPerWeek + tow_s;
  if (week < 0 || !(gps_s >= 0.0)) return -1;
  const int32_t last = LastAnnouncedGpsMinusUtc_s();
  if (gps_s >= GpsSecondsOfUtcMonth(kKnownUntilYear, kKnownUntilMonth, last)) return -1;
  int32_t offset_s = 0;
  for (const LeapStep& step : kLeapSteps) {
    if (gps_s >= GpsSecondsOfUtcMonth(step.year, step.month, step.gpsMinusUtc_s)) {
      offset_s = step.gpsMinusUtc_s;
    }
  }
  return offset_s;
}

int32_t LastAnnouncedGpsMinusUtc_s() {
  return kLeapSteps[sizeof kLeapSteps / sizeof kLeapSteps[0] - 1].gpsMinusUtc_s;
}

std::string FormatUtcIso(int32_t week, double tow_s, bool* assumed) {
  if (assumed != nullptr) *assumed = false;
  if (week < 0 || !std::isfinite(tow_s)) return "";
  int32_t offset_s = GpsMinusUtc_s(week, tow_s);
  if (offset_s < 0) {
    // Before the GPS epoch nothing is dated; past the announcements the last value holds
    // until a bulletin says otherwise, and the caller is told it was assumed.
    if (static_cast<double>(week) * kSecondsPerWeek + tow_s < 0.0) return "";
    offset_s = LastAnnouncedGpsMinusUtc_s();
    if (assumed != nullptr) *assumed = true;
  }
  std::string text = FormatGpsTime(week, tow_s - offset_s);
  if (text == "-") return "";
  text[10] = 'T';
  return text + "Z";
}

}  // namespace talverin
