#include "time/gps_time.h"

#include <cmath>
#include <limits>

#include "base/gnss_constants.h"

namespace talverin {
namespace {

constexpr int64_t kGpsEpochSince1970_s = 315964800;  // 1980-01-06 00:00:00 after 1970-01-01
constexpr int64_t kWeek_s = static_cast<int64_t>(kSecondsPerWeek);
constexpr int64_t kMinute_s = 60;
constexpr int64_t kHoursPerDay = 24;
constexpr int64_t kMinutesPerHour = 60;
constexpr int64_t kDaysPerCommonYear = 365;
constexpr int64_t kMonthsPerYear = 12;
constexpr int32_t kTenBitWeeks = 1024;       // broadcast weeks are modulo 1024
constexpr int32_t kTenBitWindowStart = 500;  // weeks 0..499 stand for 1024..1523
constexpr int32_t kGpsEpochMjd = 44244;      // MJD of 1980-01-06
constexpr int32_t kDaysPerWeek = 7;
constexpr double kHalfWeekRule_s = 300000.0;  // |t - r| from here on moves the week
constexpr double kDaysPerSecond = 1.0 / 86400.0;
constexpr double kWeeksPerSecond = 1.6534391534391535e-6;  // 1/604800, used as a factor
constexpr int32_t kBroadcastYearBase = 1901;               // years below are years since 1900
constexpr int32_t kTmYearBase = 1900;
constexpr int32_t kTmYearOf1970 = 70;  // years since 1900 below 70 mean 2000..2069
constexpr int32_t kYearsFrom1970To2000 = 30;

// Days before the first day of month 0..11 (entry 12: the year's length), common / leap.
constexpr int32_t kCumulativeDays[2][13] = {
    {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365},
    {0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335, 366}};

// True when the double truncates to a value inside [lo, hi]; NaN and infinities fail.
bool FitsAfterTruncation(double value, double lo, double hi) {
  return std::isfinite(value) && std::trunc(value) >= lo && std::trunc(value) <= hi;
}

bool FitsInt32(double value) {
  return FitsAfterTruncation(value, std::numeric_limits<int32_t>::min(),
                             std::numeric_limits<int32_t>::max());
}

// Floor division and remainder, so that a month of -1 is December of the year before.
int64_t FloorDiv(int64_t a, int64_t b) {
  return a / b - ((a % b != 0 && (a < 0) != (b < 0)) ? 1 : 0);
}

struct LeapRow {
  int32_t year;
  int32_t month;  // 1..12
  int32_t day;
  int32_t offset_s;  // GPS-UTC, -1 where not listed
};

// Row 11 stands after row 10 although its date is earlier, so that every time from
// 2005-01-01 on falls in no interval of rows 0..11 but the one of row 11, which gives -1.
constexpr int kLeapRows = 13;
constexpr LeapRow kLeapTable[kLeapRows] = {
    {1980, 2, 1, -1}, {1991, 1, 1, 7},  {1992, 7, 1, 8},  {1993, 7, 1, 9},  {1994, 7, 1, 10},
    {1996, 1, 1, 11}, {1997, 7, 1, 12}, {1999, 1, 1, 13}, {2000, 1, 1, 13}, {2001, 1, 1, 13},
    {2005, 1, 1, 13}, {2001, 7, 1, -1}, {2010, 1, 1, -1}};

// Full GPS seconds of 00:00:00 on each row's date, filled on the first GpsUtcOffset call.
// Process-wide and unguarded: conversions do not run in parallel.
double g_leapInstant_s[kLeapRows];
bool g_leapInstantsReady = false;

void FillLeapInstants() {
  for (int k = 0; k < kLeapRows; ++k) {
    BrokenDownTime date = {};
    date.mday = kLeapTable[k].day;
    date.mon = kLeapTable[k].month - 1;
    date.year = kLeapTable[k].year - kTmYearBase;
    g_leapInstant_s[k] = static_cast<double>(SecondsSince1970(date) - kGpsEpochSince1970_s);
  }
  g_leapInstantsReady = true;
}

}  // namespace

int64_t FullGpsWeek(int32_t week) {
  return week < kTenBitWindowStart ? int64_t{week} + kTenBitWeeks : int64_t{week};
}

int64_t SecondsSince1970(const BrokenDownTime& time) {
  int64_t year = int64_t{time.year} + FloorDiv(time.mon, kMonthsPerYear);
  const int64_t month = int64_t{time.mon} - FloorDiv(time.mon, kMonthsPerYear) * kMonthsPerYear;
  const int leap = (year % 4 == 0) ? 1 : 0;
  const int64_t yearsSince1970 =
      year < kTmYearOf1970 ? year + kYearsFrom1970To2000 : year - kTmYearOf1970;
  const int64_t days = (yearsSince1970 + 2) / 4 + kDaysPerCommonYear * yearsSince1970 - leap +
                       kCumulativeDays[leap][month] + time.mday - 1;
  return time.sec + kMinute_s * (time.min + kMinutesPerHour * (time.hour + kHoursPerDay * days));
}

void CalendarToGps(int32_t hour, int32_t minute, double second, int32_t month, int32_t day,
                   int32_t year, int32_t* week, double* secondsOfWeek) {
  *week = 0;
  *secondsOfWeek = 0.0;
  if (!FitsInt32(second)) return;
  const int32_t wholeSecond = static_cast<int32_t>(second);
  BrokenDownTime date = {};
  date.sec = wholeSecond;
  date.min = minute;
  date.hour = hour;
  date.mday = day;
  date.mon = month - 1;
  date.year = year >= kBroadcastYearBase ? year - kTmYearBase : year;
  const int64_t sinceGpsEpoch_s = SecondsSince1970(date) - kGpsEpochSince1970_s;
  int64_t fullWeek = sinceGpsEpoch_s / kWeek_s;
  const double sow_s =
      static_cast<double>(sinceGpsEpoch_s - kWeek_s * fullWeek) + (second - wholeSecond);
  if (fullWeek >= kTenBitWeeks) fullWeek -= kTenBitWeeks;
  if (fullWeek < std::numeric_limits<int32_t>::min() ||
      fullWeek > std::numeric_limits<int32_t>::max()) {
    return;
  }
  *week = static_cast<int32_t>(fullWeek);
  *secondsOfWeek = sow_s;
}

double GpsFullSeconds(double t, int32_t week, double reference) {
  if (!std::isfinite(t) || !std::isfinite(reference)) {
    return std::numeric_limits<double>::quiet_NaN();
  }
  int64_t fullWeek = FullGpsWeek(week);
  // A reference of exactly 0 is the first instant of the following week.
  if (reference == 0.0) fullWeek += 1;
  const double d_s = t - reference;
  if (std::fabs(d_s) < kHalfWeekRule_s) return t + kSecondsPerWeek * static_cast<double>(fullWeek);
  if (d_s >= 0.0) return t + kSecondsPerWeek * static_cast<double>(fullWeek - 1);
  return t + kSecondsPerWeek * static_cast<double>(fullWeek + 1);
}

void GpsToMjd(int32_t week, double t, int32_t* mjd, double* fractionOfDay) {
  *mjd = 0;
  *fractionOfDay = 0.0;
  const double days = t * kDaysPerSecond;
  if (!FitsInt32(days)) return;
  const int32_t wholeDays = static_cast<int32_t>(days);
  const int64_t day = kDaysPerWeek * FullGpsWeek(week) + kGpsEpochMjd + wholeDays;
  if (day < std::numeric_limits<int32_t>::min() || day > std::numeric_limits<int32_t>::max()) {
    return;
  }
  *mjd = static_cast<int32_t>(day);
  *fractionOfDay = (t - kSecondsPerDay * wholeDays) / kSecondsPerDay;
}

int32_t WeekOfFullSeconds(double fullSeconds) {
  const double weeks = fullSeconds * kWeeksPerSecond;
  return FitsInt32(weeks) ? static_cast<int32_t>(weeks) : 0;
}

double SecondsOfWeek(double fullSeconds) {
  return fullSeconds - kSecondsPerWeek * WeekOfFullSeconds(fullSeconds);
}

int32_t GpsUtcOffset(double t, int32_t week, double reference) {
  if (!g_leapInstantsReady) FillLeapInstants();
  const double full_s = GpsFullSeconds(t, week, reference);
  for (int k = 0; k + 1 < kLeapRows; ++k) {
    if (g_leapInstant_s[k] <= full_s && full_s < g_leapInstant_s[k + 1]) {
      return kLeapTable[k].offset_s;
    }
  }
  return -1;
}

}  // namespace talverin
