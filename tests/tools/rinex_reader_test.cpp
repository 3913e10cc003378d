// The RINEX 2 readers on the real observation and navigation files (counts and quirks
// from each set's README, values read off the file text) and on small hand-written files,
// good and bad, whose error texts must name the file and the line.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <set>
#include <string>

#include "tests/support/test_support.h"
#include "tests/tools/rinex_test_data.h"
#include "tools/download_set/byte_builder.h"
#include "tools/rinex/rinex_nav.h"
#include "tools/rinex/rinex_obs.h"

namespace talverin {
namespace {

using rinex_test::SampleFile;
using rinex_test::SharedDataFile;
using testing_support::TempDir;

// Header lines padded so that the label starts in column 61.
std::string HeaderLine(const std::string& content, const std::string& label) {
  std::string line = content;
  line.resize(60, ' ');
  return line + label + "\n";
}

std::string MinimalObsHeader(const std::string& version = "     2.10",
                             const std::string& types = "     2    C1    L1") {
  return HeaderLine(version + "           OBSERVATION DATA    G (GPS)", "RINEX VERSION / TYPE") +
         HeaderLine("SITE", "MARKER NAME") +
         HeaderLine("1                   ASHTECH Z-XII3      1Y07", "REC # / TYPE / VERS") +
         HeaderLine("  1000000.0000  2000000.0000  3000000.0000", "APPROX POSITION XYZ") +
         HeaderLine("        1.5000        0.0000        0.0000", "ANTENNA: DELTA H/E/N") +
         HeaderLine(types, "# / TYPES OF OBSERV") + HeaderLine("", "END OF HEADER");
}

struct ObsRead {
  int32_t open = 0;
  int32_t last = 0;  // result of the ReadEpoch that ended the loop
  std::vector<RinexObsEpoch> epochs;
  std::string error;
  RinexObsHeader header;
  int32_t events = 0;
};

ObsRead ReadAll(const std::string& path) {
  RinexObsReader reader;
  ObsRead out;
  out.open = reader.Open(path.c_str());
  if (out.open == 0) {
    RinexObsEpoch epoch;
    for (int guard = 0; guard < 100000; ++guard) {
      out.last = reader.ReadEpoch(&epoch);
      if (out.last != 1) break;
      out.epochs.push_back(epoch);
    }
  }
  out.error = reader.errorText();
  out.header = reader.header();
  out.events = reader.eventRecords();
  return out;
}

const RinexSatObs* FindSat(const RinexObsEpoch& epoch, int prn) {
  for (const RinexSatObs& sat : epoch.sats) {
    if (sat.system == 'G' && sat.prn == prn) return &sat;
  }
  return nullptr;
}

TEST(RinexObsReader, ReadsTheBundledOneHourSetWithItsQuirks) {
  const ObsRead read = ReadAll(SampleFile("bahr1620.04o"));
  ASSERT_EQ(0, read.open) << read.error;
  ASSERT_EQ(0, read.last) << read.error;
  EXPECT_NEAR(2.10, read.header.version, 1e-9);
  EXPECT_STREQ("BAHR", read.header.markerName);
  EXPECT_STREQ("ASHTECH Z-XII3", read.header.receiverType);
  EXPECT_DOUBLE_EQ(3633909.1016, read.header.approx_ecef_m[0]);
  EXPECT_DOUBLE_EQ(4425275.5033, read.header.approx_ecef_m[1]);
  EXPECT_DOUBLE_EQ(2799861.2736, read.header.approx_ecef_m[2]);
  EXPECT_DOUBLE_EQ(3.122, read.header.antennaDeltaH_m);
  EXPECT_DOUBLE_EQ(30.0, read.header.interval_s);  // written as the integer "30"
  ASSERT_EQ(9, read.header.typeCount);
  const char* order[9] = {"L1", "L2", "C1", "P1", "P2", "D1", "D2", "S1", "S2"};
  for (int i = 0; i < 9; ++i) EXPECT_STREQ(order[i], read.header.typeText[i]);
  EXPECT_EQ(2, read.header.typeIndex[kObsC1]);
  EXPECT_EQ(7, read.header.typeIndex[kObsS1]);

  // 120 epochs 00:00:00 .. 00:59:30 of 2004-06-10, GPS week 1274 day 4, every 30 s.
  ASSERT_EQ(120u, read.epochs.size());
  const double dayStart = 4 * 86400.0;
  for (size_t i = 0; i < read.epochs.size(); ++i) {
    EXPECT_EQ(1274, read.epochs[i].week);
    EXPECT_DOUBLE_EQ(dayStart + 30.0 * static_cast<double>(i), read.epochs[i].tow_s) << i;
  }
  std::set<int> prns;
  size_t fewest = 99, most = 0;
  int zeroC1 = 0, lliOnC1 = 0;
  for (const RinexObsEpoch& epoch : read.epochs) {
    fewest = std::min(fewest, epoch.sats.size());
    most = std::max(most, epoch.sats.size());
    for (const RinexSatObs& sat : epoch.sats) {
      EXPECT_EQ('G', sat.system);  // written "G 4"
      prns.insert(sat.prn);
      const RinexObsValue& c1 = sat.obs[2];
      if (c1.present && c1.value == 0.0) ++zeroC1;
      if (c1.lli & kLliLossOfLock) ++lliOnC1;
    }
  }
  EXPECT_EQ((std::set<int>{4, 5, 6, 9, 10, 17, 21, 24, 30}), prns);
  EXPECT_EQ(7u, fewest);
  EXPECT_EQ(9u, most);
  EXPECT_EQ(7, zeroC1);  // G21 rising: C1 written ".000" in 7 records
  EXPECT_GE(lliOnC1, 5);
  EXPECT_LE(lliOnC1, 8);

  // First epoch, G 4:  -4163185.462 7  -3221253.335 7  24236698.057 ... -3468.113 ... 39.020
  const RinexSatObs* g4 = FindSat(read.epochs[0], 4);
  ASSERT_NE(nullptr, g4);
  EXPECT_DOUBLE_EQ(-4163185.462, g4->obs[0].value);
  EXPECT_EQ(0, g4->obs[0].lli);
  EXPECT_EQ(7, g4->obs[0].ssi);
  EXPECT_DOUBLE_EQ(-3221253.335, g4->obs[1].value);
  EXPECT_DOUBLE_EQ(24236698.057, g4->obs[2].value);
  EXPECT_DOUBLE_EQ(24236698.474, g4->obs[3].value);
  EXPECT_DOUBLE_EQ(24236701.852, g4->obs[4].value);
  EXPECT_DOUBLE_EQ(-3468.113, g4->obs[5].value);
  EXPECT_DOUBLE_EQ(-2702.427, g4->obs[6].value);
  EXPECT_DOUBLE_EQ(39.020, g4->obs[7].value);
  EXPECT_DOUBLE_EQ(36.240, g4->obs[8].value);
  EXPECT_TRUE(read.epochs[0].hasClock);
  EXPECT_DOUBLE_EQ(0.0, read.epochs[0].clock_s);

  // 00:07:30, G21: "-312675.16419    -83103.99815          .00077  25878564.8171 ..."
  const RinexSatObs* g21 = FindSat(read.epochs[15], 21);
  ASSERT_NE(nullptr, g21);
  EXPECT_DOUBLE_EQ(-312675.164, g21->obs[0].value);
  EXPECT_EQ(1, g21->obs[0].lli);
  EXPECT_EQ(9, g21->obs[0].ssi);
  EXPECT_TRUE(g21->obs[2].present);
  EXPECT_EQ(0.0, g21->obs[2].value);
  EXPECT_EQ(7, g21->obs[2].lli);
  EXPECT_EQ(7, g21->obs[2].ssi);
  EXPECT_DOUBLE_EQ(25878564.817, g21->obs[3].value);
  EXPECT_DOUBLE_EQ(651.310, g21->obs[7].value);  // the signal sentinel
}

TEST(RinexObsReader, ReadsTheDayLongSetWithEventsAndBlankFields) {
  const std::string path = SharedDataFile("usno-2005-020/usno0200.05o");
  if (path.empty()) GTEST_SKIP() << "usno-2005-020 is not present";
  const ObsRead read = ReadAll(path);
  ASSERT_EQ(0, read.open) << read.error;
  ASSERT_EQ(0, read.last) << read.error;
  EXPECT_STREQ("ASHTECH Z-XII3T", read.header.receiverType);
  ASSERT_EQ(7, read.header.typeCount);
  EXPECT_EQ(-1, read.header.typeIndex[kObsS1]);  // signal only in the SSI digit
  ASSERT_EQ(2880u, read.epochs.size());
  EXPECT_EQ(23, read.events);
  EXPECT_DOUBLE_EQ(4 * 86400.0 + 23 * 3600.0 + 59 * 60.0 + 30.0, read.epochs.back().tow_s);
  EXPECT_EQ(1306, read.epochs.back().week);

  // Blank fields per observable (C1 L1 L2 P1 P2 D1 D2) and loss of lock on L1 and L2.
  int blank[7] = {0, 0, 0, 0, 0, 0, 0};
  int lossL1 = 0, lossL2 = 0;
  std::set<int> prns;
  size_t fewest = 99, most = 0;
  for (const RinexObsEpoch& epoch : read.epochs) {
    fewest = std::min(fewest, epoch.sats.size());
    most = std::max(most, epoch.sats.size());
    for (const RinexSatObs& sat : epoch.sats) {
      prns.insert(sat.prn);
      for (int t = 0; t < 7; ++t) blank[t] += sat.obs[t].present ? 0 : 1;
      lossL1 += sat.obs[1].lli & kLliLossOfLock;
      lossL2 += sat.obs[2].lli & kLliLossOfLock;
    }
  }
  EXPECT_EQ(84, blank[0]);
  EXPECT_EQ(4, blank[1]);
  EXPECT_EQ(18, blank[2]);
  EXPECT_EQ(279, blank[3]);
  EXPECT_EQ(222, blank[4]);
  EXPECT_EQ(116, lossL1);
  EXPECT_EQ(116, lossL2);
  EXPECT_EQ(29u, prns.size());
  EXPECT_EQ(6u, fewest);
  EXPECT_EQ(11u, most);

  // First epoch, G30: "  25128562.1364    4545549.90249   3555415.16945  25128562.4674"
  const RinexSatObs* g30 = FindSat(read.epochs[0], 30);
  ASSERT_NE(nullptr, g30);
  EXPECT_DOUBLE_EQ(25128562.136, g30->obs[0].value);
  EXPECT_EQ(4, g30->obs[0].lli);  // A/S bit on a code field
  EXPECT_EQ(0, g30->obs[0].ssi);
  EXPECT_DOUBLE_EQ(4545549.902, g30->obs[1].value);
  EXPECT_EQ(9, g30->obs[1].ssi);
  EXPECT_DOUBLE_EQ(3555415.169, g30->obs[2].value);
  EXPECT_EQ(5, g30->obs[2].ssi);
  EXPECT_DOUBLE_EQ(-2694.662, g30->obs[5].value);
}

TEST(RinexNavReader, ReadsBothNavigationFiles) {
  RinexNavFile nav;
  char error[kTextSize] = "";
  ASSERT_EQ(0, ReadRinexNav(SampleFile("bahr1620.04n").c_str(), &nav, error)) << error;
  ASSERT_EQ(166u, nav.records.size());
  std::set<int> prns;
  int32_t firstToe = 1 << 30, lastToe = 0, unhealthy = 0;
  for (const RinexNavRecord& r : nav.records) {
    prns.insert(r.eph.prn);
    firstToe = std::min(firstToe, r.eph.toe);
    lastToe = std::max(lastToe, r.eph.toe);
    unhealthy += r.health != 0;
    EXPECT_EQ(1274, r.eph.week);
  }
  EXPECT_EQ(28u, prns.size());
  EXPECT_EQ(352784, firstToe);
  EXPECT_EQ(432000, lastToe);
  EXPECT_EQ(0, unhealthy);
  // First record, PRN 5 at 2004-06-10 02:00:00 (week 1274 day 4): values of the file text.
  const GpsEph& e = nav.records[0].eph;
  EXPECT_EQ(5, e.prn);
  EXPECT_EQ(4 * 86400 + 7200, e.toc);
  EXPECT_DOUBLE_EQ(.341222621500e-04, e.af0);
  EXPECT_DOUBLE_EQ(.181898940355e-11, e.af1);
  EXPECT_EQ(90, e.iode);
  EXPECT_DOUBLE_EQ(-.386250000000e+02, e.crs);
  EXPECT_DOUBLE_EQ(.501449458811e-08, e.deltaN);
  EXPECT_DOUBLE_EQ(.237108733125e+01, e.m0);
  EXPECT_DOUBLE_EQ(.526548980270e-02, e.e);
  EXPECT_DOUBLE_EQ(.515376806831e+04, e.rootA);
  EXPECT_EQ(352800, e.toe);
  EXPECT_DOUBLE_EQ(-.152094815689e+01, e.omega0);
  EXPECT_DOUBLE_EQ(.935617824444e+00, e.i0);
  EXPECT_DOUBLE_EQ(-.815033949435e-08, e.omegaDot);
  EXPECT_DOUBLE_EQ(-.124290891500e-09, e.iDot);
  EXPECT_DOUBLE_EQ(-.419095158577e-08, e.tgd);
  EXPECT_EQ(346, e.iodc);
  EXPECT_EQ(345606, e.tow);
  EXPECT_DOUBLE_EQ(4.0, nav.records[0].fitInterval_h);

  const std::string brdc = SharedDataFile("usno-2005-020/brdc0200.05n");
  if (brdc.empty()) GTEST_SKIP() << "usno-2005-020 is not present";
  ASSERT_EQ(0, ReadRinexNav(brdc.c_str(), &nav, error)) << error;
  EXPECT_NEAR(2.0, nav.version, 1e-9);  // version written "2"
  ASSERT_EQ(404u, nav.records.size());
  std::map<int, std::pair<int, int>> health;  // PRN -> (records, unhealthy)
  for (const RinexNavRecord& r : nav.records) {
    ++health[r.eph.prn].first;
    if (r.health != 0) {
      ++health[r.eph.prn].second;
      EXPECT_EQ(63, r.health);
    }
  }
  EXPECT_EQ(30u, health.size());
  EXPECT_EQ(std::make_pair(15, 4), health[13]);
  EXPECT_EQ(std::make_pair(3, 3), health[31]);
  int unhealthyPrns = 0;
  for (const auto& h : health) unhealthyPrns += h.second.second > 0;
  EXPECT_EQ(2, unhealthyPrns);
}

// Hand-written files for the quirks: continuation lines, event records that change the
// observables, version "2", lower-case words, two-digit years before 2000, blank fields.
TEST(RinexObsReader, SurvivesTheQuirksOfHandWrittenFiles) {
  TempDir dir;
  std::string text =
      HeaderLine("     2              observation data    G", "RINEX VERSION / TYPE") +
      HeaderLine("ABCDEFG", "Marker Name") +
      HeaderLine("  1000000.0000  2000000.0000  3000000.0000", "approx position xyz") +
      HeaderLine("        0.0000        0.0000        0.0000", "ANTENNA: DELTA H/E/N") +
      HeaderLine("     2    C1    L1", "# / TYPES OF OBSERV") + HeaderLine("", "END OF HEADER");
  // 13 satellites: twelve on the epoch line, one on a continuation line.
  text += " 99 12 31 23 59 30.0000000  0 13G01G02G03G04G05G06G07G08G09G10G11G12\n";
  text += std::string(32, ' ') + "G13\n";
  for (int prn = 1; prn <= 13; ++prn) {
    char line[64];
    std::snprintf(line, sizeof line, "%14.3f1 %14.3f48\n", 20000000.0 + prn, 100.0 * prn);
    text += prn == 7 ? "                  123.000 \n" : line;  // G07: C1 blank
  }
  // Event record (flag 4) with two lines: the observables become L1 C1 D1.
  text += std::string(28, ' ') + "4  2\n";
  text += HeaderLine("     3    L1    C1    D1", "# / TYPES OF OBSERV");
  text += HeaderLine("a comment", "COMMENT");
  text += " 00  1  1  0  0  0.0000000  0  1  5\n";  // satellite written " 5": GPS
  char values[96];
  std::snprintf(values, sizeof values, "%14.3f  %14.3f  %14.3f\n", 555.25, 21000000.5, -12.5);
  text += values;
  ASSERT_TRUE(WriteFileText(dir.File("q.99o"), text));

  const ObsRead read = ReadAll(dir.File("q.99o"));
  ASSERT_EQ(0, read.open) << read.error;
  ASSERT_EQ(0, read.last) << read.error;
  EXPECT_NEAR(2.0, read.header.version, 1e-9);
  EXPECT_STREQ("ABCDEFG", read.header.markerName);
  ASSERT_EQ(2u, read.epochs.size());
  EXPECT_EQ(1, read.events);

  // 1999-12-31 23:59:30 is GPS week 1042, day 5 (week 1024 began 1999-08-22).
  const RinexObsEpoch& first = read.epochs[0];
  EXPECT_EQ(1999, first.year);
  EXPECT_EQ(1042, first.week);
  EXPECT_DOUBLE_EQ(5 * 86400.0 + 86370.0, first.tow_s);
  ASSERT_EQ(13u, first.sats.size());
  EXPECT_EQ(13, first.sats[12].prn);
  EXPECT_DOUBLE_EQ(20000013.0, first.sats[12].obs[0].value);
  EXPECT_EQ(1, first.sats[12].obs[0].lli);   // loss of lock on a code field
  EXPECT_EQ(4, first.sats[12].obs[1].lli);
  EXPECT_EQ(8, first.sats[12].obs[1].ssi);
  EXPECT_FALSE(first.sats[6].obs[0].present);
  EXPECT_DOUBLE_EQ(123.0, first.sats[6].obs[1].value);

  // 2000-01-01 00:00:00 is week 1042, day 6.
  const RinexObsEpoch& second = read.epochs[1];
  EXPECT_EQ(1042, second.week);
  EXPECT_DOUBLE_EQ(6 * 86400.0, second.tow_s);
  ASSERT_EQ(1u, second.sats.size());
  EXPECT_EQ('G', second.sats[0].system);
  EXPECT_EQ(5, second.sats[0].prn);
  EXPECT_EQ(3, read.header.typeCount);
  EXPECT_EQ(1, read.header.typeIndex[kObsC1]);
  EXPECT_EQ(2, read.header.typeIndex[kObsD1]);
  EXPECT_DOUBLE_EQ(555.25, second.sats[0].obs[0].value);
  EXPECT_DOUBLE_EQ(21000000.5, second.sats[0].obs[1].value);
  EXPECT_DOUBLE_EQ(-12.5, second.sats[0].obs[2].value);
}

TEST(RinexObsReader, BadFilesGiveTheFileAndLine) {
  const std::string header = MinimalObsHeader();  // 7 lines
  const std::string epoch = " 04  6 10  0  0  0.0000000  0  2G04G05\n";
  const std::string sat = "  24236698.057    -4163185.462 7\n";
  struct Case {
    const char* name;
    std::string text;
    std::string error;  // after "<path>:"
  } cases[] = {
      {"no END OF HEADER", header.substr(0, header.rfind(HeaderLine("", "END OF HEADER"))),
       "6: file ends before END OF HEADER"},
      {"version 3", MinimalObsHeader("     3.02"),
       "1: RINEX version 3.02 is not supported (2.00 to 2.11 are read)"},
      {"version 1", MinimalObsHeader("     1"),
       "1: RINEX version 1 is not supported (2.00 to 2.11 are read)"},
      {"no types", HeaderLine("     2.10           O", "RINEX VERSION / TYPE") +
                       HeaderLine("  1000000.0000  2000000.0000  3000000.0000", "APPROX POSITION XYZ") +
                       HeaderLine("", "END OF HEADER"),
       "3: header has no # / TYPES OF OBSERV line"},
      {"no position", HeaderLine("     2.10           O", "RINEX VERSION / TYPE") +
                          HeaderLine("     1    C1", "# / TYPES OF OBSERV") +
                          HeaderLine("", "END OF HEADER"),
       "3: header has no APPROX POSITION XYZ line"},
      {"navigation as observation", HeaderLine("     2.10           N", "RINEX VERSION / TYPE"),
       "1: file type 'N' is not an observation file (O)"},
      {"no version line", HeaderLine("SITE", "MARKER NAME"),
       "1: first line is not RINEX VERSION / TYPE"},
      {"cut record", header + epoch + sat, "9: file ends inside the epoch of line 8 (satellite G05)"},
      {"bad number", header + epoch + sat + "  2423669x.057\n",
       "10: C1 of G05, '2423669x.057', is not a number"},
      {"cut inside a line", header + epoch + sat + "  2423669",
       "10: last line has no line end: the file is cut"},
      {"bad flag", header + " 04  6 10  0  0  0.0000000  7  0\n", "8: epoch flag 7 is not 0 to 6"},
      {"cut event", header + std::string(28, ' ') + "4  3\n" + HeaderLine("x", "COMMENT"),
       "9: file ends inside the event record of line 8 (1 of 3 lines)"},
      {"bad date", header + " 04 13 10  0  0  0.0000000  0  1G04\n" + sat,
       "8: epoch time 04 13 10 00 00 0.0000000 is not a valid GPS date"},
      {"missing continuation",
       header + " 04  6 10  0  0  0.0000000  0 13G01G02G03G04G05G06G07G08G09G10G11G12\n" + sat,
       "9: satellite list of the epoch of line 8 continues on a line that does not start with "
       "32 blanks"},
      {"bad satellite", header + " 04  6 10  0  0  0.0000000  0  1G?4\n",
       "8: satellite 1 of 1, 'G?4', is not a system letter and a number"},
      {"bad LLI", header + " 04  6 10  0  0  0.0000000  0  1G04\n  24236698.057x\n",
       "9: C1 of G04: loss-of-lock or signal digit 'x ' is not a digit"},
  };
  TempDir dir;
  for (const Case& c : cases) {
    const std::string path = dir.File("bad.04o");
    ASSERT_TRUE(WriteFileText(path, c.text));
    const ObsRead read = ReadAll(path);
    EXPECT_TRUE(read.open != 0 || read.last == -1) << c.name;
    EXPECT_EQ(path + ":" + c.error, read.error) << c.name;
  }
  const ObsRead missing = ReadAll(dir.File("absent.04o"));
  EXPECT_EQ(-1, missing.open);
  EXPECT_EQ(dir.File("absent.04o") + ": cannot be opened", missing.error);
}

TEST(RinexNavReader, BadFilesGiveTheFileAndLine) {
  const std::string header = HeaderLine("     2.10           N", "RINEX VERSION / TYPE") +
                             HeaderLine("", "END OF HEADER");
  const std::string first = " 5 04  6 10  2  0  0.0  .341222621500D-04  .181898940355D-11  "
                            ".000000000000D+00\n";
  const std::string orbit = "     .900000000000D+02 -.386250000000D+02  .501449458811D-08  "
                            ".237108733125D+01\n";
  std::string sixOrbits;
  for (int i = 0; i < 6; ++i) sixOrbits += orbit;
  struct Case {
    const char* name;
    std::string text;
    std::string error;
  } cases[] = {
      {"cut record", header + first + orbit + orbit,
       "5: file ends inside the ephemeris record of line 3 (PRN 5)"},
      {"GLONASS file", HeaderLine("     2.10           G", "RINEX VERSION / TYPE"),
       "1: file type 'G' is not a GPS navigation file (N)"},
      {"version 2.12", HeaderLine("     2.12           N", "RINEX VERSION / TYPE"),
       "1: RINEX version 2.12 is not supported (2.00 to 2.11 are read)"},
      {"no end of header", HeaderLine("     2.10           N", "RINEX VERSION / TYPE"),
       "1: file ends before END OF HEADER"},
      {"PRN 40", header + "40" + first.substr(2), "3: PRN is not a GPS satellite number 1 to 32"},
      {"bad value", header + first + orbit + "     .9000000x0000D+02\n",
       "5: orbit value 1 of PRN 5 is not a number"},
      {"huge toe", header + first + orbit + orbit + "     .900000000000D+12\n" + orbit + orbit +
                       orbit + orbit,
       "3: toe of PRN 5 is out of range"},
  };
  TempDir dir;
  for (const Case& c : cases) {
    const std::string path = dir.File("bad.04n");
    ASSERT_TRUE(WriteFileText(path, c.text));
    RinexNavFile nav;
    char error[kTextSize] = "";
    EXPECT_EQ(-1, ReadRinexNav(path.c_str(), &nav, error)) << c.name;
    EXPECT_EQ(path + ":" + c.error, std::string(error)) << c.name;
  }
  // Seven full orbit lines read as one record.
  const std::string path = dir.File("good.04n");
  ASSERT_TRUE(WriteFileText(path, header + first + sixOrbits + orbit));
  RinexNavFile nav;
  char error[kTextSize] = "";
  ASSERT_EQ(0, ReadRinexNav(path.c_str(), &nav, error)) << error;
  ASSERT_EQ(1u, nav.records.size());
  EXPECT_EQ(90, nav.records[0].eph.iode);
  EXPECT_EQ(90, nav.records[0].eph.toe);
}

}  // namespace
}  // namespace talverin
