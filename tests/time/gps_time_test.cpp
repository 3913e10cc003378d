// GPS time conversions against the C library's calendar (timegm, 64-bit time_t), calendar
// facts (the 1999-08-22 rollover, week 1400 day 1 is 2006-11-06, 1970-01-01 is MJD 40587).
#include "time/gps_time.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <ctime>

#include "tests/support/test_support.h"

namespace talverin {
namespace {

constexpr int64_t kWeekSeconds = 604800;
constexpr int64_t kMjdOf1970 = 40587;  // 1970-01-01 is MJD 40587

struct Date {
  int year, month, day, hour, minute;  // four-digit year, month 1..12 (or beyond)
  double second;
};

// Seconds since 1970 from glibc, independent of the code under test.
int64_t LibcSeconds(const Date& d) {
  static_assert(sizeof(time_t) == 8, "the reference needs a 64-bit time_t");
  std::tm tm{};
  tm.tm_sec = static_cast<int>(d.second);
  tm.tm_min = d.minute;
  tm.tm_hour = d.hour;
  tm.tm_mday = d.day;
  tm.tm_mon = d.month - 1;
  tm.tm_year = d.year - 1900;
  return static_cast<int64_t>(timegm(&tm));
}

// Whole seconds since 1980-01-06 00:00:00, by the C library.
int64_t LibcGpsSeconds(const Date& d) {
  return LibcSeconds(d) - LibcSeconds({1980, 1, 6, 0, 0, 0});
}

// The week as a receiver of the ten-bit era gives it: full weeks 1024..1523 as 0..499.
int32_t TenBitWeek(int64_t fullWeek) {
  return static_cast<int32_t>(fullWeek >= 1024 && fullWeek < 1524 ? fullWeek - 1024 : fullWeek);
}

// Against the C library, and where a calendar fact is known against that as well: the week
// as the receiver gives it (1024 subtracted once), seconds of week, the MJD, and the week
// and seconds of the full GPS seconds. A year argument below 1901 counts from 1900, and
// below 70 from 2000; months outside 1..12 are carried into the year, as timegm does.
TEST(GpsTime, CalendarDatesGiveTenBitWeekSecondsOfWeekAndMjd) {
  const struct {
    Date date;
    int32_t yearArgument;  // as passed: four digits or years since 1900
    int32_t knownWeek;     // -1: no calendar fact
    double knownSow;
  } cases[] = {{{1972, 2, 29, 12, 0, 0.0}, 72, -1, 0},
               {{1980, 1, 6, 0, 0, 0.0}, 1980, 0, 0.0},
               {{1999, 8, 21, 23, 59, 59.5}, 1999, 1023, 604799.5},
               {{1999, 8, 22, 0, 0, 0.0}, 99, 0, 0.0},
               {{2000, 2, 29, 1, 2, 3.0}, 100, -1, 0},
               {{2004, 6, 10, 0, 0, 0.0}, 2004, 1274 - 1024, 4 * 86400.0},
               {{2006, 11, 6, 0, 0, 0.0}, 2006, 1400 - 1024, 86400.0},
               {{2069, 12, 31, 23, 59, 59.0}, 69, -1, 0},
               {{2100, 2, 28, 23, 59, 59.0}, 2100, -1, 0},
               {{2003, 13, 15, 0, 0, 0.0}, 2003, -1, 0},
               {{2003, 26, 15, 0, 0, 0.0}, 2003, -1, 0},
               {{2003, 0, 15, 0, 0, 0.0}, 2003, -1, 0},
               {{2003, -11, 15, 0, 0, 0.0}, 3, -1, 0},
               {{2003, -12, 15, 0, 0, 0.0}, 2003, -1, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.date.year << "-" << c.date.month << "-" << c.date.day
                                    << " year argument " << c.yearArgument);
    const int64_t gps_s = LibcGpsSeconds(c.date);
    const int64_t fullWeek = gps_s / kWeekSeconds;
    const double fraction = c.date.second - std::trunc(c.date.second);
    const double sow = static_cast<double>(gps_s % kWeekSeconds) + fraction;
    int32_t week = -99;
    double gotSow = -99.0;
    CalendarToGps(c.date.hour, c.date.minute, c.date.second, c.date.month, c.date.day,
                  c.yearArgument, &week, &gotSow);
    EXPECT_EQ(fullWeek >= 1024 ? fullWeek - 1024 : fullWeek, week);
    EXPECT_DOUBLE_EQ(sow, gotSow);
    if (c.knownWeek >= 0) {
      EXPECT_EQ(week, c.knownWeek);
      EXPECT_EQ(gotSow, c.knownSow);
    }
    const double full = static_cast<double>(gps_s) + fraction;
    EXPECT_EQ(fullWeek, WeekOfFullSeconds(full));
    EXPECT_EQ(sow, SecondsOfWeek(full));
    if (fullWeek < 500) continue;  // weeks below 500 stand for week + 1024
    const int64_t since1970_s = LibcSeconds(c.date);
    int32_t mjd = -1;
    double dayFraction = -1.0;
    GpsToMjd(TenBitWeek(fullWeek), sow, &mjd, &dayFraction);
    EXPECT_EQ(since1970_s / 86400 + kMjdOf1970, mjd);
    EXPECT_NEAR((static_cast<double>(since1970_s % 86400) + fraction) / 86400.0, dayFraction,
                1e-12);
  }
}

// Values from corrupt files: no number, an infinite one, or one far beyond any time.
TEST(GpsTime, UnusableInputsGiveZeroOrNotANumber) {
  for (double bad : {std::nan(""), double{INFINITY}, -double{INFINITY}, 1e300, 3e9}) {
    SCOPED_TRACE(bad);
    int32_t week = -99, mjd = -1;
    double sow = -99.0, fraction = -1.0;
    CalendarToGps(0, 0, bad, 6, 10, 2004, &week, &sow);
    EXPECT_FIELDS(FIELD_IS(week, 0), FIELD_IS(sow, 0.0));
    if (bad == 3e9) continue;  // a finite full time, only too large for a seconds field
    GpsToMjd(250, bad, &mjd, &fraction);
    EXPECT_FIELDS(FIELD_IS(mjd, 0), FIELD_IS(fraction, 0.0), FIELD_IS(WeekOfFullSeconds(bad), 0));
    EXPECT_EQ(!std::isfinite(bad), std::isnan(GpsFullSeconds(bad, 250, 1000.0)));
    EXPECT_EQ(!std::isfinite(bad), std::isnan(GpsFullSeconds(1000.0, 250, bad)));
    EXPECT_EQ(std::isfinite(bad), std::isfinite(SecondsOfWeek(bad)));
    EXPECT_EQ(-1, GpsUtcOffset(bad, 250, 1000.0));
  }
  int32_t mjd = -1;
  double fraction = -1.0;
  GpsToMjd(INT_MAX, 0.0, &mjd, &fraction);  // 7 * INT_MAX days do not fit 32 bits
  EXPECT_EQ(0, mjd);
  // INT_MAX + 1 weeks must not overflow a 32-bit week.
  EXPECT_EQ(3600.0 + 604800.0 * 2147483648.0, GpsFullSeconds(3600.0, INT_MAX, 0.0));
  // Hours and days add linearly; INT_MAX fields must neither overflow nor wrap.
  const BrokenDownTime base = {0, 0, 0, 1, 0, 104, 0, 0, 0};
  BrokenDownTime hours = base, days = base;
  hours.hour = INT_MAX;
  days.mday = INT_MAX;
  EXPECT_EQ(SecondsSince1970(base) + int64_t{INT_MAX} * 3600, SecondsSince1970(hours));
  EXPECT_EQ(SecondsSince1970(base) + (int64_t{INT_MAX} - 1) * 86400, SecondsSince1970(days));
  BrokenDownTime years = {INT_MAX, INT_MAX, INT_MAX, INT_MAX, INT_MAX, INT_MAX, 0, 0, 0};
  EXPECT_GT(SecondsSince1970(years), int64_t{INT_MAX} * 365 * 86400);
}

TEST(GpsTime, FullSecondsFollowTheHalfWeekRule) {
  const struct {
    double t, reference;
    int32_t week;
    int64_t fullWeek;
  } cases[] = {{604000.0, 1000.0, 1274, 1273},  // t far after r: t is in the week before
               {500.0, 604000.0, 1274, 1275},   // t far before r: the week after
               {300500.0, 500.0, 1274, 1273},   // a difference of exactly 300000 already moves
               {500.0, 300500.0, 1274, 1275},
               {300499.5, 500.0, 1274, 1274},    // 299999.5 s does not
               {3600.0, 0.0, 1274, 1275},        // a reference of exactly 0 is the next week
               {500000.0, 0.0, 1274, 1274},      //   ... and 500000 s after it, the week before
               {345600.0, 345600.0, 499, 1523},  // ten-bit weeks below 500 stand for week + 1024
               {345600.0, 345600.0, 500, 500}};
  for (const auto& c : cases) {
    EXPECT_EQ(c.t + static_cast<double>(c.fullWeek * kWeekSeconds),
              GpsFullSeconds(c.t, c.week, c.reference))
        << "t " << c.t << " r " << c.reference << " week " << c.week;
  }
}

// Every month of a common and a leap year starts where the C library says: a moved entry
// of the month-length table shifts the months after it.
TEST(GpsTime, EveryMonthStartsOnItsCalendarDay) {
  for (const int year : {2003, 2004}) {
    for (int month = 1; month <= 12; ++month) {
      SCOPED_TRACE(testing::Message() << year << "-" << month);
      BrokenDownTime date = {};
      date.mday = 1;
      date.mon = month - 1;
      date.year = year - 1900;
      EXPECT_EQ(LibcSeconds({year, month, 1, 0, 0, 0.0}), SecondsSince1970(date));
    }
  }
}

// GPS-UTC as published (IERS Bulletin C), one row per step: the new value from the step's
// first second. The module's table answers from 1991-01-01 up to 2005-01-01 and gives -1
// outside that span (before it, after it, and where it lists no step).
TEST(GpsTime, GpsUtcOffsetFollowsThePublishedStepsWithinItsSpan) {
  const struct {
    int year, month;
    int32_t offset_s;
  } kSteps[] = {{1981, 7, 1},  {1982, 7, 2},  {1983, 7, 3},  {1985, 7, 4},  {1988, 1, 5},
                {1990, 1, 6},  {1991, 1, 7},  {1992, 7, 8},  {1993, 7, 9},  {1994, 7, 10},
                {1996, 1, 11}, {1997, 7, 12}, {1999, 1, 13}, {2006, 1, 14}, {2009, 1, 15},
                {2012, 7, 16}, {2015, 7, 17}, {2017, 1, 18}};
  const int64_t spanFrom_s = LibcGpsSeconds({1991, 1, 1, 0, 0, 0.0});
  const int64_t spanTo_s = LibcGpsSeconds({2005, 1, 1, 0, 0, 0.0});
  int32_t before_s = 0;  // GPS-UTC before the first step
  for (const auto& step : kSteps) {
    const int64_t at_s = LibcGpsSeconds({step.year, step.month, 1, 0, 0, 0.0});
    // A ten-bit week below 500 stands for week + 1024: no time before 1989-08-13 is named.
    if (at_s / kWeekSeconds < 500) {
      before_s = step.offset_s;
      continue;
    }
    for (const int64_t gps_s : {at_s - 1, at_s}) {
      const int32_t published = gps_s < at_s ? before_s : step.offset_s;
      const int32_t expected = gps_s >= spanFrom_s && gps_s < spanTo_s ? published : -1;
      const double sow = static_cast<double>(gps_s % kWeekSeconds);
      EXPECT_EQ(expected, GpsUtcOffset(sow, TenBitWeek(gps_s / kWeekSeconds), sow))
          << step.year << "-" << step.month << (gps_s < at_s ? ", the second before" : "");
    }
    before_s = step.offset_s;
  }
  // The end of the span: its last second, and the one after it.
  for (const int64_t gps_s : {spanTo_s - 1, spanTo_s}) {
    const double sow = static_cast<double>(gps_s % kWeekSeconds);
    EXPECT_EQ(gps_s < spanTo_s ? 13 : -1, GpsUtcOffset(sow, TenBitWeek(gps_s / kWeekSeconds), sow))
        << gps_s;
  }
}

}  // namespace
}  // namespace talverin
