// GPS time conversions checked against the C library's own calendar arithmetic (timegm,
// 64-bit time_t), against calendar facts (the 1999-08-22 week rollover, week 1400 day 1 is
// 2006-11-06, 2004-06-10 is MJD 53166) and against hand arithmetic written in each case.
#include "time/gps_time.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <ctime>
#include <random>

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
  std::tm tm = {static_cast<int>(d.second), d.minute, d.hour, d.day, d.month - 1, d.year - 1900,
                0, 0, 0, 0, nullptr};
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
  } cases[] = {{{1970, 1, 1, 0, 0, 0.0}, 1970, -1, 0},  {{1972, 2, 29, 12, 0, 0.0}, 72, -1, 0},
               {{1972, 3, 1, 0, 0, 0.0}, 1972, -1, 0},   {{1980, 1, 6, 0, 0, 0.0}, 1980, 0, 0.0},
               {{1989, 8, 6, 0, 0, 0.0}, 89, -1, 0},
               {{1999, 8, 21, 23, 59, 59.5}, 1999, 1023, 604799.5},
               {{1999, 8, 22, 0, 0, 0.0}, 99, 0, 0.0},   {{2000, 2, 29, 1, 2, 3.0}, 100, -1, 0},
               {{2000, 12, 31, 23, 59, 59.0}, 0, -1, 0},
               {{2004, 6, 10, 0, 0, 0.0}, 2004, 1274 - 1024, 4 * 86400.0},
               {{2004, 6, 10, 0, 59, 30.25}, 104, -1, 0}, {{2005, 3, 1, 12, 0, 0.0}, 5, -1, 0},
               {{2006, 11, 6, 0, 0, 0.0}, 2006, 1400 - 1024, 86400.0},
               {{2008, 12, 31, 23, 59, 59.0}, 2008, -1, 0}, {{2038, 1, 19, 3, 14, 8.0}, 38, -1, 0},
               {{2069, 12, 31, 23, 59, 59.0}, 69, -1, 0}, {{2070, 1, 1, 0, 0, 0.0}, 2070, -1, 0},
               {{2100, 2, 28, 23, 59, 59.0}, 2100, -1, 0}, {{2003, 13, 15, 0, 0, 0.0}, 2003, -1, 0},
               {{2003, 26, 15, 0, 0, 0.0}, 2003, -1, 0}, {{2003, 0, 15, 0, 0, 0.0}, 2003, -1, 0},
               {{2003, -11, 15, 0, 0, 0.0}, 3, -1, 0},   {{2003, -12, 15, 0, 0, 0.0}, 2003, -1, 0}};
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
    EXPECT_TRUE(c.knownWeek < 0 || (week == c.knownWeek && gotSow == c.knownSow));
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
  int32_t mjd = -1;
  double fraction = -1.0;
  GpsToMjd(1274 - 1024, 345600.0, &mjd, &fraction);
  EXPECT_TRUE(mjd == 53166 && fraction == 0.0);  // 2004-06-10 is MJD 53166 (JD 2453166.5)
  EXPECT_TRUE(WeekOfFullSeconds(3000.0 * kWeekSeconds) == 3000 &&
              SecondsOfWeek(3000.0 * kWeekSeconds) == 0.0);
  EXPECT_TRUE(WeekOfFullSeconds(2048.0 * kWeekSeconds - 1.0) == 2047 &&
              SecondsOfWeek(2048.0 * kWeekSeconds - 1.0) == 604799.0);
}

// Values from corrupt files: no number, an infinite one, or one far beyond any time.
TEST(GpsTime, UnusableInputsGiveZeroOrNotANumber) {
  for (double bad : {std::nan(""), double{INFINITY}, -double{INFINITY}, 1e300, 3e9}) {
    SCOPED_TRACE(bad);
    int32_t week = -99, mjd = -1;
    double sow = -99.0, fraction = -1.0;
    CalendarToGps(0, 0, bad, 6, 10, 2004, &week, &sow);
    EXPECT_TRUE(week == 0 && sow == 0.0);
    if (bad == 3e9) continue;  // a finite full time, only too large for a seconds field
    GpsToMjd(250, bad, &mjd, &fraction);
    EXPECT_TRUE(mjd == 0 && fraction == 0.0);
    EXPECT_EQ(0, WeekOfFullSeconds(bad));
  }
  int32_t mjd = -1;
  double fraction = -1.0;
  GpsToMjd(INT_MAX, 0.0, &mjd, &fraction);  // 7 * INT_MAX days do not fit 32 bits
  EXPECT_EQ(0, mjd);
  // INT_MAX + 1 weeks must not overflow a 32-bit week.
  EXPECT_EQ(3600.0 + 604800.0 * 2147483648.0, GpsFullSeconds(3600.0, INT_MAX, 0.0));
  EXPECT_TRUE(std::isnan(GpsFullSeconds(std::nan(""), 250, 1000.0)));
  EXPECT_TRUE(std::isnan(GpsFullSeconds(1000.0, 250, std::nan(""))));
  EXPECT_TRUE(std::isnan(GpsFullSeconds(INFINITY, 250, 1000.0)));
  EXPECT_TRUE(std::isnan(SecondsOfWeek(std::nan(""))));
  EXPECT_EQ(-1, GpsUtcOffset(std::nan(""), 250, 1000.0));
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
  } cases[] = {{604000.0, 1000.0, 1274, 1273},   // t far after r: t is in the week before
               {500.0, 604000.0, 1274, 1275},    // t far before r: the week after
               {300500.0, 500.0, 1274, 1273},    // a difference of exactly 300000 already moves
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

TEST(GpsTime, GpsUtcOffsetFollowsItsTableRowOrderIncluded) {
  const struct {
    Date date;
    int32_t offset;
  } cases[] = {{{1990, 12, 31, 23, 59, 59.0}, -1},  // before the first listed offset
               {{1991, 1, 1, 0, 0, 0.0}, 7},        {{1992, 6, 30, 23, 59, 59.0}, 7},
               {{1992, 7, 1, 0, 0, 0.0}, 8},        {{1998, 6, 30, 0, 0, 0.0}, 12},
               {{1999, 1, 1, 0, 0, 0.0}, 13},       {{2004, 12, 31, 23, 59, 59.0}, 13},
               // Row 11 (2001-07-01) stands after row 10 (2005-01-01): from 2005 on only the
               // interval of row 11 matches, and it lists no offset.
               {{2005, 1, 1, 0, 0, 0.0}, -1},       {{2012, 1, 1, 0, 0, 0.0}, -1}};
  for (const auto& c : cases) {
    const int64_t gps_s = LibcGpsSeconds(c.date);
    const double sow = static_cast<double>(gps_s % kWeekSeconds);
    EXPECT_EQ(c.offset, GpsUtcOffset(sow, TenBitWeek(gps_s / kWeekSeconds), sow))
        << c.date.year << "-" << c.date.month << "-" << c.date.day;
  }
}

// Times from corrupt files: any bit pattern and any week. Under the sanitizer build this
// also shows that no value reaches an undefined conversion or an overflowing addition.
TEST(GpsTime, AnyInputGivesDefinedResults) {
  std::mt19937_64 random(19990822);
  auto anyDouble = [&]() {
    const uint64_t bits = random();
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  };
  auto anyInt = [&]() { return static_cast<int32_t>(random()); };
  for (int trial = 0; trial < 20000; ++trial) {
    // Half the trials use plausible magnitudes, half raw bit patterns.
    const double t = trial % 2 ? anyDouble() : static_cast<double>(anyInt()) / 1000.0;
    const double r = trial % 3 ? anyDouble() : 345600.0;
    const int32_t week = anyInt();
    int32_t calendarWeek = 0, mjd = 0;
    double sow = 0.0, fraction = 0.0;
    CalendarToGps(anyInt(), anyInt(), t, anyInt(), anyInt(), anyInt(), &calendarWeek, &sow);
    EXPECT_LT(std::fabs(sow), 604801.0) << t;
    const double full = GpsFullSeconds(t, week, r);
    EXPECT_EQ(std::isfinite(t) && std::isfinite(r), std::isfinite(full)) << t << " " << r;
    GpsToMjd(week, t, &mjd, &fraction);
    EXPECT_TRUE(mjd == 0 ? fraction == 0.0 : std::fabs(fraction) <= 1.0 + 1e-9) << t;
    const int32_t offset = GpsUtcOffset(t, week, r);
    EXPECT_TRUE(offset == -1 || (offset >= 7 && offset <= 13)) << offset;
    EXPECT_EQ(std::isfinite(full), std::isfinite(SecondsOfWeek(full)));
    BrokenDownTime time = {anyInt(), anyInt(), anyInt(), anyInt(), anyInt(), anyInt(), 0, 0, 0};
    if (time.sec == INT_MAX) continue;
    BrokenDownTime next = time;
    next.sec += 1;
    EXPECT_EQ(SecondsSince1970(time) + 1, SecondsSince1970(next));
  }
}

}  // namespace
}  // namespace talverin
