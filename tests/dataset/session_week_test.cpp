// The one rule for a session's full GPS week, checked against calendar facts: GPS week 1274
// began on Sunday 2004-06-06, week 250 on 1984-10-21, week 830 on 1995-12-03, week 1854 on
// 2015-07-19, week 2048 on 2019-04-07 (the second ten-bit rollover), week 2088 on 2020-01-12, week
// 2400 on 2026-01-04.
#include "dataset/session_week.h"

#include <gtest/gtest.h>

#include <fstream>

#include "dataset/ephemeris_file_writer.h"
#include "dataset/gps_calendar.h"
#include "tests/support/test_support.h"

namespace talverin {
namespace {

using testing_support::TempDir;

// Evidence in, week out; notAfterWeek 2400 (2026-01-04) unless a row says otherwise.
TEST(SessionWeek, EvidenceGivesOneWeekAndNotesOnlyADoubt) {
  const struct {
    const char* what;
    int32_t overrideWeek, year, day, stored, notAfter;
    int32_t week;
    WeekSource source;
    const char* note;  // a part of the note or the refusal; "" for none
  } cases[] = {
      {"name and ephemerides agree", -1, 2004, 162, 250, 2400, 1274, WeekSource::kAgreed, ""},
      {"neighbouring week", -1, 2004, 162, 251, 2400, 1274, WeekSource::kAgreed, ""},
      {"name alone", -1, 2004, 162, -1, 2400, 1274, WeekSource::kFileName, ""},
      {"past the rollover", -1, 2020, 15, 40, 2400, 2088, WeekSource::kAgreed, ""},
      {"disagree", -1, 2004, 162, 300, 2400, 1274, WeekSource::kFileName, "does not fit"},
      {"ephemerides alone", -1, -1, -1, 830, 2400, 1854, WeekSource::kEphemeris,
       "week 830 (1995-12-03) has the same ten bits"},
      {"a full week as stored", -1, -1, -1, 1854, 2400, 1854, WeekSource::kEphemeris, ""},
      {"a full week in the future", -1, -1, -1, 1854, 1800, 830, WeekSource::kEphemeris, ""},
      {"the year of the name", -1, 2015, -1, 830, 2400, 1854, WeekSource::kAgreed, ""},
      {"the year picks the older", -1, 2004, -1, 250, 2400, 1274, WeekSource::kAgreed, ""},
      {"not after 2004-12", -1, -1, -1, 250, 1300, 1274, WeekSource::kEphemeris,
       "week 250 (1984-10-21)"},
      {"one candidate", -1, -1, -1, 830, 1000, 830, WeekSource::kEphemeris, ""},
      {"a name in the future", -1, 2045, 1, -1, 2400, -1, WeekSource::kUnknown, "in the future"},
      {"future name, ephemerides", -1, 2045, 1, 830, 1900, 1854, WeekSource::kEphemeris,
       "in the future"},
      {"nothing", -1, -1, -1, -1, 2400, -1, WeekSource::kUnknown, "give --gps-week"},
      {"override a week off", 1275, 2004, 162, 250, 2400, 1275, WeekSource::kOverride, ""},
      {"override off the name", 250, 2004, 162, 250, 2400, -1, WeekSource::kOverride,
       "--gps-week 250 (1984-10-25) contradicts GPS week 1274 (2004-06-10)"},
      {"override of the other ten-bit week", 830, -1, -1, 830, 2400, 830, WeekSource::kOverride,
       ""},
      {"override off the ephemerides", 1300, -1, -1, 830, 2400, -1, WeekSource::kOverride,
       "contradicts GPS week 1854"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WeekEvidence e;
    e.overrideWeek = c.overrideWeek;
    e.nameYear = c.year;
    e.nameDayOfYear = c.day;
    e.storedWeek = c.stored;
    e.medianToe_s = 7200.0;
    e.notAfterWeek = c.notAfter;
    e.ephemerisPath = "E";
    const SessionWeek s = ResolveWeek(e);
    EXPECT_EQ(c.week, s.week);
    EXPECT_EQ(WeekSourceName(c.source), std::string(WeekSourceName(s.source)));
    EXPECT_EQ(c.note[0] == '\0', (s.note + s.refusal).empty()) << s.note;
    EXPECT_NE(std::string::npos, (s.note + s.refusal).find(c.note)) << s.note << s.refusal;
  }
}

// Names: letter, 4 site and 1-2 session characters, yy.ddd; 2004 has 366 days, 2005 365.
TEST(SessionWeek, DateOfTheFileName) {
  const struct {
    const char* name;
    int32_t year, day;  // -1: no date
  } cases[] = {
      {"/data/BBAHRA04.162", 2004, 162}, {"BSITEAB19.097", 2019, 97}, {"B0001A99.001", 1999, 1},
      {"B0001A04.366", 2004, 366},       {"B0001A05.366", -1, -1},    {"B0001A04.000", -1, -1},
      {"B0001A04.16x", -1, -1},          {"B1.162", -1, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    int32_t year = -1, day = -1;
    EXPECT_EQ(c.year >= 0, SessionDateFromName(c.name, &year, &day));
    if (c.year < 0) continue;
    EXPECT_EQ(c.year, year);
    EXPECT_EQ(c.day, day);
  }
}

// From the files: an E file's stored weeks and median toe, and a GPB file of 2015 alone in
// a folder with its .epp, named after its set (yy 15).
TEST(SessionWeek, FilesGiveTheEvidence) {
  TempDir dir;
  EphemerisFileWriter writer;
  for (int32_t i = 0; i < 3; ++i) {
    GpsEph eph{};
    eph.prn = i + 1;
    eph.week = static_cast<int16_t>(i < 2 ? 250 : 251);
    eph.toe = 352800 + i * 7200;
    writer.AddGps(eph);
  }
  ASSERT_TRUE(writer.WriteTo(dir.File("E2004")));
  const SessionWeek named = ResolveSessionWeek("BBAHRA04.162", dir.File("E2004"), -1);
  EXPECT_EQ(1274, named.week);
  EXPECT_EQ(WeekSource::kAgreed, named.source);
  EXPECT_EQ(4 * 86400.0, named.referenceTow_s);
  // Without a name, the latest week with these ten bits up to today, and the median toe.
  const SessionWeek unnamed = ResolveSessionWeek("bahr.b", dir.File("E2004"), -1);
  EXPECT_EQ(250, unnamed.week % 1024);
  EXPECT_LE(unnamed.week, CurrentGpsWeek());
  EXPECT_GT(unnamed.week + 1024, CurrentGpsWeek());
  EXPECT_EQ(352800 + 7200.0, unnamed.referenceTow_s);

  std::ofstream(dir.File("BSITEA15.epp"))
      << "$EPHREC Ver7.0 TALVERIN Ashtech\nGpsEph { Prn: 5\n"
      << "\tEl1: 830 345600 0 1 345600\n\tEl5: 345600 0 0 0\n}\n";
  const SessionWeek gpb =
      ResolveGpbWeek(dir.File("BSITEA15.gpb"), dir.File("BSITEA15.epp"), 2400, -1);
  EXPECT_EQ(1854, gpb.week);
  EXPECT_EQ("2015-07-23", FormatGpsDate(gpb.week, gpb.referenceTow_s));
  EXPECT_EQ("", gpb.note);
}

}  // namespace
}  // namespace talverin
