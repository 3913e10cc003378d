// RINEX export of hand-built download sets: event records of a stop-and-go set against
// hand-written text, calendar dates across the 2019 week rollover and the messages of a
// name/ephemeris disagreement.
#include <gtest/gtest.h>

#include <GeographicLib/Geocentric.hpp>
#include <GeographicLib/LocalCartesian.hpp>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "dataset/byte_builder.h"
#include "dataset/download_set_reader.h"
#include "dataset/ephemeris_file_writer.h"
#include "dataset/observation_file_writer.h"
#include "dataset/site_event_writers.h"
#include "rinex/rinex_export.h"
#include "rinex/rinex_names.h"
#include "rinex/rinex_splice.h"
#include "tests/rinex/rinex_test_data.h"
#include "tests/support/test_support.h"

namespace talverin {
namespace {

using rinex_test::Exported;
using rinex_test::ExportSet;
using rinex_test::HeaderLine;
using testing_support::TempDir;

// One C/A-code satellite per epoch, epochs every 30 s from t0_s at the sites given: range
// 0.07 s, phase -100.25 cycles, Doppler -123400 counts (12.34 Hz in RINEX sign), SNR 45.
ObsFile CaFile(const std::vector<std::string>& sites, double t0_s) {
  ObsFile f;
  f.model = "G-12";
  f.recordSize = 35;
  for (const std::string& site : sites) {
    ObsEpoch epoch;
    epoch.site = site;
    epoch.time_s = t0_s + 30.0 * f.epochs.size();
    ObsChannel c;
    c.prn = 5;
    c.caRange_s = 0.07;
    c.l1Phase_cyc = -100.25;
    c.doppler = -123400;
    c.l1Snr = 45;
    epoch.channels.push_back(c);
    f.epochs.push_back(epoch);
  }
  return f;
}

// The text after END OF HEADER.
std::string Body(const std::string& text) { return text.substr(text.find("END OF HEADER\n") + 14); }

// A site A101, a walk ("????"), then site B202 that the event file marks with its own
// height; a mark C303 that no epoch shows stands as an event at its own time. Event times
// in the D file are 13 s late on this receiver.
TEST(RinexExport, StopAndGoEventsAsHandWritten) {
  TempDir dir;
  const double t0 = 345600.0;  // 2004-06-10 00:00:00, GPS week 1274
  const ObsFile walk = CaFile({"A101", "A101", "????", "????", "B202", "B202"}, t0);
  ASSERT_TRUE(WriteObservationFile(dir.File("BA101A04.162"), walk));
  SiteFileLines site;
  site.line3 = SiteStationLine("A101", 1274, 4, 345600);
  site.line6 = SiteHeightLine("BEFORE", 1.2345);
  ASSERT_TRUE(WriteFileText(dir.File("SA101A04.162"), SiteFileText(site)));
  EventFileBuilder d;
  d.Time(t0 + 120 + 13).Mark("B202", "FENCE", "1.500");
  d.Time(t0 + 75 + 13).Mark("C303", "POST", "0.800");
  ASSERT_TRUE(WriteFileText(dir.File("DA101A04.162"), d.Text()));

  const Exported x = ExportSet(dir.File("BA101A04.162"), dir.File("out"));
  // C1 F14.3 and two blank digits, L1 F14.3 with a blank LLI (no lock lost, also at the
  // first epoch) and SSI 7 (45 dB-Hz), D1, S1; trailing blanks dropped.
  const std::string sat = "  20985472.060         100.250 7        12.340          45.000\n";
  EXPECT_EQ(Body(x.obs),
            " 04  6 10  0  0  0.0000000  0  1G 5\n" + sat +
                " 04  6 10  0  0 30.0000000  0  1G 5\n" + sat +
                " 04  6 10  0  1  0.0000000  2  0\n"
                " 04  6 10  0  1  0.0000000  0  1G 5\n" +
                sat +
                " 04  6 10  0  1 15.0000000  3  3\n"
                "C303                                                        MARKER NAME\n"
                "        0.8000        0.0000        0.0000                  ANTENNA: DELTA H/E/N\n"
                "POST                                                        COMMENT\n"
                " 04  6 10  0  1 30.0000000  0  1G 5\n" +
                sat +
                " 04  6 10  0  2  0.0000000  3  3\n"
                "B202                                                        MARKER NAME\n"
                "        1.5000        0.0000        0.0000                  ANTENNA: DELTA H/E/N\n"
                "FENCE                                                       COMMENT\n"
                " 04  6 10  0  2  0.0000000  0  1G 5\n" +
                sat + " 04  6 10  0  2 30.0000000  0  1G 5\n" + sat);
  for (const std::string& line :
       {HeaderLine("A101", "MARKER NAME"),
        HeaderLine("        1.2345        0.0000        0.0000", "ANTENNA: DELTA H/E/N"),
        HeaderLine("     4    C1    L1    D1    S1", "# / TYPES OF OBSERV")})
    EXPECT_NE(x.obs.find("\n" + line), std::string::npos) << line;
  EXPECT_EQ(x.summary.events, 3);
}

// A set after the 2019-04-07 rollover: 2020-01-15 01:00 is GPS week 2088 (ten-bit 40), day
// 3, from the file name, which the ephemerides' ten-bit weeks confirm; a record of ten-bit
// week 45 keeps its own week in the cycle nearest the session. GPS-UTC is 18 s since
// 2017-01-01.
TEST(RinexExport, WeekFromTheFileNameAcrossTheRollover) {
  TempDir dir;
  ASSERT_TRUE(WriteObservationFile(dir.File("BROLLA20.015"), CaFile({"ROLL"}, 262800.0)));
  EphemerisFileWriter e;
  for (const int16_t week : {40, 45}) {
    GpsEph eph{};
    eph.prn = 5;
    eph.week = week;
    eph.toe = eph.toc = 262800;
    e.AddGps(eph);
  }
  ASSERT_TRUE(e.WriteTo(dir.File("EROLLA20.015")));
  const Exported x = ExportSet(dir.File("BROLLA20.015"), dir.File("out"));
  EXPECT_NE(
      std::string::npos,
      x.obs.find("  2020     1    15     1     0    0.0000000     GPS         TIME OF FIRST OBS"));
  // Week 40 as stored is week 2088 to ten bits: it fits the name, so nothing is noted.
  EXPECT_NE(std::string::npos, x.obs.find("    18" + std::string(54, ' ') + "LEAP SECONDS"));
  EXPECT_TRUE(x.summary.messages.empty());
  EXPECT_NE(x.nav.find(" 2.093000000000D+03"), std::string::npos) << x.nav;
}

// An L2-codeless receiver (L1 C/A, L2 from P2-P1) at BAHR's antenna, 1.5 m above the marker
// and 0.1 m east, 0.2 m south of it: epochs every 30 s from 2004-06-10 00:00, G05 in all but
// the third (G07 alone there). RINEX 3 names its L2 semi-codeless (D), writes the metadata
// given, places APPROX POSITION at the marker, flags lost lock only when G05 comes back, and
// names the file by the standard.
TEST(RinexExport, SemiCodelessHeaderMetadataMarkerLockAndName) {
  TempDir dir;
  ObsFile f = CaFile({"L2CL", "L2CL", "L2CL", "L2CL"}, 345600.0);
  f.model = "L-XII";
  f.recordSize = 66;
  f.epochs[2].channels[0].prn = 7;
  const double antenna_m[3] = {3633910.5918, 4425277.7039, 2799862.8556};
  for (ObsEpoch& epoch : f.epochs) {
    epoch.x_m = antenna_m[0];
    epoch.y_m = antenna_m[1];
    epoch.z_m = antenna_m[2];
    epoch.channels[0].l2Range_s = 0.0700001;
    epoch.channels[0].l2Phase_cyc = -80.5;
  }
  ASSERT_TRUE(WriteObservationFile(dir.File("BL2CLA04.162"), f));
  SiteFileLines site;
  site.line3 = SiteStationLine("L2CL", 1274, 4, 345600);
  site.line6 = SiteHeightLine("BEFORE", 1.5);
  ASSERT_TRUE(WriteFileText(dir.File("SL2CLA04.162"), SiteFileText(site)));
  RinexExportOptions options;
  RinexMetadata& m = options.metadata;
  m.markerName = "BAHRAIN";
  m.markerNumber = "24901M001";
  m.antennaType = "ASH700936D_M    SNOW";
  m.antennaNumber = "CR15930";
  m.receiverNumber = "RX-77";
  m.observer = "Field crew";
  m.agency = "Survey office";
  m.country = "BHR";
  m.hasAntennaDelta = true;
  m.antennaDelta_m[0] = 1.5;
  m.antennaDelta_m[1] = 0.1;
  m.antennaDelta_m[2] = -0.2;
  const Exported x = ExportSet(dir.File("BL2CLA04.162"), dir.File("out"), 3, options);

  EXPECT_EQ("L2CL00BHR_R_20041620000_15M_30S_GO.rnx", x.obsName);
  EXPECT_NE(x.obs.find("G    8 C1C L1C D1C S1C C2D L2D D2D S2D"), std::string::npos) << x.obs;
  EXPECT_EQ(x.obs.find("2W "), std::string::npos);
  for (const std::string& line :
       {HeaderLine("BAHRAIN", "MARKER NAME"), HeaderLine("24901M001", "MARKER NUMBER"),
        HeaderLine("Field crew          Survey office", "OBSERVER / AGENCY"),
        HeaderLine("RX-77               L-XII", "REC # / TYPE / VERS"),
        HeaderLine("CR15930             ASH700936D_M    SNOW", "ANT # / TYPE"),
        HeaderLine("        1.5000        0.1000       -0.2000", "ANTENNA: DELTA H/E/N")})
    EXPECT_NE(x.obs.find("\n" + line), std::string::npos) << line;
  // The marker: the antenna less the delta in the local frame there, from GeographicLib.
  double lat = 0, lon = 0, h = 0;
  GeographicLib::Geocentric::WGS84().Reverse(antenna_m[0], antenna_m[1], antenna_m[2], lat, lon, h);
  GeographicLib::LocalCartesian(lat, lon, h).Reverse(-0.1, 0.2, -1.5, lat, lon, h);
  double marker_m[3];
  GeographicLib::Geocentric::WGS84().Forward(lat, lon, h, marker_m[0], marker_m[1], marker_m[2]);
  char approx[64];
  std::snprintf(approx, sizeof approx, "%14.4f%14.4f%14.4f", marker_m[0], marker_m[1], marker_m[2]);
  EXPECT_NE(x.obs.find(HeaderLine(approx, "APPROX POSITION XYZ")), std::string::npos) << approx;
  // LLI digits of L1C (column 33) and L2D (column 97) of each epoch's G05 line.
  std::vector<std::string> lli;
  for (size_t at = x.obs.find("\nG05"); at != std::string::npos; at = x.obs.find("\nG05", at + 1)) {
    std::string line = x.obs.substr(at + 1, x.obs.find('\n', at + 1) - at - 1);
    line.resize(100, ' ');
    lli.push_back(line.substr(33, 1) + line.substr(97, 1));
  }
  EXPECT_EQ(std::vector<std::string>({"  ", "  ", "11"}), lli) << x.obs;
}

// The epochs of a version 2 observation text by their epoch line: each with its lines.
std::map<std::string, std::string> EpochBlocks(const std::string& obs) {
  std::map<std::string, std::string> blocks;
  std::string key;
  size_t at = obs.find("END OF HEADER\n") + 14;
  for (size_t end; at < obs.size(); at = end + 1) {
    end = obs.find('\n', at);
    const std::string line = obs.substr(at, end - at);
    if (line.size() > 28 && line[0] == ' ' && line[3] == ' ') key = line.substr(0, 26);
    blocks[key] += line + "\n";
  }
  return blocks;
}

// A window of the BAHR hour, 00:10:00 to 00:20:00 at 120 s: exactly the original's epochs on
// that grid, line for line.
TEST(RinexExport, WindowAndDecimationKeepTheOriginalsEpochsOnTheGrid) {
  TempDir dir;
  const std::string b = rinex_test::ImportBahr(dir.path());
  const Exported whole = ExportSet(b, dir.File("whole"));
  RinexExportOptions edit;
  edit.window.hasStart = edit.window.hasEnd = true;
  edit.window.start = {1274, 345600.0 + 600.0};
  edit.window.end = {1274, 345600.0 + 1200.0};
  edit.window.interval_s = 120.0;
  const Exported part = ExportSet(b, dir.File("part"), 2, edit);
  const auto all = EpochBlocks(whole.obs);
  const auto kept = EpochBlocks(part.obs);
  std::vector<std::string> times;
  for (const auto& block : kept) {
    times.push_back(block.first);
    EXPECT_EQ(all.at(block.first), block.second) << block.first;
  }
  EXPECT_EQ(std::vector<std::string>({" 04  6 10  0 10  0.0000000", " 04  6 10  0 12  0.0000000",
                                      " 04  6 10  0 14  0.0000000", " 04  6 10  0 16  0.0000000",
                                      " 04  6 10  0 18  0.0000000", " 04  6 10  0 20  0.0000000"}),
            times);
  EXPECT_NE(part.obs.find("   120.000" + std::string(50, ' ') + "INTERVAL"), std::string::npos);
  EXPECT_EQ(6, part.summary.epochs);
  EXPECT_NE(part.obs.find("  2004     6    10     0    10    0.0000000     GPS         TIME OF "
                          "FIRST OBS"),
            std::string::npos);
}

// The BAHR hour cut into sessions A, B and C at epochs 40 and 80 (each B file the header and
// its epochs; E and S copied; session C's S file with a 0.5 m higher antenna), spliced: the
// whole hour's epochs line for line, the navigation records once, and an event with the new
// antenna delta before session C's first epoch.
TEST(RinexSplice, ThreeSessionsGiveTheWholeHour) {
  TempDir dir;
  const std::string b = rinex_test::ImportBahr(dir.path());
  std::vector<int64_t> offsets;
  DownloadSetReader reader;
  ASSERT_EQ(0, reader.Open(b));
  RawEpoch epoch;
  while (reader.NextEpoch(&epoch) == 1) offsets.push_back(epoch.offset);
  ASSERT_EQ(120u, offsets.size());
  const std::vector<uint8_t> bytes = ReadFileBytes(b);
  const std::string e =
      ReadFileText(b.substr(0, b.find_last_of('/') + 1) + "E" + b.substr(b.find_last_of('/') + 2));
  const size_t cuts[] = {0, 40, 80, 120};
  std::vector<std::string> sessions;
  std::filesystem::create_directories(dir.File("s"));
  for (int s = 0; s < 3; ++s) {
    std::vector<uint8_t> part(bytes.begin(), bytes.begin() + offsets[0]);
    const auto from = bytes.begin() + offsets[cuts[s]];
    const auto to = cuts[s + 1] < 120 ? bytes.begin() + offsets[cuts[s + 1]] : bytes.end();
    part.insert(part.end(), from, to);
    const std::string name = std::string("BAHR") + static_cast<char>('A' + s) + "04.162";
    ASSERT_TRUE(WriteFileBytes(dir.File("s/B" + name), part));
    ASSERT_TRUE(WriteFileText(dir.File("s/E" + name), e));
    SiteFileLines site;
    site.line3 = SiteStationLine("BAHR", 1274, 4, 345600);
    site.line6 = SiteHeightLine("BEFORE", s == 2 ? 0.5 : 0.0);
    ASSERT_TRUE(WriteFileText(dir.File("s/S" + name), SiteFileText(site)));
    sessions.push_back(dir.File("s/B" + name));
  }
  const Exported whole = ExportSet(b, dir.File("whole"));
  RinexExportOptions options;
  options.creationDate = "20240102 030405 UTC";
  RinexSpliceResult spliced;
  std::string error;
  ASSERT_EQ(0, SpliceRinex({sessions[2], sessions[0], sessions[1]}, options, dir.path(), &spliced,
                           &error))
      << error;
  std::string expected = Body(whole.obs);
  const size_t atC = expected.find(" 04  6 10  0 40  0.0000000  0");
  ASSERT_NE(std::string::npos, atC);
  expected.insert(
      atC, " 04  6 10  0 40  0.0000000  4  1\n" +
               HeaderLine("        0.5000        0.0000        0.0000", "ANTENNA: DELTA H/E/N"));
  EXPECT_EQ(expected, Body(spliced.observation));
  EXPECT_EQ(whole.nav, spliced.navigation);
  EXPECT_EQ("bahr1620.04o", spliced.observationName);
  EXPECT_EQ(120, spliced.summary.epochs);
  EXPECT_EQ(1, spliced.summary.events);
  EXPECT_NE(spliced.observation.find("  2004     6    10     0    59   30.0000000     GPS         "
                                     "TIME OF LAST OBS"),
            std::string::npos);
}

// RINEX 3 long-name fields: the nominal span on the epoch grid (a 5 ms time tag adds
// nothing) rounded up to 15M, 01H, hours or days, and the data frequency.
TEST(RinexNames, PeriodAndFrequencyFields) {
  const struct {
    double first_s, last_s, interval_s;
    const char* period;
    const char* frequency;
  } rows[] = {{0, 3570.005, 30, "01H", "30S"},
              {0, 86370, 30, "01D", "30S"},
              {0, 899, 1, "15M", "01S"},
              {0, 600, 0.1, "15M", "10Z"},
              {0, 7199.9, 0.01, "02H", "01C"},
              {0, 3600, 0.02, "02H", "50Z"},
              {3600, 82770, 30, "22H", "30S"},
              {0, 172770, 30, "02D", "30S"},
              {0, 3480, 120, "01H", "02M"},
              {0, 0, 0, "15M", "00U"},
              {0, 14 * 86400.0, 3600, "15D", "60M"}};
  for (const auto& r : rows) {
    SCOPED_TRACE(std::to_string(r.last_s) + " s every " + std::to_string(r.interval_s));
    EXPECT_EQ(r.period, Rinex3Period(NominalSpan_s(r.first_s, r.last_s, r.interval_s)));
    EXPECT_EQ(r.frequency, Rinex3Frequency(r.interval_s));
  }
}

}  // namespace
}  // namespace talverin
