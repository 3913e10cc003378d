// Quality figures of one download set: completeness (calendar GPS time span, interval,
// epochs present against expected, gaps), satellites, observations per observable,
// loss-of-lock flags, cycle slips, mean signal-to-noise, the code multipath MP1/MP2 (m, each
// arc's mean removed, arcs split at slips) and the L1 ionospheric delay rate (m/min) for
// dual-frequency and L2-codeless data, the classic QC summary figures above an elevation mask
// (possible observations from the ephemerides, complete ones, observations per slip), and the
// positions a conversion through the module recomputes
// (east/north/up in m against their mean or a reference). Elevations come from the module's
// orbit code. What is missing is said in notes, never filled in. Not part of the module.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "dataset/set_scan.h"

namespace talverin {

// GPS signal frequencies (ICD-GPS-200) and the combinations built on them.
constexpr double kL1Frequency_hz = 1575.42e6;
constexpr double kL2Frequency_hz = 1227.60e6;
// A dual-frequency arc ends at a step whose L1 ionospheric delay changes faster than this
// (m/min) or whose wide-lane (Melbourne-Wuebbena) ambiguity leaves the arc's running mean by
// more than kWideLaneSlip_cyc.
constexpr double kIonoRateSlip_mpm = 4.0;
constexpr double kWideLaneSlip_cyc = 4.0;
// Arcs shorter than this many epochs hold too few values for a mean: left out of MP RMS.
constexpr int kMinArcEpochs = 5;
// A code pair whose L1 and L2 ranges differ by more than this (m) holds a bad code: the
// ionosphere makes P2 - P1 0.65 times the L1 delay, rarely 30 m. Left out of MP and slips.
constexpr double kGrossCodeDifference_m = 50.0;
// Elevations are computed at most this often per satellite and held in between (a GPS
// satellite moves under 0.1 degree in this time).
constexpr double kElevationStep_s = 10.0;

// Observables counted, in the order of QcSatellite::observations.
enum QcObservable {
  kQcC1,
  kQcL1,
  kQcD1,
  kQcS1,
  kQcP1,
  kQcP2,
  kQcL2,
  kQcD2,
  kQcS2,
  kQcObservableCount
};
const char* QcObservableName(int observable);  // "C1", "L1", ... "S2"

struct QcOptions {
  int32_t receiverType = 0;   // 0 from the file header, else 1-4
  int32_t gpsWeek = -1;       // full GPS week override; -1 from the ephemerides and name
  bool hasReference = false;  // positions against this point instead of their mean
  double reference_m[3] = {0.0, 0.0, 0.0};  // ECEF
  // Observations at or below this elevation count in no figure above the mask: not possible,
  // not complete, no MP or slip.
  double maskElevation_deg = 10.0;
  // The epochs of the figures and positions (dataset/epoch_window.h); all when inactive.
  EpochWindow window;
};

using QcGap = SetGap;  // times in the time base of QcReport

struct QcSatellite {
  int32_t prn = 0;
  int64_t epochs = 0;                             // epochs holding this satellite
  int64_t observations[kQcObservableCount] = {};  // values present per observable
  int64_t lossOfLock = 0;       // observations with the receiver's restart bit (C/A or L2 block)
  int64_t slips = 0;            // detected in L1/L2 arcs above the mask
  int64_t arcs = 0;             // L1/L2 arcs above the mask (at least kMinArcEpochs epochs)
  int64_t aboveMask = 0;        // observations above the mask
  int64_t complete = 0;         // of which complete (QcReport::completeObservations)
  int64_t grossCode = 0;        // pairs whose L1 and L2 codes differ by over kGrossCodeDifference_m
  double grossCodeMax_m = 0.0;  // the largest such difference
  double snr1Sum = 0.0, snr2Sum = 0.0;
  int64_t snr1Count = 0, snr2Count = 0;
  double mp1Sum2 = 0.0, mp2Sum2 = 0.0;  // m^2, arc means removed
  int64_t mpCount = 0;
  double ionoRateSum2 = 0.0;  // (m/min)^2
  int64_t ionoRateCount = 0;
  double maxElevation_deg = -90.0;  // -90 when no elevation was computed
};

// One epoch of the conversion's output.
struct QcEpochPosition {
  double time_s = 0.0;  // time base of QcReport
  bool solved = false;
  double enu_m[3] = {0.0, 0.0, 0.0};  // against the centre (mean or reference)
  int32_t used = 0;                   // satellites the module's engine used (0 when unsolved)
  double residualRms_m = 0.0;         // post-fit: sqrt(sum of squares / (used - 4)), 1 dof minimum
};

struct QcMultipathPoint {
  double time_s;
  int32_t prn;
  float mp1_m, mp2_m;  // arc mean removed
};

struct QcSkyPoint {
  double time_s;
  int32_t prn;
  float azimuth_deg, elevation_deg;
  float snr1, snr2;  // 0 when absent
};

struct QcPositions {
  bool attempted = false;  // a conversion ran
  int32_t result = 0;      // ConvertFile's result
  std::string error;       // the module error text when result != 0
  int64_t epochs = 0;      // epochs in the GPB file
  int64_t solved = 0;      // with a recomputed position
  bool againstReference = false;
  double centre_m[3] = {0.0, 0.0, 0.0};  // ECEF of the mean (or the reference)
  double centreLat_deg = 0.0, centreLon_deg = 0.0, centreHeight_m = 0.0;
  double mean_m[3] = {0.0, 0.0, 0.0};  // ECEF of the mean of the solved epochs
  double meanLat_deg = 0.0, meanLon_deg = 0.0, meanHeight_m = 0.0;
  double meanEnu_m[3] = {0.0, 0.0, 0.0};   // mean against the centre (0 against the mean)
  double sigmaEnu_m[3] = {0.0, 0.0, 0.0};  // scatter: standard deviation about the mean
  double rmsEnu_m[3] = {0.0, 0.0, 0.0};    // RMS against the centre
  double rmsHorizontal_m = 0.0, rms3d_m = 0.0;
  double meanUsed = 0.0, meanResidualRms_m = 0.0;
  // Module texts of the conversion and their counts: a text as received when it came once,
  // else its catalog text with "n" for each value.
  std::vector<std::pair<std::string, int64_t>> messages;
};

struct QcReport {
  std::string path;          // B file
  std::string name;          // its file name
  std::string model;         // receiver model text
  int32_t receiverType = 0;  // 1-4, 0 when unknown
  std::string receiverName;  // "dual frequency" ...
  std::string site;          // site name of the first epoch (or of the S file)
  double antennaHeight_m = 0.0;
  bool hasSiteFile = false;

  // Time base: full GPS seconds since 1980-01-06 when the week is known, else seconds of
  // week (weekKnown false).
  bool weekKnown = false;
  int32_t week = -1;
  std::string weekSource, weekNote;

  bool readable = false;  // the B header was read
  std::string readError;
  int64_t epochs = 0;    // epochs read
  int64_t repeated = 0;  // epochs not after the one before (left out of the counts)
  double first_s = 0.0, last_s = 0.0;
  double interval_s = 0.0;  // the most common step
  int64_t expected = 0;     // epochs from first to last at the interval
  std::vector<QcGap> gaps;
  int64_t damagedBytes = 0;
  int64_t damagedPlaces = 0;  // every damaged stretch; damage holds the texts kept
  std::vector<std::string> damage;

  // Ephemerides.
  bool ephemerisFile = false;
  int64_t gpsEphemerides = 0, unhealthyEphemerides = 0, glonassEphemerides = 0;
  bool elevations = false;      // a receiver position and ephemerides gave elevations
  std::string elevationSource;  // "mean of the recomputed positions", ...

  bool phasePair = false;               // L1, L2 and P2: dual frequency or L2-codeless
  bool p1Code = false;                  // MP1 and the wide lane use P1 (else C/A)
  std::vector<QcSatellite> satellites;  // by PRN
  int64_t observations[kQcObservableCount] = {};
  int64_t lossOfLock = 0, slips = 0, arcs = 0;
  double snr1Mean = 0.0, snr2Mean = 0.0;  // 0 when none
  double mp1Rms_m = 0.0, mp2Rms_m = 0.0, ionoRateRms_mpm = 0.0;
  int64_t mpCount = 0;
  // Above the mask (all observations when there are no elevations, maskApplied false):
  // possible observations are the satellites with a usable ephemeris above the mask at each
  // epoch of the interval grid from first to last; complete ones hold C/A and, with an L1/L2
  // phase pair, P2, L1 and L2; MP, slips and arcs count only above the mask.
  double maskElevation_deg = 0.0;
  bool maskApplied = false;
  int64_t possibleObservations = 0, aboveMask = 0, completeObservations = 0;

  QcPositions positions;
  std::vector<QcEpochPosition> epochSeries;
  std::vector<QcMultipathPoint> multipath;  // arc by arc: each satellite's values by time
  std::vector<QcSkyPoint> sky;

  std::vector<std::string> missing;  // what the report cannot show, and why
  bool incomplete = false;           // a note of missing comes from a defect of the set (no
                                     // ephemerides, damage, no epoch, unknown week), not from
                                     // what the receiver class cannot record
};

// Computes every figure of the set whose observation file is bPath. Runs one conversion
// through the module (module-wide state: one at a time per process) into a temporary
// folder that is removed afterwards. 0 computed (possibly with notes in missing), -1 the
// observation file cannot be read at all (report->readError says why; report->missing too).
[[nodiscard]] int32_t ComputeQcReport(const std::string& bPath, const QcOptions& options,
                                      QcReport* report);

// Complete observations in percent of the possible ones; -1 when none was possible.
double QcCompletePercent(const QcReport& report);
// Observations above the mask per detected slip; -1 when no slip was detected (or slips
// cannot be, without an L1/L2 phase pair).
double QcObservationsPerSlip(const QcReport& report);

// Calendar text of a report time: "2004-06-10 00:00:30" (GPS time) when the week is known,
// else "s 345600.0 of an unknown week".
std::string QcTimeText(const QcReport& report, double time_s);

}  // namespace talverin
