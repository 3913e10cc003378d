// The RINEX import and its readers: the bytes of the download set checked against
// hand-computed values for small written files (channel layout, Doppler from the phase rate,
// lock restarts, omitted channels, site records, the epoch headers' position) with the quirks
// of hand-written RINEX, malformed files refused with "file:line: reason" and no set left,
// and damaged real files. The values of real sets: the round trips of the RINEX
// export (tests/rinex) and the accuracy test.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "base/byte_order.h"
#include "dataset/byte_builder.h"
#include "rinex/rinex_import.h"
#include "rinex/rinex_obs_reader.h"
#include "tests/rinex/rinex_test_data.h"
#include "tests/support/test_support.h"

namespace talverin {
namespace {

using rinex_test::HeaderLine;
using rinex_test::SampleFile;
using testing_support::TempDir;

constexpr size_t kFileHeader = 90, kEpochHeader = 67;

// Seven header lines.
std::string ObsHeader(const std::string& version = "     2.11",
                      const std::string& types = "     2    C1    L1",
                      const std::string& receiver = "ASHTECH Z-XII3") {
  return HeaderLine(version + "           OBSERVATION DATA    G", "RINEX VERSION / TYPE") +
         HeaderLine("ab", "MARKER NAME") +
         HeaderLine("1                   " + receiver, "REC # / TYPE / VERS") +
         HeaderLine("  1000000.0000  2000000.0000  3000000.0000", "APPROX POSITION XYZ") +
         HeaderLine("        1.2500        0.0000        0.0000", "ANTENNA: DELTA H/E/N") +
         HeaderLine(types, "# / TYPES OF OBSERV") + HeaderLine("", "END OF HEADER");
}

// One observation field: value, LLI and SSI characters.
std::string Field(double value, char lli = ' ', char ssi = ' ') {
  char text[32];
  std::snprintf(text, sizeof text, "%14.3f%c%c", value, lli, ssi);
  return text;
}

const std::string kNavHeader =
    HeaderLine("     2.10           N", "RINEX VERSION / TYPE") + HeaderLine("", "END OF HEADER");
// PRN 5 of the bundled navigation file.
const std::string kNavRecord =
    " 5 04  6 10  2  0  0.0  .341222621500D-04  .181898940355D-11  .000000000000D+00\n"
    "     .900000000000D+02 -.386250000000D+02  .501449458811D-08  .237108733125D+01\n"
    "    -.217743217945D-05  .526548980270D-02  .109504908323D-04  .515376806831D+04\n"
    "     .352800000000D+06 -.540167093277D-07 -.152094815689D+01 -.912696123123D-07\n"
    "     .935617824444D+00  .151375000000D+03  .833656182315D+00 -.815033949435D-08\n"
    "    -.124290891500D-09  .100000000000D+01  .127400000000D+04  .000000000000D+00\n"
    "     .200000000000D+01  .000000000000D+00 -.419095158577D-08  .346000000000D+03\n"
    "     .345606000000D+06  .400000000000D+01\n";

const std::string kNavFile = kNavHeader + kNavRecord;

struct Imported {
  int32_t result = -1;
  RinexImportSummary summary;
  std::string error;
  std::vector<uint8_t> b;  // the observation file
  std::string s;           // the site file
};

// Imports obsText and navText as in.04o and in.04n of dir into dir/set; headerPosition is
// an import-rinex --header-position word.
Imported Import(const TempDir& dir, const std::string& obsText, const std::string& receiver = "",
                const char* headerPosition = "rinex", const std::string& navText = kNavFile) {
  WriteFileText(dir.File("in.04o"), obsText);
  WriteFileText(dir.File("in.04n"), navText);
  RinexImportOptions options{dir.File("in.04o"), dir.File("in.04n"), dir.File("set"), receiver, ""};
  Imported out;
  char error[kTextSize] = "";
  out.result = ParseHeaderPosition(headerPosition, &options, error) == 0
                   ? ImportRinex(options, &out.summary, error)
                   : -2;
  out.error = error;
  out.b = ReadFileBytes(out.summary.observationFile);  // empty when nothing was written
  out.s = ReadFileText(out.summary.siteFile);
  return out;
}

// No file of a refused set is left behind.
bool NoSetLeft(const TempDir& dir) {
  return !std::filesystem::exists(dir.File("set")) || std::filesystem::is_empty(dir.File("set"));
}

// Doppler from the phase rate where the file has no D1, SNR from the signal strength digit,
// in a file with the quirks of hand-written RINEX: version "2", lower-case labels, two-digit
// years across 2000, a satellite without its system letter, an event record that changes
// the observables. L1 1000, 1300, 1700, 2200 cycles every 30 s; loss of lock at the last:
//   epoch 0: -(1300 - 1000) / 30 = -10 Hz           -> field  100000
//   epoch 1: -(1700 - 1000) / 60 = -11.6667 Hz      -> field  116667
//   epoch 2: backward only, -(1700 - 1300) / 30     -> field  133333
//   epoch 3: lock lost, no later epoch              -> field  0
TEST(RinexImport, DopplerComesFromThePhaseRateWithoutD1) {
  TempDir dir;
  std::string text = ObsHeader("     2   ", "     2    C1    L1", "ASHTECH G-12");
  text.replace(text.find("MARKER NAME"), 11, "marker name");
  text.replace(text.find("APPROX POSITION XYZ"), 19, "approx position xyz");
  const double phases[4] = {1000.0, 1300.0, 1700.0, 2200.0};
  const char* epochs[4] = {
      " 99 12 31 23 59  0.0000000  0  1G07\n", " 99 12 31 23 59 30.0000000  0  1  7\n",
      " 00  1  1  0  0  0.0000000  0  1G07\n", " 00  1  1  0  0 30.0000000  0  1G07\n"};
  for (int i = 0; i < 4; ++i) {
    const std::string range = Field(21000000.0 + i),
                      phase = Field(phases[i], i == 3 ? '1' : ' ', '5');
    text += epochs[i] + (i < 2 ? range + phase : phase + range) + "\n";
    if (i == 1) {
      text += std::string(28, ' ') + "4  2\n" +
              HeaderLine("     2    L1    C1", "# / TYPES OF OBSERV") + HeaderLine("x", "COMMENT");
    }
  }
  const Imported got = Import(dir, text);
  ASSERT_EQ(0, got.result) << got.error;
  ASSERT_EQ(kFileHeader + 4 * (kEpochHeader + 35), got.b.size());
  // 1999-12-31 is day 5 of GPS week 1042 (week 1024 began 1999-08-22), 2000-01-01 day 6.
  const double tows[4] = {5 * 86400.0 + 86340.0, 5 * 86400.0 + 86370.0, 6 * 86400.0,
                          6 * 86400.0 + 30.0};
  const int32_t fields[4] = {100000, 116667, 133333, 0};
  const uint8_t warnings[4] = {128, 0, 0, 128};
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    const uint8_t* e = got.b.data() + kFileHeader + i * (kEpochHeader + 35);
    const uint8_t* c = e + kEpochHeader;
    EXPECT_DOUBLE_EQ((21000000.0 + i) / 299792458.0, LoadF64(c + 4));  // m / (m/s)
    // SNR: SSI 5 -> 6 * 5 + 3 dB-Hz.
    EXPECT_FIELDS(FIELD_IS(LoadF64(e + 4), tows[i]), FIELD_IS(c[0], 7) /* PRN */,
                  FIELD_IS(LoadI32(c + 23), fields[i]), FIELD_IS(c[19], warnings[i]),
                  FIELD_IS(c[21], 33) /* SNR */, FIELD_IS(LoadF64(c + 27), -phases[i]));
  }
  const RinexImportSummary& m = got.summary;
  EXPECT_FIELDS(FIELD_IS(m.receiverType, 1), FIELD_IS(m.dopplerFromPhase, 3),
                FIELD_IS(m.noDoppler, 1), FIELD_IS(m.eventRecords, 1));
}

// The receiver position of the epoch headers (bytes 12-35): APPROX POSITION XYZ, zeros, or
// that position moved 30 km; the --header-position words that choose them.
TEST(RinexImport, EpochHeadersCarryTheChosenReceiverPosition) {
  std::string text = ObsHeader("     2.11", "     2    C1    L1", "ASHTECH G-12");
  text += " 04  6 10  0  0  0.0000000  0  1G07\n" + Field(21000000.0) + Field(1000.0) + "\n";
  const struct {
    const char* word;
    double distance_m;  // from the APPROX POSITION XYZ (1000, 2000, 3000 km); -1: zeros
  } cases[] = {{"rinex", 0.0}, {"zeros", -1.0}, {"30000", 30000.0}, {"-2500.5", 2500.5}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.word);
    TempDir dir;
    const Imported got = Import(dir, text, "", c.word);
    ASSERT_EQ(0, got.result) << got.error;
    // The marker "ab" kept as written and padded; the session's start in the site file.
    EXPECT_EQ(dir.File("set") + "/Bab__A04.162", got.summary.observationFile);
    EXPECT_EQ(0, std::memcmp(got.b.data() + kFileHeader, "ab__", 4));
    EXPECT_EQ(
        "************ SITE INFORMATION *********************************\n"
        "RECEIVER SESSION\nab__ 1274 4 345600\nANTENNA\nHEIGHT\nBEFORE 1.2500\n",
        got.s);
    const uint8_t* p = got.b.data() + kFileHeader + 12;
    if (c.distance_m < 0.0) {
      for (int k = 0; k < 3; ++k) EXPECT_EQ(LoadF64(p + 8 * k), 0.0) << "coordinate " << k;
    } else {
      EXPECT_NEAR(c.distance_m,
                  std::hypot(LoadF64(p) - 1e6, LoadF64(p + 8) - 2e6, LoadF64(p + 16) - 3e6), 1e-6);
    }
  }
  RinexImportOptions options;
  char error[kTextSize] = "";
  // The text: import-rinex's row in cli_test.
  for (const char* bad : {"30km", "", "nan"})
    EXPECT_EQ(-1, ParseHeaderPosition(bad, &options, error)) << bad;
}

// Every refusal of the import and of its readers: the exact "file:line: reason" text, and no
// file of the set left behind.
TEST(RinexImport, MalformedInputIsRefusedWithFileLineAndReason) {
  TempDir dir;
  const std::string obs = dir.File("in.04o"), nav = dir.File("in.04n");
  const std::string header = ObsHeader();  // 7 lines
  const std::string epoch = " 04  6 10  0  0  0.0000000  0  2G04G05\n";
  const std::string sat = Field(24236698.057) + Field(-4163185.462, ' ', '7') + "\n";
  const std::string good = header + " 04  6 10  0  0  0.0000000  0  1G04\n" + sat;
  const std::string firstNav = kNavRecord.substr(0, kNavRecord.find('\n') + 1),
                    orbit = kNavRecord.substr(firstNav.size(), 80);
  const std::string position = "  1000000.0000  2000000.0000  3000000.0000",
                    end = HeaderLine("", "END OF HEADER");
  const auto Version = [](const std::string& v) { return HeaderLine(v, "RINEX VERSION / TYPE"); };
  struct Case {
    std::string obsText, error;
    std::string navText = kNavFile, receiver = "";
    const char* headerPosition = "rinex";
  } cases[] = {
      // Observation file header.
      {HeaderLine("SITE", "MARKER NAME"), ":1: first line is not RINEX VERSION / TYPE"},
      {ObsHeader("     3.02"), ":1: RINEX version 3.02 is not supported (2.00 to 2.11 are read)"},
      {Version("     2.10           N"), ":1: file type 'N' is not an observation file (O)"},
      {header.substr(0, header.rfind(end)), ":6: file ends before END OF HEADER"},
      {Version("     2.10           O") + HeaderLine(position, "APPROX POSITION XYZ") + end,
       ":3: header has no # / TYPES OF OBSERV line"},
      {Version("     2.10           O") + HeaderLine("     1    C1", "# / TYPES OF OBSERV") + end,
       ":3: header has no APPROX POSITION XYZ line"},
      // Observation records.
      {header + epoch + sat, ":9: file ends inside the epoch of line 8 (satellite G05)"},
      {header + epoch + sat + "  2423669x.057\n",
       ":10: C1 of G05, '2423669x.057', is not a number"},
      {header + epoch + sat + "  2423669", ":10: last line has no line end: the file is cut"},
      {header + " 04  6 10  0  0  0.0000000  7  0\n", ":8: epoch flag 7 is not 0 to 6"},
      {header + std::string(28, ' ') + "4  3\n" + HeaderLine("x", "COMMENT"),
       ":9: file ends inside the event record of line 8 (1 of 3 lines)"},
      {header + " 04 13 10  0  0  0.0000000  0  1G04\n" + sat,
       ":8: epoch time 04 13 10 00 00 0.0000000 is not a valid GPS date"},
      {header + " 04  6 10  0  0  0.0000000  0 13G01G02G03G04G05G06G07G08G09G10G11G12\n" + sat,
       ":9: satellite list of the epoch of line 8 continues on a line that does not start with 32 "
       "blanks"},
      {header + " 04  6 10  0  0  0.0000000  0  1G?4\n",
       ":8: satellite 1 of 1, 'G?4', is not a system letter and a number"},
      {header + " 04  6 10  0  0  0.0000000  0  1G04\n  24236698.057x\n",
       ":9: C1 of G04: loss-of-lock or signal digit 'x ' is not a digit"},
      // Navigation file.
      {good, ":1: file type 'G' is not a GPS navigation file (N)",
       Version("     2.10           G")},
      {good, ":1: file ends before END OF HEADER", Version("     2.10           N")},
      {good, ":5: file ends inside the ephemeris record of line 3 (PRN 5)",
       kNavHeader + firstNav + orbit + orbit},
      {good, ":3: PRN is not a GPS satellite number 1 to 32",
       kNavHeader + "40" + kNavRecord.substr(2)},
      {good, ":5: orbit value 1 of PRN 5 is not a number",
       kNavHeader + firstNav + orbit + "     .9000000x0000D+02\n"},
      {good, ":3: toe of PRN 5 is out of range",
       kNavHeader + firstNav + orbit + orbit + "     .900000000000D+12\n" + orbit + orbit + orbit +
           orbit},
      // What the import needs beyond readable files.
      {ObsHeader("     2.11", "     2    C1    L1", "ASHTECH Z-XTREME"),
       "receiver 'ASHTECH Z-XTREME' of REC # / TYPE / VERS is not a model the receiver "
       "detection knows: give --receiver (ca, dual, l2-codeless, glonass or a model text)"},
      {header,
       "receiver 'z12' is neither ca, dual, l2-codeless, glonass nor a known model text (such as "
       "Z-XII3, "
       "G-12, L-XII, GG-24)",
       kNavFile, "z12"},
      {ObsHeader("     2.11", "     1    L1"), ":7: # / TYPES OF OBSERV lists neither C1 nor P1"},
      {header, ": no observation epochs"},
      {std::string(header).replace(header.find(position), position.size(),
                                   "        0.0000        0.0000        0.0000"),
       ":7: header has no APPROX POSITION XYZ to move", kNavFile, "", "30000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    const Imported got = Import(dir, c.obsText, c.receiver, c.headerPosition, c.navText);
    // A text from ':' on follows the path of the file refused: the navigation file's in the
    // rows that give their own.
    const std::string path = c.error[0] != ':' ? "" : c.navText != kNavFile ? nav : obs;
    EXPECT_EQ(got.result, -1);
    EXPECT_EQ(got.error, path + c.error);
    EXPECT_TRUE(NoSetLeft(dir));
  }
  std::filesystem::remove(obs);
  RinexObsReader reader;
  EXPECT_EQ(-1, reader.Open(obs.c_str()));
  EXPECT_EQ(obs + ": cannot be opened", std::string(reader.errorText()));
}

// The bundled files cut at many byte counts and with bytes overwritten: every import either
// succeeds or fails with a "file:line:" or receiver message and leaves no file; none may
// crash (the sanitizer build runs this too).
TEST(RinexImport, DamagedRealFilesFailCleanly) {
  TempDir dir;
  const std::string obs = ReadFileText(SampleFile("bahr1620.04o")),
                    nav = ReadFileText(SampleFile("bahr1620.04n"));
  ASSERT_FALSE(obs.empty() || nav.empty());
  int failures = 0;
  for (size_t variant = 0; variant < 120; ++variant) {
    std::string o = obs, n = nav;
    const size_t at = variant * 1201 % obs.size();
    if (variant % 3 == 0) o.resize(at);
    if (variant % 3 == 1) o.replace(at, 7, "\x80\x91\xA2\xB3\xC4\xD5\xE6");
    if (variant % 3 == 2) n.resize(variant * 977 % nav.size());
    const Imported got = Import(dir, o, "", "rinex", n);
    failures += got.result != 0;
    EXPECT_TRUE(got.result == 0 || got.error.rfind(dir.File("in.04o:"), 0) == 0 ||
                got.error.rfind(dir.File("in.04n:"), 0) == 0 || got.error.rfind("receiver", 0) == 0)
        << variant << ": " << got.error;
    EXPECT_TRUE(got.result == 0 || NoSetLeft(dir)) << variant;
    std::filesystem::remove_all(dir.File("set"));
  }
  EXPECT_GT(failures, 100);  // nearly every cut and overwrite falls inside a record
}

}  // namespace
}  // namespace talverin
