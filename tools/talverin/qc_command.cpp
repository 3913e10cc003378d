// `talverin qc`: the quality report of a download set (qc/qc_set.h). One set per process,
// as the module's state is module-wide; the report goes beside the input, into -d DIR, or
// to -o FILE, written through a temporary name. The text summary goes to stdout, problems
// to stderr. Exit status: 0 report complete, 1 report written with missing parts (it says
// which), 2 usage error, unreadable input or no report written.
#include <cmath>
#include <cstdio>

#include "qc/qc_json.h"
#include "qc/qc_set.h"
#include "tools/talverin/commands.h"

namespace talverin_cli {
namespace {

// A reference further than this from a sphere of the Earth's mean radius is a typing
// error (geodetic values given as X,Y,Z, a missing digit).
constexpr double kEarthRadius_m = 6371000.0;
constexpr double kMaxReferenceOff_m = 100000.0;

}  // namespace

const char kQcHelp[] =
    "Writes one self-contained HTML page per set (opens offline) and prints a short\n"
    "summary: completeness and gaps, satellites, observations per observable, loss-of-lock\n"
    "flags, cycle slips, mean SNR, MP1/MP2 and the ionospheric delay rate (dual frequency),\n"
    "and the positions the module recomputes (east/north/up against their mean or the\n"
    "reference), with plots. Times are GPS time.\n"
    "\n"
    "Exit status: 0 report complete; 1 report written, it lists what is missing (no\n"
    "ephemerides, damage, unknown week); 2 usage error, no such set, or no report written.\n"
    "\n"
    "Example:\n"
    "  talverin qc set/BBAHRA04.162 --reference 3633908.899,4425275.499,2799861.339\n";

int RunQc(const QcArgs& args) {
  talverin::QcOptions options;
  options.receiverType = ReceiverTypeFromName(args.receiver);
  if (options.receiverType < 0) {
    std::fprintf(stderr, "talverin qc: unknown receiver type '%s' (auto, ca, dual, "
                 "l2-codeless, glonass or 0-4)\n", args.receiver.c_str());
    return 2;
  }
  options.gpsWeek = args.gpsWeek;
  if (!args.reference.empty()) {
    const double* x = args.reference.data();
    const double r = std::sqrt(x[0] * x[0] + x[1] * x[1] + x[2] * x[2]);
    if (args.reference.size() != 3 || !std::isfinite(r) ||
        std::fabs(r - kEarthRadius_m) > kMaxReferenceOff_m) {
      std::fprintf(stderr, "talverin qc: --reference must be X,Y,Z in metres (ECEF) within "
                   "100 km of the Earth's surface\n");
      return 2;
    }
    options.hasReference = true;
    for (int i = 0; i < 3; ++i) options.reference_m[i] = x[i];
  }
  const std::string report =
      args.output.empty() ? talverin::QcReportPath(args.input, args.outputDir) : args.output;
  const talverin::QcSetResult result = talverin::RunQcSet(args.input, options, report);
  std::fputs(result.text.c_str(), stdout);
  if (!result.error.empty()) std::fprintf(stderr, "talverin qc: %s\n", result.error.c_str());
  if (!args.json.empty() && !result.json.empty()) {
    const std::string json = talverin::QcJsonDocument(args.input, result.status, result.json);
    std::string error;
    if (!talverin::WriteFileSafely(args.json, json, talverin::SetFiles(args.input), &error)) {
      std::fprintf(stderr, "talverin qc: %s\n", error.c_str());
      return 2;
    }
  }
  return result.status;
}

}  // namespace talverin_cli
