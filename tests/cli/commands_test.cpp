// The commands as library functions, called without starting a process, on the bundled BAHR
// hour (2004-06-10 00:00-00:59:30 GPS, 120 epochs every 30 s; samples/bahr-2004-162/README.txt)
// imported from RINEX and converted by Convert, a copy whose B file is cut at byte 50000,
// and a set whose B file is missing. Exit statuses, batches, signals and the texts on stdout
// and stderr are tested through the program (cli_test.cpp).
#include <gtest/gtest.h>
#include <tinyxml2.h>

#include <GeographicLib/Geocentric.hpp>
#include <cmath>
#include <filesystem>

#include "cli/commands.h"
#include "dataset/byte_builder.h"
#include "tests/rinex/rinex_test_data.h"
#include "tests/support/conversion_fixtures.h"
#include "tests/support/test_support.h"

namespace talverin_cli {
namespace {

using talverin::testing_support::TempDir;

// BAHR antenna reference point, ECEF (m), from samples/bahr-2004-162/README.txt.
constexpr char kBahrAntenna[] = "3633910.5918,4425277.7039,2799862.8556";
constexpr double kBahrAntenna_m[3] = {3633910.5918, 4425277.7039, 2799862.8556};
// 2004-06-10 00:00 GPS is the Thursday of GPS week 1274: second 4 * 86400 of the week.
constexpr double kFirstTow_s = 345600.0;

class Commands : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir();
    ASSERT_EQ(Set(), talverin::rinex_test::ImportBahr(dir_->File("set")));
    std::filesystem::copy(dir_->File("set"), dir_->File("cut"));
    const std::vector<uint8_t> whole = talverin::ReadFileBytes(Set());
    ASSERT_TRUE(talverin::WriteFileBytes(Cut(), {whole.begin(), whole.begin() + 50000}));
    ConvertArgs convert;
    convert.sets.inputs = {Set()};
    convert.sets.outputDir = dir_->File("out");
    convert.plugin = TALVERIN_PLUGIN_PATH;
    ASSERT_EQ(0, Convert(convert).status);
  }
  static void TearDownTestSuite() { delete dir_; }
  static std::string Set() { return dir_->File("set/BBAHRA04.162"); }
  static std::string Cut() { return dir_->File("cut/BBAHRA04.162"); }
  static std::string Gpb() { return dir_->File("out/BBAHRA04_162.gpb"); }
  static TempDir* dir_;
};
TempDir* Commands::dir_ = nullptr;

// Facts of the station's RINEX header and epochs (samples/bahr-2004-162/README.txt: 166
// navigation records; GPS week 1274 began on Sunday 2004-06-06); the cut copy keeps the 62
// whole epochs before byte 50000 (a 90-byte file header, then 67-byte epoch headers, each
// followed by its 97-byte channel records), the last at 00:30:30: the 63rd starts at 49640,
// announces 8 records and has 360 bytes, and is left out. The set scan that info shares with
// rinex, qc and convert is tested here.
TEST_F(Commands, InfoOnRealAndDamagedSets) {
  InfoArgs args;
  args.sets.inputs = {Set(), Cut(), dir_->File("cut/BMISSA04.162")};
  const InfoResult r = Info(args);
  ASSERT_EQ(3u, r.sets.size());
  std::string text;
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(static_cast<int>(i), r.sets[i].status) << i;  // whole, damaged, unreadable
    for (const std::string& line : InfoLines(r.sets[i])) text += line + "\n";
  }
  // The JSON's loss: what the "lost" row says, counted.
  EXPECT_NE(std::string::npos, InfoJsonMembers(r.sets[0]).find("\"loss\": null"));
  EXPECT_NE(std::string::npos,
            InfoJsonMembers(r.sets[1]).find(
                "\"loss\": {\"text\": \"cut short after 62 epochs\", "
                "\"cut_short_after_epochs\": 62, \"skipped_bytes\": 0, \"skipped_places\": 0, "
                "\"missing_ephemeris_file\": null}"))
      << InfoJsonMembers(r.sets[1]);
  for (const std::string& line : std::vector<std::string>{
           "receiver       Z-XII3: dual frequency (type 2), 97-byte channel records\n"
           "  site file      BAHR, antenna height 3.1220 m (vertical)",
           "epochs         120: 2004-06-10 00:00:00.000 to 2004-06-10 00:59:30.000 GPS, every "
           "30.000 s",
           "epochs         62: 2004-06-10 00:00:00.000 to 2004-06-10 00:30:30.000 GPS, every "
           "30.000 s",
           "sites          BAHR (120 epochs)", "sites          BAHR (62 epochs)",
           "GPS week       1274 (ephemeris and file name)", "ephemerides    166 GPS for",
           "satellites     9: G04 G05 G06 G09 G10 G17 G21 G24 G30", "damage         none",
           "damage         B file at byte 49640, 360 bytes skipped: the file ends inside the epoch "
           "at offset 49640 (8 channel records announced, 360 bytes left); epoch left out\n"
           "  damage         the B file ends inside its last epoch\n",
           "unreadable     " + dir_->File("cut/BMISSA04.162") + ": no such file"}) {
    EXPECT_NE(std::string::npos, text.find(line)) << line << "\n" << text;
  }
}

// Rows against the reference: every epoch holds a position within 30 m of the antenna, and the
// antenna computed back from a row's latitude, longitude and height (GeographicLib) lies as far
// away as its east/north/up say. KML and GPX parse as XML, with a point for each epoch and the
// first one's time in UTC (GPS-UTC was 13 s in 2004).
TEST_F(Commands, PositionsStatsAndDumpOfTheConvertedSet) {
  PositionsArgs args;
  args.gpb = Gpb();
  args.reference.ecef = kBahrAntenna;
  const PositionsResult r = Positions(args);
  EXPECT_EQ(0, r.status) << r.error;
  ASSERT_EQ(120u, r.rows.size());
  for (size_t i = 0; i < r.rows.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(1274, r.rows[i].week);
    EXPECT_EQ(kFirstTow_s + 30.0 * static_cast<double>(i), r.rows[i].tow_s);
    EXPECT_TRUE(r.rows[i].valid);
    EXPECT_LT(std::hypot(r.rows[i].enu_m[0], r.rows[i].enu_m[1], r.rows[i].enu_m[2]), 30.0);
  }
  const PositionRow& first = r.rows[0];
  double x, y, z;
  GeographicLib::Geocentric::WGS84().Forward(first.lat_deg, first.lon_deg, first.height_m, x, y, z);
  EXPECT_NEAR(std::hypot(x - kBahrAntenna_m[0], y - kBahrAntenna_m[1], z - kBahrAntenna_m[2]),
              std::hypot(first.enu_m[0], first.enu_m[1], first.enu_m[2]), 1e-3);
  for (const std::string format : {"kml", "gpx"}) {
    SCOPED_TRACE(format);
    args.format = format;
    std::string text;
    for (const std::string& line : PositionsLines(r, args)) text += line + "\n";
    tinyxml2::XMLDocument doc;
    EXPECT_EQ(tinyxml2::XML_SUCCESS, doc.Parse(text.c_str()));
    EXPECT_EQ(120u,
              talverin::testing_support::CountOf(text, format == "kml" ? "<Point>" : "<trkpt "));
    const char* when = format == "kml" ? "<when>2004-06-09T23:59:47.000Z</when>"
                                       : "<time>2004-06-09T23:59:47.000Z</time>";
    EXPECT_NE(std::string::npos, text.find(when)) << text;  // the first epoch's time, UTC
  }
  // The marker 3.122 m under the antenna (GeographicLib's WGS84 latitude, longitude and height of
  // the antenna, less the antenna height), raised by the antenna height: the ECEF antenna's
  // figures as shown.
  const StatsResult a = Stats(StatsArgs{Gpb(), {kBahrAntenna, "", 0.0}});
  EXPECT_EQ(120, a.stats.solved);
  const StatsResult b =
      Stats(StatsArgs{Gpb(), {"", "26.2091411815,50.6081456306,-17.0791", 3.122}});
  EXPECT_EQ(talverin::FormatPositionStats(a.stats), talverin::FormatPositionStats(b.stats));
  EXPECT_EQ(120u, Dump(DumpArgs{Gpb(), false}).epochs.size());  // the same file, read whole
}

}  // namespace
}  // namespace talverin_cli
