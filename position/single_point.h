// Single-point positioning engine of one conversion: owns the ephemeris store, and
// recomputes each epoch's receiver position (ECEF m, reported as WGS84 latitude and
// longitude in degrees and height in m) and receiver clock offset (m) from the epoch's
// C/A pseudoranges and the broadcast GPS ephemerides, with a troposphere model, an
// iterated least-squares adjustment, residual and reliability tests and a two-sample
// receiver clock model. No ionosphere model; GLONASS satellites are not used.
// One solve attempt lives in epoch_solution.cpp, the troposphere in atmosphere.cpp.
#pragma once

#include <cstdint>

#include "base/gnss_constants.h"
#include "base/host_callbacks.h"
#include "geodesy/geodetic.h"
#include "orbit/ephemeris_store.h"
#include "output/gpb_types.h"
#include "position/atmosphere.h"
#include "position/epoch_solution.h"
#include "position/matrix.h"

namespace talverin {

// ProcessEpoch flags.
constexpr int32_t kWritePosition = 0x1;  // write the solved position into the epoch
constexpr int32_t kWriteClock = 0x2;     // write clock offset and corrected time

constexpr double kClockShiftLimit_m = 1000.0;  // a larger change between epochs re-solves
// A solution farther than this from the a-priori position it started from is solved again
// from itself; within it, the first solution stands.
constexpr double kResolveDistance_m = 100.0;
constexpr int32_t kClockShiftMessages = 5;      // messages before the "no more" one
constexpr double kClockReplaceWindow_s = 0.02;  // clock samples closer than this replace
constexpr double kClockPredictWindow_s = 60.0;  // no prediction across a longer gap
constexpr double kMaxClockDrift_mps = 5000.0;   // a larger drift is taken as 0
constexpr double kWeekWrapLimit_s = 500000.0;   // differences beyond this cross a week

struct SinglePointSettings {
  double elevationMask_deg;  // satellites below are not used (once a position is known)
  double rangeSigma_m;       // scale of the covariance matrix
  double residualLimit_m;    // large-residual and reliability tests
  int32_t troposphereModel;  // 0 none, 1 Saastamoinen with the standard atmosphere
  int32_t orbitDebugFile;    // off; nothing turns it on
  char orbitDebugName[kPathSize];
};

struct ClockSample {
  int32_t valid;
  double time_s;   // s of week, receiver time tag
  double clock_m;  // receiver clock offset
};

// a - b in seconds folded into one week when the difference crosses the week boundary.
[[nodiscard]] double WeekDifference(double a_s, double b_s);

class SinglePoint {
 public:
  // Sizes the matrices; on failure the error text says so and the object stays usable.
  SinglePoint();
  ~SinglePoint();
  SinglePoint(const SinglePoint&) = delete;
  SinglePoint& operator=(const SinglePoint&) = delete;

  void Reset();
  // Frees the matrices, empties the ephemeris store and resets the engine.
  void Release();
  void SetMessageFunction(MessageCallback callback) { messageFunction_ = callback; }
  // flags bit 0: write the solved position; bit 1: write clock and corrected time.
  // 0 solved, 1 no solution for this epoch.
  int32_t ProcessEpoch(gpb_epoch_type* epoch, int32_t flags);

  EphemerisStore& store() { return store_; }
  const char* errorText() const { return errorText_; }

  // One solve attempt: -1 fewer than 4 usable satellites, 0 solved, 1 failed. excluded: a
  // PRN to leave out (the attempt is then quiet), or -1.
  [[nodiscard]] int32_t SolveEpoch(const gpb_epoch_type* epoch, int32_t recompute,
                                   int32_t excluded);
  // Removes the tropospheric delay (m) from the n ranges of the used satellites.
  void ApplyAtmosphere(double time_s, int32_t n, const int32_t* prns, double* ranges_m);

  // Clock model of the receiver clock offset (m) against receiver time (s of week).
  void RecordClock(double time_s, double clock_m);
  // True with the predicted clock (and its drift, m/s, when asked) when a prediction exists.
  [[nodiscard]] bool PredictClock(double time_s, double* clock_m,
                                  double* drift_mps = nullptr) const;

  // Read access for the driver's owner and the tests.
  const SinglePointSettings& settings() const { return settings_; }
  const SatelliteState& satellite(int32_t prn) const { return satellites_[prn]; }
  const GeodeticPos& geodetic() const { return geodetic_; }
  const double* receiverPosition() const { return receiver_; }
  double clockOffset() const { return clockOffset_; }
  int32_t positionKnown() const { return positionKnown_; }
  int32_t status() const { return status_; }
  double residualRms() const { return residualRms_; }
  int32_t usedCount() const { return usedCount_; }
  const int32_t* usedPrns() const { return usedPrns_; }
  int32_t epochCount() const { return epochCount_; }
  int32_t solutionCount() const { return solutionCount_; }
  const Matrix& covariance() const { return covariance_; }
  const Matrix& cofactor() const { return cofactor_; }

 private:
  void Send(double time_s);
  void EnsureDatum();
  void SaveState();
  void RestoreState();
  // ProcessEpoch's steps: the a-priori position and clock (true when from the header);
  // the first solve (start_m: where it started), again from the last solution when a
  // header position far from it leaves too few satellites; whether to solve once more.
  bool StartEpoch(gpb_epoch_type* epoch, int32_t flags, bool reported);
  [[nodiscard]] int32_t FirstSolve(const gpb_epoch_type* epoch, bool fromHeader, double start_m[3]);
  [[nodiscard]] bool NeedsSecondSolve(int32_t r, double prior_m, const double start_m[3],
                                      bool* startedFar);
  [[nodiscard]] int32_t GatherSatellites(const gpb_epoch_type* epoch, int32_t excluded,
                                         int32_t recompute, int32_t* prns, double* ranges_m);
  [[nodiscard]] int32_t FormDesignMatrix(const double receiver_m[3], int32_t n, const int32_t* prns,
                                         double* distances_m);
  [[nodiscard]] int32_t Adjust(double time_s, int32_t n, const int32_t* prns,
                               const double* ranges_m, bool quiet);
  [[nodiscard]] int32_t CheckResiduals(double time_s, int32_t n, const int32_t* prns,
                                       const double* ranges_m, bool quiet);
  // attemptStart: the state the primary attempt started from.
  [[nodiscard]] int32_t TestReliability(double time_s, const gpb_epoch_type* epoch, int32_t n,
                                        const int32_t* prns, const SolutionSnapshot& attemptStart);

  char errorText_[kTextSize] = "";
  EphemerisStore store_;
  MessageCallback messageFunction_ = nullptr;
  SinglePointSettings settings_{};
  int32_t epochCount_ = 0;
  int32_t clockShiftMessages_ = 0;
  Wgs84Datum datum_{};
  int32_t datumReady_ = 0;
  Matrix design_;      // A, n x 4, rows from the receiver to each satellite
  Matrix covariance_;  // 4 x 4, m^2
  Matrix cofactor_;    // 4 x 4
  Matrix spare_;       // 4 x 4, kept with the others, unused
  // Working storage of the adjustment, sized once so that no epoch allocates.
  Matrix normal_;      // N = A^T A, inverted in place
  Vector misclosure_;  // w, n
  Vector normalRhs_;   // u = A^T w
  Vector update_;      // delta = N^-1 u
  SatelliteState satellites_[kMaxPrn]{};

  // Solution state.
  double clockOffset_ = 0.0;       // m
  double lastAttemptClock_ = 0.0;  // m, clock reached by the last solve attempt
  int32_t positionKnown_ = 0;
  double solutionTime_ = 0.0;        // s of week
  double receiver_[3] = {};          // m, ECEF
  double receiverVelocity_[3] = {};  // m/s, always 0
  GeodeticPos geodetic_{};           // WGS84
  SolutionSnapshot snapshot_{};
  int32_t usedCount_ = 0;
  int32_t usedPrns_[kMaxUsedSatellites] = {};
  int32_t solutionCount_ = 0;
  GeodeticPos lastSolved_{};  // WGS84, of the last epoch ProcessEpoch solved

  double epochTime_ = 0.0;  // s of week, gpsTime of the epoch being processed
  ClockSample latestClock_{};
  ClockSample previousClock_{};
  int32_t clockPrediction_ = 1;
  int32_t status_ = kStatusRunning;
  double residualRms_ = 0.0;  // m
};

}  // namespace talverin
