// Ellipse and datum records and the conversions between geodetic coordinates (latitude,
// longitude in degrees or radians, ellipsoidal height in m) and Earth-centred Earth-fixed
// Cartesian coordinates (m). The working datum of every conversion is WGS84
// (a = 6378137.0 m, b = 6356752.3141 m). No datum shifts are applied.
#pragma once

namespace talverin {

struct Ellipse {
  char name[32];
  double a;   // m, semi-major axis
  double b;   // m, semi-minor axis
};

struct Datum {
  char name[32];
  const Ellipse* ellipse;  // may be null: the conversions then write nothing
};

struct GeodeticPos {
  double lat;    // degrees, north positive
  double lon;    // degrees, east positive
  float height;  // m above the ellipse
};

// The built-in WGS84 datum and its ellipse, owned together.
struct Wgs84Datum {
  Ellipse ellipse;
  Datum datum;
};
void BuildWgs84Datum(Wgs84Datum* out);

// lat, lon in radians; h and xyz in m.
void GeodeticToCartesian(double a, double b, double lat_rad, double lon_rad, double h_m,
                         double xyz_m[3]);
void CartesianToGeodetic(const double xyz_m[3], double a, double b, double* lat_rad,
                         double* lon_rad, double* h_m);
void DatumGeodeticToCartesian(const GeodeticPos& pos, const Datum& datum, double xyz_m[3]);
void DatumCartesianToGeodetic(const double xyz_m[3], const Datum& datum, GeodeticPos* pos);

}  // namespace talverin
