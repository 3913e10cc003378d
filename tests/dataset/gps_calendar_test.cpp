// The tools' calendar against calendar facts and the published leap seconds: GPS time began
// 1980-01-06 00:00:00 (day 3657 after 1970-01-01); GPS-UTC steps from IERS Bulletin C.
#include "dataset/gps_calendar.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

namespace talverin {
namespace {

TEST(GpsCalendar, DatesDaysAndYears) {
  EXPECT_EQ(3657, DaysFromCivil(1980, 1, 6));
  EXPECT_EQ(0, DaysFromCivil(1970, 1, 1));
  EXPECT_EQ(-1, DaysFromCivil(1969, 12, 31));
  EXPECT_EQ(11016, DaysFromCivil(2000, 2, 29));
  EXPECT_EQ(162, DayOfYear(2004, 6, 10));
  EXPECT_EQ(366, DayOfYear(2000, 12, 31));
  EXPECT_EQ(365, DayOfYear(2100, 12, 31));  // 2100 is no leap year
  EXPECT_EQ(29, DaysInMonth(2000, 2));
  EXPECT_EQ(28, DaysInMonth(1900, 2));
  EXPECT_EQ(0, DaysInMonth(2000, 13));
  EXPECT_EQ(1980, FullYearOfTwoDigits(80));
  EXPECT_EQ(2079, FullYearOfTwoDigits(79));
  int32_t week = -1;
  double tow_s = -1.0;
  EXPECT_TRUE(CalendarToGps({2004, 6, 10, 0, 0, 30.0, 0}, &week, &tow_s));
  EXPECT_EQ(1274, week);
  EXPECT_EQ(4 * 86400.0 + 30.0, tow_s);
  EXPECT_FALSE(CalendarToGps({1980, 1, 5, 0, 0, 0.0, 0}, &week, &tow_s));  // before the epoch
  EXPECT_FALSE(CalendarToGps({2005, 2, 29, 0, 0, 0.0, 0}, &week, &tow_s));
  EXPECT_FALSE(CalendarToGps({2005, 2, 28, 24, 0, 0.0, 0}, &week, &tow_s));
}

// FormatGpsTime and GpsCalendar alike, across week ends, rollovers and a leap day.
TEST(GpsCalendar, TextsAndFieldsAcrossTheWeekEnd) {
  const struct {
    int32_t week;
    double tow_s;
    const char* text;
    int32_t dayOfYear;  // 0: a row of the texts' rounding to the millisecond only
  } cases[] = {
      {0, 0.0, "1980-01-06 00:00:00.000", 6},            // the GPS epoch
      {1023, 604799.5, "1999-08-21 23:59:59.500", 233},  // end of the first week cycle
      {2048, 0.0, "2019-04-07 00:00:00.000", 97},        // second rollover
      {2094, 518400.0, "2020-02-29 00:00:00.000", 60},   // leap day
      // Rounding to the millisecond carries into the next week's first day.
      {2048, 604799.9996, "2019-04-14 00:00:00.000", 0},
      {2048, 604799.9994, "2019-04-13 23:59:59.999", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(c.text, FormatGpsTime(c.week, c.tow_s));
    if (c.dayOfYear == 0) continue;
    int y = 0, mo = 0, d = 0, h = 0, mi = 0;
    double second = -1.0;
    ASSERT_EQ(6, std::sscanf(c.text, "%d-%d-%d %d:%d:%lf", &y, &mo, &d, &h, &mi, &second));
    const CalendarTime t = GpsCalendar({c.week, c.tow_s});
    EXPECT_EQ(y, t.year);
    EXPECT_EQ(mo, t.month);
    EXPECT_EQ(d, t.day);
    EXPECT_EQ(h, t.hour);
    EXPECT_EQ(mi, t.minute);
    EXPECT_EQ(c.dayOfYear, t.dayOfYear);
    EXPECT_DOUBLE_EQ(second, t.second);
  }
  EXPECT_EQ("-", FormatGpsTime(-1, 0.0));
  EXPECT_EQ("2004-06-10", FormatGpsDate(1274, 4 * 86400.0));
}

// Every leap second announced: GPS-UTC takes each value at 00:00:00 UTC of the date given,
// that is at GPS time (that midnight + the new value); one second earlier the old value holds.
TEST(GpsCalendar, EveryLeapSecondAtItsPublishedDate) {
  const struct {
    int32_t year, month, gpsMinusUtc_s;
  } steps[] = {{1981, 7, 1},  {1982, 7, 2},  {1983, 7, 3},  {1985, 7, 4},  {1988, 1, 5},
               {1990, 1, 6},  {1991, 1, 7},  {1992, 7, 8},  {1993, 7, 9},  {1994, 7, 10},
               {1996, 1, 11}, {1997, 7, 12}, {1999, 1, 13}, {2006, 1, 14}, {2009, 1, 15},
               {2012, 7, 16}, {2015, 7, 17}, {2017, 1, 18}};
  int32_t before_s = 0;
  for (const auto& s : steps) {
    SCOPED_TRACE(std::to_string(s.year) + "-" + std::to_string(s.month));
    const double gps_s = (DaysFromCivil(s.year, s.month, 1) - 3657) * 86400.0 + s.gpsMinusUtc_s;
    const int32_t week = static_cast<int32_t>(gps_s / 604800.0);
    EXPECT_EQ(before_s, GpsMinusUtc_s(week, gps_s - week * 604800.0 - 1.0));
    EXPECT_EQ(s.gpsMinusUtc_s, GpsMinusUtc_s(week, gps_s - week * 604800.0));
    before_s = s.gpsMinusUtc_s;
  }
  EXPECT_EQ(0, GpsMinusUtc_s(0, 0.0));
  EXPECT_EQ(17, GpsMinusUtc_s(1854, 345600.0));  // 2015-07-23, the day after the 17th
  EXPECT_EQ(18, LastAnnouncedGpsMinusUtc_s());
  // Not known: before the GPS epoch, from the end of the announcements on, no week.
  EXPECT_EQ(-1, GpsMinusUtc_s(0, -1.0));
  EXPECT_EQ(-1, GpsMinusUtc_s(-1, 0.0));
  EXPECT_EQ(-1, GpsMinusUtc_s(2399, std::nan("")));
  // 2026-01-01 00:00:00 UTC is Thursday 00:00:18 GPS of week 2399.
  EXPECT_EQ("2026-01-01", std::string(kLeapSecondsKnownUntil));
  EXPECT_EQ(18, GpsMinusUtc_s(2399, 4 * 86400.0 + 17.0));
  EXPECT_EQ(-1, GpsMinusUtc_s(2399, 4 * 86400.0 + 18.0));
}

// UTC texts for KML and GPX; past the announcements the last value is applied and flagged.
TEST(GpsCalendar, UtcTexts) {
  bool assumed = true;
  EXPECT_EQ("2016-12-31T23:59:59.000Z", FormatUtcIso(1930, 16.0, &assumed));
  EXPECT_FALSE(assumed);
  EXPECT_EQ("2017-01-01T00:00:00.000Z", FormatUtcIso(1930, 18.0));
  EXPECT_EQ("2004-06-10T00:00:17.000Z", FormatUtcIso(1274, 4 * 86400.0 + 30.0));
  EXPECT_EQ("2026-01-03T23:59:42.000Z", FormatUtcIso(2400, 0.0, &assumed));
  EXPECT_TRUE(assumed);
  EXPECT_EQ("", FormatUtcIso(1274, std::nan("")));
  EXPECT_EQ("", FormatUtcIso(-1, 0.0));
}

}  // namespace
}  // namespace talverin
