#include "dataset/position_stats.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "output/gpb_reader.h"

namespace talverin {
namespace {

// Nearest-rank 95th percentile of non-negative values.
double Percentile95(std::vector<double> values) {
  if (values.empty()) return 0.0;
  std::sort(values.begin(), values.end());
  const size_t rank = static_cast<size_t>(std::ceil(0.95 * values.size()));
  return values[std::min(values.size(), std::max<size_t>(rank, 1)) - 1];
}

constexpr double kMaxReferenceHeight_m = 100000.0;  // beyond: not a station on the Earth

bool CheckHeight(const std::string& what, double height_m, std::string* error) {
  if (std::fabs(height_m) <= kMaxReferenceHeight_m) return true;
  char text[256];
  std::snprintf(text, sizeof text,
                "%s lies %.0f km %s the ellipsoid, not within 100 km of the Earth's surface",
                what.c_str(), std::fabs(height_m) / 1000.0, height_m > 0.0 ? "above" : "below");
  *error = text;
  return false;
}

}  // namespace

bool ReferenceFromEcef(const double xyz_m[3], ReferencePoint* out, std::string* error) {
  char what[160];
  std::snprintf(what, sizeof what, "reference X,Y,Z %.4f,%.4f,%.4f m", xyz_m[0], xyz_m[1],
                xyz_m[2]);
  if (!std::isfinite(xyz_m[0]) || !std::isfinite(xyz_m[1]) || !std::isfinite(xyz_m[2])) {
    *error = std::string(what) + " is not finite";
    return false;
  }
  ReferencePoint p;
  for (int i = 0; i < 3; ++i) p.ecef_m[i] = xyz_m[i];
  Wgs84Reverse(xyz_m, &p.lat_deg, &p.lon_deg, &p.height_m);
  if (!CheckHeight(what, p.height_m, error)) {
    *error += " (latitude, longitude, height go with --reference-llh)";
    return false;
  }
  *out = p;
  return true;
}

bool ReferenceFromGeodetic(double lat_deg, double lon_deg, double height_m, ReferencePoint* out,
                           std::string* error) {
  char what[160];
  std::snprintf(what, sizeof what, "reference latitude, longitude, height %.9f,%.9f,%.4f", lat_deg,
                lon_deg, height_m);
  if (!std::isfinite(lat_deg) || !std::isfinite(lon_deg) || !std::isfinite(height_m)) {
    *error = std::string(what) + " is not finite";
    return false;
  }
  if (std::fabs(lat_deg) > 90.0 || lon_deg < -180.0 || lon_deg > 360.0) {
    *error =
        std::string(what) + ": latitude must lie in -90..90 and longitude in -180..360 degrees";
    return false;
  }
  if (!CheckHeight(what, height_m, error)) return false;
  ReferencePoint p;
  p.lat_deg = lat_deg;
  p.lon_deg = lon_deg;
  p.height_m = height_m;
  Wgs84Forward(lat_deg, lon_deg, height_m, p.ecef_m);
  *out = p;
  return true;
}

void RaiseReference(double height_m, ReferencePoint* point) {
  point->height_m += height_m;
  Wgs84Forward(point->lat_deg, point->lon_deg, point->height_m, point->ecef_m);
}

EnuFrame::EnuFrame(const ReferencePoint& reference)
    : frame_(reference.lat_deg, reference.lon_deg, reference.height_m) {}

void EnuFrame::Enu(double lat_deg, double lon_deg, double height_m, double enu_m[3]) const {
  frame_.Forward(lat_deg, lon_deg, height_m, enu_m);
}

bool ComputePositionStats(const std::string& gpbPath, const double reference_m[3],
                          PositionStats* stats, std::string* error) {
  ReferencePoint reference;
  for (int i = 0; i < 3; ++i) reference.ecef_m[i] = reference_m[i];
  Wgs84Reverse(reference_m, &reference.lat_deg, &reference.lon_deg, &reference.height_m);
  return ComputePositionStats(gpbPath, reference, stats, error);
}

bool ComputePositionStats(const std::string& gpbPath, const ReferencePoint& reference,
                          PositionStats* stats, std::string* error) {
  *stats = PositionStats{};
  GpbReader reader;
  if (reader.Open(gpbPath.c_str()) != 0) {
    *error = reader.errorText();
    return false;
  }
  const EnuFrame frame(reference);

  std::vector<double> horizontal, vertical;
  static GpbReadEpoch read;
  int32_t status;
  while ((status = reader.ReadEpoch(&read)) == 1) {
    ++stats->epochs;
    const gpb_epoch_type& e = read.epoch;
    if ((e.flags & kEpochPositionValid) == 0) continue;
    double enu[3];
    frame.Enu(e.lat, e.lon, e.height, enu);
    const double east = enu[0], north = enu[1], up = enu[2];
    ++stats->solved;
    stats->meanE_m += east;
    stats->meanN_m += north;
    stats->meanU_m += up;
    const double h = std::hypot(east, north);
    horizontal.push_back(h);
    vertical.push_back(std::fabs(up));
    stats->rmsH_m += h * h;
    stats->rmsV_m += up * up;
    stats->maxH_m = std::max(stats->maxH_m, h);
    stats->maxV_m = std::max(stats->maxV_m, std::fabs(up));
    stats->max3d_m = std::max(stats->max3d_m, std::sqrt(h * h + up * up));
  }
  if (status < 0) {
    *error = reader.errorText();
    return false;
  }
  if (stats->solved > 0) {
    const double n = stats->solved;
    stats->meanE_m /= n;
    stats->meanN_m /= n;
    stats->meanU_m /= n;
    stats->rmsH_m = std::sqrt(stats->rmsH_m / n);
    stats->rmsV_m = std::sqrt(stats->rmsV_m / n);
    stats->p95H_m = Percentile95(horizontal);
    stats->p95V_m = Percentile95(vertical);
  }
  return true;
}

std::string FormatPositionStats(const PositionStats& s) {
  char text[512];
  std::snprintf(text, sizeof text,
                "epochs solved %d/%d (%.1f %%)\n"
                "mean E/N/U %+.2f %+.2f %+.2f m\n"
                "RMS H %.2f m  V %.2f m   95%% H %.2f m  V %.2f m   max H %.2f V %.2f 3D %.2f m\n",
                s.solved, s.epochs, s.epochs > 0 ? 100.0 * s.solved / s.epochs : 0.0, s.meanE_m,
                s.meanN_m, s.meanU_m, s.rmsH_m, s.rmsV_m, s.p95H_m, s.p95V_m, s.maxH_m, s.maxV_m,
                s.max3d_m);
  return text;
}

}  // namespace talverin
