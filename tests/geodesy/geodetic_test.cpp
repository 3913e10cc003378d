// Geodetic and Cartesian coordinates against GeographicLib over a grid that includes the
// poles, the antimeridian and heights to 30 000 km; hand facts on the axes; the float
// height of the datum forms; absurd inputs that a diverged adjustment can hand over.
#include "geodesy/geodetic.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "testkit/reference_models.h"

#include <GeographicLib/Geocentric.hpp>

namespace talverin {
namespace {

using testing_support::Distance3;

constexpr double kA = 6378137.0;
constexpr double kB = 6356752.3141;
constexpr double kDeg = 0.017453292519943295;  // rad per degree

// The reference ellipsoid has exactly our a and b (our b is not the one the official 1/f
// gives), so any difference is the conversion's own. Forward points and heights agree to
// 2e-8 m (four units in the last place at 30 000 km); the latitude that entered the last
// pass is within the 1e-10 rad stop tolerance of the fixed point (0.6 mm on the ground). The
// datum forms (degrees, float height) agree as well, the height within one float step.
TEST(GeodeticConversion, MatchesGeographicLibOverGrid) {
  const GeographicLib::Geocentric reference(kA, (kA - kB) / kA);
  Wgs84Datum wgs;
  BuildWgs84Datum(&wgs);
  EXPECT_STREQ("WGS84", wgs.datum.name);
  for (double lat : {-90.0, -89.99999, -89.999, -89.0, -75.0, -45.0, -10.0, 0.0, 0.5, 30.0, 60.0,
                     80.0, 89.9, 89.999, 90.0}) {
    for (double lon : {-180.0, -135.0, -90.0, -0.5, 0.0, 45.0, 90.0, 179.5, 180.0}) {
      for (double h : {-1000.0, 0.0, 100.0, 2800.0, 8848.0, 1.0e5, 2.02e7, 3.0e7}) {
        SCOPED_TRACE(testing::Message() << "lat " << lat << " lon " << lon << " h " << h);
        double expected[3], xyz[3], lat_rad, lon_rad, h_m;
        reference.Forward(lat, lon, h, expected[0], expected[1], expected[2]);
        GeodeticToCartesian(kA, kB, lat * kDeg, lon * kDeg, h, xyz);
        EXPECT_LT(Distance3(xyz, expected), 2e-8);
        DatumGeodeticToCartesian(GeodeticPos{lat, lon, static_cast<float>(h)}, wgs.datum, xyz);
        EXPECT_LT(Distance3(xyz, expected), 2e-8);
        CartesianToGeodetic(expected, kA, kB, &lat_rad, &lon_rad, &h_m);
        EXPECT_NEAR(lat, lat_rad / kDeg, 1e-10 / kDeg);
        EXPECT_NEAR(h, h_m, 2e-8);
        GeodeticPos pos{0.0, 0.0, 0.0f};
        DatumCartesianToGeodetic(expected, wgs.datum, &pos);
        EXPECT_NEAR(lat, pos.lat, 1e-10 / kDeg);
        EXPECT_LE(std::fabs(pos.height - h), std::fabs(h) * 1.2e-7 + 1e-6);
        if (std::fabs(lat) == 90.0) continue;
        EXPECT_LT(std::fabs(std::remainder(lon - lon_rad / kDeg, 360.0)) * std::cos(lat * kDeg),
                  1e-9);
        EXPECT_LT(std::fabs(std::remainder(lon - pos.lon, 360.0)) * std::cos(lat * kDeg), 1e-9);
      }
    }
  }
}

// On the polar axis the latitude and axial height whatever tiny x and y (down to a denormal
// distance) or the sign of zero; the antimeridian gives +180 degrees for either sign of y.
TEST(GeodeticConversion, AxesAndAntimeridianByHand) {
  const struct {
    double xyz[3];
    double lat_rad, lon_rad, h_m;  // lon_rad NaN: any finite longitude
  } cases[] = {
      {{kA, 0.0, 0.0}, 0.0, 0.0, 0.0},
      {{-kA, 0.0, 0.0}, 0.0, M_PI, 0.0},
      {{-kA, -0.0, 0.0}, 0.0, M_PI, 0.0},
      {{0.0, 0.0, kB + 100.0}, M_PI / 2, NAN, 100.0},
      {{0.0, 0.0, -(kB + 2800.0)}, -M_PI / 2, NAN, 2800.0},
      {{-0.0, 0.0, kB - 1000.0}, M_PI / 2, NAN, -1000.0},
      {{1e-12, -1e-12, kB + 5.0}, M_PI / 2, NAN, 5.0},  // within a nanometre of the axis
      {{1e-320, 0.0, kB}, M_PI / 2, NAN, 0.0},          // denormal distance: no overflow
      {{0.0, 0.0, 0.0}, M_PI / 2, NAN, -kB},            // the centre
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.xyz[0] << " " << c.xyz[1] << " " << c.xyz[2]);
    double lat = 1.0, lon = 1.0, h = 1.0;
    CartesianToGeodetic(c.xyz, kA, kB, &lat, &lon, &h);
    EXPECT_DOUBLE_EQ(c.lat_rad, lat);
    EXPECT_NEAR(c.h_m, h, 1e-9);
    EXPECT_TRUE(std::isnan(c.lon_rad) ? std::isfinite(lon) : lon == c.lon_rad) << lon;
  }
}

// A diverged adjustment can hand over absurd (but finite: it refuses others) coordinates:
// the conversion must return, the iteration capped.
TEST(GeodeticConversion, AbsurdInputReturns) {
  // Beyond the float range the reported height is infinite (the narrowing is guarded; x86
  // would give the same without the guard, so this pins the contract, not the guard).
  Wgs84Datum wgs;
  BuildWgs84Datum(&wgs);
  const double farPoint[3] = {1e39, 0.0, 0.0};  // beyond FLT_MAX, x * x still finite
  GeodeticPos pos{0.0, 0.0, 0.0f};
  DatumCartesianToGeodetic(farPoint, wgs.datum, &pos);
  EXPECT_EQ(std::numeric_limits<float>::infinity(), pos.height);
  // Inside the Earth's core the iteration does not converge; the pass cap ends it with a
  // finite point deep below the ellipse.
  const double nearCentre[3] = {-1.0e-3, 0.0, -1.0e-3};
  DatumCartesianToGeodetic(nearCentre, wgs.datum, &pos);
  EXPECT_TRUE(std::isfinite(pos.lat));
  EXPECT_LT(pos.height, -6.3e6f);
}

}  // namespace
}  // namespace talverin
