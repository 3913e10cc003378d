// Whole conversions of the real BAHR hour: the GPB file carries the recomputed clock and
// corrected time of every epoch, not the zero clock of the epoch headers; with one
// satellite's ranges or broadcast records damaged, no epoch may be marked valid far from the
// clean run.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "base/byte_order.h"
#include "dataset/byte_builder.h"
#include "geodesy/geodetic.h"
#include "rinex/rinex_import.h"
#include "tests/rinex/rinex_test_data.h"
#include "tests/support/bahr_navigation.h"
#include "tests/support/conversion_fixtures.h"

namespace talverin {
namespace {

using namespace test_data;  // NOLINT: the BAHR fixtures
using testing_support::ConversionRun;
using testing_support::RunConversion;
using testing_support::TempDir;

constexpr double kC = 299792458.0;

// Every epoch of a GPB file: ECEF position (m; NaN where the position is not valid), receiver
// clock (m) and corrected time (s).
std::vector<std::array<double, 5>> ReadEpochs(const std::string& gpb) {
  std::vector<std::array<double, 5>> out;
  std::vector<GpbReadEpoch> epochs;
  EXPECT_EQ(0, testing_support::ReadGpb(gpb, &epochs));  // a clean end
  Wgs84Datum wgs84;
  BuildWgs84Datum(&wgs84);
  for (const GpbReadEpoch& read : epochs) {
    std::array<double, 5> epoch = {NAN, NAN, NAN, read.epoch.clock, read.epoch.corrTime};
    if ((read.epoch.flags & kEpochPositionValid) != 0) {
      const GeodeticPos p{read.epoch.lat, read.epoch.lon, read.epoch.height};
      DatumGeodeticToCartesian(p, wgs84.datum, epoch.data());
    }
    out.push_back(epoch);
  }
  return out;
}

// One grossly wrong satellite among the 7 to 9 of the real BAHR hour: its C/A ranges, or
// the clock reference time, clock bias or mean anomaly of all its broadcast records, within
// what the navigation message holds and beyond it (the reader refuses those records). Every
// epoch keeps at least 6 satellites, so every epoch keeps a valid position, within 100 m of
// the clean run (errors below the 100 m residual limit pass undetected, a few tens of m).
TEST(ConversionPosition, OneGrossErrorNeverGivesAValidPositionFarFromTheCleanRun) {
  TempDir dir;
  const RinexImportSummary summary =
      rinex_test::ImportSet(rinex_test::SampleFile("bahr1620.04o"),
                            rinex_test::SampleFile("bahr1620.04n"), dir.File("set"));
  ASSERT_EQ(summary.recordSize, 97);
  const std::vector<uint8_t> cleanB = ReadFileBytes(summary.observationFile);
  const std::vector<uint8_t> cleanE = ReadFileBytes(summary.ephemerisFile);
  const ConversionRun clean = RunConversion(summary.observationFile, dir.File("clean.gpb"));
  ASSERT_EQ(clean.result, 0) << clean.errorText;
  const std::vector<std::array<double, 5>> truth = ReadEpochs(dir.File("clean.gpb"));
  ASSERT_EQ(truth.size(), 120u);
  // The receiver clock of BAHR is a constant +0.373 ms (README.txt; 0.5 us is its rounding).
  for (size_t k = 0; k < truth.size(); ++k) {
    EXPECT_NEAR(truth[k][3], 0.373e-3 * kC, 0.5e-6 * kC) << k;
    EXPECT_NEAR(truth[k][4], kBahrDayStart_s + 30.0 * k - 0.373e-3, 0.5e-6) << k;
  }

  constexpr uint8_t kPrn = 30;
  // Record fields: toc int32 at 15 (s), af0 float at 27 (s), m0 double at 39 (semicircles).
  const struct {
    const char* name;
    double range_m;  // added to every C/A range of the PRN
    size_t field;    // E record offset, or 0
    double value;    // toc and m0: added; af0: replaces
  } cases[] = {
      {"range +100 m", 100.0, 0, 0.0},
      {"range +10 km", 1.0e4, 0, 0.0},
      {"range +5000 km", 5.0e6, 0, 0.0},
      {"toc a day early", 0.0, 15, -86400.0},
      {"toc beyond the week", 0.0, 15, 400000.0},
      {"af0 0.9 ms", 0.0, 27, 9.0e-4},
      {"af0 10 ms", 0.0, 27, 1.0e-2},
      {"m0 + 0.5 sc", 0.0, 39, 0.5},
      {"m0 + 1.5 sc", 0.0, 39, 1.5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> b = cleanB, e = cleanE;
    // Channel records of 97 bytes (PRN at 0, C/A range in s at 4) follow the 90-byte file
    // header and each 67-byte epoch header (its channel count at 66).
    for (size_t at = 90; at + 67 <= b.size();) {
      const int count = static_cast<int8_t>(b[at + 66]);
      at += 67;
      for (int i = 0; i < count && at + 97 <= b.size(); ++i, at += 97)
        if (b[at] == kPrn) StoreF64(&b[at + 4], LoadF64(&b[at + 4]) + c.range_m / kC);
    }
    for (size_t at = 0; at + 129 <= e.size(); at += 129) {
      uint8_t* r = &e[at];
      if (r[0] != kPrn) continue;
      if (c.field == 15) StoreI32(r + 15, LoadI32(r + 15) + static_cast<int32_t>(c.value));
      if (c.field == 27) StoreF32(r + 27, static_cast<float>(c.value));
      if (c.field == 39) StoreF64(r + 39, LoadF64(r + 39) + c.value);
    }
    ASSERT_TRUE(WriteFileBytes(summary.observationFile, b));
    ASSERT_TRUE(WriteFileBytes(summary.ephemerisFile, e));
    const ConversionRun run = RunConversion(summary.observationFile, dir.File("damaged.gpb"));
    ASSERT_EQ(run.result, 0) << run.errorText;
    const std::vector<std::array<double, 5>> got = ReadEpochs(dir.File("damaged.gpb"));
    ASSERT_EQ(got.size(), truth.size());
    // An epoch not solved is NaN m away.
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_LE(
          std::hypot(got[i][0] - truth[i][0], got[i][1] - truth[i][1], got[i][2] - truth[i][2]),
          100.0)
          << "epoch " << i;
    }
  }
}

}  // namespace
}  // namespace talverin
