// Accuracy of the positions in a GPB file against a known station position: east, north
// and up errors (m) of every epoch whose position flag is set, their means, horizontal and
// vertical RMS, 95th percentiles and maxima, and the share of epochs solved. For the
// command-line host's `stats` and the real-data tests; not part of the module.
#pragma once

#include <string>

namespace talverin {

struct PositionStats {
  int epochs = 0;        // epochs in the file
  int solved = 0;        // epochs with a position
  double meanE_m = 0.0, meanN_m = 0.0, meanU_m = 0.0;
  double rmsH_m = 0.0, rmsV_m = 0.0;
  double p95H_m = 0.0, p95V_m = 0.0;
  double maxH_m = 0.0, maxV_m = 0.0, max3d_m = 0.0;
};

// reference_m: ECEF X, Y, Z of the antenna (m). False with a reason when the file cannot be
// read whole.
bool ComputePositionStats(const std::string& gpbPath, const double reference_m[3],
                          PositionStats* stats, std::string* error);
std::string FormatPositionStats(const PositionStats& stats);

}  // namespace talverin
