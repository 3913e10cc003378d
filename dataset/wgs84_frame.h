// WGS84 geodetic coordinates (latitude, longitude in degrees, ellipsoidal height in m) to and
// from ECEF (m), and a local east/north/up frame (m) at a point, for the program's position
// figures. The ellipse is WGS84 by its defining a = 6378137 m and 1/f = 298.257223563 (not the
// receiver's rounded b that the module's datum keeps); the conversions are the module's own
// (geodesy/geodetic.h), one build for every platform. No datum shifts, no geoid heights.
#pragma once

namespace talverin {

// Geodetic degrees and m to ECEF (m).
void Wgs84Forward(double lat_deg, double lon_deg, double height_m, double ecef_m[3]);
// ECEF (m) to geodetic degrees (longitude in (-180, 180]) and m.
void Wgs84Reverse(const double ecef_m[3], double* lat_deg, double* lon_deg, double* height_m);

// East, north, up (m) about an origin given in geodetic degrees and m.
class LocalEnu {
 public:
  LocalEnu(double lat0_deg, double lon0_deg, double height0_m);
  void Forward(double lat_deg, double lon_deg, double height_m, double enu_m[3]) const;
  void Reverse(const double enu_m[3], double* lat_deg, double* lon_deg, double* height_m) const;

 private:
  double origin_m_[3];
  double rotation_[3][3];  // rows: east, north, up unit vectors in ECEF
};

}  // namespace talverin
