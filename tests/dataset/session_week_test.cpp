// The week of a download set from its E file and its name, and the GPS calendar of the
// tools' texts and of the RINEX epochs, checked against calendar facts: GPS week 1274 began
// on Sunday 2004-06-06, week 1306 on 2005-01-16, week 2048 on 2019-04-07 (the second ten-bit
// rollover).
#include "dataset/session_week.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <tuple>

#include "dataset/ephemeris_file_writer.h"
#include "rinex/rinex_format.h"
#include "tests/support/test_support.h"

namespace talverin {
namespace {

using testing_support::TempDir;

// The week from the date in the file name (B or E + site + session + yy.ddd), checked
// against the ephemerides' ten-bit weeks, or from the ephemerides alone, or as given (--gps-week).
// (The rollover and a disagreement: the RINEX export's test.)
TEST(SessionWeek, FileNameAndEphemerisWeeksGiveTheWeek) {
  TempDir dir;
  const auto writeE = [&](const std::string& name, std::vector<int16_t> weeks) {
    EphemerisFileWriter writer;
    for (size_t i = 0; i < weeks.size(); ++i) {
      GpsEph eph{};
      eph.prn = static_cast<int32_t>(i + 1);
      eph.week = weeks[i];
      eph.toe = 352800 + static_cast<int32_t>(i) * 7200;
      writer.AddGps(eph);
    }
    EXPECT_TRUE(writer.WriteTo(dir.File(name)));
    return dir.File(name);
  };
  const std::string none = "/nonexistent/E";
  const std::string e2004 = writeE("E2004", {250, 250, 251});  // ten-bit 250: week 1274
  const std::string e2019 = writeE("E2019", {0, 0});           // ten-bit 0 read as 1024
  const struct {
    std::string name, ephemeris;
    int32_t override, week;
    WeekSource source;
    double tow_s;      // the session's place in the week; -1 not checked
    const char* note;  // a part of the note; "" none; null not checked
  } cases[] = {
      {"/data/BBAHRA04.162", none, -1, 1274, WeekSource::kFileName, 4 * 86400.0, nullptr},
      {"BSITEAB19.097", none, -1, 2048, WeekSource::kFileName, 0.0, nullptr},  // two characters
      {"B0001A99.001", none, -1, 990, WeekSource::kFileName, 5 * 86400.0, nullptr},   // a Friday
      {"B0001A04.366", none, -1, 1303, WeekSource::kFileName, 5 * 86400.0, nullptr},  // leap year
      {"B0001A05.366", none, -1, -1, WeekSource::kUnknown, -1, nullptr},  // 2005: 365 days
      {"B0001A04.000", none, -1, -1, WeekSource::kUnknown, -1, nullptr},
      {"B0001A04.16x", none, -1, -1, WeekSource::kUnknown, -1, nullptr},
      {"B1.162", none, -1, -1, WeekSource::kUnknown, -1, nullptr},
      {"BBAHRA04.162", e2004, -1, 1274, WeekSource::kAgreed, -1, ""},
      // Without a date in the name the ephemerides' median toe places the session.
      {"bahr.b", e2004, -1, 1274, WeekSource::kEphemeris, 352800 + 7200.0,
       "no date in the file name"},
      {"bahr.b", e2019, -1, 1024, WeekSource::kEphemeris, -1, "not checked against"},
      {"bahr.b", dir.path(), -1, -1, WeekSource::kUnknown, -1, "give --gps-week"},  // a directory
      {"BBAHRA04.162", e2004, 2088, 2088, WeekSource::kOverride, -1, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name + " " + c.ephemeris);
    const SessionWeek s = ResolveSessionWeek(c.name, c.ephemeris, c.override);
    EXPECT_EQ(std::make_tuple(c.week, c.source), std::make_tuple(s.week, s.source));
    if (c.tow_s >= 0.0) {
      EXPECT_EQ(c.tow_s, s.referenceTow_s);
    }
    if (c.note == nullptr) continue;
    EXPECT_EQ(c.note[0] == '\0', s.note.empty()) << s.note;
    EXPECT_NE(std::string::npos, s.note.find(c.note)) << s.note;
  }
}

// The tools' texts (FormatGpsTime) and the RINEX epochs' calendar (GpsCalendar) alike.
TEST(SessionWeek, CalendarTextsAndWeeksAcrossTheWeekEnd) {
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
    EXPECT_EQ(std::make_tuple(y, mo, d, h, mi, c.dayOfYear),
              std::make_tuple(t.year, t.month, t.day, t.hour, t.minute, t.dayOfYear));
    EXPECT_DOUBLE_EQ(second, t.second);
  }
  // UTC: GPS-UTC 18 s from 2017-01-01 00:00 UTC (13 s in 2004: the KML/GPX times in cli_test).
  EXPECT_EQ("2016-12-31T23:59:59.000Z", FormatUtcIso(1930, 16.0));
  EXPECT_EQ("2017-01-01T00:00:00.000Z", FormatUtcIso(1930, 18.0));
  EXPECT_EQ("", FormatUtcIso(1274, std::nan("")));
}

}  // namespace
}  // namespace talverin
