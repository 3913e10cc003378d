// The program's WGS84 conversions and local frame against GeographicLib over a grid with the
// poles and the antimeridian: the refined latitude within 1e-13 rad (under a micrometre),
// points, heights and east/north/up offsets within 1e-8 m.
#include "dataset/wgs84_frame.h"

#include <gtest/gtest.h>

#include <GeographicLib/Geocentric.hpp>
#include <GeographicLib/LocalCartesian.hpp>

namespace talverin {
namespace {

TEST(Wgs84Frame, MatchesGeographicLibOverGrid) {
  const GeographicLib::Geocentric& wgs84 = GeographicLib::Geocentric::WGS84();
  for (double lat : {-90.0, -89.999, -45.0, 0.0, 30.0, 89.9, 90.0}) {
    for (double lon : {-180.0, -0.5, 45.0, 179.5}) {
      for (double h : {-1000.0, 0.0, 2800.0, 1.0e5}) {
        SCOPED_TRACE(testing::Message() << "lat " << lat << " lon " << lon << " h " << h);
        double expected[3], ecef[3], enu[3], back[3];
        wgs84.Forward(lat, lon, h, expected[0], expected[1], expected[2]);
        Wgs84Forward(lat, lon, h, ecef);
        for (int i = 0; i < 3; ++i) EXPECT_NEAR(expected[i], ecef[i], 1e-8) << "axis " << i;
        Wgs84Reverse(expected, &back[0], &back[1], &back[2]);
        EXPECT_NEAR(lat, back[0], 1e-13 * 57.3);
        EXPECT_NEAR(h, back[2], 1e-8);
        const GeographicLib::LocalCartesian reference(lat, lon, h, wgs84);
        const LocalEnu frame(lat, lon, h);
        const double lat1 = lat > 0.0 ? lat - 0.01 : lat + 0.01;  // a point 1 km away
        reference.Forward(lat1, lon + 0.02, h + 30.0, expected[0], expected[1], expected[2]);
        frame.Forward(lat1, lon + 0.02, h + 30.0, enu);
        for (int i = 0; i < 3; ++i) EXPECT_NEAR(expected[i], enu[i], 1e-8) << "enu " << i;
        frame.Reverse(enu, &back[0], &back[1], &back[2]);
        EXPECT_NEAR(h + 30.0, back[2], 1e-8);
      }
    }
  }
}

}  // namespace
}  // namespace talverin
