#include "position/single_point.h"

#include <cmath>
#include <cstring>

#include "base/message_texts.h"
#include "base/text_buffer.h"

namespace talverin {
namespace {

constexpr int32_t kDesignRows = kMaxUsedSatellites;  // design matrix rows sized at construction
constexpr double kDefaultElevationMask_deg = 10.0;
constexpr double kDefaultRangeSigma_m = 7.0;
constexpr double kDefaultResidualLimit_m = 100.0;
constexpr int32_t kDefaultTroposphereModel = 1;
constexpr char kOrbitDebugName[] = "c:\\temp\\orbit.dat";
// A receiver-reported clock beyond this (about 3.3 s) is corrupt, not an a-priori value:
// it would move the reception time outside any ephemeris.
constexpr double kMaxAprioriClock_m = 1.0e9;
// A receiver-reported position and clock are used as a-priori values only when they are
// numbers a receiver can report, at a height a receiver near the Earth can hold.
bool UsableApriori(const gpb_epoch_type& epoch) {
  return std::isfinite(epoch.lat) && std::isfinite(epoch.lon) && std::isfinite(epoch.clock) &&
         std::fabs(epoch.lat) <= 90.0 && std::fabs(epoch.lon) <= 360.0 &&
         PlausibleReceiverHeight(epoch.height) && std::fabs(epoch.clock) <= kMaxAprioriClock_m;
}

bool UsableTime(double time_s) {
  return std::isfinite(time_s) && std::fabs(time_s) < kMaxEpochTime_s;
}

}  // namespace

double WeekDifference(double a_s, double b_s) {
  double d_s = a_s - b_s;
  if (d_s < -kWeekWrapLimit_s) d_s += kSecondsPerWeek;
  if (d_s > kWeekWrapLimit_s) d_s -= kSecondsPerWeek;
  return d_s;
}

SinglePoint::SinglePoint() {
  Reset();
  const bool sized =
      design_.Resize(kDesignRows, kUnknowns) == 0 &&
      covariance_.Resize(kUnknowns, kUnknowns) == 0 &&
      cofactor_.Resize(kUnknowns, kUnknowns) == 0 && spare_.Resize(kUnknowns, kUnknowns) == 0 &&
      normal_.Resize(kUnknowns, kUnknowns) == 0 && misclosure_.Resize(kMaxUsedSatellites) == 0 &&
      normalRhs_.Resize(kUnknowns) == 0 && update_.Resize(kUnknowns) == 0;
  if (!sized) CopyText(errorText_, kTextSize, msg::kEngineNoMemory);
}

SinglePoint::~SinglePoint() { Release(); }

void SinglePoint::Reset() {
  errorText_[0] = '\0';
  settings_.elevationMask_deg = kDefaultElevationMask_deg;
  settings_.rangeSigma_m = kDefaultRangeSigma_m;
  settings_.residualLimit_m = kDefaultResidualLimit_m;
  settings_.troposphereModel = kDefaultTroposphereModel;
  settings_.orbitDebugFile = 0;
  CopyText(settings_.orbitDebugName, sizeof settings_.orbitDebugName, kOrbitDebugName);
  epochCount_ = 0;
  clockShiftMessages_ = 0;
  datumReady_ = 0;
  std::memset(satellites_, 0, sizeof satellites_);
  clockOffset_ = 0.0;
  lastAttemptClock_ = 0.0;
  positionKnown_ = 0;
  solutionTime_ = 0.0;
  std::memset(receiver_, 0, sizeof receiver_);
  std::memset(receiverVelocity_, 0, sizeof receiverVelocity_);
  geodetic_ = GeodeticPos{};
  lastSolved_ = GeodeticPos{};
  snapshot_ = SolutionSnapshot{};
  usedCount_ = 0;
  std::memset(usedPrns_, 0, sizeof usedPrns_);
  solutionCount_ = 0;
  epochTime_ = 0.0;
  latestClock_ = ClockSample{};
  previousClock_ = ClockSample{};
  clockPrediction_ = 1;
  status_ = kStatusRunning;
  residualRms_ = 0.0;
}

void SinglePoint::Release() {
  design_.Free();
  covariance_.Free();
  cofactor_.Free();
  spare_.Free();
  normal_.Free();
  misclosure_.Free();
  normalRhs_.Free();
  update_.Free();
  store_.ClearEphemerides();
  Reset();
}

void SinglePoint::RecordClock(double time_s, double clock_m) {
  if (latestClock_.valid != 0 && std::fabs(time_s - latestClock_.time_s) < kClockReplaceWindow_s) {
    latestClock_.time_s = time_s;
    latestClock_.clock_m = clock_m;
    return;
  }
  previousClock_ = latestClock_;
  latestClock_.valid = 1;
  latestClock_.time_s = time_s;
  latestClock_.clock_m = clock_m;
}

bool SinglePoint::PredictClock(double time_s, double* clock_m, double* drift_mps) const {
  const double dt_s = WeekDifference(time_s, latestClock_.time_s);
  if (latestClock_.valid == 0 || !(std::fabs(dt_s) <= kClockPredictWindow_s)) return false;
  double drift = 0.0;
  if (previousClock_.valid != 0) {
    const double d_s = WeekDifference(latestClock_.time_s, previousClock_.time_s);
    if (std::fabs(d_s) > kClockReplaceWindow_s && std::fabs(d_s) <= kClockPredictWindow_s) {
      drift = (latestClock_.clock_m - previousClock_.clock_m) / d_s;
      // A jump (receiver clock reset) is not a drift.
      if (!(std::fabs(drift) <= kMaxClockDrift_mps)) drift = 0.0;
    }
  }
  *clock_m = latestClock_.clock_m + drift * dt_s;
  if (drift_mps != nullptr) *drift_mps = drift;
  return true;
}

bool SinglePoint::StartEpoch(gpb_epoch_type* epoch, int32_t flags, bool reported) {
  const bool fromHeader = reported && UsableApriori(*epoch);
  if (fromHeader) {
    clockOffset_ = epoch->clock;
    geodetic_.lat = epoch->lat;
    geodetic_.lon = epoch->lon;
    geodetic_.height = epoch->height;
  } else if (epochCount_ > 0) {
    // Without a receiver position, start from the last solution (not from the start that a
    // failed epoch restored, which may have been a header position far off).
    geodetic_ = lastSolved_;
  } else if (solutionCount_ == 0) {
    clockOffset_ = 0.0;
    geodetic_ = GeodeticPos{};
  }
  epochTime_ = epoch->gpsTime;
  EnsureDatum();
  DatumGeodeticToCartesian(geodetic_, datum_.datum, receiver_);

  double predicted_m = 0.0;
  if (clockPrediction_ != 0 && PredictClock(epoch->gpsTime, &predicted_m)) {
    clockOffset_ = predicted_m;
    if ((flags & kWriteClock) != 0) {
      epoch->corrTime = epoch->rcvTime - predicted_m * kInvSpeedOfLight_spm;
      epoch->clock = predicted_m;
    }
  }
  return fromHeader;
}

int32_t SinglePoint::FirstSolve(const gpb_epoch_type* epoch, bool fromHeader, double start_m[3]) {
  std::memcpy(start_m, receiver_, 3 * sizeof(double));
  const int32_t r = SolveEpoch(epoch, 1, -1);
  if (r >= 0 || !fromHeader || epochCount_ == 0) return r;
  // A header position far from the last solution takes its elevation mask where the
  // receiver is not, and may drop the satellites in view: start from the last solution,
  // as for an epoch without a header position.
  double last_m[3];
  DatumGeodeticToCartesian(lastSolved_, datum_.datum, last_m);
  if (!(VectorDistance(start_m, last_m) > kResolveDistance_m)) return r;
  geodetic_ = lastSolved_;
  std::memcpy(receiver_, last_m, sizeof receiver_);
  std::memcpy(start_m, last_m, 3 * sizeof(double));
  return SolveEpoch(epoch, 1, -1);
}

bool SinglePoint::NeedsSecondSolve(int32_t r, double prior_m, const double start_m[3],
                                   bool* startedFar) {
  *startedFar = false;
  if (r == 0 && epochCount_ == 0) {
    CopyText(errorText_, kTextSize, msg::kRefiningFirstEpoch);
    Send(epochTime_);
    return true;
  }
  if (r == 0 && std::fabs(prior_m - clockOffset_) > kClockShiftLimit_m) {
    if (clockShiftMessages_ < kClockShiftMessages) {
      CopyText(errorText_, kTextSize, msg::kClockShift);
      Send(epochTime_);
    } else if (clockShiftMessages_ == kClockShiftMessages) {
      CopyText(errorText_, kTextSize, msg::kClockShiftLast);
      Send(epochTime_);
    }
    if (clockShiftMessages_ < INT32_MAX) ++clockShiftMessages_;
    return true;
  }
  if (r > 0) {
    clockOffset_ = lastAttemptClock_;
    CopyText(errorText_, kTextSize, msg::kSolutionRetry);
    Send(epochTime_);
    return true;
  }
  // Started from a header position far off, or from the last solution of a receiver that
  // moved: the troposphere, the light time and the elevation mask were evaluated at the
  // wrong place. Solve once more from where the receiver is. (A solution with a large
  // residual is no better a place to start from.)
  *startedFar = status_ == kStatusClean && VectorDistance(start_m, receiver_) > kResolveDistance_m;
  return *startedFar;
}

int32_t SinglePoint::ProcessEpoch(gpb_epoch_type* epoch, int32_t flags) {
  if (epoch == nullptr) return 1;
  const bool reported = (epoch->flags & kEpochPositionValid) != 0;
  // From here on a failure, the early one included, leaves the epoch without a valid
  // position: the receiver's own is replaced by a solution or by none.
  if ((flags & kWritePosition) != 0) {
    epoch->flags = static_cast<uint16_t>(epoch->flags & ~kEpochPositionValid);
  }
  // A corrupt time would reach the troposphere calendar and the clock model: no solution.
  if (!UsableTime(epoch->gpsTime) || !UsableTime(epoch->rcvTime)) return 1;

  const bool fromHeader = StartEpoch(epoch, flags, reported);
  const double prior_m = clockOffset_;
  double start_m[3];
  int32_t r = FirstSolve(epoch, fromHeader, start_m);
  if (r < 0) return 1;
  bool startedFar = false;  // solved again because the solution lay far from its start
  if (NeedsSecondSolve(r, prior_m, start_m, &startedFar)) {
    std::memcpy(start_m, receiver_, sizeof start_m);
    r = SolveEpoch(epoch, 1, -1);
    if (r != 0) return 1;
    // A retry after a failure starts from the a-priori position again, maybe far off.
    if (!startedFar && status_ == kStatusClean &&
        VectorDistance(start_m, receiver_) > kResolveDistance_m) {
      r = SolveEpoch(epoch, 1, -1);
      if (r != 0) return 1;
    }
  }

  if (epochCount_ < INT32_MAX) ++epochCount_;
  lastSolved_ = geodetic_;
  if ((flags & kWritePosition) != 0) {
    epoch->flags = static_cast<uint16_t>(epoch->flags | kEpochPositionValid);
    epoch->lat = geodetic_.lat;
    epoch->lon = geodetic_.lon;
    epoch->height = geodetic_.height;
  }
  if ((flags & kWriteClock) != 0) {
    epoch->corrTime = epoch->rcvTime - clockOffset_ * kInvSpeedOfLight_spm;
    epoch->clock = clockOffset_;
  }
  RecordClock(epoch->rcvTime, clockOffset_);
  return 0;
}

}  // namespace talverin
