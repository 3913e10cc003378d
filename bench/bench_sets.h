// Download sets for the benchmarks (not part of the module), made once per process: C/A
// ranges that a dual-frequency receiver at the BAHR antenna (WGS84 ECEF, m) would measure
// from the real broadcast ephemerides of 2004-06-10, from the independent range simulator,
// written as B and E files by the test writers. Also the checks that a conversion really
// solved every epoch: epoch count, GPB file length and every GPB position and clock against
// the simulated truth. Nothing here is timed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "orbit/gps_eph.h"

namespace talverin {
namespace bench {

struct SetShape {
  std::string name;      // also the set's directory name
  double start_s = 0.0;  // true GPS reception time of the first epoch, s of week
  int32_t epochs = 0;
  double interval_s = 1.0;
  int32_t minSatellites = 0;  // per epoch; lower satellites are added to reach it
  int32_t maxSatellites = 12;
  double trackFrom_deg = 5.0;  // elevation from which the receiver tracks
  // false: the broadcast records as they are. true: a full 32-satellite constellation whose
  // every satellite keeps one orbit all day, re-issued every 2 h (DayConstellation).
  bool constellation = false;
};

struct DownloadSet {
  SetShape shape;
  bool simulated = true;        // false: imported from real RINEX files, truth = known ARP
  std::string observationPath;  // B file
  int64_t observationBytes = 0;
  int64_t expectedGpbBytes = 0;   // new GPB variant, every epoch written
  double truth_m[3] = {};         // ECEF of the antenna
  double headerOffset_m[3] = {};  // receiver position in the epoch headers = truth + this
  double meanSatellites = 0.0;    // channel records per epoch
  double meanAboveMask = 0.0;     // of them at or above the 10 degree solution mask
  int32_t minSeen = 0;
  int32_t maxSeen = 0;
  std::vector<double> rcvTime_s;      // per epoch, the receiver time of its header
  std::vector<double> trueClock_m;    // per epoch
  std::vector<double> headerClock_m;  // per epoch, as the receiver wrote it
};

// Broadcast records of a RINEX 2 navigation file; empty with a reason when none is found.
std::vector<GpsEph> LoadNavigation(const std::string& path, std::string* why);
// The BAHR navigation file: TALVERIN_BENCH_NAV, else the project's data folder beside it.
std::string FindBahrNavigation();

// A 32-satellite day from real records: for every PRN one real record (the one nearest to
// the middle of the day; a PRN without records borrows another's orbit half a revolution
// ahead) re-issued with toe every 2 h from dayStart_s. The re-issued records describe the
// same orbit and clock exactly (mean anomaly, node and inclination moved along their rates,
// the clock polynomial moved to the new toc), so whichever of them a reader selects, the
// satellite is where the simulation put it.
std::vector<GpsEph> DayConstellation(const std::vector<GpsEph>& real, double dayStart_s);

// Writes the B and E files of one set into directory dir (which must exist).
[[nodiscard]] bool MakeDownloadSet(const std::string& dir, const SetShape& shape,
                                   const std::vector<GpsEph>& ephemerides, DownloadSet* out,
                                   std::string* why);

// The bundled real BAHR hour (samples/bahr-2004-162) imported into dir with the RINEX
// import; its truth is the station's known antenna reference point.
[[nodiscard]] bool ImportRealSet(const std::string& dir, const std::string& name, DownloadSet* out,
                                 std::string* why);

struct GpbCheck {
  int32_t epochs = 0;
  int32_t positioned = 0;           // epochs whose position-valid flag is set
  double maxPositionError_m = 0.0;  // against the truth (recomputed) or the header (copied)
  double maxClockError_m = 0.0;
  double rmsPositionError_m = 0.0;
  int64_t fileBytes = 0;
};

// Reads the GPB file back and compares every epoch with the set. Simulated set, recomputed:
// positions and clocks must be the simulated truth; not recomputed: the receiver's own
// header values. Real set: every epoch written; recomputed, no position more than 100 m
// from the known antenna (the errors are reported, metres are expected).
[[nodiscard]] bool CheckGpb(const std::string& gpbPath, const DownloadSet& set, bool recomputed,
                            GpbCheck* out, std::string* why);

}  // namespace bench
}  // namespace talverin
