// Positions of the quality report: one conversion through the module's ConvertFile into a
// temporary folder (removed afterwards), its GPB file read back, and each epoch replayed
// through the module's SinglePoint engine (its solution as the a-priori value, nothing
// written back) for the satellites used and the post-fit residual RMS, which the GPB file
// does not hold. Local east/north/up (m) through GeographicLib. The module's ephemeris
// reader fills the engine's store, which also serves the elevations of qc_figures.cpp.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "qc/qc_figures.h"
#include "tools/download_set/session_week.h"

namespace talverin {

class ConversionJob;
class EphemerisStore;
class SinglePoint;

// The set's E file read by the module's own reader into a job's engine, as a conversion
// loads it (healthy GPS records only).
class ModuleEphemerides {
 public:
  ModuleEphemerides();
  ~ModuleEphemerides();
  ModuleEphemerides(const ModuleEphemerides&) = delete;
  ModuleEphemerides& operator=(const ModuleEphemerides&) = delete;

  // False when the file cannot be opened or the job could not be built.
  bool Load(const std::string& ephemerisPath, int32_t receiverType);
  int32_t gpsCount() const;
  SinglePoint& engine();
  EphemerisStore& store();

 private:
  std::unique_ptr<ConversionJob> job_;
};

// Converts bPath, reads the GPB file back and fills report->positions and
// report->epochSeries (times through the session's week). eph: the loaded ephemerides.
void ComputePositions(const std::string& bPath, const QcOptions& options,
                      const SessionWeek& session, ModuleEphemerides& eph, QcReport* report);

// ECEF (m) to geodetic degrees and m on WGS84, and back (GeographicLib).
void EcefToLatLonHeight(const double ecef_m[3], double* lat_deg, double* lon_deg, double* h_m);
void LatLonHeightToEcef(double lat_deg, double lon_deg, double h_m, double ecef_m[3]);

// Report time of a receiver time: full GPS seconds through the tracker when the week is
// known, else the seconds of week as they stand.
double ReportTime(WeekTracker& tracker, bool weekKnown, double tow_s);

}  // namespace talverin
