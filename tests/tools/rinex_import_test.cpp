// The RINEX import: the bytes of the download set checked against hand-computed values for
// small written files (channel layout, Doppler from the phase rate, lock restarts, omitted
// channels, ephemeris and site records), failures that leave no files, the command line,
// and the round trip RINEX -> download set -> ConvertFile -> GPB on every real set present.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "base/byte_order.h"
#include "output/gpb_reader.h"
#include "tests/support/test_support.h"
#include "tests/tools/rinex_test_data.h"
#include "tools/download_set/byte_builder.h"
#include "tools/rinex/rinex_import.h"
#include "tools/rinex/rinex_nav.h"
#include "tools/rinex/rinex_obs.h"

namespace talverin {
namespace {

using rinex_test::SampleFile;
using rinex_test::SharedDataFile;
using testing_support::TempDir;

constexpr double kC = 299792458.0;  // m/s
constexpr size_t kFileHeader = 90, kEpochHeader = 67;

std::string HeaderLine(const std::string& content, const std::string& label) {
  std::string line = content;
  line.resize(60, ' ');
  return line + label + "\n";
}

std::string ObsHeader(const std::string& types, const std::string& receiver = "ASHTECH Z-XII3") {
  return HeaderLine("     2.11           OBSERVATION DATA    G", "RINEX VERSION / TYPE") +
         HeaderLine("ab", "MARKER NAME") +
         HeaderLine("1                   " + receiver, "REC # / TYPE / VERS") +
         HeaderLine("  1000000.0000  2000000.0000  3000000.0000", "APPROX POSITION XYZ") +
         HeaderLine("        1.2500        0.0000        0.0000", "ANTENNA: DELTA H/E/N") +
         HeaderLine(types, "# / TYPES OF OBSERV") + HeaderLine("", "END OF HEADER");
}

// One observation field: value (blank when NaN), LLI and SSI characters.
std::string Field(double value, char lli = ' ', char ssi = ' ') {
  char text[32];
  if (std::isnan(value)) {
    std::snprintf(text, sizeof text, "%14s%c%c", "", lli, ssi);
  } else {
    std::snprintf(text, sizeof text, "%14.3f%c%c", value, lli, ssi);
  }
  return text;
}

std::string NavFile() {
  // PRN 5 of the bundled navigation file, health word changed to 1 in a second copy.
  const std::string head = HeaderLine("     2.10           N", "RINEX VERSION / TYPE") +
                           HeaderLine("", "END OF HEADER");
  const std::string record =
      " 5 04  6 10  2  0  0.0  .341222621500D-04  .181898940355D-11  .000000000000D+00\n"
      "     .900000000000D+02 -.386250000000D+02  .501449458811D-08  .237108733125D+01\n"
      "    -.217743217945D-05  .526548980270D-02  .109504908323D-04  .515376806831D+04\n"
      "     .352800000000D+06 -.540167093277D-07 -.152094815689D+01 -.912696123123D-07\n"
      "     .935617824444D+00  .151375000000D+03  .833656182315D+00 -.815033949435D-08\n"
      "    -.124290891500D-09  .100000000000D+01  .127400000000D+04  .000000000000D+00\n"
      "     .200000000000D+01  .000000000000D+00 -.419095158577D-08  .346000000000D+03\n"
      "     .345606000000D+06  .400000000000D+01\n";
  std::string sick = record;
  const std::string health = "  .000000000000D+00 -.419";
  sick.replace(sick.find(health), health.size(), "  .100000000000D+01 -.419");
  return head + record + sick;
}

struct Imported {
  int32_t result = -1;
  RinexImportSummary summary;
  std::string error;
  std::vector<uint8_t> b, e;
  std::string s;
};

Imported Import(const TempDir& dir, const std::string& obsText, const std::string& receiver = "",
                const std::string& site = "",
                HeaderPosition headerPosition = HeaderPosition::kRinex, double move_m = 0.0) {
  WriteFileText(dir.File("in.04o"), obsText);
  WriteFileText(dir.File("in.04n"), NavFile());
  RinexImportOptions options;
  options.observationPath = dir.File("in.04o");
  options.navigationPath = dir.File("in.04n");
  options.outputDir = dir.File("set");
  options.receiver = receiver;
  options.site = site;
  options.headerPosition = headerPosition;
  options.headerMove_m = move_m;
  Imported out;
  char error[kTextSize] = "";
  out.result = ImportRinex(options, &out.summary, error);
  out.error = error;
  if (out.result == 0) {
    out.b = ReadFileBytes(out.summary.observationFile);
    out.e = ReadFileBytes(out.summary.ephemerisFile);
    out.s = ReadFileText(out.summary.siteFile);
  }
  return out;
}

TEST(RinexImport, DualFrequencyChannelBytesFollowTheRecordLayout) {
  TempDir dir;
  // 2004-06-10 00:00:30 = week 1274, 4 * 86400 + 30 s. Observables of the bundled set.
  const std::string text =
      ObsHeader("     9    L1    L2    C1    P1    P2    D1    D2    S1    S2") +
      " 04  6 10  0  0 30.0000000  0  2G04G21\n" +
      Field(-4163185.462, ' ', '7') + Field(-3221253.335, '1', '7') + Field(24236698.057) +
      Field(24236698.474) + Field(24236701.852) + "\n" + Field(-3468.113) + Field(-2702.427) +
      Field(39.020) + Field(36.240) + "\n" +
      // G21 acquiring: C1 written as zero, so its channel is left out.
      Field(-312675.164, '1', '9') + Field(-83103.998, '1', '5') + Field(0.0, '7', '7') +
      Field(25878564.817, '1') + Field(25913429.400, '1') + "\n" + Field(3360.466, '1') +
      Field(2621.399, '1') + Field(651.310, '1') + Field(11.920, '1') + "\n";
  const Imported got = Import(dir, text);
  ASSERT_EQ(0, got.result) << got.error;
  EXPECT_EQ(dir.File("set") + "/Bab__A04.162", got.summary.observationFile);
  EXPECT_STREQ("Z-XII3", got.summary.model);
  EXPECT_EQ(2, got.summary.receiverType);
  EXPECT_EQ(1, got.summary.noRange);
  ASSERT_EQ(kFileHeader + kEpochHeader + 97, got.b.size());

  const uint8_t* h = got.b.data();
  EXPECT_EQ(0, std::memcmp(h, "version:", 8));
  EXPECT_EQ(0, std::memcmp(h + 11, "Z-XII3\0\0\0", 9));
  const uint8_t* e = h + kFileHeader;
  EXPECT_EQ(0, std::memcmp(e, "ab__", 4));  // marker "ab" kept as written, padded
  EXPECT_EQ(4 * 86400.0 + 30.0, LoadF64(e + 4));
  EXPECT_EQ(1000000.0, LoadF64(e + 12));
  EXPECT_EQ(2000000.0, LoadF64(e + 20));
  EXPECT_EQ(3000000.0, LoadF64(e + 28));
  EXPECT_EQ(0.0, LoadF64(e + 48));
  EXPECT_EQ(1, e[66]);

  const uint8_t* c = e + kEpochHeader;
  EXPECT_EQ(4, c[0]);
  EXPECT_DOUBLE_EQ(24236698.057 / kC, LoadF64(c + 4));
  EXPECT_EQ(128, c[19]);                  // first epoch of the track
  EXPECT_EQ(39, c[21]);                   // S1 39.020 dB-Hz
  EXPECT_EQ(34681130, LoadI32(c + 23));   // -(-3468.113 Hz) / 0.0001
  EXPECT_EQ(4163185.462, LoadF64(c + 27));
  EXPECT_DOUBLE_EQ(24236698.474 / kC, LoadF64(c + 35));  // P1 block
  EXPECT_EQ(128, c[50]);
  EXPECT_EQ(39, c[52]);
  EXPECT_EQ(34681130, LoadI32(c + 54));
  EXPECT_EQ(4163185.462, LoadF64(c + 58));
  EXPECT_DOUBLE_EQ(24236701.852 / kC, LoadF64(c + 66));  // P2 block
  EXPECT_EQ(128, c[81]);
  EXPECT_EQ(36, c[83]);
  EXPECT_EQ(27024270, LoadI32(c + 85));
  EXPECT_EQ(3221253.335, LoadF64(c + 89));

  // Ephemeris records: 129 bytes each, semicircles where the record wants them.
  ASSERT_EQ(2u * 129u, got.e.size());
  const double pi = 3.141592653589793;
  const uint8_t* r = got.e.data();
  EXPECT_EQ(5, r[0]);
  EXPECT_EQ(1274, LoadI16(r + 1));
  EXPECT_EQ(345606, LoadI32(r + 3));
  EXPECT_EQ(static_cast<float>(-.419095158577e-08), LoadF32(r + 7));
  EXPECT_EQ(346, LoadI32(r + 11));
  EXPECT_EQ(4 * 86400 + 7200, LoadI32(r + 15));
  EXPECT_EQ(static_cast<float>(.341222621500e-04), LoadF32(r + 27));
  EXPECT_EQ(90, LoadI32(r + 31));
  EXPECT_FLOAT_EQ(static_cast<float>(.501449458811e-08 / pi), LoadF32(r + 35));
  EXPECT_DOUBLE_EQ(.237108733125e+01 / pi, LoadF64(r + 39));
  EXPECT_DOUBLE_EQ(.515376806831e+04, LoadF64(r + 55));
  EXPECT_EQ(352800, LoadI32(r + 63));
  EXPECT_DOUBLE_EQ(.935617824444e+00 / pi, LoadF64(r + 107));
  EXPECT_EQ(0, LoadI16(r + 125));
  EXPECT_EQ(1, LoadI16(r + 129 + 125));
  EXPECT_EQ(1, got.summary.unhealthy);

  EXPECT_EQ("************ SITE INFORMATION *********************************\n"
            "RECEIVER SESSION\nab__ 1274 4 345630\nANTENNA\nHEIGHT\nBEFORE 1.2500\n",
            got.s);
}

TEST(RinexImport, DopplerComesFromThePhaseRateWithoutD1) {
  TempDir dir;
  // L1 1000, 1300, 1700, 2200 cycles at 0, 30, 60, 90 s; loss of lock at 90 s.
  //   epoch 0: -(1300 - 1000) / 30 = -10 Hz           -> field  100000
  //   epoch 1: -(1700 - 1000) / 60 = -11.6667 Hz      -> field  116667
  //   epoch 2: backward only, -(1700 - 1300) / 30     -> field  133333
  //   epoch 3: lock lost, no later epoch              -> field  0
  std::string text = ObsHeader("     2    C1    L1", "ASHTECH G-12");
  const double phases[4] = {1000.0, 1300.0, 1700.0, 2200.0};
  for (int i = 0; i < 4; ++i) {
    char line[64];
    std::snprintf(line, sizeof line, " 04  6 10  0  %d %2d.0000000  0  1G07\n", i / 2, (i % 2) * 30);
    text += line + Field(21000000.0 + i) + Field(phases[i], i == 3 ? '1' : ' ', '5') + "\n";
  }
  const Imported got = Import(dir, text, "", "XY");
  ASSERT_EQ(0, got.result) << got.error;
  EXPECT_EQ(1, got.summary.receiverType);
  ASSERT_EQ(kFileHeader + 4 * (kEpochHeader + 35), got.b.size());
  const int32_t fields[4] = {100000, 116667, 133333, 0};
  const uint8_t warnings[4] = {128, 0, 0, 128};
  for (int i = 0; i < 4; ++i) {
    const uint8_t* c = got.b.data() + kFileHeader + i * (kEpochHeader + 35) + kEpochHeader;
    EXPECT_EQ(fields[i], LoadI32(c + 23)) << i;
    EXPECT_EQ(warnings[i], c[19]) << i;
    EXPECT_EQ(33, c[21]) << i;  // SSI 5 -> 6 * 5 + 3 dB-Hz
    EXPECT_EQ(-phases[i], LoadF64(c + 27)) << i;
  }
  EXPECT_EQ(3, got.summary.dopplerFromPhase);
  EXPECT_EQ(1, got.summary.noDoppler);
}

// The receiver position of the epoch headers: APPROX POSITION XYZ, zeros, or moved 30 km,
// 17320.508 m (30 km / sqrt 3) each east, north and up of the BAHR header position, the
// local frame taken here from Bowring's closed-form latitude.
TEST(RinexImport, EpochHeadersCarryTheChosenReceiverPosition) {
  const double approx[3] = {3633909.1016, 4425275.5033, 2799861.2736};
  std::string text = ObsHeader("     2    C1    L1", "ASHTECH G-12");
  const std::string given = "  1000000.0000  2000000.0000  3000000.0000";
  text.replace(text.find(given), given.size(), "  3633909.1016  4425275.5033  2799861.2736");
  text += " 04  6 10  0  0  0.0000000  0  1G07\n" + Field(21000000.0) + Field(1000.0) + "\n";

  const double a = 6378137.0, b = 6356752.314245, e2 = 1.0 - b * b / (a * a);
  const double p = std::hypot(approx[0], approx[1]);
  const double theta = std::atan2(approx[2] * a, p * b);
  const double lat = std::atan2(approx[2] + e2 * a * a / b * std::pow(std::sin(theta), 3),
                                p - e2 * a * std::pow(std::cos(theta), 3));
  const double lon = std::atan2(approx[1], approx[0]);
  const double east[3] = {-std::sin(lon), std::cos(lon), 0.0};
  const double north[3] = {-std::sin(lat) * std::cos(lon), -std::sin(lat) * std::sin(lon),
                           std::cos(lat)};
  const double up[3] = {std::cos(lat) * std::cos(lon), std::cos(lat) * std::sin(lon),
                        std::sin(lat)};
  const struct {
    HeaderPosition mode;
    double move_m, e_m, n_m, u_m;
    bool zeros;
  } cases[] = {{HeaderPosition::kRinex, 0.0, 0.0, 0.0, 0.0, false},
               {HeaderPosition::kZeros, 0.0, 0.0, 0.0, 0.0, true},
               {HeaderPosition::kMoved, 30000.0, 17320.508, 17320.508, 17320.508, false}};
  for (const auto& c : cases) {
    TempDir dir;
    const Imported got = Import(dir, text, "", "", c.mode, c.move_m);
    ASSERT_EQ(0, got.result) << got.error;
    const uint8_t* e = got.b.data() + kFileHeader;
    double d[3];
    for (int i = 0; i < 3; ++i) {
      const double x = LoadF64(e + 12 + 8 * i);
      EXPECT_EQ(c.zeros, x == 0.0) << i;
      d[i] = x - approx[i];
    }
    if (c.zeros) continue;
    EXPECT_NEAR(c.e_m, d[0] * east[0] + d[1] * east[1] + d[2] * east[2], 1e-3);
    EXPECT_NEAR(c.n_m, d[0] * north[0] + d[1] * north[1] + d[2] * north[2], 1e-3);
    EXPECT_NEAR(c.u_m, d[0] * up[0] + d[1] * up[1] + d[2] * up[2], 1e-3);
  }

  RinexImportOptions options;
  char error[kTextSize] = "";
  EXPECT_EQ(0, ParseHeaderPosition("-2500.5", &options, error));
  EXPECT_EQ(HeaderPosition::kMoved, options.headerPosition);
  EXPECT_EQ(-2500.5, options.headerMove_m);
  EXPECT_EQ(0, ParseHeaderPosition("zeros", &options, error));
  EXPECT_EQ(HeaderPosition::kZeros, options.headerPosition);
  for (const char* bad : {"30km", "", "nan", "north"}) {
    EXPECT_EQ(-1, ParseHeaderPosition(bad, &options, error)) << bad;
    EXPECT_EQ("header position '" + std::string(bad) +
                  "' is neither rinex, zeros nor a distance in metres",
              error);
  }
}

TEST(RinexImport, ThirteenSatellitesKeepTwelveAndGapsRestartTracking) {
  TempDir dir;
  std::string text = ObsHeader("     2    C1    L1", "ASHTECH G-12");
  auto epoch = [&](int second, const std::vector<int>& prns) {
    char line[128];
    std::snprintf(line, sizeof line, " 04  6 10  0  0 %2d.0000000  0%3d", second,
                  static_cast<int>(prns.size()));
    text += line;
    for (size_t i = 0; i < prns.size(); ++i) {
      if (i == 12) text += "\n" + std::string(32, ' ');
      char sat[8];
      std::snprintf(sat, sizeof sat, "G%02d", prns[i]);
      text += sat;
    }
    text += "\n";
    for (int prn : prns) text += Field(20000000.0 + prn) + Field(100.0 * prn + second) + "\n";
  };
  epoch(0, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
  epoch(30, {13, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});  // G13 new: left out
  epoch(59, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 13});      // G13 first written here
  const Imported got = Import(dir, text);  // G-12 from the header
  ASSERT_EQ(0, got.result) << got.error;
  EXPECT_EQ(1, got.summary.overLimit);
  const size_t epochBytes = kEpochHeader + 12 * 35;
  ASSERT_EQ(kFileHeader + 3 * epochBytes, got.b.size());
  const uint8_t* second = got.b.data() + kFileHeader + epochBytes;
  EXPECT_EQ(12, second[66]);
  for (int i = 0; i < 12; ++i) {
    const uint8_t* c = second + kEpochHeader + i * 35;
    EXPECT_EQ(i + 1, c[0]);
    EXPECT_EQ(0, c[19]) << i;  // continuing tracks
  }
  const uint8_t* third = got.b.data() + kFileHeader + 2 * epochBytes + kEpochHeader;
  EXPECT_EQ(13, third[11 * 35]);
  EXPECT_EQ(128, third[11 * 35 + 19]);  // not written the epoch before
  EXPECT_EQ(0, third[19]);
}

TEST(RinexImport, FailuresNameTheFileAndLeaveNoSet) {
  TempDir dir;
  const std::string header = ObsHeader("     2    C1    L1");  // 7 lines
  struct Case {
    const char* name;
    std::string text;
    std::string receiver;
    std::string error;
  } cases[] = {
      {"cut record", header + " 04  6 10  0  0  0.0000000  0  1G04\n" + Field(2e7) + Field(5.0) +
                         "\n 04  6 10  0  0 30.0000000  0  2G04G05\n" + Field(2e7) + "\n",
       "", dir.File("in.04o") + ":11: file ends inside the epoch of line 10 (satellite G05)"},
      {"unknown receiver", ObsHeader("     2    C1    L1", "ASHTECH Z-XTREME"), "",
       "receiver 'ASHTECH Z-XTREME' of REC # / TYPE / VERS is not a model the receiver "
       "detection knows: give --receiver (ca, dual, l2-codeless, glonass or a model text)"},
      {"bad receiver word", header, "z12",
       "receiver 'z12' is neither ca, dual, l2-codeless, glonass nor a known model text (such "
       "as Z-XII3, G-12, L-XII, GG-24)"},
      {"no range observable", ObsHeader("     1    L1"), "",
       dir.File("in.04o") + ":7: # / TYPES OF OBSERV lists neither C1 nor P1"},
      {"no epochs", header, "", dir.File("in.04o") + ": no observation epochs"},
      {"nothing to move", std::string(header).replace(header.find("  1000000"), 42,
                                                      "        0.0000        0.0000        0.0000"),
       "", dir.File("in.04o") + ":7: header has no APPROX POSITION XYZ to move"},
  };
  for (const Case& c : cases) {
    const bool move = std::string(c.name) == "nothing to move";
    const Imported got = Import(dir, c.text, c.receiver, "",
                                move ? HeaderPosition::kMoved : HeaderPosition::kRinex, 30000.0);
    EXPECT_EQ(-1, got.result) << c.name;
    EXPECT_EQ(c.error, got.error) << c.name;
    std::error_code ignored;
    EXPECT_TRUE(!std::filesystem::exists(dir.File("set"), ignored) ||
                std::filesystem::is_empty(dir.File("set"), ignored))
        << c.name;
  }
}

// The bundled files cut at many byte counts and with bytes overwritten: every import either
// succeeds or fails with a "file:line:" message and leaves no file; none may crash (the
// sanitizer build runs this too).
TEST(RinexImport, DamagedRealFilesFailCleanly) {
  TempDir dir;
  const std::vector<uint8_t> obs = ReadFileBytes(SampleFile("bahr1620.04o"));
  const std::vector<uint8_t> nav = ReadFileBytes(SampleFile("bahr1620.04n"));
  ASSERT_FALSE(obs.empty());
  ASSERT_FALSE(nav.empty());
  int failures = 0;
  for (int variant = 0; variant < 120; ++variant) {
    std::vector<uint8_t> o = obs, n = nav;
    const size_t at = static_cast<size_t>(variant) * 1201 % obs.size();
    if (variant % 3 == 0) {
      o.resize(at);                                   // cut observation file
    } else if (variant % 3 == 1) {
      for (size_t i = at; i < at + 7 && i < o.size(); ++i) o[i] = static_cast<uint8_t>(0x80 + i);
    } else {
      n.resize(static_cast<size_t>(variant) * 977 % nav.size());  // cut navigation file
    }
    ASSERT_TRUE(WriteFileBytes(dir.File("d.04o"), o));
    ASSERT_TRUE(WriteFileBytes(dir.File("d.04n"), n));
    RinexImportOptions options;
    options.observationPath = dir.File("d.04o");
    options.navigationPath = dir.File("d.04n");
    options.outputDir = dir.File("out");
    RinexImportSummary summary;
    char error[kTextSize] = "";
    if (ImportRinex(options, &summary, error) == 0) {
      std::filesystem::remove_all(dir.File("out"));
      continue;
    }
    ++failures;
    const std::string text = error;
    EXPECT_TRUE(text.rfind(dir.File("d.04o"), 0) == 0 || text.rfind(dir.File("d.04n"), 0) == 0 ||
                text.rfind("receiver", 0) == 0) << variant << ": " << text;
    std::error_code ignored;
    EXPECT_TRUE(!std::filesystem::exists(dir.File("out"), ignored) ||
                std::filesystem::is_empty(dir.File("out"), ignored)) << variant;
  }
  EXPECT_GT(failures, 100);  // nearly every cut and overwrite falls inside a record

  // Cut right before the epoch of 00:30:00: a whole file of the first 60 epochs.
  const std::string text(obs.begin(), obs.end());
  const size_t cut = text.find("\n 04  6 10  0 30  0.0000000");
  ASSERT_NE(std::string::npos, cut);
  ASSERT_TRUE(WriteFileBytes(dir.File("d.04o"), std::vector<uint8_t>(obs.begin(),
                                                                     obs.begin() + cut + 1)));
  ASSERT_TRUE(WriteFileBytes(dir.File("d.04n"), nav));
  RinexImportOptions options;
  options.observationPath = dir.File("d.04o");
  options.navigationPath = dir.File("d.04n");
  options.outputDir = dir.File("out");
  RinexImportSummary summary;
  char error[kTextSize] = "";
  ASSERT_EQ(0, ImportRinex(options, &summary, error)) << error;
  EXPECT_EQ(60, summary.epochs);
}

// Runs the round trip for one real set and compares every satellite of every GPB epoch
// with the RINEX values, within the precision of each stored field.
void RoundTrip(const std::string& obs, const std::string& nav, size_t expectedEpochs) {
  TempDir dir;
  RinexImportOptions options;
  options.observationPath = obs;
  options.navigationPath = nav;
  options.outputDir = dir.File("set");
  RinexImportSummary summary;
  char error[kTextSize] = "";
  ASSERT_EQ(0, ImportRinex(options, &summary, error)) << error;

  const testing_support::ConversionRun run =
      testing_support::RunConversion(summary.observationFile, dir.File("out.gpb"), {}, false);
  ASSERT_EQ(0, run.result) << run.errorText;
  EXPECT_EQ(expectedEpochs, run.request.EpochsWritten);
  EXPECT_EQ(static_cast<uint32_t>(summary.ephemerides), run.request.EphemeridesRead);

  RinexObsReader rinex;
  ASSERT_EQ(0, rinex.Open(obs.c_str())) << rinex.errorText();
  const bool hasS1 = rinex.header().typeIndex[kObsS1] >= 0;
  GpbReader gpb;
  ASSERT_EQ(0, gpb.Open(dir.File("out.gpb").c_str())) << gpb.errorText();
  RinexObsEpoch epoch;
  GpbReadEpoch read;
  size_t epochs = 0, sats = 0;
  double lastTime[33] = {};
  while (rinex.ReadEpoch(&epoch) == 1) {
    ASSERT_EQ(1, gpb.ReadEpoch(&read)) << gpb.errorText();
    const gpb_epoch_type& g = read.epoch;
    EXPECT_EQ(epoch.tow_s, g.rcvTime);
    int k = 0;
    for (const RinexSatObs& sat : epoch.sats) {
      const RinexObsValue* c1 = rinex.Value(sat, kObsC1);
      if (!c1->present || c1->value == 0.0) continue;  // left out while acquiring
      ASSERT_LT(k, g.nsat);
      const gpb_sat_type& s = g.sat[k++];
      ++sats;
      ASSERT_EQ(static_cast<uint32_t>(sat.prn), s.prn);
      EXPECT_NEAR(c1->value, s.range1, 1e-6);
      const RinexObsValue* l1 = rinex.Value(sat, kObsL1);
      EXPECT_EQ(l1->present ? l1->value : 0.0, s.phase1);
      const RinexObsValue* l2 = rinex.Value(sat, kObsL2);
      EXPECT_EQ(l2->present ? l2->value : 0.0, s.phase2);
      const RinexObsValue* p2 = rinex.Value(sat, kObsP2);
      if (p2->present) {
        EXPECT_NEAR(p2->value, s.range2, 1e-6);
      }
      const RinexObsValue* d1 = rinex.Value(sat, kObsD1);
      if (d1->present) {
        EXPECT_NEAR(d1->value, s.doppler1, 1e-3);
      }  // f32 in the GPB file
      if (hasS1) {
        const RinexObsValue* s1 = rinex.Value(sat, kObsS1);
        const double expected = s1->value < 255.5 ? std::round(s1->value) : 0.0;
        EXPECT_EQ(expected, s.snr1);
      } else if (l1->ssi != 0) {
        EXPECT_EQ(6.0 * l1->ssi + 3.0, s.snr1);
      }
      // Lock time: restarts at loss of lock and after a gap, else grows by the interval.
      if (l1->lli & kLliLossOfLock) {
        EXPECT_EQ(0.0, s.lock1);
      }
      if (s.lock1 > 0.0) {
        EXPECT_NEAR(epoch.tow_s - lastTime[sat.prn], 30.0, 1e-9);
      }
      lastTime[sat.prn] = epoch.tow_s;
    }
    EXPECT_EQ(k, g.nsat);
    ++epochs;
  }
  EXPECT_EQ(0, gpb.ReadEpoch(&read));
  EXPECT_EQ(expectedEpochs, epochs);
  EXPECT_EQ(static_cast<size_t>(summary.channels), sats);
}

TEST(RinexImport, RoundTripGivesBackTheValuesOfTheBundledSet) {
  RoundTrip(SampleFile("bahr1620.04o"), SampleFile("bahr1620.04n"), 120);
}

TEST(RinexImport, RoundTripGivesBackTheValuesOfTheSharedSets) {
  const std::string bahr = SharedDataFile("bahr-2004-162/bahr1620.04o");
  const std::string usno = SharedDataFile("usno-2005-020/usno0200.05o");
  if (bahr.empty() && usno.empty()) GTEST_SKIP() << "no shared data sets";
  if (!bahr.empty()) {
    RoundTrip(bahr, SharedDataFile("bahr-2004-162/bahr1620.04n"), 120);
  }
  if (!usno.empty()) {
    RoundTrip(usno, SharedDataFile("usno-2005-020/brdc0200.05n"), 2880);
  }
}

#ifdef TALVERIN_CLI_PATH
int RunCli(const std::string& arguments, std::string* out) {
  const std::string command = std::string(TALVERIN_CLI_PATH) + " " + arguments + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  char chunk[4096];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) out->append(chunk, n);
  const int raw = pclose(pipe);
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

TEST(RinexImportCommand, ImportsTheSampleAndRefusesGarbage) {
  TempDir dir;
  std::string out;
  EXPECT_EQ(0, RunCli("import-rinex " + SampleFile("bahr1620.04o") + " " +
                          SampleFile("bahr1620.04n") + " " + dir.File("set"), &out)) << out;
  EXPECT_NE(std::string::npos, out.find("epochs written: 120")) << out;
  EXPECT_TRUE(rinex_test::FileExists(dir.File("set/BBAHRA04.162")));
  EXPECT_TRUE(rinex_test::FileExists(dir.File("set/EBAHRA04.162")));
  EXPECT_TRUE(rinex_test::FileExists(dir.File("set/SBAHRA04.162")));

  ASSERT_TRUE(WriteFileText(dir.File("junk.04o"), "not a RINEX file\n"));
  out.clear();
  EXPECT_EQ(2, RunCli("import-rinex " + dir.File("junk.04o") + " " + SampleFile("bahr1620.04n") +
                          " " + dir.File("junk"), &out));
  EXPECT_NE(std::string::npos,
            out.find(dir.File("junk.04o") + ":1: first line is not RINEX VERSION / TYPE"))
      << out;

  out.clear();
  EXPECT_EQ(2, RunCli("import-rinex --header-position north " + SampleFile("bahr1620.04o") + " " +
                          SampleFile("bahr1620.04n") + " " + dir.File("north"), &out));
  EXPECT_NE(std::string::npos,
            out.find("header position 'north' is neither rinex, zeros nor a distance in metres"))
      << out;
  EXPECT_FALSE(std::filesystem::exists(dir.File("north")));

  out.clear();
  EXPECT_EQ(0, RunCli("import-rinex --help", &out));
  EXPECT_NE(std::string::npos, out.find("derived from the L1 phase rate")) << out;
}
#endif

}  // namespace
}  // namespace talverin
