#include "qc/qc_figures.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "base/gnss_constants.h"
#include "base/native_path.h"
#include "dataset/gps_calendar.h"
#include "dataset/session_week.h"
#include "dataset/set_scan.h"
#include "input/observation_reader.h"
#include "input/receiver_detect.h"
#include "job/host_records.h"
#include "orbit/ephemeris_store.h"
#include "position/epoch_solution.h"
#include "qc/qc_positions.h"

namespace talverin {
namespace {

constexpr int kPrnSlots = 256;  // a channel's PRN byte
constexpr double kSecondsPerMinute = 60.0;
// A header position further than this from a sphere of the Earth's mean radius is not one.
constexpr double kEarthRadius_m = 6371000.0;
constexpr double kMaxHeightOff_m = 100000.0;
constexpr int kHeaderPositionEpochs = 20;  // epochs searched for a usable header position
// First light-time guess for a satellite not observed: a GPS orbit's typical range.
constexpr double kNominalRange_m = 22.0e6;

const double kLambda1_m = kSpeedOfLight_mps / kL1Frequency_hz;
const double kLambda2_m = kSpeedOfLight_mps / kL2Frequency_hz;
const double kLambdaWide_m = kSpeedOfLight_mps / (kL1Frequency_hz - kL2Frequency_hz);
// alpha = (f1/f2)^2: the L2 ionospheric delay is alpha times the L1 delay.
const double kAlpha = (kL1Frequency_hz / kL2Frequency_hz) * (kL1Frequency_hz / kL2Frequency_hz);

const char* ReceiverName(int32_t type) {
  switch (type) {
    case kReceiverCa:
      return "C/A code";
    case kReceiverDual:
      return "dual frequency";
    case kReceiverL2Codeless:
      return "L2-codeless";
    case kReceiverGlonass:
      return "GPS+GLONASS";
    default:
      return "unknown";
  }
}

// One dual-frequency arc of a satellite: its values until a slip, a restart or a missing
// value ends it.
struct ArcState {
  int64_t lastEpoch = -2;  // epoch index of the arc's last value
  bool p1 = false;         // the arc's L1 code is P1 (else C/A)
  double lastTime_s = 0.0;
  double lastIono_m = 0.0;  // L1 ionospheric delay plus a constant
  double wideSum_cyc = 0.0;
  int64_t wideCount = 0;
  // MP1, MP2 (m) with their arc mean still in: the ambiguities make them millions of
  // metres, so they stay double until the mean is removed.
  struct Value {
    double time_s, mp1_m, mp2_m;
  };
  std::vector<Value> points;
  double elevationTime_s = -1e300;  // time of the held elevation
  bool elevationValid = false;
  float azimuth_deg = 0.0f, elevation_deg = 0.0f;
};

class ObservationScan {
 public:
  ObservationScan(QcReport* report, EphemerisStore* store, const double* receiver_m)
      : report_(report),
        store_(store),
        receiver_m_(receiver_m),
        mask_deg_(report->maskElevation_deg) {
    sats_.resize(kPrnSlots);
    arcs_.resize(kPrnSlots);
    for (int i = 0; i < kPrnSlots; ++i) sats_[i].prn = i;
    if (receiver_m_ != nullptr) {
      double lat, lon, h;
      EcefToLatLonHeight(receiver_m_, &lat, &lon, &h);
      frame_ = LocalFrameOf(GeodeticPos{lat, lon, static_cast<float>(h)});
    }
  }

  // Epochs not after the one before are left out (the set scan counts them as repeated).
  void Epoch(const RawEpoch& epoch, double time_s) {
    if (index_ > 0 && !(time_s - previous_s_ > 0.0)) return;
    previous_s_ = time_s;
    const int64_t index = index_++;
    for (const RawChannel& ch : epoch.channels) {
      if (ch.prn == 0) continue;
      Channel(ch, index, time_s, epoch.tow_s);
    }
  }

  void Finish() {
    for (int prn = 0; prn < kPrnSlots; ++prn) CloseArc(prn);
    QcReport& r = *report_;
    double snr1 = 0.0, snr2 = 0.0, mp1 = 0.0, mp2 = 0.0, iono = 0.0;
    int64_t n1 = 0, n2 = 0, ni = 0;
    for (const QcSatellite& s : sats_) {
      if (s.epochs == 0) continue;
      r.satellites.push_back(s);
      for (int k = 0; k < kQcObservableCount; ++k) r.observations[k] += s.observations[k];
      r.lossOfLock += s.lossOfLock;
      r.slips += s.slips;
      r.arcs += s.arcs;
      r.aboveMask += s.aboveMask;
      r.completeObservations += s.complete;
      snr1 += s.snr1Sum;
      snr2 += s.snr2Sum;
      n1 += s.snr1Count;
      n2 += s.snr2Count;
      mp1 += s.mp1Sum2;
      mp2 += s.mp2Sum2;
      r.mpCount += s.mpCount;
      iono += s.ionoRateSum2;
      ni += s.ionoRateCount;
    }
    r.snr1Mean = n1 > 0 ? snr1 / n1 : 0.0;
    r.snr2Mean = n2 > 0 ? snr2 / n2 : 0.0;
    r.mp1Rms_m = r.mpCount > 0 ? std::sqrt(mp1 / r.mpCount) : 0.0;
    r.mp2Rms_m = r.mpCount > 0 ? std::sqrt(mp2 / r.mpCount) : 0.0;
    r.ionoRateRms_mpm = ni > 0 ? std::sqrt(iono / ni) : 0.0;
  }

 private:
  void Channel(const RawChannel& ch, int64_t index, double time_s, double tow_s) {
    QcSatellite& s = sats_[ch.prn];
    ++s.epochs;
    const bool ca = ch.ca.range_s > 0.0, l1 = ch.ca.phase_cyc != 0.0;
    const bool p1 = ch.hasP1 && ch.p1.range_s > 0.0;
    const bool p2 = ch.hasL2 && ch.l2.range_s > 0.0, l2 = ch.hasL2 && ch.l2.phase_cyc != 0.0;
    const bool present[kQcObservableCount] = {ca,
                                              l1,
                                              ch.ca.doppler != 0,
                                              ch.ca.snr > 0,
                                              p1,
                                              p2,
                                              l2,
                                              ch.hasL2 && ch.l2.doppler != 0,
                                              ch.hasL2 && ch.l2.snr > 0};
    for (int k = 0; k < kQcObservableCount; ++k) s.observations[k] += present[k] ? 1 : 0;
    const bool restart =
        (ch.ca.warning & kWarnRestart) != 0 || (ch.hasL2 && (ch.l2.warning & kWarnRestart) != 0);
    if (restart) ++s.lossOfLock;
    if (ch.ca.snr > 0) {
      s.snr1Sum += ch.ca.snr;
      ++s.snr1Count;
    }
    if (present[kQcS2]) {
      s.snr2Sum += ch.l2.snr;
      ++s.snr2Count;
    }
    const double codeDifference_m = std::fabs(ch.ca.range_s - ch.l2.range_s) * kSpeedOfLight_mps;
    if (ca && p2 && codeDifference_m > kGrossCodeDifference_m) {
      ++s.grossCode;
      s.grossCodeMax_m = std::max(s.grossCodeMax_m, codeDifference_m);
    }
    ArcState& arc = arcs_[ch.prn];
    if (ca && ch.prn <= kMaxGpsPrn) Elevation(ch, time_s, tow_s, &arc, &s);
    // Without elevations no mask applies; a satellite without an elevation is not above it.
    const bool above = store_ == nullptr || (ch.prn <= kMaxGpsPrn && arc.elevationValid &&
                                             arc.elevation_deg > mask_deg_);
    if (!above) return;
    ++s.aboveMask;
    if (ca && (!report_->phasePair || (p2 && l1 && l2))) ++s.complete;
    if (report_->phasePair && ch.prn <= kMaxGpsPrn) PairArc(ch, index, time_s, restart, &arc, &s);
  }

  // MP and slips: the arc goes on only from the epoch just before (above the mask), without
  // a restart bit, with both phases, the L2 code and the arc's L1 code, both codes sound.
  void PairArc(const RawChannel& ch, int64_t index, double time_s, bool restart, ArcState* a,
               QcSatellite* sat) {
    ArcState& arc = *a;
    QcSatellite& s = *sat;
    const bool ca = ch.ca.range_s > 0.0, l1 = ch.ca.phase_cyc != 0.0;
    const bool p1 = ch.hasP1 && ch.p1.range_s > 0.0;
    const bool p2 = ch.hasL2 && ch.l2.range_s > 0.0, l2 = ch.hasL2 && ch.l2.phase_cyc != 0.0;
    const bool continuing = arc.lastEpoch == index - 1 && !restart && (arc.p1 ? p1 : ca);
    if (!continuing) CloseArc(ch.prn);
    if (!(l1 && l2 && p2 && (p1 || ca))) return;
    if (!continuing) arc.p1 = p1;
    const double r1_m = (arc.p1 ? ch.p1.range_s : ch.ca.range_s) * kSpeedOfLight_mps;
    const double r2_m = ch.l2.range_s * kSpeedOfLight_mps;
    if (std::fabs(r1_m - r2_m) > kGrossCodeDifference_m) {
      CloseArc(ch.prn);
      return;
    }
    // Phases in RINEX sign (the file stores them negated), in metres.
    const double phi1_m = -ch.ca.phase_cyc * kLambda1_m;
    const double phi2_m = -ch.l2.phase_cyc * kLambda2_m;
    const double iono_m = (phi1_m - phi2_m) / (kAlpha - 1.0);
    const double wide_cyc =
        ((kL1Frequency_hz * phi1_m - kL2Frequency_hz * phi2_m) /
             (kL1Frequency_hz - kL2Frequency_hz) -
         (kL1Frequency_hz * r1_m + kL2Frequency_hz * r2_m) / (kL1Frequency_hz + kL2Frequency_hz)) /
        kLambdaWide_m;
    const double k1 = 2.0 / (kAlpha - 1.0);
    const double mp1_m = r1_m - (1.0 + k1) * phi1_m + k1 * phi2_m;
    const double mp2_m = r2_m - (2.0 * kAlpha / (kAlpha - 1.0)) * phi1_m +
                         (2.0 * kAlpha / (kAlpha - 1.0) - 1.0) * phi2_m;
    if (continuing) {
      const double rate_mpm =
          (iono_m - arc.lastIono_m) / ((time_s - arc.lastTime_s) / kSecondsPerMinute);
      const double wideMean_cyc = arc.wideSum_cyc / static_cast<double>(arc.wideCount);
      if (std::fabs(rate_mpm) > kIonoRateSlip_mpm ||
          std::fabs(wide_cyc - wideMean_cyc) > kWideLaneSlip_cyc) {
        ++s.slips;
        CloseArc(ch.prn);
        arc.p1 = p1;
      } else {
        s.ionoRateSum2 += rate_mpm * rate_mpm;
        ++s.ionoRateCount;
      }
    }
    arc.lastEpoch = index;
    arc.lastTime_s = time_s;
    arc.lastIono_m = iono_m;
    arc.wideSum_cyc += wide_cyc;
    ++arc.wideCount;
    arc.points.push_back({time_s, mp1_m, mp2_m});
  }

  void Elevation(const RawChannel& ch, double time_s, double tow_s, ArcState* arc, QcSatellite* s) {
    if (store_ == nullptr || receiver_m_ == nullptr) return;
    if (time_s - arc->elevationTime_s >= kElevationStep_s || time_s < arc->elevationTime_s) {
      arc->elevationTime_s = time_s;
      arc->elevationValid = false;
      double position[3], velocity[3];
      if (store_->SatPosition(ch.prn, tow_s, 0, ch.ca.range_s * kSpeedOfLight_mps, receiver_m_,
                              position, velocity) == 0) {
        double el, az;
        ElevationAzimuth(receiver_m_, frame_, position, &el, &az);
        arc->elevationValid = true;
        arc->elevation_deg = static_cast<float>(el * kDegPerRad);
        double az_deg = az * kDegPerRad;
        if (az_deg < 0.0) az_deg += 360.0;
        arc->azimuth_deg = static_cast<float>(az_deg);
      }
    }
    if (!arc->elevationValid) return;
    s->maxElevation_deg = std::max(s->maxElevation_deg, static_cast<double>(arc->elevation_deg));
    report_->sky.push_back({time_s, ch.prn, arc->azimuth_deg, arc->elevation_deg,
                            static_cast<float>(ch.ca.snr),
                            static_cast<float>(ch.hasL2 ? ch.l2.snr : 0)});
  }

  // Ends the arc of a PRN: arcs long enough give their values, mean removed.
  void CloseArc(int prn) {
    ArcState& arc = arcs_[prn];
    const size_t n = arc.points.size();
    if (n >= static_cast<size_t>(kMinArcEpochs)) {
      double m1 = 0.0, m2 = 0.0;
      for (const ArcState::Value& p : arc.points) {
        m1 += p.mp1_m;
        m2 += p.mp2_m;
      }
      m1 /= n;
      m2 /= n;
      QcSatellite& s = sats_[prn];
      ++s.arcs;
      for (const ArcState::Value& p : arc.points) {
        const double d1 = p.mp1_m - m1, d2 = p.mp2_m - m2;
        s.mp1Sum2 += d1 * d1;
        s.mp2Sum2 += d2 * d2;
        report_->multipath.push_back(
            {p.time_s, prn, static_cast<float>(d1), static_cast<float>(d2)});
      }
      s.mpCount += static_cast<int64_t>(n);
      if (arc.p1) report_->p1Code = true;
    }
    arc.points.clear();
    arc.lastEpoch = -2;
    arc.wideSum_cyc = 0.0;
    arc.wideCount = 0;
  }

  QcReport* report_;
  EphemerisStore* store_;
  const double* receiver_m_;
  double mask_deg_;
  LocalFrame frame_{};
  std::vector<QcSatellite> sats_;
  std::vector<ArcState> arcs_;
  int64_t index_ = 0;  // epochs taken
  double previous_s_ = 0.0;
};

// GPS satellites with a usable ephemeris above the mask at time_s.
int64_t SatellitesAboveMask(EphemerisStore* store, const double receiver_m[3],
                            const LocalFrame& frame, const QcReport& r, double time_s) {
  const double tow_s =
      r.weekKnown ? time_s - std::floor(time_s / kSecondsPerWeek) * kSecondsPerWeek : time_s;
  int64_t above = 0;
  for (int prn = 1; prn <= kMaxGpsPrn; ++prn) {
    double position[3], velocity[3], el, az;
    if (store->SatPosition(prn, tow_s, 0, kNominalRange_m, receiver_m, position, velocity) != 0)
      continue;
    ElevationAzimuth(receiver_m, frame, position, &el, &az);
    above += el * kDegPerRad > r.maskElevation_deg ? 1 : 0;
  }
  return above;
}

// Satellites with a usable ephemeris above the mask at each epoch of the interval grid from
// the first epoch to the last: the observations a receiver tracking every one would make. As
// for the observed satellites, the satellites above the mask are found at most every
// kElevationStep_s and held in between (at intervals of 10 s and longer, at every epoch): a
// satellite crossing the mask inside a hold moves the count by at most that hold's epochs.
int64_t PossibleObservations(EphemerisStore* store, const double receiver_m[3], const QcReport& r) {
  double lat, lon, h;
  EcefToLatLonHeight(receiver_m, &lat, &lon, &h);
  const LocalFrame frame = LocalFrameOf(GeodeticPos{lat, lon, static_cast<float>(h)});
  int64_t possible = 0, above = 0;
  double sampled_s = 0.0;
  for (int64_t k = 0; k < r.expected && r.interval_s > 0.0; ++k) {
    const double time_s = r.first_s + static_cast<double>(k) * r.interval_s;
    if (k == 0 || time_s - sampled_s >= kElevationStep_s - 1e-6) {  // 1 us: grid rounding
      sampled_s = time_s;
      above = SatellitesAboveMask(store, receiver_m, frame, r, time_s);
    }
    possible += above;
  }
  return possible;
}

bool UsableHeaderPosition(const double ecef_m[3]) {
  const double r = std::sqrt(ecef_m[0] * ecef_m[0] + ecef_m[1] * ecef_m[1] + ecef_m[2] * ecef_m[2]);
  return std::isfinite(r) && std::fabs(r - kEarthRadius_m) < kMaxHeightOff_m;
}

}  // namespace

const char* QcObservableName(int observable) {
  static const char* const kNames[kQcObservableCount] = {"C1", "L1", "D1", "S1", "P1",
                                                         "P2", "L2", "D2", "S2"};
  return observable >= 0 && observable < kQcObservableCount ? kNames[observable] : "?";
}

double QcCompletePercent(const QcReport& report) {
  return report.possibleObservations > 0
             ? 100.0 * static_cast<double>(report.completeObservations) /
                   static_cast<double>(report.possibleObservations)
             : -1.0;
}

double QcObservationsPerSlip(const QcReport& report) {
  return report.phasePair && report.slips > 0
             ? static_cast<double>(report.aboveMask) / static_cast<double>(report.slips)
             : -1.0;
}

std::string QcTimeText(const QcReport& report, double time_s) {
  if (!report.weekKnown) {
    char text[64];
    std::snprintf(text, sizeof text, "s %.1f of an unknown week", time_s);
    return text;
  }
  const int32_t week = static_cast<int32_t>(std::floor(time_s / kSecondsPerWeek));
  const std::string text = FormatGpsTime(week, time_s - week * kSecondsPerWeek);
  return text.size() > 4 && text.compare(text.size() - 4, 4, ".000") == 0
             ? text.substr(0, text.size() - 4)
             : text;
}

namespace {

// A defect of the set: the report is incomplete because of it.
void Defect(QcReport* r, const std::string& text) {
  r->missing.push_back(text);
  r->incomplete = true;
}

// What the set scan read before the epochs: receiver, week, site, ephemeris counts.
void TakeSetFacts(const SetScan& s, QcReport* r) {
  r->readable = true;
  r->model = s.model;
  r->receiverType = s.receiverType;
  r->receiverName = ReceiverName(r->receiverType);
  r->phasePair = r->receiverType == kReceiverDual || r->receiverType == kReceiverL2Codeless;
  r->week = s.week.week;
  r->weekKnown = s.week.week >= 0;
  r->weekSource = WeekSourceName(s.week.source);
  r->weekNote = s.week.note;
  r->hasSiteFile = s.site.present;
  if (s.site.present) {
    r->site = s.site.name;
    r->antennaHeight_m = s.site.antennaHeight_m;
  }
  r->ephemerisFile = s.ephemerisFile;
  if (!s.ephemerisError.empty()) {
    Defect(r, "The ephemeris file cannot be read: " + s.ephemerisError);
  }
  r->gpsEphemerides = static_cast<int64_t>(s.gps.size());
  r->unhealthyEphemerides = s.unhealthyRecords;
  r->glonassEphemerides = static_cast<int64_t>(s.glonass.size());
}

// The module's ephemerides and the positions of a conversion through the module.
void ComputeModulePositions(const std::string& bPath, const QcOptions& options,
                            const SessionWeek& session, const std::string& ephemerisPath,
                            ModuleEphemerides* eph, QcReport* r) {
  const bool loaded = r->ephemerisFile && eph->Load(ephemerisPath);
  if (!r->ephemerisFile) {
    Defect(r, "No ephemeris file (" + NativeFileName(ephemerisPath) +
                  ") beside the set: no recomputed positions, no elevations, no sky plot, no "
                  "possible observations; complete observations, MP and slips without a mask.");
  } else if (!loaded || eph->gpsCount() == 0) {
    Defect(r, "The ephemeris file " + NativeFileName(ephemerisPath) +
                  " holds no usable healthy GPS ephemeris: no recomputed positions, no "
                  "elevations, no sky plot, no possible observations; complete observations, MP "
                  "and slips without a mask.");
  }
  ComputePositions(bPath, options, session, *eph, r);
  const QcPositions& p = r->positions;
  if (p.result != 0 && !p.error.empty() && r->ephemerisFile) {
    Defect(r, "The conversion through the module ended with result " + std::to_string(p.result) +
                  ": " + p.error);
  }
  if (p.epochs > 0 && p.solved == 0) {
    Defect(r, "No epoch could be solved: no position figures or position plots.");
  }
}

// The receiver position the elevations are seen from: the mean recomputed position, else
// the reference, else the first usable position of the epoch headers. False when none.
bool ReceiverPosition(const QcOptions& options, DownloadSetReader* reader, QcReport* r,
                      double receiver_m[3]) {
  const QcPositions& p = r->positions;
  if (p.solved > 0) {
    std::copy(p.mean_m, p.mean_m + 3, receiver_m);
    r->elevationSource = "mean of the recomputed positions";
    return true;
  }
  if (options.hasReference) {
    std::copy(options.reference_m, options.reference_m + 3, receiver_m);
    r->elevationSource = "reference position";
    return true;
  }
  RawEpoch first;
  for (int i = 0; i < kHeaderPositionEpochs && reader->NextEpoch(&first) == 1; ++i) {
    if (UsableHeaderPosition(first.ecef_m)) {
      std::copy(first.ecef_m, first.ecef_m + 3, receiver_m);
      r->elevationSource = "receiver's position in the epoch headers";
      return true;
    }
  }
  return false;
}

// The epochs' figures: the set scan's counts, interval and gaps, and the observation scan's
// satellites, arcs, multipath and sky.
void ScanObservations(SetScanner* scanner, EphemerisStore* store, const double* receiver_m,
                      QcReport* r) {
  ObservationScan observations(r, store, receiver_m);
  // At most one sky and one multipath value per channel record: room for them at once
  // instead of copying a day of values again and again as the vectors grow.
  DownloadSetReader& reader = scanner->reader();
  if (reader.recordSize() > 0) {
    const size_t records = static_cast<size_t>(reader.fileSize() / reader.recordSize());
    if (store != nullptr) r->sky.reserve(records);
    if (r->phasePair) r->multipath.reserve(records);
  }
  const bool readError =
      scanner->ScanEpochs([&observations](const RawEpoch& epoch, int32_t, double time_s) {
        observations.Epoch(epoch, time_s);
      }) != 0;
  observations.Finish();
  const SetScan& s = scanner->scan();
  r->epochs = s.epochs - s.repeated;
  r->repeated = s.repeated;
  r->first_s = s.first_s;
  r->last_s = s.last_s;
  r->interval_s = s.interval_s;
  r->expected = s.expected;
  r->gaps = s.gaps;
  if (readError) Defect(r, "A read error ended the observation file early.");
}

void NoteDamageAndGaps(const SetScan& s, QcReport* r) {
  r->damagedBytes = s.damagedBytes;
  r->damagedPlaces = s.damagedPlaces;
  for (const SetDamage& d : s.damage)
    r->damage.push_back(std::string(1, d.file) + " file: " + d.text);
  if (!r->damage.empty()) {
    Defect(r, "The set is damaged: " + std::to_string(r->damagedBytes) +
                  " bytes skipped or cut in " + std::to_string(r->damagedPlaces) +
                  (r->damagedPlaces == 1 ? " place" : " places") +
                  " (listed under Damage); the figures cover what could be read.");
  }
  // The first epoch header's site when the S file gives none.
  if (r->site.empty() && r->epochs > 0 && !s.sites.empty()) r->site = s.sites.front().name;
  if (r->epochs == 0) Defect(r, "The observation file holds no epoch.");
  if (!r->weekKnown) {
    Defect(r, "The GPS week is unknown (" + r->weekNote + "): times are seconds of the week.");
  }
  if (!r->phasePair && r->epochs > 0) {
    r->missing.push_back(std::string("A ") + r->receiverName +
                         " receiver has no L1 and L2 phase pair: no MP1/MP2, no cycle-slip "
                         "detection, no ionospheric delay rate (loss-of-lock flags are shown).");
  }
}

}  // namespace

int32_t ComputeQcReport(const std::string& bPath, const QcOptions& options, QcReport* report) {
  QcReport& r = *report;
  r = QcReport();
  r.path = bPath;
  r.name = NativeFileName(bPath);
  SetScanner scanner;
  if (scanner.Open(bPath, {options.receiverType, options.gpsWeek, options.window}) != 0) {
    r.readError = scanner.scan().error;
    Defect(&r, "The observation file cannot be read: " + r.readError +
                   ". Nothing else of the set is shown.");
    return -1;
  }
  const SetScan& s = scanner.scan();
  TakeSetFacts(s, &r);
  ModuleEphemerides eph;
  ComputeModulePositions(bPath, options, s.week, scanner.reader().CompanionPath('E'), &eph, &r);
  double receiver_m[3] = {0.0, 0.0, 0.0};
  const bool haveReceiver = ReceiverPosition(options, &scanner.reader(), &r, receiver_m);
  r.elevations = haveReceiver && eph.gpsCount() > 0;
  if (!haveReceiver && eph.gpsCount() > 0) {
    Defect(&r,
           "No receiver position (none recomputed, no reference, none in the epoch headers): "
           "no elevations, no sky plot, no possible observations; complete observations, MP "
           "and slips without a mask.");
  }
  r.maskElevation_deg = options.maskElevation_deg;
  r.maskApplied = r.elevations;
  ScanObservations(&scanner, r.elevations ? &eph.store() : nullptr,
                   r.elevations ? receiver_m : nullptr, &r);
  if (r.elevations) r.possibleObservations = PossibleObservations(&eph.store(), receiver_m, r);
  NoteDamageAndGaps(s, &r);
  return 0;
}

}  // namespace talverin
