// `talverin stats`: accuracy of the positions in a GPB file against a known station, and
// the reference handling that `positions` shares: X,Y,Z or LAT,LON,H as typed, refused when
// not finite or not within 100 km of the Earth's surface, raised by an antenna height.
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "cli/batch.h"
#include "cli/commands.h"
#include "dataset/position_stats.h"

namespace talverin_cli {
namespace {

constexpr double kMaxAntennaHeight_m = 100.0;  // no antenna stands higher on its marker

// Three comma-separated numbers; "nan" and "inf" parse (and are refused later as such).
bool ParseTriple(const std::string& text, double out[3]) {
  const char* p = text.c_str();
  for (int i = 0; i < 3; ++i) {
    char* end = nullptr;
    out[i] = std::strtod(p, &end);
    if (end == p || *end != (i < 2 ? ',' : '\0')) return false;
    p = end + 1;
  }
  return true;
}

}  // namespace

bool ResolveReference(const ReferenceArgs& args, talverin::ReferencePoint* point, bool* given,
                      std::string* error) {
  *given = !args.ecef.empty() || !args.geodetic.empty();
  if (!args.ecef.empty() && !args.geodetic.empty()) {
    *error = "give --reference or --reference-llh, not both";
    return false;
  }
  if (!std::isfinite(args.antennaHeight_m) ||
      std::fabs(args.antennaHeight_m) > kMaxAntennaHeight_m) {
    *error = "--antenna-height " + std::to_string(args.antennaHeight_m) +
             " m is not a height within -100..100 m";
    return false;
  }
  if (!*given) {
    if (args.antennaHeight_m != 0.0) *error = "--antenna-height needs a reference";
    return args.antennaHeight_m == 0.0;
  }
  const bool geodetic = !args.geodetic.empty();
  const std::string& text = geodetic ? args.geodetic : args.ecef;
  double v[3];
  if (!ParseTriple(text, v)) {
    *error = std::string(geodetic ? "--reference-llh" : "--reference") + " '" + text +
             "' is not three numbers " + (geodetic ? "LAT,LON,H (degrees, m)" : "X,Y,Z (m)");
    return false;
  }
  const bool ok = geodetic ? talverin::ReferenceFromGeodetic(v[0], v[1], v[2], point, error)
                           : talverin::ReferenceFromEcef(v, point, error);
  if (ok && args.antennaHeight_m != 0.0) talverin::RaiseReference(args.antennaHeight_m, point);
  return ok;
}

std::string FarReferenceWarning(const talverin::ReferencePoint& reference,
                                const double meanEnu_m[3]) {
  const double distance_m = std::sqrt(meanEnu_m[0] * meanEnu_m[0] + meanEnu_m[1] * meanEnu_m[1] +
                                      meanEnu_m[2] * meanEnu_m[2]);
  if (!(distance_m > kFarReference_m)) return "";
  const talverin::LocalEnu frame(reference.lat_deg, reference.lon_deg, reference.height_m);
  double lat_deg, lon_deg, height_m;
  frame.Reverse(meanEnu_m, &lat_deg, &lon_deg, &height_m);
  constexpr double kNear_deg = 0.1;  // about 10 km
  const auto near = [](double a, double b) { return std::fabs(a - b) < kNear_deg; };
  const char* cause = "a reference of another station, or values typed in the wrong form?";
  if (near(reference.lat_deg, lon_deg) && near(reference.lon_deg, lat_deg)) {
    cause = "latitude and longitude swapped?";
  } else if (near(reference.lat_deg, -lat_deg) && near(reference.lon_deg, lon_deg)) {
    cause = "the sign of the latitude?";
  } else if (near(reference.lat_deg, lat_deg) && near(reference.lon_deg, -lon_deg)) {
    cause = "the sign of the longitude?";
  }
  char text[256];
  std::snprintf(text, sizeof text,
                "the reference lies %.1f km from the mean position (lat %.6f lon %.6f): %s",
                distance_m / 1000.0, lat_deg, lon_deg, cause);
  return text;
}

StatsResult Stats(const StatsArgs& args) {
  StatsResult result;
  result.status = kExitFailed;
  bool given = false;
  const bool usable = ResolveReference(args.reference, &result.reference, &given, &result.error);
  if (!given) {  // stats has nothing to measure against: this comes before any other reason
    result.error = "a reference is needed: --reference X,Y,Z or --reference-llh LAT,LON,H";
  }
  if (!usable || !given) return result;
  if (!talverin::ComputePositionStats(args.gpb, result.reference, &result.stats, &result.error)) {
    return result;
  }
  result.status = kExitOk;
  const double mean_m[3] = {result.stats.meanE_m, result.stats.meanN_m, result.stats.meanU_m};
  result.warning = FarReferenceWarning(result.reference, mean_m);
  if (!result.warning.empty()) result.status = kExitIncomplete;
  if (result.stats.solved == 0) {
    result.status = kExitIncomplete;
    result.error = "no epoch of " + args.gpb + " holds a position (" +
                   std::to_string(result.stats.epochs) + " epochs)";
  }
  return result;
}

int RunStats(const StatsArgs& args) {
  IgnoreBrokenPipes();
  const StatsResult result = Stats(args);
  if (!result.error.empty()) {
    std::fprintf(stderr, "talverin stats: %s\n", result.error.c_str());
    return result.status;
  }
  if (!result.warning.empty()) {
    std::fprintf(stderr, "talverin stats: warning: %s\n", result.warning.c_str());
  }
  const talverin::ReferencePoint& reference = result.reference;
  char line[256];
  std::snprintf(line, sizeof line,
                "reference: lat %.9f lon %.9f h %.4f m (X %.4f Y %.4f Z %.4f m)%s",
                reference.lat_deg, reference.lon_deg, reference.height_m, reference.ecef_m[0],
                reference.ecef_m[1], reference.ecef_m[2],
                args.reference.antennaHeight_m != 0.0 ? ", antenna height applied" : "");
  PrintLine(line);
  std::string text = talverin::FormatPositionStats(result.stats);
  if (!text.empty() && text.back() == '\n') text.pop_back();
  PrintLine(text);
  return result.status;
}

}  // namespace talverin_cli
