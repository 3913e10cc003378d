#include "input/observation_reader.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "base/byte_order.h"
#include "base/gnss_constants.h"
#include "base/message_texts.h"
#include "base/text_buffer.h"
#include "geodesy/geodetic.h"
#include "input/epoch_scanner.h"
#include "input/event_marks.h"
#include "job/abort_counter.h"
#include "job/conversion_job.h"
#include "job/host_records.h"
#include "output/gpb_file.h"
#include "position/single_point.h"
#include "time/gps_time.h"

namespace talverin {
namespace {

// WGS84 as the receiver positions use it.
constexpr double kWgs84A_m = 6378137.0;
constexpr double kWgs84E2 = 0.006694380066;          // first eccentricity squared
constexpr double kWgs84OneMinusE2 = 0.993305619934;  // 1 - e^2
constexpr double kLatitudeTolerance_rad = 1e-10;
// The latitude iteration converges in a handful of passes anywhere near the Earth; the cap
// only stops it on positions deep inside the Earth, where it would oscillate.
constexpr int kLatitudeMaxPasses = 20;

constexpr double kTimeFold_s = 304800.0;  // a step beyond this crossed a week boundary
constexpr int kProgressInterval = 50;     // epochs written between progress reports
constexpr double kAltLockUnit_s = 0.001;  // ms to s
constexpr double kInt32Limit = 2147483647.0;
constexpr int kMinPositionChannels = 4;

constexpr char kGpsIonRecord[] = "GpsIon { Utc: %d\n}\n";

int32_t ClampToInt32(int64_t value) {
  if (value < 0) return 0;
  if (value > INT32_MAX) return INT32_MAX;
  return static_cast<int32_t>(value);
}

// Length of the whole file; the read position is restored.
int32_t FileLength(FILE* file) {
  const long here = std::ftell(file);
  if (here < 0 || std::fseek(file, 0, SEEK_END) != 0) return 0;
  const long end = std::ftell(file);
  std::fseek(file, here, SEEK_SET);
  return ClampToInt32(end);
}

void WriteGpsIon(ConversionJob& job, int32_t seconds) {
  if (job.eppFile != nullptr) std::fprintf(job.eppFile, kGpsIonRecord, static_cast<int>(seconds));
}

bool ValidPrnSlot(int32_t slot) { return slot >= 0 && slot < kGpbMaxSats; }

void ReportDuplicatePrns(ConversionJob& job, const gpb_epoch_type& epoch) {
  for (int i = 0; i < epoch.nsat; ++i) {
    for (int j = i + 1; j < epoch.nsat; ++j) {
      if (epoch.sat[i].prn != epoch.sat[j].prn) continue;
      job.Report(epoch.gpsTime, msg::kDuplicatePrn, static_cast<int>(epoch.sat[i].prn),
                 epoch.gpsTime);
    }
  }
}

// Some receivers store Doppler in units 10000 times larger: when every value is small,
// bring them all to Hz.
void RescaleSmallDopplers(gpb_epoch_type& epoch) {
  for (int i = 0; i < epoch.nsat; ++i) {
    if (!(std::fabs(epoch.sat[i].doppler1) < kDopplerSmall)) return;
  }
  for (int i = 0; i < epoch.nsat; ++i) epoch.sat[i].doppler1 *= kDopplerRescale;
}

void EndOfFile(ConversionJob& job, int32_t leapSecondsWritten, int32_t total) {
  if (job.receiverType == kReceiverGlonass) {
    if (job.options.GpsUtcLeapSeconds > 1) WriteGpsIon(job, job.options.GpsUtcLeapSeconds);
    if (leapSecondsWritten == 0 && job.lastEphWeek >= 0) {
      const int32_t n = GpsUtcOffset(0.0, job.lastEphWeek, job.lastEphTime);
      if (n > 1) WriteGpsIon(job, n);
    }
  }
  job.SendProgress(total, total);
}

// The receiver position of an epoch header (ECEF m) as WGS84 latitude, longitude (rad) and
// height (m): true when the header holds one. Zeros (what a receiver writes before its first
// fix), non-finite values, points on the polar axis (no longitude) and heights no receiver
// near the Earth's surface holds are none: false, outputs untouched.
bool HeaderReceiverPosition(double x, double y, double z, double* lat_rad, double* lon_rad,
                            double* h_m) {
  if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z)) return false;
  if (x == 0.0 && y == 0.0) return false;  // zeros, or the polar axis EcefToGeodetic cannot place
  double lat = 0.0;
  double lon = 0.0;
  double h = 0.0;
  EcefToGeodetic(x, y, z, &lat, &lon, &h);
  if (!PlausibleReceiverHeight(h)) return false;
  *lat_rad = lat;
  *lon_rad = lon;
  *h_m = h;
  return true;
}

}  // namespace

double TimeStep(double t, double previous) {
  if (!std::isfinite(t) || !std::isfinite(previous)) return 0.0;
  if (previous < 0.0 || previous == 0.0) return 0.0;
  double d = t - previous;
  // A step of more than half a week crossed a week boundary, forwards or backwards.
  if (d > kTimeFold_s) {
    d -= kSecondsPerWeek;
  } else if (d < -kTimeFold_s) {
    d += kSecondsPerWeek;
  }
  return d;
}

void EcefToGeodetic(double x, double y, double z, double* lat_rad, double* lon_rad, double* h_m) {
  *lat_rad = 0.0;
  *lon_rad = 0.0;
  *h_m = 0.0;
  // On the polar axis the longitude is undefined; a non-finite position from a corrupt
  // file is treated the same way rather than iterated on.
  if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z)) return;
  if (x == 0.0 && y == 0.0) return;
  const double p = std::hypot(x, y);
  *lon_rad = std::atan2(y, x);
  double phi = std::atan2(z, p * kWgs84OneMinusE2);
  for (int pass = 0; pass < kLatitudeMaxPasses; ++pass) {
    const double s = std::sin(phi);
    const double n = kWgs84A_m / std::sqrt(1.0 - kWgs84E2 * s * s);
    const double h = p / std::cos(phi) - n;
    const double next = std::atan2(z, p * (1.0 - kWgs84E2 * n / (n + h)));
    const bool done = std::fabs(phi - next) < kLatitudeTolerance_rad;
    phi = next;
    if (done) break;
  }
  // Height from the final latitude by the form that stays exact near the poles: p / cos(phi)
  // turns the 1e-10 rad tolerance into decimetres of height above 89 degrees.
  const double s = std::sin(phi);
  *lat_rad = phi;
  *h_m = p * std::cos(phi) + z * s - kWgs84A_m * std::sqrt(1.0 - kWgs84E2 * s * s);
}

int32_t DecodeChannel(ConversionJob& job, gpb_epoch_type& epoch, const uint8_t* record, double dt,
                      int32_t slot, int32_t* leapSecondsWritten) {
  if (!ValidPrnSlot(slot)) return 1;
  ByteCursor in(record, kChannelBufferSize);
  gpb_sat_type& sat = epoch.sat[slot];
  const uint8_t p = in.U8(kChanPrnOffset);
  sat.prn = p;
  // PRN 72 and above cannot index the tracking-time tables.
  if (p == 0 || p >= kMaxPrn) return 1;
  if (p > kMaxGpsPrn && job.receiverType != kReceiverGlonass) return 1;

  const bool quality = job.options.ReportQualityWarnings != 0;
  const uint8_t l1Warning = in.U8(kChanL1WarningOffset);
  job.l1Time[p] = dt > 0.0 ? job.l1Time[p] + dt : 0.0;
  if (l1Warning & kWarnRestart) job.l1Time[p] = 0.0;
  if (l1Warning & kWarnL1Phase) {
    job.l1Time[p] = 0.0;
    if (quality) job.ReportError(epoch.gpsTime, msg::kL1PhaseQuestion, p, epoch.gpsTime);
  } else if (l1Warning & kWarnCodePhase) {
    if (quality) job.ReportError(epoch.gpsTime, msg::kCodePhaseQuestionable, p);
  } else if (l1Warning & kWarnIntegration) {
    if (quality) job.ReportError(epoch.gpsTime, msg::kCodeIntegrationUnstable, p);
  }

  double range_m = in.F64(kChanRangeOffset) * kSpeedOfLight_mps;
  sat.sflags = kSatRange1;
  // GLONASS ranges carry the whole GPS-UTC seconds: the first one found names them for the
  // .epp file. A corrupt range too long for an integer second count is left as it is.
  const double rangeTime_s = range_m * kInvSpeedOfLight_spm;
  if (job.receiverType == kReceiverGlonass && p > kMaxGpsPrn && rangeTime_s > kGlonassOffsetMin_s &&
      rangeTime_s + kGlonassOffsetRound_s < kInt32Limit) {
    const int32_t n = static_cast<int32_t>(rangeTime_s + kGlonassOffsetRound_s);
    if (leapSecondsWritten != nullptr && *leapSecondsWritten == 0) {
      *leapSecondsWritten = 1;
      WriteGpsIon(job, n);
    }
    range_m -= n * kSpeedOfLight_mps;
  }
  sat.range1 = range_m;

  sat.phase1 = -in.F64(kChanL1PhaseOffset);
  if (sat.phase1 != 0.0) sat.sflags |= kSatPhase1;
  sat.doppler1 = -(in.I32(kChanDopplerOffset) * kDopplerUnit);
  sat.sflags |= kSatDoppler1;
  sat.snr1 = in.U8(kChanL1SnrOffset);
  sat.sflags |= kSatSnr1;
  sat.lock1 = job.l1Time[p];
  sat.sflags |= kSatLock1;

  if (job.receiverType == kReceiverDual) {
    sat.range2 = in.F64(kChanDualL2RangeOffset) * kSpeedOfLight_mps;
    sat.sflags |= kSatRange2;
    sat.snr2 = in.U8(kChanDualL2SnrOffset);
    sat.sflags |= kSatSnr2;
    // L2 keeps growing across a step back in time; a non-finite step restarts it instead
    // of leaving NaN in the table for the rest of the file.
    job.l2Time[p] = std::isfinite(dt) ? job.l2Time[p] + dt : 0.0;
    if (in.U8(kChanDualL2WarningOffset) & kWarnRestart) {
      job.l2Time[p] = 0.0;
      if (quality) {
        job.ReportError(epoch.gpsTime, msg::kL2PhaseQuestionable, p, epoch.gpsTime);
      }
    }
    if (l1Warning & kWarnL1Phase) {
      job.l2Time[p] = 0.0;
      if (quality) job.ReportError(epoch.gpsTime, msg::kL2PhaseQuestion, p, epoch.gpsTime);
    }
    sat.phase2 = -in.F64(kChanDualL2PhaseOffset);
    if (sat.phase2 != 0.0) sat.sflags |= kSatPhase2;
    sat.lock2 = job.l2Time[p];
    sat.sflags |= kSatLock2;
    if (job.options.DropL2PhaseWithoutRange != 0 && sat.range2 == 0.0) sat.phase2 = 0.0;
  } else if (job.receiverType == kReceiverL2Codeless) {
    sat.range2 = in.F64(kChanCodelessL2RangeOffset) * kSpeedOfLight_mps;
    sat.sflags |= kSatRange2;
    sat.phase2 = -in.F64(kChanCodelessL2PhaseOffset);
    sat.sflags |= kSatPhase2;
  } else {
    sat.range2 = 0.0;
    sat.phase2 = 0.0;
    sat.lock2 = 0.0;
    sat.snr2 = 0.0;
    sat.sflags &= ~(kSatRange2 | kSatPhase2 | kSatLock2 | kSatSnr2);
  }
  return 0;
}

int32_t DecodeChannelAlt(ConversionJob& /*job*/, gpb_epoch_type& epoch, const uint8_t* record,
                         int32_t slot) {
  if (!ValidPrnSlot(slot)) return 1;
  ByteCursor in(record, kChannelBufferSize);
  if (in.U8(kAltStatusOffset) & kAltStatusRejectMask) return 1;
  gpb_sat_type& sat = epoch.sat[slot];
  sat.prn = in.U8(kAltPrnOffset);
  sat.lock1 = in.U32(kAltLockOffset) * kAltLockUnit_s;
  sat.sflags = kSatLock1;
  sat.range1 = (epoch.gpsTime - in.F64(kAltTransmitOffset)) * kSpeedOfLight_mps;
  sat.sflags |= kSatRange1;
  sat.doppler1 = in.I32(kAltDopplerOffset) * kDopplerUnit * -1.0;
  sat.sflags |= kSatDoppler1;
  sat.phase1 = -in.F64(kAltPhaseOffset);
  if (sat.phase1 != 0.0) sat.sflags |= kSatPhase1;
  return 0;
}

namespace {

// The time sent with a recovery message: the header's, when it lies in the week.
double MessageTime(double t_s) { return t_s >= 0.0 && t_s <= kSecondsPerWeek ? t_s : 0.0; }

enum class AfterRefusal { kGoOn, kAborted, kEnded };

// Reports a refused header and follows the scan to the next epoch that can be told from
// damage; the refused epoch is neither written nor counted.
AfterRefusal FollowRefusal(ConversionJob& job, EpochScanner& scanner, const ScanItem& judged,
                           int32_t headersRead, int32_t total) {
  const double time_s = MessageTime(judged.time_s);
  if (judged.tooMany) {
    job.Report(time_s, msg::kTooManyChannels);
  } else {
    job.Report(time_s, msg::kImplausibleHeader, static_cast<long long>(judged.offset),
               job.inputPath, judged.reason);
  }
  const ScanItem* scan = &scanner.Next();  // judged is no longer valid from here on
  // A damaged file can be long: the host may stop the scan and sees it move.
  while (scan->step == ScanStep::kScanning) {
    if (AbortCounter() != 0) return AfterRefusal::kAborted;
    job.SendProgress(ClampToInt32(scan->offset), total);
    scan = &scanner.Next();
  }
  if (scan->step == ScanStep::kScanEnded) {
    job.Report(time_s, msg::kPrematureEnd, static_cast<long>(headersRead));
    CopyText(ModuleErrorText(), kTextSize, job.messageBuffer);
    return AfterRefusal::kEnded;
  }
  job.Report(scan->time_s, msg::kResumed, static_cast<long long>(scan->skipped), job.inputPath,
             scan->time_s);
  return AfterRefusal::kGoOn;
}

// Fills the epoch record from a judged epoch's header (times, channel count, receiver
// position and clock), runs the station-mark step on it and gives the time step since the
// previous epoch (-1 for the first).
double StartEpoch(ConversionJob& job, const ScanItem& judged, gpb_epoch_type& epoch) {
  uint8_t header[kEpochHeaderSize];
  std::memcpy(header, judged.bytes, kEpochHeaderSize);
  ByteCursor in(header, kEpochHeaderSize);
  const double time_s = judged.time_s;
  const double x_m = in.F64(kEpochXOffset);
  const double y_m = in.F64(kEpochYOffset);
  const double z_m = in.F64(kEpochZOffset);
  const double clock_m = in.F64(kEpochClockOffset);
  const int32_t count = judged.count;

  std::memset(&epoch, 0, sizeof epoch);
  epoch.valid = 1;
  epoch.rcvTime = time_s;
  epoch.gpsTime = time_s;
  epoch.nsat = static_cast<int16_t>(count);
  // Position valid: at least 4 channels and a header that holds a receiver position.
  // Zeros or a point no receiver can be at would reach the host as a valid (0, 0, 0 m).
  double lat_rad = 0.0;
  double lon_rad = 0.0;
  double h_m = 0.0;
  const bool positioned = count >= kMinPositionChannels &&
                          HeaderReceiverPosition(x_m, y_m, z_m, &lat_rad, &lon_rad, &h_m);
  epoch.flags = positioned ? kEpochPositionValid : 0;
  if (job.options.ForceMoving != 0) epoch.flags |= kEpochMoving;
  epoch.clock = clock_m;
  epoch.corrTime = time_s - clock_m * kInvSpeedOfLight_spm;

  const double dt = job.previousEpochTime < 0.0 ? -1.0 : TimeStep(time_s, job.previousEpochTime);

  if (positioned) {
    epoch.lat = lat_rad * kDegPerRad;
    epoch.lon = lon_rad * kDegPerRad;
    epoch.height = static_cast<float>(h_m);  // within +-100 km
  }

  (void)StationMarkStep(job, header, job.events);
  epoch.flags |= job.epochFlagBits;
  return dt;
}

// Decodes the judged epoch's channel records into the epoch; nsat becomes the number
// accepted. buffer: kReadBufferSize bytes, zero beyond the record size.
void DecodeChannels(ConversionJob& job, const ScanItem& judged, double dt, uint8_t* buffer,
                    gpb_epoch_type& epoch, int32_t* leapSecondsWritten) {
  const size_t recordSize = static_cast<size_t>(job.channelRecordSize);
  int32_t accepted = 0;
  for (int32_t i = 0; i < judged.count; ++i) {
    std::memcpy(buffer, judged.bytes + kEpochHeaderSize + static_cast<size_t>(i) * recordSize,
                recordSize);
    const int32_t rejected =
        job.options.AltChannelLayout != 0
            ? DecodeChannelAlt(job, epoch, buffer, accepted)
            : DecodeChannel(job, epoch, buffer, dt, accepted, leapSecondsWritten);
    if (rejected == 0) ++accepted;
  }
  epoch.nsat = static_cast<int16_t>(accepted);
}

// Quality warnings, Doppler rescaling and the position recomputation, then the GPB file.
void CompleteEpoch(ConversionJob& job, gpb_epoch_type& epoch) {
  if (job.options.ReportQualityWarnings != 0) ReportDuplicatePrns(job, epoch);
  RescaleSmallDopplers(epoch);

  if (job.options.RecomputePosition != 0) {
    if (job.engine->store().gpsCount > 3) {
      (void)job.engine->ProcessEpoch(&epoch, 3);
    } else {
      job.Report(epoch.gpsTime, msg::kTooFewEphemerides);
    }
  }
  job.previousEpochTime = epoch.gpsTime;

  if (job.gpb->WriteEpoch(epoch) != 0) {
    job.SendMessage(epoch.gpsTime, job.gpb->errorText());
  } else {
    ++job.epochsWritten;
  }
}

}  // namespace

int32_t ReadEpochs(ConversionJob& job) {
  FILE* file = job.observationFile;
  if (file == nullptr) {
    FormatText(ModuleErrorText(), msg::kObservationNotOpen, job.inputPath);
    job.SendMessage(-1.0, ModuleErrorText());
    return 3;
  }
  const int32_t recordSize = job.channelRecordSize;
  if (recordSize <= 0 || recordSize > kChannelBufferSize) {
    job.ReportError(-1.0, msg::kBadChannelRecordSize, static_cast<long>(recordSize),
                    static_cast<long>(job.receiverType));
    return 3;
  }
  const EpochShape shape = {
      job.receiverType == kReceiverGlonass ? kMaxChannelsGlonass : kMaxChannelsGps, recordSize,
      job.options.AltChannelLayout != 0, job.receiverType};
  EpochScanner scanner(file, shape);
  if (!scanner.ready()) {
    job.ReportError(-1.0, msg::kNoReadMemory, job.inputPath);
    return 3;
  }
  const int32_t total = FileLength(file);

  gpb_epoch_type epoch;
  uint8_t buffer[kReadBufferSize];
  int32_t headersRead = 0;
  int32_t leapSecondsWritten = 0;
  // Every read fills the same first recordSize bytes, so the bytes beyond a short record
  // (read as zero by the alternative layout) stay zero from this one clearing.
  std::memset(buffer, 0, sizeof buffer);

  int32_t result = 0;
  // The host's abort, also one given while the other files were read, ends the loop
  // before the next epoch.
  while (AbortCounter() == 0) {
    const ScanItem& judged = scanner.Next();
    if (judged.step == ScanStep::kEnd) break;
    ++headersRead;
    if (job.epochsWritten % kProgressInterval == 0) {
      job.SendProgress(ClampToInt32(judged.offset + kEpochHeaderSize), total);
    }
    if (judged.step == ScanStep::kCut) {
      job.ReportError(judged.time_s, msg::kPrematureEnd, static_cast<long>(headersRead));
      result = 3;
      break;
    }
    if (judged.step == ScanStep::kRejected) {
      const AfterRefusal next = FollowRefusal(job, scanner, judged, headersRead, total);
      if (next == AfterRefusal::kGoOn) continue;
      if (next == AfterRefusal::kEnded) result = 3;
      break;
    }
    const double dt = StartEpoch(job, judged, epoch);
    DecodeChannels(job, judged, dt, buffer, epoch, &leapSecondsWritten);
    CompleteEpoch(job, epoch);
  }

  if (result == 0) EndOfFile(job, leapSecondsWritten, total);
  return result;
}

}  // namespace talverin
