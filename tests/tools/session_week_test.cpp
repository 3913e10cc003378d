// The week of a download set from its E file and its name, and GPS calendar texts, checked
// against calendar facts: GPS week 1274 began on Sunday 2004-06-06, week 1306 on
// 2005-01-16, week 2048 on 2019-04-07 (the second ten-bit rollover).
#include "tools/download_set/session_week.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tests/support/test_support.h"
#include "tools/download_set/ephemeris_file_writer.h"

namespace talverin {
namespace {

using testing_support::TempDir;

TEST(SessionWeek, DateInTheFileNameGivesTheWeek) {
  const struct {
    const char* name;
    int32_t year, doy, week;  // year -1: not a download-set name
    double tow_s;
  } cases[] = {
      {"/data/BBAHRA04.162", 2004, 162, 1274, 4 * 86400.0},  // Thursday 2004-06-10
      {"EUSNOA05.020", 2005, 20, 1306, 4 * 86400.0},         // Thursday 2005-01-20
      {"BSITEAB19.097", 2019, 97, 2048, 0.0},                // two session characters
      {"B0001A99.001", 1999, 1, 990, 5 * 86400.0},           // 1999-01-01, a Friday
      {"B0001A04.366", 2004, 366, 1303, 5 * 86400.0},        // leap year's last day
      {"B0001A05.366", -1, 0, 0, 0.0},                       // 2005 has 365 days
      {"B0001A04.000", -1, 0, 0, 0.0},
      {"B0001A04.16x", -1, 0, 0, 0.0},
      {"BBAHRA04.gpb", -1, 0, 0, 0.0},
      {"B1.162", -1, 0, 0, 0.0},
  };
  for (const auto& c : cases) {
    int32_t year = -1;
    int32_t doy = 0;
    EXPECT_EQ(c.year >= 0, SessionDateFromName(c.name, &year, &doy)) << c.name;
    if (c.year < 0) continue;
    EXPECT_EQ(c.year, year) << c.name;
    EXPECT_EQ(c.doy, doy) << c.name;
    const SessionWeek s = ResolveSessionWeek(c.name, "/nonexistent/E", -1);
    EXPECT_EQ(c.week, s.week) << c.name;
    EXPECT_EQ(c.tow_s, s.referenceTow_s) << c.name;
    EXPECT_EQ(WeekSource::kFileName, s.source) << c.name;
  }
}

TEST(SessionWeek, EphemerisWeeksAreCheckedAgainstTheName) {
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
  const std::string e2004 = writeE("E2004", {250, 250, 251});  // ten-bit 250: week 1274
  const std::string e2019 = writeE("E2019", {0, 0});           // ten-bit 0 read as 1024
  const std::string eFar = writeE("EFAR", {260, 260});
  const struct {
    std::string name, ephemeris;
    int32_t override, week;
    WeekSource source;
    const char* note;  // a part of the note; "" for none
  } cases[] = {
      {"BBAHRA04.162", e2004, -1, 1274, WeekSource::kAgreed, ""},
      {"BBAHRA04.160", e2004, -1, 1274, WeekSource::kAgreed, ""},  // Tuesday, same week
      {"BSITEA19.097", e2019, -1, 2048, WeekSource::kFileName, "rollover 2019-04-07"},
      {"BBAHRA04.162", eFar, -1, 1274, WeekSource::kFileName, "gives week 1274: week 1274"},
      {"bahr.b", e2004, -1, 1274, WeekSource::kEphemeris, "no date in the file name"},
      {"bahr.b", e2019, -1, 1024, WeekSource::kEphemeris, "not checked against"},
      {"bahr.b", dir.path(), -1, -1, WeekSource::kUnknown, "give --gps-week"},  // a directory
      {"BSITEA19.097", e2019, 2050, 2050, WeekSource::kOverride, ""},
  };
  for (const auto& c : cases) {
    const SessionWeek s = ResolveSessionWeek(c.name, c.ephemeris, c.override);
    EXPECT_EQ(c.week, s.week) << c.name << " " << c.ephemeris;
    EXPECT_EQ(c.source, s.source) << c.name << " " << c.ephemeris;
    if (c.note[0] == '\0') {
      EXPECT_EQ("", s.note);
    } else {
      EXPECT_NE(std::string::npos, s.note.find(c.note)) << s.note;
    }
  }
  // Without a name, the ephemerides' median toe places the session (2004-06-10 02:00).
  EXPECT_EQ(352800 + 7200.0, ResolveSessionWeek("x", e2004, -1).referenceTow_s);
}

TEST(SessionWeek, CalendarTextsAndWeeksAcrossTheWeekEnd) {
  EXPECT_EQ("2004-06-10 00:00:30.000", FormatGpsTime(1274, 4 * 86400.0 + 30.0));
  EXPECT_EQ("1980-01-06 00:00:00.000", FormatGpsTime(0, 0.0));
  // Rounding to the millisecond carries into the next week's first day.
  EXPECT_EQ("2019-04-14 00:00:00.000", FormatGpsTime(2048, 604799.9996));
  EXPECT_EQ("2019-04-13 23:59:59.999", FormatGpsTime(2048, 604799.9994));
  // UTC: GPS-UTC was 13 s from 1999 to 2005, 18 s from 2017-01-01 00:00 UTC.
  EXPECT_EQ("2004-06-10T00:00:17.000Z", FormatUtcIso(1274, 345630.0));
  EXPECT_EQ("2016-12-31T23:59:59.000Z", FormatUtcIso(1930, 16.0));
  EXPECT_EQ("2017-01-01T00:00:00.000Z", FormatUtcIso(1930, 18.0));
  EXPECT_EQ("-", FormatGpsTime(-1, 10.0));
  EXPECT_EQ("", FormatUtcIso(1274, std::nan("")));

  SessionWeek session;
  session.week = 1274;
  session.referenceTow_s = 6 * 86400.0;  // Saturday
  WeekTracker tracker(session);
  EXPECT_EQ(1274, tracker.WeekOf(604770.0));
  EXPECT_EQ(1275, tracker.WeekOf(30.0));  // Sunday: the next week
  EXPECT_EQ(-1, tracker.WeekOf(1.0e9));   // damaged time: no week, tracker unmoved
  EXPECT_EQ(1275, tracker.WeekOf(3600.0));
  EXPECT_EQ(1274, tracker.WeekOf(604790.0));  // a late message of the Saturday
}

}  // namespace
}  // namespace talverin
