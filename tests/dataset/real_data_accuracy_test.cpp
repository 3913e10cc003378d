// Accuracy of the recomputed positions on real receiver data: each real set present (the
// bundled hour always, the public sets beside the source tree when present) goes RINEX ->
// download set -> ConvertFile -> GPB with each receiver position the epoch headers may hold
// (the RINEX approximate position, zeros as before a first fix, that position moved 30 km),
// and every epoch's position is compared with the station's published ITRF2014 coordinates
// (from the set's README.txt). The RMS limits are 20 % + 0.3 m over an established
// single-point program run on the same RINEX files with the same models (broadcast orbits,
// Saastamoinen, no ionosphere, no group delay, 10 degree mask); any epoch more than 100 m off
// is a fault, not a limit.
#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>
#include <string>

#include "dataset/position_stats.h"
#include "tests/rinex/rinex_test_data.h"
#include "tests/support/test_support.h"

namespace talverin {
namespace {

using testing_support::TempDir;

struct SetLimits {
  const char* directory;  // under ../shared/data/
  int epochs;             // epochs counted in the observation file
  double reference_m[3];  // ECEF of the antenna reference point, README.txt
  double maxRmsH_m, maxRmsV_m, maxP95H_m, maxP95V_m;
};

// RMS limits: the established program gave BAHR H 4.03 V 3.53, USNO H 2.54 V 3.75 m (group
// delay set to 0 in its navigation files); 1.2 times those plus 0.3 m. Measured here with
// every header mode: BAHR RMS H 3.99 V 3.82-3.83, 95 % H 5.11 V 5.46;
// USNO RMS H 2.49 V 3.90-3.91, 95 % H 4.23 V 7.58-7.60. 95 % limits about 1.3 times those.
const SetLimits kSets[] = {
    {"bahr-2004-162", 120, {3633910.5918, 4425277.7039, 2799862.8556}, 5.14, 4.54, 6.6, 7.1},
    {"usno-2005-020", 2880, {1112189.7701, -4842955.0295, 3985352.2630}, 3.35, 4.80, 5.5, 9.9},
};

const SetLimits* LimitsOf(const std::string& directory) {
  for (const SetLimits& set : kSets) {
    if (directory == set.directory) return &set;
  }
  return nullptr;
}

// Imports, converts and measures one set in one header mode ("rinex", "zeros" or metres);
// the figures go to the test log.
void CheckAccuracy(const rinex_test::RealRinexSet& set, const SetLimits& limits,
                   const char* headerPosition) {
  const std::string label = set.name + "_" + headerPosition;
  SCOPED_TRACE(label);
  TempDir dir;
  const RinexImportSummary summary =
      rinex_test::ImportSet(set.observation, set.navigation, dir.File("set"), headerPosition);
  ASSERT_EQ(summary.epochs, limits.epochs);
  const std::string gpb = dir.File("out.gpb");
  const testing_support::ConversionRun run =
      testing_support::RunConversion(summary.observationFile, gpb);
  ASSERT_EQ(run.result, 0) << run.errorText;

  PositionStats stats;
  std::string error;
  ASSERT_TRUE(ComputePositionStats(gpb, limits.reference_m, &stats, &error)) << error;
  std::cout << "[ accuracy ] " << label << ": " << FormatPositionStats(stats);

  EXPECT_EQ(stats.epochs, limits.epochs) << "epochs lost between the RINEX file and the GPB file";
  ASSERT_GT(stats.epochs, 0);
  EXPECT_GE(static_cast<double>(stats.solved) / stats.epochs, 0.98);
  EXPECT_LT(stats.max3d_m, 100.0);  // 3D; beyond this an epoch is a fault
  EXPECT_LE(stats.rmsH_m, limits.maxRmsH_m);
  EXPECT_LE(stats.rmsV_m, limits.maxRmsV_m);
  EXPECT_LE(stats.p95H_m, limits.maxP95H_m);
  EXPECT_LE(stats.p95V_m, limits.maxP95V_m);
}

TEST(RealDataAccuracy, EveryRealSetIsWithinTheLimitsWhateverTheHeaderPosition) {
  // A set added beside the source tree without its reference and limits would go unmeasured.
  std::error_code absent;
  const std::string shared = rinex_test::SourceDir() + "/../shared/data";
  for (const auto& entry : std::filesystem::directory_iterator(shared, absent)) {
    EXPECT_TRUE(!entry.is_directory() || LimitsOf(entry.path().filename().string()) != nullptr)
        << entry.path() << " has no entry in kSets (and RealRinexSets)";
  }
  for (const rinex_test::RealRinexSet& set : rinex_test::RealRinexSets()) {
    const SetLimits* limits = LimitsOf(set.name);
    ASSERT_NE(limits, nullptr) << set.name;
    for (const char* mode : {"rinex", "zeros", "30000"}) CheckAccuracy(set, *limits, mode);
  }
}

}  // namespace
}  // namespace talverin
