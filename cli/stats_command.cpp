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
  if (result.status != kExitOk) {
    std::fprintf(stderr, "talverin stats: %s\n", result.error.c_str());
    return result.status;
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
  return kExitOk;
}

}  // namespace talverin_cli
