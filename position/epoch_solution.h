// Working records and geometry helpers of one epoch solve attempt: the per-PRN satellite
// state (ECEF m, m/s, reception time in s of week, satellite clock in s), the snapshot of
// the solution state that a failed attempt restores, the local elevation and azimuth (rad)
// of a satellite, and the first light-time guesses (m). The attempt itself (selection,
// least squares, residual and reliability tests) is a member of SinglePoint, implemented
// in epoch_solution.cpp. Only GPS PRNs 1..32 and the C/A range are used.
#pragma once

#include <cstdint>

#include "geodesy/geodetic.h"
#include "orbit/gps_eph.h"

namespace talverin {

constexpr int kMaxUsedSatellites = 24;  // satellites one adjustment can hold
constexpr int kUnknowns = 4;            // X, Y, Z (m) and receiver clock (m)
constexpr double kMinRange_m = 100.0;   // C/A ranges below this are not measurements
// Times (s of week) beyond this never come from a receiver; they would only overflow the
// week arithmetic of the ephemeris lookup and the calendar.
constexpr double kMaxEpochTime_s = 1.0e7;
constexpr double kReuseWindow_s = 0.05;         // satellite position reused within this time
constexpr double kExtrapolateWindow_s = 10.0;   // previous position extrapolated within this
constexpr double kExtrapolateLimit_s = 60.0;    // ExtrapolatedRange gives 0 beyond this
constexpr double kDefaultTravelTime_s = 0.075;  // first light-time guess without a range
constexpr double kConvergence_m = 0.001;        // every update component below: converged
constexpr int kMaxIterations = 10;              // adjustment updates before giving up
constexpr double kCovarianceDiagonal = 500.0;   // initial covariance, m^2
constexpr double kCofactorDiagonal = 10.0;      // initial cofactor
constexpr double kReliabilityRatio = 4.0;       // second-best / best RMS needed to reject
constexpr double kReliabilityMinRms_m = 0.001;  // a best RMS below this counts as this

// Status of the last solve attempt.
constexpr int32_t kStatusRunning = 0;
constexpr int32_t kStatusFailed = -1;
constexpr int32_t kStatusLargeResidual = 1;
constexpr int32_t kStatusClean = 2;

struct SatelliteState {
  int32_t valid;             // 1 once a position has been computed
  double time;               // s of week, reception time (receiver clock removed) of position
  double position[3];        // m, ECEF at transmission, in the frame of reception
  double velocity[3];        // m/s
  int32_t elevationValid;    // 1 when the elevation was computed this attempt
  double elevation;          // rad (the selection needs no azimuth)
  int32_t missingCount;      // failed ephemeris lookups, never reset within a conversion
  double satelliteClock;     // s, subtracted from satellite time to give GPS time
  double approximateRange;   // m, first light-time guess used
  const GpsEph* ephemeris;   // owned by the ephemeris store
  int32_t ionosphereSource;  // always 0: no ionosphere model
  double ionosphere[4];      // always 0
  double troposphericDelay;  // m, removed from the range of the last attempt
};

// The part of the solution state that an attempt saves at its start and a failed attempt
// restores.
struct SolutionSnapshot {
  int32_t solutionCount;
  GeodeticPos geodetic;
  double clockOffset_m;
  int32_t positionKnown;
  double solutionTime_s;
  double receiver_m[3];
  double velocity_mps[3];
};

// Elevation and azimuth (rad) of a satellite seen from the receiver (both ECEF, m), in the
// local frame of the geodetic position (degrees).
void ElevationAzimuth(const double receiver_m[3], const GeodeticPos& geodetic,
                      const double satellite_m[3], double* elevation_rad, double* azimuth_rad);

// The local frame of a geodetic position: sines and cosines of its latitude and longitude,
// shared by every satellite seen from it in one epoch.
struct LocalFrame {
  double sinLat;
  double cosLat;
  double sinLon;
  double cosLon;
};
[[nodiscard]] LocalFrame LocalFrameOf(const GeodeticPos& geodetic);
// The same as above, in a frame computed once for all the satellites of an epoch.
void ElevationAzimuth(const double receiver_m[3], const LocalFrame& frame,
                      const double satellite_m[3], double* elevation_rad, double* azimuth_rad);
// The elevation alone (rad), as ElevationAzimuth gives it.
[[nodiscard]] double Elevation(const double receiver_m[3], const LocalFrame& frame,
                               const double satellite_m[3]);

// range - rxClock + satClock * c: the geometric range implied by a pseudorange (m).
[[nodiscard]] double ApproximateRange(double range_m, double satClock_s, double rxClock_m);

// Distance (m) from the receiver to a satellite moved on by dt along its velocity; 0 when
// |dt| exceeds 60 s.
[[nodiscard]] double ExtrapolatedRange(double dt_s, const double receiver_m[3],
                                       const double position_m[3], const double velocity_mps[3]);

}  // namespace talverin
