// Ellipse and datum records and the conversions between geodetic coordinates (latitude and
// longitude in radians, or degrees in GeodeticPos; ellipsoidal height in m) and Earth-centred
// Earth-fixed Cartesian coordinates (m). The working datum is the built-in WGS84 datum
// (a = 6378137.0 m, b = 6356752.3141 m). e^2 = (a^2 - b^2) / a^2 is derived from a and b at
// every use. No datum shifts, no geoid: heights are above the ellipse.
#pragma once

namespace talverin {

struct Ellipse {
  char name[32];
  double a;  // m, semi-major axis
  double b;  // m, semi-minor axis
};

struct Datum {
  char name[32];
  const Ellipse* ellipse;  // may be null: the conversions then write nothing
};

// Ellipsoidal heights (m) that a receiver on or near the Earth's surface can hold: from 1 km
// below the ellipse (the lowest shore, the Dead Sea's, lies about 0.4 km below it, and the
// geoid nowhere more than 0.11 km) to 100 km above it (aircraft and balloons stay below
// 50 km; higher is orbit). A reported position outside this band is no receiver position.
constexpr double kMinReceiverHeight_m = -1000.0;
constexpr double kMaxReceiverHeight_m = 100000.0;
// Written so that NaN is outside.
constexpr bool PlausibleReceiverHeight(double h_m) {
  return h_m >= kMinReceiverHeight_m && h_m <= kMaxReceiverHeight_m;
}

struct GeodeticPos {
  double lat;    // degrees, north positive
  double lon;    // degrees, east positive
  float height;  // m above the ellipse
};

// The built-in WGS84 datum and its ellipse, owned together. datum.ellipse points into the
// same object, so the pair is not copied.
struct Wgs84Datum {
  Wgs84Datum() = default;
  Wgs84Datum(const Wgs84Datum&) = delete;
  Wgs84Datum& operator=(const Wgs84Datum&) = delete;

  Ellipse ellipse;
  Datum datum;
};
// Fills the ellipse "WGS84" (a = 6378137.0 m, b = 6356752.3141 m) and the datum "WGS84" on it.
void BuildWgs84Datum(Wgs84Datum* out);

// Geodetic (lat, lon in radians, h in m) to ECEF xyz (m) on the ellipse (a, b) in m.
void GeodeticToCartesian(double a, double b, double lat_rad, double lon_rad, double h_m,
                         double xyz_m[3]);
// ECEF xyz (m) to geodetic: latitude by fixed-point iteration (tolerance 1e-10 rad, at most
// kMaxLatitudePasses passes), longitude in (-pi, pi], height in m. On the polar axis the
// latitude is +-pi/2 and the height |Z| - b. Non-finite input gives non-finite output.
void CartesianToGeodetic(const double xyz_m[3], double a, double b, double* lat_rad,
                         double* lon_rad, double* h_m);
// GeodeticPos (degrees, m) to ECEF xyz (m) on datum's ellipse; nothing written without one.
void DatumGeodeticToCartesian(const GeodeticPos& pos, const Datum& datum, double xyz_m[3]);
// ECEF xyz (m) to GeodeticPos (degrees, height narrowed to float); nothing written without
// an ellipse.
void DatumCartesianToGeodetic(const double xyz_m[3], const Datum& datum, GeodeticPos* pos);

}  // namespace talverin
