#include "position/epoch_solution.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "base/gnss_constants.h"
#include "base/message_texts.h"
#include "base/text_buffer.h"
#include "orbit/ephemeris_store.h"
#include "position/single_point.h"

namespace talverin {
namespace {

bool AllFinite(const double* values, int32_t count) {
  for (int32_t i = 0; i < count; ++i) {
    if (!std::isfinite(values[i])) return false;
  }
  return true;
}

bool MatrixFinite(const Matrix& m) {
  for (int32_t r = 0; r < m.rows(); ++r) {
    for (int32_t c = 0; c < m.columns(); ++c) {
      if (!std::isfinite(m.at(r, c))) return false;
    }
  }
  return true;
}

bool VectorFinite(const Vector& v) {
  for (int32_t i = 0; i < v.size(); ++i) {
    if (!std::isfinite(v[i])) return false;
  }
  return true;
}

void Increment(int32_t* counter) {
  if (*counter < INT32_MAX) ++*counter;
}

}  // namespace

LocalFrame LocalFrameOf(const GeodeticPos& geodetic) {
  const double phi = geodetic.lat * kRadPerDeg;
  const double lambda = geodetic.lon * kRadPerDeg;
  return LocalFrame{std::sin(phi), std::cos(phi), std::sin(lambda), std::cos(lambda)};
}

namespace {

// North, east and up (m) of a satellite seen from the receiver, in the local frame.
struct LocalVector {
  double north, east, up;
};

LocalVector LocalVectorOf(const double receiver_m[3], const LocalFrame& frame,
                          const double satellite_m[3]) {
  const double dx = satellite_m[0] - receiver_m[0];
  const double dy = satellite_m[1] - receiver_m[1];
  const double dz = satellite_m[2] - receiver_m[2];
  const double horizontal =
      frame.sinLon * dy + frame.cosLon * dx;  // along the local meridian plane
  return LocalVector{frame.cosLat * dz - horizontal * frame.sinLat,
                     frame.cosLon * dy - frame.sinLon * dx,
                     horizontal * frame.cosLat + frame.sinLat * dz};
}

double ElevationOf(const LocalVector& v) {
  return std::atan2(v.up, std::sqrt(v.north * v.north + v.east * v.east));
}

}  // namespace

void ElevationAzimuth(const double receiver_m[3], const LocalFrame& frame,
                      const double satellite_m[3], double* elevation_rad, double* azimuth_rad) {
  const LocalVector v = LocalVectorOf(receiver_m, frame, satellite_m);
  *elevation_rad = ElevationOf(v);
  *azimuth_rad = std::atan2(v.east, v.north);
}

double Elevation(const double receiver_m[3], const LocalFrame& frame, const double satellite_m[3]) {
  return ElevationOf(LocalVectorOf(receiver_m, frame, satellite_m));
}

void ElevationAzimuth(const double receiver_m[3], const GeodeticPos& geodetic,
                      const double satellite_m[3], double* elevation_rad, double* azimuth_rad) {
  ElevationAzimuth(receiver_m, LocalFrameOf(geodetic), satellite_m, elevation_rad, azimuth_rad);
}

double ApproximateRange(double range_m, double satClock_s, double rxClock_m) {
  return range_m - rxClock_m + satClock_s * kSpeedOfLight_mps;
}

double ExtrapolatedRange(double dt_s, const double receiver_m[3], const double position_m[3],
                         const double velocity_mps[3]) {
  if (!(std::fabs(dt_s) <= kExtrapolateLimit_s)) return 0.0;
  const double moved_m[3] = {position_m[0] + dt_s * velocity_mps[0],
                             position_m[1] + dt_s * velocity_mps[1],
                             position_m[2] + dt_s * velocity_mps[2]};
  return VectorDistance(receiver_m, moved_m);
}

void SinglePoint::Send(double time_s) {
  if (messageFunction_ != nullptr) messageFunction_(time_s, errorText_);
}

void SinglePoint::EnsureDatum() {
  if (datumReady_ != 0) return;
  BuildWgs84Datum(&datum_);
  datumReady_ = 1;
}

void SinglePoint::SaveState() {
  snapshot_.solutionCount = solutionCount_;
  snapshot_.geodetic = geodetic_;
  snapshot_.clockOffset_m = clockOffset_;
  snapshot_.positionKnown = positionKnown_;
  snapshot_.solutionTime_s = solutionTime_;
  std::memcpy(snapshot_.receiver_m, receiver_, sizeof receiver_);
  std::memcpy(snapshot_.velocity_mps, receiverVelocity_, sizeof receiverVelocity_);
}

void SinglePoint::RestoreState() {
  solutionCount_ = snapshot_.solutionCount;
  geodetic_ = snapshot_.geodetic;
  clockOffset_ = snapshot_.clockOffset_m;
  positionKnown_ = snapshot_.positionKnown;
  solutionTime_ = snapshot_.solutionTime_s;
  std::memcpy(receiver_, snapshot_.receiver_m, sizeof receiver_);
  std::memcpy(receiverVelocity_, snapshot_.velocity_mps, sizeof receiverVelocity_);
}

int32_t SinglePoint::SolveEpoch(const gpb_epoch_type* epoch, int32_t recompute, int32_t excluded) {
  const bool quiet = excluded >= 1;
  const double time_s = epoch->gpsTime;
  EnsureDatum();
  status_ = kStatusRunning;
  SaveState();

  int32_t prns[kMaxUsedSatellites];
  double ranges_m[kMaxUsedSatellites];
  const int32_t n = GatherSatellites(epoch, excluded, recompute, prns, ranges_m);
  if (n < kUnknowns) {
    FormatText(errorText_, msg::kTooFewSatellites, static_cast<int>(n));
    if (!quiet) Send(time_s);
    status_ = kStatusFailed;
    RestoreState();
    return -1;
  }

  ApplyAtmosphere(time_s, n, prns, ranges_m);

  const bool adjusted = Adjust(time_s, n, prns, ranges_m, quiet) == 0;
  lastAttemptClock_ = clockOffset_;  // replaced by Adjust only when it converged
  if (adjusted && status_ != kStatusLargeResidual) return 0;
  if (!adjusted && !quiet) Send(time_s);
  // Leave-one-out needs at least two redundant ranges to tell the faulty one apart. Below
  // that a large residual is reported and the solution kept.
  if (quiet || n <= 5) {
    if (adjusted) return 0;
    status_ = kStatusFailed;
    RestoreState();
    return 1;
  }

  // One grossly wrong range leaves a large residual, or keeps the adjustment from
  // converging at all: either way the leave-one-out test looks for it. Its attempts
  // overwrite the snapshot slot; a failed test must still fall back to the state this
  // attempt started from, and a clock retry starts from this attempt's clock.
  const SolutionSnapshot attemptStart = snapshot_;
  const double attemptClock_m = lastAttemptClock_;
  const int32_t reliability = TestReliability(time_s, epoch, n, prns, attemptStart);
  if (reliability == 0) return 0;
  if (reliability > 0) CopyText(errorText_, kTextSize, msg::kSolutionDataErrors);
  Send(time_s);  // on -1 the text of the failing final attempt stands
  status_ = kStatusFailed;
  lastAttemptClock_ = attemptClock_m;
  snapshot_ = attemptStart;
  RestoreState();
  return 1;
}

int32_t SinglePoint::GatherSatellites(const gpb_epoch_type* epoch, int32_t excluded,
                                      int32_t recompute, int32_t* prns, double* ranges_m) {
  int32_t count = 0;
  // The receiver's geodetic position does not change during the selection: one local frame
  // serves every satellite's elevation.
  const LocalFrame frame = positionKnown_ != 0 ? LocalFrameOf(geodetic_) : LocalFrame{};
  int32_t records = epoch->nsat;
  if (records < 0) records = 0;
  if (records > kGpbMaxSats) records = kGpbMaxSats;

  for (int32_t k = 0; k < records && count < kMaxUsedSatellites; ++k) {
    const gpb_sat_type& record = epoch->sat[k];
    if (record.prn < 1 || record.prn > static_cast<uint32_t>(kMaxGpsPrn)) continue;
    const int32_t prn = static_cast<int32_t>(record.prn);
    if (prn == excluded) continue;
    if (!std::isfinite(record.range1) || std::fabs(record.range1) < kMinRange_m) continue;
    if ((record.sflags & kSatRange1) == 0) continue;

    const double t_s = epoch->rcvTime - clockOffset_ * kInvSpeedOfLight_spm;
    SatelliteState& s = satellites_[prn];

    const bool reuse = s.valid != 0 && recompute == 0 && std::fabs(s.time - t_s) <= kReuseWindow_s;
    if (!reuse) {
      // A reception time far outside any week cannot select an ephemeris. One selection
      // serves the clock and the orbit below.
      const EphNode* node =
          std::fabs(t_s) < kMaxEpochTime_s ? store_.FindGpsNode(prn, t_s) : nullptr;
      s.ephemeris = node != nullptr ? &node->record : nullptr;
      if (node == nullptr) {
        if (s.missingCount == 0) {
          FormatText(errorText_, msg::kEphemerisMissing, static_cast<int>(prn));
          Send(t_s);
        }
        Increment(&s.missingCount);
        continue;
      }

      double satClock_s = 0.0;
      if (store_.NodeClock(*node, t_s, &satClock_s) != 0 || !std::isfinite(satClock_s)) {
        FormatText(errorText_, msg::kSatelliteClockFailed, static_cast<int>(prn));
        Send(t_s);
        continue;
      }
      s.satelliteClock = satClock_s;

      double approximate_m = 0.0;
      if (s.valid != 0 && positionKnown_ != 0 && std::fabs(t_s - s.time) < kExtrapolateWindow_s) {
        approximate_m = ExtrapolatedRange(t_s - s.time, receiver_, s.position, s.velocity);
      }
      if (approximate_m == 0.0) {
        approximate_m = ApproximateRange(record.range1, s.satelliteClock, clockOffset_);
        if (approximate_m == 0.0) approximate_m = kDefaultTravelTime_s * kSpeedOfLight_mps;
      }

      // t is already free of the receiver clock; the light-time loop takes out the travel
      // time, so the orbit is evaluated at the true transmission instant. The satellite
      // clock belongs to the range (below), not to the orbit time.
      double position_m[3];
      double velocity_mps[3];
      if (store_.NodePosition(*node, t_s, approximate_m, receiver_, position_m, velocity_mps) !=
              0 ||
          !AllFinite(position_m, 3) || !AllFinite(velocity_mps, 3)) {
        FormatText(errorText_, msg::kSatelliteOrbitFailed, static_cast<int>(prn));
        Send(t_s);
        continue;
      }
      std::memcpy(s.position, position_m, sizeof position_m);
      std::memcpy(s.velocity, velocity_mps, sizeof velocity_mps);
      s.time = t_s;
      s.valid = 1;
      s.approximateRange = approximate_m;
      s.ionosphereSource = 0;
    }

    // Until the first solution the receiver may be anywhere: no elevation mask then.
    if (positionKnown_ != 0) {
      s.elevation = Elevation(receiver_, frame, s.position);
      s.elevationValid = 1;
      if (settings_.elevationMask_deg * kRadPerDeg > s.elevation) continue;
    } else {
      s.elevationValid = 0;
    }

    prns[count] = prn;
    ranges_m[count] = s.satelliteClock * kSpeedOfLight_mps + record.range1;
    ++count;
  }
  return count;
}

int32_t SinglePoint::FormDesignMatrix(const double receiver_m[3], int32_t n, const int32_t* prns,
                                      double* distances_m) {
  if (!design_.hasStorage()) {
    CopyText(errorText_, kTextSize, msg::kDesignMatrixFailed);
    return 1;
  }
  if (design_.Resize(n, kUnknowns) != 0) {
    CopyText(errorText_, kTextSize, msg::kDesignMatrixFailed);
    return 1;
  }
  for (int32_t i = 0; i < n; ++i) {
    const SatelliteState& s = satellites_[prns[i]];
    if (s.valid == 0) {
      CopyText(errorText_, kTextSize, msg::kSatellitePositionMissing);
      return 1;
    }
    const double dx = s.position[0] - receiver_m[0];
    const double dy = s.position[1] - receiver_m[1];
    const double dz = s.position[2] - receiver_m[2];
    const double rho_m = std::sqrt(dx * dx + dy * dy + dz * dz);
    design_.at(i, 0) = dx / rho_m;
    design_.at(i, 1) = dy / rho_m;
    design_.at(i, 2) = dz / rho_m;
    design_.at(i, 3) = 1.0;
    if (distances_m != nullptr) distances_m[i] = rho_m;
  }
  return 0;
}

int32_t SinglePoint::Adjust(double time_s, int32_t n, const int32_t* prns, const double* ranges_m,
                            bool quiet) {
  usedCount_ = n;
  std::memcpy(usedPrns_, prns, sizeof(int32_t) * static_cast<size_t>(n));
  double clock_m = clockOffset_;
  double x_m[3] = {receiver_[0], receiver_[1], receiver_[2]};

  if (!covariance_.hasStorage()) {
    CopyText(errorText_, kTextSize, msg::kNormalNotAllocated);
    return 1;
  }
  (void)covariance_.Resize(kUnknowns, kUnknowns);
  (void)covariance_.SetDiagonal(kCovarianceDiagonal, 0.0);
  (void)cofactor_.Resize(kUnknowns, kUnknowns);
  (void)cofactor_.SetDiagonal(kCofactorDiagonal, 0.0);
  if (misclosure_.Resize(n) != 0) {
    CopyText(errorText_, kTextSize, msg::kMisclosureSizes);
    return 1;
  }

  double rho_m[kMaxUsedSatellites];
  int32_t k = 0;
  for (;;) {
    if (FormDesignMatrix(x_m, n, prns, rho_m) != 0) return 1;
    for (int32_t i = 0; i < n; ++i) misclosure_[i] = clock_m + rho_m[i] - ranges_m[i];
    if (normal_.MultiplyTransposed(design_, design_) != 0) {
      CopyText(errorText_, kTextSize, msg::kNormalSizes);
      return 1;
    }
    // Invert does not test the last pivot: an infinite or NaN element is a singular normal.
    if (normal_.Invert(0) != 0 || !MatrixFinite(normal_)) {
      CopyText(errorText_, kTextSize, msg::kNormalNotInverted);
      return 1;
    }
    if (normalRhs_.MultiplyVector(design_, misclosure_, 1) != 0) {
      CopyText(errorText_, kTextSize, msg::kMisclosureSizes);
      return 1;
    }
    if (update_.MultiplyVector(normal_, normalRhs_, 0) != 0) {
      CopyText(errorText_, kTextSize, msg::kUpdateSizes);
      return 1;
    }
    // A non-finite update (an overflowing range) can never converge; NaN would otherwise
    // pass the convergence test below.
    if (!VectorFinite(update_)) {
      CopyText(errorText_, kTextSize, msg::kNotConverged);
      return 1;
    }
    x_m[0] += update_[0];
    x_m[1] += update_[1];
    x_m[2] += update_[2];
    clock_m -= update_[3];
    if (!AllFinite(x_m, 3) || !std::isfinite(clock_m)) {
      CopyText(errorText_, kTextSize, msg::kNotConverged);
      return 1;
    }
    bool converged = true;
    for (int32_t j = 0; j < kUnknowns; ++j) {
      if (std::fabs(update_[j]) > kConvergence_m) converged = false;
    }
    if (converged) break;
    ++k;
    if (k >= kMaxIterations) break;
  }

  covariance_.Assign(normal_);
  (void)covariance_.Scale(settings_.rangeSigma_m * settings_.rangeSigma_m);
  cofactor_.Assign(normal_);
  if (k == kMaxIterations) {
    CopyText(errorText_, kTextSize, msg::kNotConverged);
    return 1;
  }

  clockOffset_ = clock_m;
  solutionTime_ = time_s;
  positionKnown_ = 1;
  std::memcpy(receiver_, x_m, sizeof x_m);
  return CheckResiduals(time_s, n, prns, ranges_m, quiet);
}

int32_t SinglePoint::CheckResiduals(double time_s, int32_t n, const int32_t* prns,
                                    const double* ranges_m, bool quiet) {
  double rho_m[kMaxUsedSatellites];
  if (FormDesignMatrix(receiver_, n, prns, rho_m) != 0) return 1;

  double sum_m2 = 0.0;
  double worst_m = 0.0;
  int32_t worstPrn = -1;
  for (int32_t i = 0; i < n; ++i) {
    const double residual_m = rho_m[i] + clockOffset_ - ranges_m[i];
    sum_m2 += residual_m * residual_m;
    const double size_m = std::fabs(residual_m);
    if (size_m > settings_.residualLimit_m && size_m > worst_m) {
      worst_m = size_m;
      worstPrn = prns[i];
    }
  }
  // Exactly four satellites leave no redundancy; one degree of freedom keeps the RMS defined.
  const int32_t dof = n - kUnknowns > 1 ? n - kUnknowns : 1;
  residualRms_ = std::sqrt(sum_m2 / dof);

  DatumCartesianToGeodetic(receiver_, datum_.datum, &geodetic_);
  Increment(&solutionCount_);

  if (worstPrn < 1) {
    status_ = kStatusClean;
    return 0;
  }
  FormatText(errorText_, msg::kLargeResidual, static_cast<int>(worstPrn), worst_m);
  if (!quiet) Send(time_s);
  status_ = kStatusLargeResidual;
  return 0;
}

int32_t SinglePoint::TestReliability(double time_s, const gpb_epoch_type* epoch, int32_t n,
                                     const int32_t* prns, const SolutionSnapshot& attemptStart) {
  double rms_m[kMaxUsedSatellites];
  for (int32_t i = 0; i < n; ++i) {
    // Every leave-one-out attempt starts where the primary attempt started: one that kept
    // the faulty range can end hundreds of km off, and the next one would take its
    // elevation mask and troposphere there and drop good satellites.
    snapshot_ = attemptStart;
    RestoreState();
    // An attempt that cannot solve (it kept a range bad enough to stop the adjustment)
    // fits worst of all; it does not end the test.
    rms_m[i] = SolveEpoch(epoch, 0, prns[i]) == 0 ? residualRms_ : HUGE_VAL;
  }

  double best_m = HUGE_VAL;
  double second_m = HUGE_VAL;
  int32_t bestIndex = -1;
  for (int32_t i = 0; i < n; ++i) {
    if (rms_m[i] < best_m) {
      second_m = best_m;
      best_m = rms_m[i];
      bestIndex = i;
    } else if (rms_m[i] < second_m) {
      second_m = rms_m[i];
    }
  }
  // A decision needs one satellite whose removal leaves a fit within the residual limit,
  // clearly better than any other removal. A fit below 1 mm (ranges without noise) counts
  // as 1 mm: a perfect fit without one satellite is the clearest case, not an undecidable one.
  const double reliability = second_m / std::max(best_m, kReliabilityMinRms_m);
  if (bestIndex < 0 || !(best_m < settings_.residualLimit_m) ||
      !(reliability > kReliabilityRatio)) {
    return 1;
  }

  FormatText(errorText_, msg::kRejectedPrn, static_cast<int>(prns[bestIndex]), reliability);
  Send(time_s);
  // The final solve starts where the primary attempt started, and its troposphere is
  // evaluated at that a-priori position.
  snapshot_ = attemptStart;
  RestoreState();
  if (SolveEpoch(epoch, 0, prns[bestIndex]) != 0) return -1;
  // A residual still above the limit without the rejected satellite: more than one range
  // is wrong, and the position cannot be trusted.
  return status_ == kStatusClean ? 0 : 1;
}

}  // namespace talverin
