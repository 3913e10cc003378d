// Positions of the quality report, solved once: one conversion through the module's
// ConvertFile without recomputation into a temporary folder (removed afterwards) writes
// each epoch as the module's positioning engine receives it; read back in order, each goes
// through a SinglePoint engine that the module's ephemeris reader filled as a conversion
// fills its own, which gives the position a recomputing conversion writes and the
// satellites used and post-fit residual RMS that the GPB file does not hold. The module's
// texts of both, in the order a recomputing conversion sends them. Local east/north/up (m)
// on WGS84 (dataset/wgs84_frame.h). The engine's store also serves the elevations of
// qc_figures.cpp.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "dataset/session_week.h"
#include "qc/qc_figures.h"

namespace talverin {

class EphemerisStore;
class SinglePoint;

// The set's E file decoded by the module's reader into an engine's store, as a conversion
// that recomputes positions fills its own (the GPS records it keeps, in file order).
class ModuleEphemerides {
 public:
  ModuleEphemerides();
  ~ModuleEphemerides();
  ModuleEphemerides(const ModuleEphemerides&) = delete;
  ModuleEphemerides& operator=(const ModuleEphemerides&) = delete;

  // False when the file cannot be opened or read, or the engine could not be built.
  bool Load(const std::string& ephemerisPath);
  int32_t gpsCount() const;
  SinglePoint& engine();
  EphemerisStore& store();

 private:
  std::unique_ptr<SinglePoint> engine_;
};

// Converts bPath, solves its epochs and fills report->positions and report->epochSeries
// (times through the session's week). eph: the loaded ephemerides; its engine solves.
void ComputePositions(const std::string& bPath, const QcOptions& options,
                      const SessionWeek& session, ModuleEphemerides& eph, QcReport* report);

// ECEF (m) to geodetic degrees and m on WGS84, and back (dataset/wgs84_frame.h).
void EcefToLatLonHeight(const double ecef_m[3], double* lat_deg, double* lon_deg, double* h_m);
void LatLonHeightToEcef(double lat_deg, double lon_deg, double h_m, double ecef_m[3]);

// Report time of a receiver time: full GPS seconds through the tracker when the week is
// known, else the seconds of week as they stand.
double ReportTime(WeekTracker& tracker, bool weekKnown, double tow_s);

}  // namespace talverin
