// Positions of a GPB file against a known station: the reference point (ECEF or WGS84
// latitude, longitude, ellipsoidal height; refused when not finite or farther than 100 km
// from the ellipsoid, as coordinates typed in the wrong form are), an antenna height that
// raises a marker to the antenna along the ellipsoid normal, east/north/up offsets (m) from
// it, and the accuracy figures of every epoch whose position flag is set: means, horizontal
// and vertical RMS, 95th percentiles, maxima, share solved. Geodesy on WGS84
// (dataset/wgs84_frame.h). For the command-line host and the real-data tests; not part of the
// module.
#pragma once

#include <string>

#include "dataset/wgs84_frame.h"

namespace talverin {

struct ReferencePoint {
  double ecef_m[3] = {0.0, 0.0, 0.0};
  double lat_deg = 0.0;
  double lon_deg = 0.0;
  double height_m = 0.0;  // above the WGS84 ellipsoid
};

// False with the reason (naming the values) when not finite or not within 100 km of the
// ellipsoid; latitude must lie in -90..90 and longitude in -180..360 degrees.
bool ReferenceFromEcef(const double xyz_m[3], ReferencePoint* out, std::string* error);
bool ReferenceFromGeodetic(double lat_deg, double lon_deg, double height_m, ReferencePoint* out,
                           std::string* error);
// Raises the point by height_m along its ellipsoid normal (marker to antenna).
void RaiseReference(double height_m, ReferencePoint* point);

// East, north and up (m) of geodetic positions from a reference point.
class EnuFrame {
 public:
  explicit EnuFrame(const ReferencePoint& reference);
  void Enu(double lat_deg, double lon_deg, double height_m, double enu_m[3]) const;

 private:
  LocalEnu frame_;
};

struct PositionStats {
  int epochs = 0;  // epochs in the file
  int solved = 0;  // epochs with a position
  double meanE_m = 0.0, meanN_m = 0.0, meanU_m = 0.0;
  double rmsH_m = 0.0, rmsV_m = 0.0;
  double p95H_m = 0.0, p95V_m = 0.0;
  double maxH_m = 0.0, maxV_m = 0.0, max3d_m = 0.0;
};

// False with a reason when the file cannot be read whole.
bool ComputePositionStats(const std::string& gpbPath, const ReferencePoint& reference,
                          PositionStats* stats, std::string* error);
// reference_m: ECEF X, Y, Z of the antenna (m), taken as it is.
bool ComputePositionStats(const std::string& gpbPath, const double reference_m[3],
                          PositionStats* stats, std::string* error);
std::string FormatPositionStats(const PositionStats& stats);

}  // namespace talverin
