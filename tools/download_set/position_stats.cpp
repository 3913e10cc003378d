#include "tools/download_set/position_stats.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "base/gnss_constants.h"
#include "geodesy/geodetic.h"
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

}  // namespace

bool ComputePositionStats(const std::string& gpbPath, const double reference_m[3],
                          PositionStats* stats, std::string* error) {
  *stats = PositionStats{};
  GpbReader reader;
  if (reader.Open(gpbPath.c_str()) != 0) {
    *error = reader.errorText();
    return false;
  }
  Wgs84Datum wgs84;
  BuildWgs84Datum(&wgs84);
  double refLat, refLon, refH;
  CartesianToGeodetic(reference_m, wgs84.ellipse.a, wgs84.ellipse.b, &refLat, &refLon, &refH);
  const double sLat = std::sin(refLat), cLat = std::cos(refLat);
  const double sLon = std::sin(refLon), cLon = std::cos(refLon);

  std::vector<double> horizontal, vertical;
  static GpbReadEpoch read;
  int32_t status;
  while ((status = reader.ReadEpoch(&read)) == 1) {
    ++stats->epochs;
    const gpb_epoch_type& e = read.epoch;
    if ((e.flags & kEpochPositionValid) == 0) continue;
    GeodeticPos pos{e.lat, e.lon, e.height};
    double xyz[3];
    DatumGeodeticToCartesian(pos, wgs84.datum, xyz);
    const double dx = xyz[0] - reference_m[0], dy = xyz[1] - reference_m[1],
                 dz = xyz[2] - reference_m[2];
    const double east = -sLon * dx + cLon * dy;
    const double north = -sLat * cLon * dx - sLat * sLon * dy + cLat * dz;
    const double up = cLat * cLon * dx + cLat * sLon * dy + sLat * dz;
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
