// Troposphere: table B, the Saastamoinen delay against a hand evaluation and the independently
// coded simulator model, the places and heights where no delay applies, and the +-25 m rule.
#include "position/atmosphere.h"

#include <gtest/gtest.h>

#include <cmath>

#include "base/gnss_constants.h"
#include "testkit/range_simulator.h"
#include "tests/support/test_support.h"

namespace talverin {
namespace {

constexpr double kDeg = 3.14159265358979323846 / 180.0;  // rad per degree
// 2004-06-10 00:30 GPS time: week 1274 (ten-bit 250), 347400 s; MJD 53166 (2004-01-01 is
// MJD 53005, plus 152 days of January to May, plus 9).
constexpr double kTime_s = 347400.0;
constexpr double kMjd = 53166.0 + 1800.0 / 86400.0;
constexpr GpsEph kEphemeris{5, 250,    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                            0, 352800, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

SatelliteState Satellite(double elevation_rad) {
  SatelliteState s{};
  s.valid = s.elevationValid = 1;
  s.elevation = elevation_rad;
  s.ephemeris = &kEphemeris;
  return s;
}

// Table B between its rows and up to 15 km; the delay by hand at sea level on 45 degrees
// towards the zenith (the pressure is 1013.25 mbar whatever the temperature, tan z = 0
// removes B, cos 2phi = 0), then elsewhere, down to -2000 m and up to 35000 m, against the
// simulator's own model.
TEST(Troposphere, DelayMatchesTableBAHandEvaluationAndTheIndependentModel) {
  // Height (km), B (mbar).
  const double tableB[][2] = {{-0.1, 1.156},
                              {0.0, 1.156},
                              {0.25, (1.156 + 1.079) / 2},
                              {0.5, 1.079},
                              {3.5, (0.757 + 0.654) / 2},
                              {8.5, (0.407 + 0.222) / 2},
                              {12.5, 0.222 / 2},
                              {14.999, 0.222 * 0.001 / 5},
                              {15.0, 0.0}};
  for (const auto& row : tableB) EXPECT_NEAR(SaastamoinenTableB(row[0]), row[1], 1e-12) << row[0];
  const double years = (kMjd - 51545.0) / 365.242191;
  const double season = 2 * M_PI * (years - std::floor(years));
  const double celsius = (std::sin(season) * -4.7 + std::cos(season) * -14.3) * std::sqrt(0.5) +
                         48.4 * std::sqrt(0.5) - 20.5;
  const double zenith = 0.002277 * (1013.25 + (1255.0 / (celsius + 273.0) + 0.05) * 0.6);
  const double delay = TropoDelay(kTime_s, Satellite(M_PI / 2), GeodeticPos{45.0, 10.0, 0.0f});
  EXPECT_NEAR(delay, zenith, 1e-9);  // 2.31 m, the familiar zenith delay at sea level
  // Latitude, longitude (degrees), height (m), elevation (degrees).
  const double cases[][4] = {{26.2, 50.6, -14.0, 60.0},    {-33.9, 18.4, 1200.0, 30.0},
                             {60.0, -150.0, 4500.0, 12.0}, {-70.0, 100.0, 16000.0, 45.0},
                             {45.0, 10.0, -2000.0, 50.0},  {45.0, 10.0, 35000.0, 50.0}};
  for (const auto& c : cases) {
    const RangeSimulator reference(c[0], c[1], c[2], 1274);
    EXPECT_NEAR(TropoDelay(kTime_s, Satellite(c[3] * kDeg), {c[0], c[1], static_cast<float>(c[2])}),
                reference.Troposphere(c[3] * kDeg, kTime_s), 1e-6)
        << c[0] << " " << c[2];
  }
}

// No delay on the equator or the Greenwich meridian (no position), just outside
// -2000..35000 m, or without a satellite position, elevation or ephemeris.
TEST(Troposphere, NoDelayWithoutPositionElevationOrEphemerisOrOutsideHeights) {
  SatelliteState noPosition = Satellite(0.8), noElevation = noPosition, noEphemeris = noPosition;
  noPosition.valid = 0;
  noElevation.elevationValid = 0;
  noEphemeris.ephemeris = nullptr;
  const GeodeticPos inside{45.0, 10.0, 100.0f};
  const struct {
    SatelliteState satellite;
    GeodeticPos station;
  } cases[] = {{Satellite(0.8), {0.0, 10.0, 100.0f}},
               {Satellite(0.8), {45.0, 0.0, 100.0f}},
               {Satellite(0.8), {45.0, 10.0, 35000.5f}},
               {Satellite(0.8), {45.0, 10.0, -2000.5f}},
               {noPosition, inside},
               {noElevation, inside},
               {noEphemeris, inside}};
  for (const auto& c : cases)
    EXPECT_EQ(0.0, TropoDelay(kTime_s, c.satellite, c.station)) << "row " << &c - cases;
}

TEST(Troposphere, ApplyRemovesDelayAndDropsOneBeyond25Metres) {
  SatelliteState states[kMaxPrn] = {};
  states[3] = Satellite(30.0 * kDeg);
  states[7] = Satellite(0.5 * kDeg);  // grazing: the B tan^2 z term drives it below -25 m
  states[3].ionosphereSource = 5;
  states[3].ionosphere[0] = 1.5;
  const GeodeticPos station{45.0, 10.0, 100.0f};
  const double at30 = TropoDelay(kTime_s, states[3], station);
  ASSERT_GT(at30, 4.0);
  ASSERT_LT(TropoDelay(kTime_s, states[7], station), -kTropoLimit_m);
  const int32_t prns[2] = {3, 7};
  double ranges[2] = {2.2e7, 2.4e7};
  ApplyAtmosphere(kTime_s, 2, prns, ranges, 1, station, states);
  EXPECT_FIELDS(FIELD_IS(ranges[0], 2.2e7 - at30), FIELD_IS(states[3].troposphericDelay, at30),
                FIELD_IS(ranges[1], 2.4e7), FIELD_IS(states[7].troposphericDelay, 0.0),
                FIELD_IS(states[3].ionosphereSource, 0), FIELD_IS(states[3].ionosphere[0], 0.0));
  double untouched[2] = {2.2e7, 2.4e7};
  ApplyAtmosphere(kTime_s, 2, prns, untouched, 0, station, states);
  EXPECT_EQ(untouched[0], 2.2e7);
  EXPECT_EQ(states[3].troposphericDelay, 0.0);
}

}  // namespace
}  // namespace talverin
