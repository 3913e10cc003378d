#include "geodesy/geodetic.h"

#include <cfloat>
#include <cmath>

#include "base/gnss_constants.h"
#include "base/text_buffer.h"

namespace talverin {
namespace {

constexpr double kWgs84A_m = 6378137.0;  // WGS84 semi-major axis
constexpr double kWgs84B_m =
    6356752.3141;  // WGS84 semi-minor axis as the receiver software uses it
constexpr double kLatitudeTolerance_rad = 1e-10;
// The fixed point contracts by about e^2 (< 0.007) per pass anywhere outside a few tens of
// km from the Earth's centre, so 2-5 passes suffice; the cap only ends a diverging or NaN
// iteration (|NaN - NaN| < tol is never true) so that a corrupt position cannot hang.
constexpr int kMaxLatitudePasses = 30;
// Closer than this to the polar axis the colatitude is below the spacing of doubles at pi/2,
// and the iteration's N / (N + h) term overflows as p goes to 0.
constexpr double kPolarAxisDistance_m = 1e-9;

double EccentricitySquared(double a, double b) { return (a * a - b * b) / (a * a); }

}  // namespace

void BuildWgs84Datum(Wgs84Datum* out) {
  if (out == nullptr) return;
  CopyText(out->ellipse.name, sizeof out->ellipse.name, "WGS84");
  out->ellipse.a = kWgs84A_m;
  out->ellipse.b = kWgs84B_m;
  CopyText(out->datum.name, sizeof out->datum.name, "WGS84");
  out->datum.ellipse = &out->ellipse;
}

void GeodeticToCartesian(double a, double b, double lat_rad, double lon_rad, double h_m,
                         double xyz_m[3]) {
  const double e2 = EccentricitySquared(a, b);
  const double sin_lat = std::sin(lat_rad);
  const double n_m = a / std::sqrt(1.0 - e2 * sin_lat * sin_lat);  // prime-vertical radius
  xyz_m[0] = (n_m + h_m) * std::cos(lat_rad) * std::cos(lon_rad);
  xyz_m[1] = (n_m + h_m) * std::cos(lat_rad) * std::sin(lon_rad);
  xyz_m[2] = ((1.0 - e2) * n_m + h_m) * sin_lat;
}

void CartesianToGeodetic(const double xyz_m[3], double a, double b, double* lat_rad,
                         double* lon_rad, double* h_m) {
  const double x = xyz_m[0], y = xyz_m[1], z = xyz_m[2];
  const double e2 = EccentricitySquared(a, b);
  const double p_m = std::sqrt(x * x + y * y);  // distance from the polar axis
  double lon = std::atan2(y, x);
  // atan2(-0, x < 0) gives -pi; the same meridian is reported as +pi.
  if (lon == -kPi) lon = kPi;
  *lon_rad = lon;

  // On the axis p / cos(lat) - N is 0 / 0: the latitude is the pole's and the height is
  // measured along the axis from the pole.
  if (p_m < kPolarAxisDistance_m) {
    *lat_rad = std::copysign(kPi / 2.0, z);
    *h_m = std::fabs(z) - b;
    return;
  }

  double lat = std::atan2(z, (1.0 - e2) * p_m);  // exact for a point on the ellipse
  double n_m = 0.0;
  for (int pass = 0; pass < kMaxLatitudePasses; ++pass) {
    const double sin_lat = std::sin(lat);
    n_m = a / std::sqrt(1.0 - e2 * sin_lat * sin_lat);
    const double h = p_m / std::cos(lat) - n_m;
    const double next_lat = std::atan2(z, (1.0 - e2 * n_m / (n_m + h)) * p_m);
    // The result is the latitude that entered this pass, not next_lat.
    if (std::fabs(lat - next_lat) < kLatitudeTolerance_rad) break;
    lat = next_lat;
  }
  *lat_rad = lat;
  // Height from the projection onto the normal at lat: p / cos(lat) - N would turn the
  // latitude's residual error (up to 1e-10 rad) into metres near the poles, where cos(lat)
  // goes to 0; this form is insensitive to it to first order.
  const double sin_lat = std::sin(lat);
  n_m = a / std::sqrt(1.0 - e2 * sin_lat * sin_lat);
  *h_m = p_m * std::cos(lat) + z * sin_lat - n_m * (1.0 - e2 * sin_lat * sin_lat);
}

void DatumGeodeticToCartesian(const GeodeticPos& pos, const Datum& datum, double xyz_m[3]) {
  if (datum.ellipse == nullptr) return;
  GeodeticToCartesian(datum.ellipse->a, datum.ellipse->b, pos.lat * kRadPerDeg,
                      pos.lon * kRadPerDeg, static_cast<double>(pos.height), xyz_m);
}

void DatumCartesianToGeodetic(const double xyz_m[3], const Datum& datum, GeodeticPos* pos) {
  if (datum.ellipse == nullptr) return;
  double lat_rad = 0.0, lon_rad = 0.0, h_m = 0.0;
  CartesianToGeodetic(xyz_m, datum.ellipse->a, datum.ellipse->b, &lat_rad, &lon_rad, &h_m);
  pos->lat = lat_rad * kDegPerRad;
  pos->lon = lon_rad * kDegPerRad;
  // A double beyond the float range does not narrow to a defined value.
  if (h_m > FLT_MAX) {
    pos->height = HUGE_VALF;
  } else if (h_m < -FLT_MAX) {
    pos->height = -HUGE_VALF;
  } else {
    pos->height = static_cast<float>(h_m);
  }
}

}  // namespace talverin
