// Receiver clock model (week folding, sample replacement, drift limits, gaps) and the
// geometry helpers of an attempt (elevation and azimuth, first light-time guesses).
#include <gtest/gtest.h>

#include <cmath>

#include "base/gnss_constants.h"
#include "position/epoch_solution.h"
#include "position/single_point.h"

namespace talverin {
namespace {

constexpr double kDeg = 3.14159265358979323846 / 180.0;  // rad per degree

// WeekDifference folds across the week boundary; the clock prediction uses the last two
// samples (closer than 0.02 s the later replaces the earlier), no drift beyond 5000 m/s or
// from samples farther than 60 s apart, and nothing beyond 60 s or before a sample.
TEST(ClockModel, PredictsFromTheLastTwoSamples) {
  EXPECT_DOUBLE_EQ(WeekDifference(500000.0, 0.0), 500000.0);
  EXPECT_DOUBLE_EQ(WeekDifference(500001.0, 0.0), -104799.0);
  // Each row: two samples, one prediction with its drift (m/s); after Reset nothing.
  const struct {
    const char* what;
    double t1, clock1, t2, clock2, at;
    bool predicted;
    double clock, drift;
  } cases[] = {
      {"across week end", 604799.5, 100.0, 0.5, 110.0, 1.5, true, 120.0, 10.0},
      // 1000.015625 is 2^-6 s after the first: closer than 0.02 s, so it replaces it and
      // leaves no previous sample, hence no drift.
      {"close samples replace", 1000.0, 100.0, 1000.015625, 150.0, 1001.0, true, 150.0, 0.0},
      // 0.03125 s apart: two samples, drift (101 - 100) / 0.03125 = 32 m/s.
      {"just apart", 1000.0, 100.0, 1000.03125, 101.0, 1001.03125, true, 133.0, 32.0},
      {"60 s later still predicts", 1000.0, 100.0, 1001.0, 100.0, 1061.0, true, 100.0, 0.0},
      {"gap beyond 60 s", 1000.0, 100.0, 1001.0, 110.0, 1061.5, false, 0.0, 0.0},
      {"no number", 1000.0, 100.0, 1001.0, 110.0, std::nan(""), false, 0.0, 0.0},
      {"drift of 5000 m/s kept", 1000.0, 0.0, 1001.0, 5000.0, 1002.0, true, 10000.0, 5000.0},
      {"drift above 5000 m/s dropped", 1000.0, 0.0, 1001.0, 6000.0, 1002.0, true, 6000.0, 0.0},
      {"samples 61 s apart give no drift", 1000.0, 0.0, 1061.0, 61.0, 1062.0, true, 61.0, 0.0},
  };
  for (const auto& c : cases) {
    SinglePoint engine;
    engine.RecordClock(c.t1, c.clock1);
    engine.RecordClock(c.t2, c.clock2);
    double clock = -1.0, drift = -1.0;
    ASSERT_EQ(engine.PredictClock(c.at, &clock, &drift), c.predicted) << c.what;
    if (c.predicted) {
      EXPECT_NEAR(clock, c.clock, 1e-9) << c.what;
      EXPECT_EQ(drift, c.drift) << c.what;
    }
    engine.Reset();
    EXPECT_FALSE(engine.PredictClock(c.t2, &clock)) << c.what;
  }
}

// Builds a satellite from a local direction at the receiver with the usual east/north/up
// unit vectors, then reads the direction back.
TEST(EpochGeometry, ElevationAzimuthRecoversTheLocalDirectionAndLightTimeGuesses) {
  const struct {
    double lat_deg, lon_deg, elevation_deg, azimuth_deg;
  } cases[] = {
      {0.0, 0.0, 90.0, 0.0},      {0.0, 0.0, 0.0, 90.0},      {45.0, 90.0, 30.0, 135.0},
      {-33.9, 18.4, 10.0, -60.0}, {26.2, 50.6, 75.0, -170.0}, {89.0, -120.0, 45.0, 20.0},
  };
  for (const auto& c : cases) {
    const double sp = std::sin(c.lat_deg * kDeg), cp = std::cos(c.lat_deg * kDeg);
    const double sl = std::sin(c.lon_deg * kDeg), cl = std::cos(c.lon_deg * kDeg);
    const double el = c.elevation_deg * kDeg, az = c.azimuth_deg * kDeg;
    // u: up, north and east at the receiver; w: the direction's share along each.
    const double u[3][3] = {{cp * cl, cp * sl, sp}, {-sp * cl, -sp * sl, cp}, {-sl, cl, 0.0}};
    const double w[3] = {std::sin(el), std::cos(el) * std::cos(az), std::cos(el) * std::sin(az)};
    double receiver[3], satellite[3];
    for (int i = 0; i < 3; ++i) {
      receiver[i] = 6378137.0 * u[0][i];
      satellite[i] = receiver[i] + 2.0e7 * (w[0] * u[0][i] + w[1] * u[1][i] + w[2] * u[2][i]);
    }
    double elevation = 0.0, azimuth = 0.0;
    ElevationAzimuth(receiver, GeodeticPos{c.lat_deg, c.lon_deg, 0.0f}, satellite, &elevation,
                     &azimuth);
    // At the zenith the azimuth has no meaning.
    EXPECT_NEAR(elevation, el, 1e-9) << c.lat_deg;
    if (c.elevation_deg != 90.0) {
      EXPECT_NEAR(azimuth, az, 1e-9) << c.lat_deg;
    }
  }
  // First light-time guesses: range - receiver clock + satellite clock * c.
  EXPECT_DOUBLE_EQ(ApproximateRange(2.0e7, 1.0e-3, 100.0), 2.0e7 - 100.0 + 299792.458);
  const double origin[3] = {}, position[3] = {3.0, 4.0, 0.0}, velocity[3] = {0.0, 0.0, 0.2};
  // Moved 60 s at 0.2 m/s along z: (3, 4, 12), 13 m away; nothing beyond 60 s either way.
  EXPECT_NEAR(ExtrapolatedRange(60.0, origin, position, velocity), 13.0, 1e-12);
  EXPECT_EQ(ExtrapolatedRange(60.5, origin, position, velocity), 0.0);
  EXPECT_EQ(ExtrapolatedRange(-61.0, origin, position, velocity), 0.0);
}

}  // namespace
}  // namespace talverin
