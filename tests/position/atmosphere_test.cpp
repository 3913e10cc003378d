// Troposphere: table B, the Saastamoinen delay against hand evaluations and the independently
// coded simulator model, the places and heights where no delay applies, and the +-25 m rule.
#include "position/atmosphere.h"

#include <gtest/gtest.h>

#include <cmath>

#include "base/gnss_constants.h"
#include "tools/download_set/range_simulator.h"

namespace talverin {
namespace {

constexpr double kPiRef = 3.14159265358979323846;

// 2004-06-10 00:30 GPS time: week 1274 (ten-bit 250), 347400 s; MJD 53166 (2004-01-01 is
// MJD 53005, plus 152 days of January to May, plus 9).
constexpr double kTime_s = 347400.0;
constexpr double kMjd = 53166.0 + 1800.0 / 86400.0;

GpsEph Ephemeris() {
  GpsEph eph{};
  eph.prn = 5;
  eph.week = 250;
  eph.toe = 352800;
  return eph;
}

SatelliteState Satellite(const GpsEph* eph, double elevation_rad) {
  SatelliteState s{};
  s.valid = 1;
  s.elevationValid = 1;
  s.elevation = elevation_rad;
  s.ephemeris = eph;
  return s;
}

TEST(Troposphere, TableBInterpolatesBetweenRowsAndEndsAt15Km) {
  struct Case {
    double height_km;
    double b_mbar;
  };
  const Case cases[] = {
      {-0.1, 1.156}, {0.0, 1.156},  {0.25, (1.156 + 1.079) / 2}, {0.5, 1.079},
      {3.5, (0.757 + 0.654) / 2},   {8.5, (0.407 + 0.222) / 2},  {12.5, 0.222 / 2},
      {14.999, 0.222 * 0.001 / 5},  {15.0, 0.0},                 {40.0, 0.0},
  };
  for (const Case& c : cases) {
    EXPECT_NEAR(SaastamoinenTableB(c.height_km), c.b_mbar, 1e-12) << c.height_km;
  }
  EXPECT_NEAR(SaastamoinenTableB(0.25), 1.1175, 1e-12);
}

TEST(Troposphere, ZenithDelayAtSeaLevelOn45DegreesIsAbout231Cm) {
  const GpsEph eph = Ephemeris();
  const SatelliteState s = Satellite(&eph, kPiRef / 2);
  const GeodeticPos station{45.0, 10.0, 0.0f};

  // Saastamoinen by hand: at h = 0 the pressure is 1013.25 mbar whatever the temperature,
  // tan z = 0 removes B, cos 2phi = 0 at 45 degrees.
  const double years = (kMjd - 51545.0) / 365.242191;
  const double season = 2 * kPiRef * (years - std::floor(years));
  const double celsius = (std::sin(season) * -4.7 + std::cos(season) * -14.3) * std::sqrt(0.5) +
                         48.4 * std::sqrt(0.5) - 20.5;
  const double expected = 0.002277 * (1013.25 + (1255.0 / (celsius + 273.0) + 0.05) * 0.6);

  const double delay = TropoDelay(kTime_s, s, station);
  EXPECT_NEAR(delay, expected, 1e-9);
  EXPECT_NEAR(delay, 2.31, 0.01);
}

TEST(Troposphere, DelayAtElevationMatchesIndependentModel) {
  const GpsEph eph = Ephemeris();
  struct Case {
    double lat_deg, lon_deg, height_m, elevation_deg;
  };
  const Case cases[] = {
      {26.2, 50.6, -14.0, 60.0}, {-33.9, 18.4, 1200.0, 30.0}, {60.0, -150.0, 4500.0, 12.0},
      {45.0, 10.0, 9000.0, 20.0}, {-70.0, 100.0, 16000.0, 45.0},
  };
  for (const Case& c : cases) {
    RangeSimulator reference(c.lat_deg, c.lon_deg, c.height_m, 1274);
    const double elevation_rad = c.elevation_deg * kPiRef / 180.0;
    const SatelliteState s = Satellite(&eph, elevation_rad);
    const GeodeticPos station{c.lat_deg, c.lon_deg, static_cast<float>(c.height_m)};
    EXPECT_NEAR(TropoDelay(kTime_s, s, station), reference.Troposphere(elevation_rad, kTime_s),
                1e-6)
        << c.lat_deg << " " << c.height_m;
  }
}

TEST(Troposphere, NoDelayWithoutPositionElevationOrEphemerisOrOutsideHeights) {
  const GpsEph eph = Ephemeris();
  const SatelliteState good = Satellite(&eph, 0.8);
  struct Case {
    const char* what;
    GeodeticPos station;
    bool applies;
  };
  const Case cases[] = {
      {"equator", {0.0, 10.0, 100.0f}, false},
      {"Greenwich", {45.0, 0.0, 100.0f}, false},
      {"35000 m", {45.0, 10.0, 35000.0f}, true},
      {"35000.5 m", {45.0, 10.0, 35000.5f}, false},
      {"-2000 m", {45.0, 10.0, -2000.0f}, true},
      {"-2000.5 m", {45.0, 10.0, -2000.5f}, false},
  };
  for (const Case& c : cases) {
    const double delay = TropoDelay(kTime_s, good, c.station);
    if (c.applies) {
      EXPECT_GT(delay, 0.0) << c.what;
    } else {
      EXPECT_EQ(delay, 0.0) << c.what;
    }
  }
  const GeodeticPos station{45.0, 10.0, 100.0f};
  SatelliteState s = good;
  s.valid = 0;
  EXPECT_EQ(TropoDelay(kTime_s, s, station), 0.0);
  s = good;
  s.elevationValid = 0;
  EXPECT_EQ(TropoDelay(kTime_s, s, station), 0.0);
  s = good;
  s.ephemeris = nullptr;
  EXPECT_EQ(TropoDelay(kTime_s, s, station), 0.0);
}

TEST(Troposphere, ApplyRemovesDelayAndDropsOneBeyond25Metres) {
  const GpsEph eph = Ephemeris();
  SatelliteState states[kMaxPrn] = {};
  states[3] = Satellite(&eph, 30.0 * kPiRef / 180.0);
  // Grazing: the B tan^2 z term drives the formula far below -25 m.
  states[7] = Satellite(&eph, 0.5 * kPiRef / 180.0);
  states[3].ionosphereSource = 5;
  states[3].ionosphere[0] = 1.5;
  const GeodeticPos station{45.0, 10.0, 100.0f};
  const double at30 = TropoDelay(kTime_s, states[3], station);
  ASSERT_LT(TropoDelay(kTime_s, states[7], station), -kTropoLimit_m);
  ASSERT_GT(at30, 4.0);

  const int32_t prns[2] = {3, 7};
  double ranges[2] = {2.2e7, 2.4e7};
  ApplyAtmosphere(kTime_s, 2, prns, ranges, 1, station, states);
  EXPECT_DOUBLE_EQ(ranges[0], 2.2e7 - at30);
  EXPECT_DOUBLE_EQ(states[3].troposphericDelay, at30);
  EXPECT_EQ(states[3].ionosphereSource, 0);
  EXPECT_EQ(states[3].ionosphere[0], 0.0);
  EXPECT_EQ(ranges[1], 2.4e7);
  EXPECT_EQ(states[7].troposphericDelay, 0.0);

  double untouched[2] = {2.2e7, 2.4e7};
  ApplyAtmosphere(kTime_s, 2, prns, untouched, 0, station, states);
  EXPECT_EQ(untouched[0], 2.2e7);
  EXPECT_EQ(states[3].troposphericDelay, 0.0);
}

}  // namespace
}  // namespace talverin
