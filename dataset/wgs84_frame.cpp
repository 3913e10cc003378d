#include "dataset/wgs84_frame.h"

#include <cmath>

#include "base/gnss_constants.h"
#include "geodesy/geodetic.h"

namespace talverin {
namespace {

constexpr double kA_m = 6378137.0;                       // WGS84 semi-major axis (NIMA TR8350.2)
constexpr double kInverseF = 298.257223563;              // WGS84 inverse flattening (NIMA TR8350.2)
constexpr double kB_m = kA_m * (1.0 - 1.0 / kInverseF);  // semi-minor axis, derived once
constexpr double kE2 = (kA_m * kA_m - kB_m * kB_m) / (kA_m * kA_m);  // first eccentricity^2
// The module's latitude stops within 1e-10 rad (0.6 mm); each further fixed-point pass shrinks
// the error by about e^2 (< 0.007), so three reach the spacing of doubles.
constexpr int kRefinePasses = 3;

// Height above the ellipse by the projection onto the normal at lat_rad (stable at the poles).
double HeightAt(double p_m, double z_m, double lat_rad) {
  const double s = std::sin(lat_rad);
  return p_m * std::cos(lat_rad) + z_m * s - kA_m * std::sqrt(1.0 - kE2 * s * s);
}

}  // namespace

void Wgs84Forward(double lat_deg, double lon_deg, double height_m, double ecef_m[3]) {
  GeodeticToCartesian(kA_m, kB_m, lat_deg * kRadPerDeg, lon_deg * kRadPerDeg, height_m, ecef_m);
}

void Wgs84Reverse(const double ecef_m[3], double* lat_deg, double* lon_deg, double* height_m) {
  double lat_rad = 0.0, lon_rad = 0.0;
  CartesianToGeodetic(ecef_m, kA_m, kB_m, &lat_rad, &lon_rad, height_m);
  const double p_m = std::hypot(ecef_m[0], ecef_m[1]), z_m = ecef_m[2];
  for (int pass = 0; pass < kRefinePasses && std::isfinite(lat_rad); ++pass) {
    const double s = std::sin(lat_rad);
    const double n_m = kA_m / std::sqrt(1.0 - kE2 * s * s);  // prime-vertical radius
    lat_rad = std::atan2(z_m, (1.0 - kE2 * n_m / (n_m + HeightAt(p_m, z_m, lat_rad))) * p_m);
  }
  if (std::isfinite(lat_rad)) *height_m = HeightAt(p_m, z_m, lat_rad);
  *lat_deg = lat_rad * kDegPerRad;
  *lon_deg = lon_rad * kDegPerRad;
}

LocalEnu::LocalEnu(double lat0_deg, double lon0_deg, double height0_m) {
  Wgs84Forward(lat0_deg, lon0_deg, height0_m, origin_m_);
  const double sLat = std::sin(lat0_deg * kRadPerDeg), cLat = std::cos(lat0_deg * kRadPerDeg);
  const double sLon = std::sin(lon0_deg * kRadPerDeg), cLon = std::cos(lon0_deg * kRadPerDeg);
  const double rows[3][3] = {
      {-sLon, cLon, 0.0}, {-sLat * cLon, -sLat * sLon, cLat}, {cLat * cLon, cLat * sLon, sLat}};
  for (int i = 0; i < 3; ++i) {
    for (int k = 0; k < 3; ++k) rotation_[i][k] = rows[i][k];
  }
}

void LocalEnu::Forward(double lat_deg, double lon_deg, double height_m, double enu_m[3]) const {
  double ecef_m[3];
  Wgs84Forward(lat_deg, lon_deg, height_m, ecef_m);
  for (int i = 0; i < 3; ++i) {
    enu_m[i] = rotation_[i][0] * (ecef_m[0] - origin_m_[0]) +
               rotation_[i][1] * (ecef_m[1] - origin_m_[1]) +
               rotation_[i][2] * (ecef_m[2] - origin_m_[2]);
  }
}

void LocalEnu::Reverse(const double enu_m[3], double* lat_deg, double* lon_deg,
                       double* height_m) const {
  double ecef_m[3];
  for (int k = 0; k < 3; ++k) {
    ecef_m[k] = origin_m_[k] + rotation_[0][k] * enu_m[0] + rotation_[1][k] * enu_m[1] +
                rotation_[2][k] * enu_m[2];
  }
  Wgs84Reverse(ecef_m, lat_deg, lon_deg, height_m);
}

}  // namespace talverin
