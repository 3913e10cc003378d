// Whole conversion of a simulated download set (observation and ephemeris files written by
// the test writers from the BAHR broadcast ephemerides and the range simulator): the GPB
// file must carry the recomputed position, clock and corrected time of every epoch, not the
// receiver's own (deliberately wrong) values.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "input/ephemeris_reader.h"
#include "output/gpb_reader.h"
#include "tests/position/bahr_nav_records.h"
#include "tests/support/test_support.h"
#include "tools/download_set/ephemeris_file_writer.h"
#include "tools/download_set/observation_file_writer.h"
#include "tools/download_set/range_simulator.h"

namespace talverin {
namespace {

using testing_support::ConversionRun;
using testing_support::RunConversion;
using testing_support::TempDir;

constexpr double kC = 299792458.0;
constexpr double kT0 = test_data::kBahrDayStart_s + 1800.0;

TEST(ConversionPosition, GpbEpochsCarryTheRecomputedPositionAndClock) {
  std::vector<GpsEph> published;
  ASSERT_TRUE(ParseRinexGpsNavigation(test_data::kBahrNavRecords, &published));
  // The E file keeps some fields in single precision: simulate with what the reader will
  // hand to the store, so that the ranges and the engine share one orbit.
  EphemerisFileWriter ephemerisFile;
  std::vector<GpsEph> stored;
  for (const GpsEph& eph : published) {
    ephemerisFile.AddGps(eph);
    const std::vector<uint8_t> record = GpsEphemerisRecord(eph);
    GpsEph decoded{};
    int16_t health = -1;
    DecodeGpsRecord(record.data(), &decoded, &health);
    ASSERT_EQ(health, 0);
    stored.push_back(decoded);
  }

  RangeSimulator sim(test_data::kBahrLat_deg, test_data::kBahrLon_deg, test_data::kBahrHeight_m,
                     test_data::kBahrFullWeek);
  ObsFile observations;
  observations.model = "G-12";  // C/A receiver, 35-byte channel records
  observations.recordSize = 35;
  const int kEpochs = 10;
  std::vector<double> clocks_m;
  for (int k = 0; k < kEpochs; ++k) {
    const double clock_m = 45000.0 + 2.5 * k;  // about 0.15 ms, drifting
    clocks_m.push_back(clock_m);
    gpb_epoch_type simulated;
    ASSERT_EQ(sim.BuildEpoch(stored, kT0 + 30.0 * k, clock_m, 15.0, &simulated), 7);
    ObsEpoch epoch;
    epoch.time_s = simulated.rcvTime;
    // The receiver's own navigation solution, 40 m and 7 m of clock off.
    epoch.x_m = sim.receiver()[0] + 20.0;
    epoch.y_m = sim.receiver()[1] - 15.0;
    epoch.z_m = sim.receiver()[2] + 30.0;
    epoch.clock_m = clock_m + 7.0;
    for (int i = 0; i < simulated.nsat; ++i) {
      ObsChannel channel;
      channel.prn = static_cast<uint8_t>(simulated.sat[i].prn);
      channel.caRange_s = simulated.sat[i].range1 / kC;
      channel.l1Snr = 40;
      epoch.channels.push_back(channel);
    }
    observations.epochs.push_back(epoch);
  }

  TempDir dir;
  const std::string input = dir.File("B0162A04.162");
  ASSERT_TRUE(WriteObservationFile(input, observations));
  ASSERT_TRUE(ephemerisFile.WriteTo(dir.File("E0162A04.162")));
  const std::string output = dir.File("out.gpb");
  const ConversionRun run = RunConversion(input, output);
  ASSERT_EQ(run.result, 0) << run.errorText;
  EXPECT_EQ(run.CountMessages("Refining solution on first epoch"), 1);
  EXPECT_EQ(run.CountMessagesStartingWith("Large clock shift"), 0);

  GpbReader reader;
  ASSERT_EQ(reader.Open(output.c_str()), 0) << reader.errorText();
  GpbReadEpoch read{};
  for (int k = 0; k < kEpochs; ++k) {
    ASSERT_EQ(reader.ReadEpoch(&read), 1) << k << " " << reader.errorText();
    const gpb_epoch_type& e = read.epoch;
    EXPECT_NE(e.flags & kEpochPositionValid, 0) << k;
    // 1 cm is 9.0e-8 degrees of latitude and 1.0e-7 degrees of longitude at 26 N; the
    // first epoch's refined solve takes its troposphere at the uncorrected first solution.
    const double tolerance_m = k == 0 ? 0.05 : 0.01;
    EXPECT_NEAR(e.lat, test_data::kBahrLat_deg, 9.0e-6 * tolerance_m) << k;
    EXPECT_NEAR(e.lon, test_data::kBahrLon_deg, 1.0e-5 * tolerance_m) << k;
    EXPECT_NEAR(e.height, test_data::kBahrHeight_m, tolerance_m) << k;
    // Every epoch starts from the receiver's own position (40 m off), where the troposphere
    // is evaluated: about 1 cm of common delay ends up in the clock.
    EXPECT_NEAR(e.clock, clocks_m[k], 0.02 + tolerance_m) << k;
    EXPECT_NEAR(e.corrTime, kT0 + 30.0 * k, 2e-10) << k;
    EXPECT_EQ(e.nsat, 7) << k;
  }
  EXPECT_EQ(reader.ReadEpoch(&read), 0);
}

}  // namespace
}  // namespace talverin
