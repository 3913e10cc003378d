// Troposphere: table B, the Saastamoinen delay against a hand evaluation and the independently
// coded simulator model, the places and heights where no delay applies, and the +-25 m rule.
#include "position/atmosphere.h"

#include <gtest/gtest.h>

#include <cmath>

#include "base/gnss_constants.h"
#include "tools/download_set/range_simulator.h"

namespace talverin {
namespace {

constexpr double kDeg = 3.14159265358979323846 / 180.0;  // rad per degree
// 2004-06-10 00:30 GPS time: week 1274 (ten-bit 250), 347400 s; MJD 53166 (2004-01-01 is
// MJD 53005, plus 152 days of January to May, plus 9).
constexpr double kTime_s = 347400.0;
constexpr double kMjd = 53166.0 + 1800.0 / 86400.0;
constexpr GpsEph kEphemeris{5, 250, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 352800,
                            0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

SatelliteState Satellite(double elevation_rad) {
  SatelliteState s{};
  s.valid = s.elevationValid = 1;
  s.elevation = elevation_rad;
  s.ephemeris = &kEphemeris;
  return s;
}

TEST(Troposphere, TableBInterpolatesBetweenRowsAndEndsAt15Km) {
  const struct {
    double height_km, b_mbar;
  } cases[] = {{-0.1, 1.156}, {0.0, 1.156}, {0.25, (1.156 + 1.079) / 2}, {0.5, 1.079},
               {3.5, (0.757 + 0.654) / 2}, {8.5, (0.407 + 0.222) / 2}, {12.5, 0.222 / 2},
               {14.999, 0.222 * 0.001 / 5}, {15.0, 0.0}, {40.0, 0.0}};
  for (const auto& c : cases) {
    EXPECT_NEAR(SaastamoinenTableB(c.height_km), c.b_mbar, 1e-12) << c.height_km;
  }
}

// Saastamoinen by hand at sea level on 45 degrees towards the zenith: the pressure is
// 1013.25 mbar whatever the temperature, tan z = 0 removes B, cos 2phi = 0; then elsewhere
// against the simulator's own model.
TEST(Troposphere, DelayMatchesAHandEvaluationAndTheIndependentModel) {
  const double years = (kMjd - 51545.0) / 365.242191;
  const double season = 2 * M_PI * (years - std::floor(years));
  const double celsius = (std::sin(season) * -4.7 + std::cos(season) * -14.3) * std::sqrt(0.5) +
                         48.4 * std::sqrt(0.5) - 20.5;
  const double zenith = 0.002277 * (1013.25 + (1255.0 / (celsius + 273.0) + 0.05) * 0.6);
  const double delay = TropoDelay(kTime_s, Satellite(M_PI / 2), GeodeticPos{45.0, 10.0, 0.0f});
  EXPECT_NEAR(delay, zenith, 1e-9);
  EXPECT_NEAR(delay, 2.31, 0.01);
  const struct {
    double lat_deg, lon_deg, height_m, elevation_deg;
  } cases[] = {{26.2, 50.6, -14.0, 60.0},  {-33.9, 18.4, 1200.0, 30.0},
               {60.0, -150.0, 4500.0, 12.0}, {45.0, 10.0, 9000.0, 20.0},
               {-70.0, 100.0, 16000.0, 45.0}};
  for (const auto& c : cases) {
    const RangeSimulator reference(c.lat_deg, c.lon_deg, c.height_m, 1274);
    const GeodeticPos station{c.lat_deg, c.lon_deg, static_cast<float>(c.height_m)};
    EXPECT_NEAR(TropoDelay(kTime_s, Satellite(c.elevation_deg * kDeg), station),
                reference.Troposphere(c.elevation_deg * kDeg, kTime_s), 1e-6)
        << c.lat_deg << " " << c.height_m;
  }
}

TEST(Troposphere, NoDelayWithoutPositionElevationOrEphemerisOrOutsideHeights) {
  const struct {
    const char* what;
    GeodeticPos station;
    int32_t valid, elevationValid;
    bool ephemeris, applies;
  } cases[] = {{"equator", {0.0, 10.0, 100.0f}, 1, 1, true, false},
               {"Greenwich", {45.0, 0.0, 100.0f}, 1, 1, true, false},
               {"35000 m", {45.0, 10.0, 35000.0f}, 1, 1, true, true},
               {"35000.5 m", {45.0, 10.0, 35000.5f}, 1, 1, true, false},
               {"-2000 m", {45.0, 10.0, -2000.0f}, 1, 1, true, true},
               {"-2000.5 m", {45.0, 10.0, -2000.5f}, 1, 1, true, false},
               {"no satellite position", {45.0, 10.0, 100.0f}, 0, 1, true, false},
               {"no elevation", {45.0, 10.0, 100.0f}, 1, 0, true, false},
               {"no ephemeris", {45.0, 10.0, 100.0f}, 1, 1, false, false}};
  for (const auto& c : cases) {
    SatelliteState s = Satellite(0.8);
    s.valid = c.valid;
    s.elevationValid = c.elevationValid;
    if (!c.ephemeris) s.ephemeris = nullptr;
    const double delay = TropoDelay(kTime_s, s, c.station);
    EXPECT_TRUE(c.applies ? delay > 0.0 : delay == 0.0) << c.what << ": " << delay;
  }
}

TEST(Troposphere, ApplyRemovesDelayAndDropsOneBeyond25Metres) {
  SatelliteState states[kMaxPrn] = {};
  states[3] = Satellite(30.0 * kDeg);
  states[7] = Satellite(0.5 * kDeg);  // grazing: the B tan^2 z term drives it below -25 m
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
  EXPECT_TRUE(states[3].ionosphereSource == 0 && states[3].ionosphere[0] == 0.0);
  EXPECT_TRUE(ranges[1] == 2.4e7 && states[7].troposphericDelay == 0.0);
  double untouched[2] = {2.2e7, 2.4e7};
  ApplyAtmosphere(kTime_s, 2, prns, untouched, 0, station, states);
  EXPECT_TRUE(untouched[0] == 2.2e7 && states[3].troposphericDelay == 0.0);
}

}  // namespace
}  // namespace talverin
