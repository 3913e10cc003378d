// RINEX export on the real sets: each set goes through the import and the export; the
// exported values are compared with the original RINEX file value by value, and RTKLIB (an
// independent reader) must read both versions without complaint and give the same
// single-point positions as from the original files. (The program's rinex command on these
// files: cli_test.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "dataset/byte_builder.h"
#include "rinex/rinex_nav_reader.h"
#include "rinex/rinex_obs_reader.h"
#include "tests/rinex/rinex_test_data.h"
#include "tests/support/bahr_navigation.h"
#include "tests/support/test_support.h"

namespace talverin {
namespace {

using rinex_test::RealRinexSet;
using testing_support::RunProgram;
using testing_support::TempDir;

// ECEF positions of rnx2rtkp's single-point solution, by "week tow"; the trace (level 2:
// errors and warnings of its RINEX readers) must stay empty.
std::map<std::string, std::vector<double>> Rtklib(const TempDir& dir, const std::string& obs,
                                                  const std::string& nav, const std::string& tag) {
  std::map<std::string, std::vector<double>> positions;
  const std::string out = dir.File(tag + ".pos");
  const auto run =
      RunProgram({"/usr/bin/rnx2rtkp", "-p", "0", "-e", "-x", "2", "-o", out, obs, nav});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ReadFileText(out + ".trace"), "") << tag;
  std::istringstream text(ReadFileText(out));
  for (std::string line; std::getline(text, line);) {
    std::istringstream fields(line);
    std::string week, tow;
    std::vector<double> xyz(3);
    if (line[0] != '%' && fields >> week >> tow >> xyz[0] >> xyz[1] >> xyz[2])
      positions[week + " " + tow] = xyz;
  }
  return positions;
}

// The original navigation file with what the receiver's ephemeris file cannot carry set as
// the export writes it: SV accuracy (first field of broadcast orbit 6) and fit interval
// (second field of orbit 7) 0. RTKLIB weights satellites by the accuracy.
std::string ReferenceNav(const TempDir& dir, const std::string& original) {
  std::string text = ReadFileText(original);
  const std::string zero = " 0.000000000000D+00";
  size_t at = text.find('\n', text.find("END OF HEADER")) + 1;
  for (int line = 0; at < text.size(); ++line) {
    const size_t end = text.find('\n', at);
    const size_t column = line % 8 == 6 ? 3 : line % 8 == 7 ? 22 : 0;
    if (column != 0 && end - at >= column + 19) text.replace(at + column, 19, zero);
    at = end == std::string::npos ? text.size() : end + 1;
  }
  const std::string path = dir.File("reference.nav");
  EXPECT_TRUE(WriteFileText(path, text));
  return path;
}

// Every value of the observation and navigation files against the original RINEX, within
// the precision of the fields it passed through; then RTKLIB's positions from versions 2.11
// and 3.04 against those from the original files.
TEST(RinexExportRealData, ValuesAndRtklibPositionsMatchTheOriginalRinex) {
  ASSERT_TRUE(std::filesystem::exists("/usr/bin/rnx2rtkp")) << "rnx2rtkp (Debian rtklib) missing";
  const RinexObsCode kCodes[] = {kObsC1, kObsP1, kObsL1, kObsD1, kObsS1,
                                 kObsP2, kObsL2, kObsD2, kObsS2};
  for (const RealRinexSet& set : rinex_test::RealRinexSets()) {
    SCOPED_TRACE(set.name);
    TempDir dir;
    const std::string bFile =
        rinex_test::ImportSet(set.observation, set.navigation, dir.File("set")).observationFile;
    const std::string v2 = dir.File("v2"), v3 = dir.File("v3");
    ASSERT_FALSE(rinex_test::ExportSet(bFile, v2).obs.empty() ||
                 rinex_test::ExportSet(bFile, v3, 3).obs.empty());
    RinexObsReader original, exported;
    ASSERT_EQ(original.Open(set.observation.c_str()), 0);
    ASSERT_EQ(exported.Open((v2 + ".o").c_str()), 0) << exported.errorText();
    std::map<RinexObsCode, long> compared;
    long lossOfLock = 0;
    RinexObsEpoch a, b;
    while (original.ReadEpoch(&a) == 1) {
      ASSERT_EQ(exported.ReadEpoch(&b), 1) << "epoch line " << a.line;
      ASSERT_EQ(a.week, b.week) << "epoch line " << a.line;
      ASSERT_EQ(a.tow_s, b.tow_s) << "epoch line " << a.line;
      size_t kept = 0;
      for (const RinexSatObs& sa : a.sats) {
        const RinexObsValue* c1 = original.Value(sa, kObsC1);
        if (sa.system != 'G' || c1 == nullptr || !c1->present || c1->value == 0.0) continue;
        const auto sb =
            std::find_if(b.sats.begin(), b.sats.end(), [&](auto& s) { return s.prn == sa.prn; });
        if (sb == b.sats.end()) continue;  // the import keeps 12 satellites per epoch
        ++kept;
        for (RinexObsCode code : kCodes) {
          const RinexObsValue *va = original.Value(sa, code), *vb = exported.Value(*sb, code);
          if (va == nullptr || !va->present || va->value == 0.0) continue;
          // S1 and S2 values beyond a byte are the receiver's "acquiring" marks.
          if ((code == kObsS1 || code == kObsS2) && va->value > 255.0) continue;
          ASSERT_TRUE(vb != nullptr && vb->present)
              << "PRN " << sa.prn << " line " << a.line << " code " << code;
          // Ranges and phases F14.3, Doppler counts of 0.0001 Hz printed F14.3, SNR in whole dB-Hz.
          const double tolerance = code == kObsS1 || code == kObsS2 ? 0.5 + 1e-9 : 0.0005 + 1e-7;
          EXPECT_NEAR(va->value, vb->value, tolerance) << "PRN " << sa.prn << " line " << a.line;
          ++compared[code];
          if ((code == kObsL1 || code == kObsL2) && (va->lli & kLliLossOfLock)) {
            EXPECT_TRUE(vb->lli & kLliLossOfLock) << "PRN " << sa.prn << " line " << a.line;
            ++lossOfLock;
          }
        }
      }
      EXPECT_EQ(kept, b.sats.size());
    }
    EXPECT_EQ(exported.ReadEpoch(&b), 0);
    for (RinexObsCode code : {kObsC1, kObsL1, kObsP2, kObsD2})
      EXPECT_GT(compared[code], 900) << code;
    EXPECT_GT(lossOfLock, 0);

    // Navigation: every record back, health included, at float or double precision.
    RinexNavFile navA, navB;
    char error[kTextSize] = "";
    ASSERT_EQ(ReadRinexNav(set.navigation.c_str(), &navA, error), 0);
    ASSERT_EQ(ReadRinexNav((v2 + ".n").c_str(), &navB, error), 0) << error;
    ASSERT_EQ(navA.records.size(), navB.records.size());
    for (size_t i = 0; i < navA.records.size(); ++i) {
      const GpsEph &x = navA.records[i].eph, &y = navB.records[i].eph;
      SCOPED_TRACE(navA.records[i].line);
      EXPECT_EQ(navA.records[i].health, navB.records[i].health);
      EXPECT_EQ(x.prn, y.prn);
      EXPECT_EQ(x.week, y.week);
      EXPECT_EQ(x.toe, y.toe);
      EXPECT_EQ(x.toc, y.toc);
      EXPECT_EQ(x.iode, y.iode);
      EXPECT_EQ(x.iodc, y.iodc);
      // Mean anomaly, eccentricity, root A and the three angles pass as doubles, the rest
      // as floats.
      for (const auto& f : test_data::kGpsEphDoubleFields) {
        const bool wide = f == &GpsEph::m0 || f == &GpsEph::e || f == &GpsEph::rootA ||
                          f == &GpsEph::omega0 || f == &GpsEph::omega || f == &GpsEph::i0;
        EXPECT_NEAR(x.*f, y.*f, std::fabs(x.*f) * (wide ? 1e-11 : 1.2e-7))
            << "field " << &f - test_data::kGpsEphDoubleFields;
      }
    }

    // Both exported files of each version against the original observations: a fault in
    // either file moves the positions.
    const auto expected =
        Rtklib(dir, set.observation, ReferenceNav(dir, set.navigation), "original");
    const struct {
      const char* tag;
      std::string obs, nav;
    } runs[] = {
        {"2.11", v2 + ".o", v2 + ".n"},
        {"3.04", v3 + ".o", v3 + ".n"},
    };
    for (const auto& run : runs) {
      SCOPED_TRACE(run.tag);
      const auto got = Rtklib(dir, run.obs, run.nav, "exported");
      EXPECT_GT(expected.size(), 100u);
      ASSERT_EQ(got.size(), expected.size());
      double worst = 0.0;
      for (const auto& p : expected) {
        const auto q = got.find(p.first);
        ASSERT_NE(q, got.end()) << p.first;
        for (int i = 0; i < 3; ++i) worst = std::max(worst, std::fabs(p.second[i] - q->second[i]));
      }
      EXPECT_LE(worst, 0.001);
    }
  }
}

}  // namespace
}  // namespace talverin
