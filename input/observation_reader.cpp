#include "input/observation_reader.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/byte_order.h"
#include "base/gnss_constants.h"
#include "base/message_texts.h"
#include "base/text_buffer.h"
#include "geodesy/geodetic.h"
#include "input/event_marks.h"
#include "output/gpb_file.h"
#include "plugin/abort_counter.h"
#include "plugin/conversion_job.h"
#include "plugin/host_records.h"
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
constexpr double kAltLockUnit_s = 0.001;      // ms to s
constexpr double kInt32Limit = 2147483647.0;
constexpr int kMinPositionChannels = 4;

// Epoch headers that cannot be true. Receiver times stand in the GPS week. Between two
// epochs of one recording the time steps forward by 0 to 3600 s, counted across the end
// of the week (the week rollover: 604790 s, then 10 s). Any other step (backwards, or
// forwards by more than an hour) is a restart of logging only when the epoch after it
// continues from the new time and not from the old one; otherwise the odd header is
// damage. Ranges of sound channel records lie within 0 to 100 s of light time (GLONASS
// ranges carry the GPS-UTC seconds), transmission times within 100 s of the epoch.
constexpr double kMaxEpochStep_s = 3600.0;
constexpr double kMaxRecordRange_s = 100.0;
constexpr double kGridTolerance = 0.01;       // share of the logging interval
constexpr uint8_t kFirstPrintable = 0x20;     // site name characters: printable ASCII
constexpr uint8_t kLastPrintable = 0x7E;
constexpr size_t kWindowSize = 65536;         // bytes of read-ahead over the B file
constexpr int64_t kScanReportInterval = 1 << 20;  // bytes scanned between progress reports

constexpr char kGpsIonRecord[] = "GpsIon { Utc: %d\n}\n";
// Why a header is implausible, in msg::kImplausibleHeader.
constexpr char kFaultCount[] = "channel count %d";
constexpr char kFaultSite[] = "site name bytes %02X %02X %02X %02X";
constexpr char kFaultTime[] = "time %g s";
constexpr char kReasonRecords[] = "channel records unsound, epoch at %.3f s";
constexpr char kReasonUnconfirmed[] = "epoch at %.3f s not confirmed by the next one";
constexpr char kReasonNewSite[] = "new site name at %.3f s not confirmed by the next epoch";
constexpr char kReasonShiftedSite[] =
    "site name of the epoch before moved by a byte, epoch at %.3f s";
constexpr char kReasonTimeAfter[] = "time %.3f s after the epoch at %.3f s";
constexpr char kReasonTimeBefore[] = "time %.3f s before the epochs at %.3f s";
constexpr char kReasonStartsEarly[] = "the epoch after the one at %.3f s starts %.0f bytes early";

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
      job.Report(epoch.gpsTime,
                 msg::kDuplicatePrn,
                 static_cast<int>(epoch.sat[i].prn), epoch.gpsTime);
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

// Read-ahead over the observation file: the bytes of an epoch, and of the epochs after
// it, are looked at before the reader commits to them. Offsets count from the first byte
// not yet consumed; file positions are 64-bit.
class ObservationWindow {
 public:
  ObservationWindow(FILE* file, uint8_t* buffer, size_t capacity)
      : file_(file), buffer_(buffer), capacity_(capacity) {
    const long start = std::ftell(file);
    base_ = start > 0 ? start : 0;
  }

  int64_t position() const { return base_ + static_cast<int64_t>(begin_); }

  // Makes up to count bytes from offset on available; returns how many are (fewer only
  // at the end of the file) and points bytes at them.
  size_t Peek(size_t offset, size_t count, const uint8_t** bytes) {
    const size_t need = offset + count;
    if (end_ - begin_ < need && !ended_) {
      std::memmove(buffer_, buffer_ + begin_, end_ - begin_);
      base_ += static_cast<int64_t>(begin_);
      end_ -= begin_;
      begin_ = 0;
      while (end_ < need && !ended_) {
        const size_t got = std::fread(buffer_ + end_, 1, capacity_ - end_, file_);
        end_ += got;
        if (got == 0) ended_ = true;
      }
    }
    *bytes = buffer_ + begin_ + offset;
    const size_t available = end_ - begin_;
    return available <= offset ? 0 : (available - offset < count ? available - offset : count);
  }

  void Advance(size_t count) { begin_ += count < end_ - begin_ ? count : end_ - begin_; }

 private:
  FILE* file_;
  uint8_t* buffer_;
  size_t capacity_;
  int64_t base_ = 0;   // file offset of buffer_[0]
  size_t begin_ = 0;   // first byte not consumed
  size_t end_ = 0;     // end of the bytes read
  bool ended_ = false;
};

// An epoch header as the bytes at one place give it.
struct HeaderView {
  bool whole = false;   // all 67 bytes are in the file
  bool sound = false;   // plausible by itself
  bool tooMany = false; // sound but for a channel count above the limit
  double time_s = 0.0;
  int32_t count = 0;
  uint8_t site[kEpochHeaderSiteLength] = {};
  enum class Fault { kNone, kCount, kSite, kTime } fault = Fault::kNone;  // why not sound
};

// The reason a header is not sound, for the message (formatted only when one is sent).
void DescribeFault(const HeaderView& view, char* out, size_t size) {
  switch (view.fault) {
    case HeaderView::Fault::kCount:
      std::snprintf(out, size, kFaultCount, static_cast<int>(view.count));
      break;
    case HeaderView::Fault::kSite:
      std::snprintf(out, size, kFaultSite, view.site[0], view.site[1],
                    view.site[2], view.site[3]);
      break;
    case HeaderView::Fault::kTime:
      std::snprintf(out, size, kFaultTime, view.time_s);
      break;
    case HeaderView::Fault::kNone:
      break;
  }
}

HeaderView ViewHeader(ObservationWindow& window, size_t offset, int32_t channelLimit) {
  HeaderView view;
  const uint8_t* bytes = nullptr;
  if (window.Peek(offset, kEpochHeaderSize, &bytes) < static_cast<size_t>(kEpochHeaderSize)) {
    return view;
  }
  view.whole = true;
  ByteCursor in(bytes, kEpochHeaderSize);
  for (int i = 0; i < kEpochHeaderSiteLength; ++i) view.site[i] = in.U8(kEpochHeaderSiteOffset + i);
  view.time_s = in.F64(kEpochHeaderTimeOffset);
  view.count = in.I8(kEpochCountOffset);
  // Too many channels is told first, whatever the rest holds.
  if (view.count > channelLimit) {
    view.tooMany = true;
    view.fault = HeaderView::Fault::kCount;
    return view;
  }
  for (uint8_t c : view.site) {
    if (c < kFirstPrintable || c > kLastPrintable) {
      view.fault = HeaderView::Fault::kSite;
      return view;
    }
  }
  if (!(view.time_s >= 0.0 && view.time_s < kSecondsPerWeek)) {
    view.fault = HeaderView::Fault::kTime;
    return view;
  }
  if (view.count < 0) {
    view.fault = HeaderView::Fault::kCount;
    return view;
  }
  view.sound = true;
  return view;
}

// Step from a to b (s), folded into half a week either way: across the week's end.
double FoldedStep(double a, double b) {
  double d = b - a;
  if (d > kHalfWeek_s) d -= kSecondsPerWeek;
  if (d < -kHalfWeek_s) d += kSecondsPerWeek;
  return d;
}

// b can follow a in one recording.
bool Continues(double a, double b) {
  const double d = FoldedStep(a, b);
  return d >= 0.0 && d <= kMaxEpochStep_s;
}

// What the reader knows of the epochs accepted so far.
struct Accepted {
  bool any = false;
  double time_s = 0.0;     // receiver time of the last epoch accepted
  double step_s = 0.0;     // its step from the one before (0: not known)
  uint8_t site[kEpochHeaderSiteLength] = {};

  // t lies on the logging interval's grid from the last epoch.
  bool OnGrid(double t) const {
    const double r = FoldedStep(time_s, t);
    const double m = std::floor(r / step_s + 0.5);
    return std::fabs(r - m * step_s) <= kGridTolerance * step_s;
  }
};

// The channel records of an epoch look like channel records: a PRN the receiver can have
// (0 for an idle channel), and a range (standard layout) or time of transmission
// (alternative layout) that a satellite can give.
bool RecordsSound(const uint8_t* records, int32_t count, int32_t recordSize, bool alternative,
                  int32_t receiverType, double epochTime_s) {
  const int32_t maxPrn = receiverType == kReceiverGlonass ? kMaxPrn - 1 : kMaxGpsPrn;
  for (int32_t i = 0; i < count; ++i) {
    // Fields beyond a short record read as zero, as the decoders read them.
    ByteCursor in(records + static_cast<size_t>(i) * static_cast<size_t>(recordSize),
                  static_cast<size_t>(recordSize));
    if (alternative) {
      const double sent_s = in.F64(kAltTransmitOffset);
      if (in.U8(kAltPrnOffset) > maxPrn) return false;
      if (!(sent_s == 0.0 || std::fabs(FoldedStep(sent_s, epochTime_s)) < kMaxRecordRange_s)) {
        return false;
      }
    } else {
      const double range_s = in.F64(kChanRangeOffset);
      if (in.U8(kChanPrnOffset) > maxPrn || !(range_s >= 0.0 && range_s < kMaxRecordRange_s)) {
        return false;
      }
    }
  }
  return true;
}

// The size of the epochs and what their records must look like.
struct EpochShape {
  int32_t channelLimit;
  int32_t recordSize;
  bool alternative;
  int32_t receiverType;
};

enum class Verdict { kAccept, kReject, kCut, kEnd };

struct Judgement {
  Verdict verdict = Verdict::kEnd;
  HeaderView header;
  size_t length = 0;  // bytes of the epoch: header and channel records
  char reason[96] = "";
};

Judgement Reject(Judgement j, const char* format, ...) __attribute__((format(printf, 2, 3)));
Judgement Reject(Judgement j, const char* format, ...) {
  j.verdict = Verdict::kReject;
  va_list args;
  va_start(args, format);
  std::vsnprintf(j.reason, sizeof j.reason, format, args);
  va_end(args);
  return j;
}

// Decides whether the bytes at offset `at` of the window are an epoch to write, from the
// header, its records, the header after it and the last epoch accepted. While
// resynchronising after damage, a candidate must also have sound records, carry the last
// site name or be confirmed by the next header, and, with no epoch accepted yet, be
// confirmed by the next header or end exactly at the end of the file.
Judgement JudgeEpoch(ObservationWindow& window, size_t at, const Accepted& last, bool resync,
                     const EpochShape& shape) {
  Judgement j;
  j.header = ViewHeader(window, at, shape.channelLimit);
  const HeaderView& h = j.header;
  if (!h.whole) return j;  // a header cut by the end of the file is the normal end
  if (!h.sound) {
    j.verdict = Verdict::kReject;  // the reason is the header's fault
    return j;
  }
  const size_t recordBytes = static_cast<size_t>(h.count) * static_cast<size_t>(shape.recordSize);
  j.length = static_cast<size_t>(kEpochHeaderSize) + recordBytes;
  const uint8_t* records = nullptr;
  if (window.Peek(at + kEpochHeaderSize, recordBytes, &records) < recordBytes) {
    j.verdict = Verdict::kCut;
    return j;
  }
  const HeaderView next = ViewHeader(window, at + j.length, shape.channelLimit);
  const bool nextGarbage = next.whole && !next.sound;
  // The bytes where the next header should stand are no header: this epoch's count, or
  // bytes inside it, may be wrong. Its records must show that they are records.
  if (resync || nextGarbage) {
    (void)window.Peek(at + kEpochHeaderSize, recordBytes, &records);  // the window may move
    if (!RecordsSound(records, h.count, shape.recordSize, shape.alternative, shape.receiverType,
                      h.time_s)) {
      return Reject(j, kReasonRecords, h.time_s);
    }
  }
  const double t = h.time_s;
  const bool confirmed = next.sound && Continues(t, next.time_s);
  const uint8_t* rest = nullptr;
  const bool endsTheFile = window.Peek(at + j.length, 1, &rest) == 0;
  const bool supported = confirmed || (endsTheFile && h.count > 0);
  if (resync && !last.any && !supported) {
    return Reject(j, kReasonUnconfirmed, t);
  }
  if (resync && last.any && std::memcmp(h.site, last.site, kEpochHeaderSiteLength) != 0 &&
      !supported) {
    return Reject(j, kReasonNewSite, t);
  }
  // The last site name moved by a byte: a header read one byte early or late, whose time
  // is the true one shifted by a byte and may still look right.
  if (last.any && std::memcmp(h.site, last.site, kEpochHeaderSiteLength) != 0 &&
      (std::memcmp(h.site + 1, last.site, kEpochHeaderSiteLength - 1) == 0 ||
       std::memcmp(h.site, last.site + 1, kEpochHeaderSiteLength - 1) == 0)) {
    return Reject(j, kReasonShiftedSite, t);
  }

  if (last.any) {
    const bool follows = Continues(last.time_s, t);
    bool accept = follows;
    if (next.sound) {
      const bool nextFollowsLast = Continues(last.time_s, next.time_s);
      if (follows) {
        // The next epoch runs on from the last one, not from this: either this time or
        // the next one is wrong. On a regular interval the one off the grid is.
        accept = confirmed || !nextFollowsLast || last.step_s <= 0.0 || last.OnGrid(t) ||
                 !last.OnGrid(next.time_s);
      } else {
        accept = confirmed && !nextFollowsLast;  // a restart of logging
      }
    }
    if (!accept) return Reject(j, kReasonTimeAfter, t, last.time_s);
  } else if (next.sound && !confirmed) {
    // The first epoch: when the two after it agree with each other and not with it, it
    // is the odd one.
    const HeaderView after = ViewHeader(
        window, at + j.length + kEpochHeaderSize +
                    static_cast<size_t>(next.count) * static_cast<size_t>(shape.recordSize),
        shape.channelLimit);
    if (after.sound && Continues(next.time_s, after.time_s) && !Continues(t, after.time_s)) {
      return Reject(j, kReasonTimeBefore, t, next.time_s);
    }
  }

  if (!confirmed && !endsTheFile && !resync) {
    // The next header is missing or does not continue from this epoch. When an epoch of
    // this site that does starts inside this one, a count too large or a byte lost inside
    // made this epoch take bytes of the next: it is not written. (A header that lost a
    // byte of its own site name reads, one byte early, as another site's.)
    Accepted self;
    self.any = true;
    self.time_s = t;
    std::memcpy(self.site, h.site, kEpochHeaderSiteLength);
    for (size_t inside = kEpochHeaderSize; inside < j.length; ++inside) {
      const uint8_t* site = nullptr;
      if (window.Peek(at + inside, kEpochHeaderSiteLength, &site) < kEpochHeaderSiteLength ||
          std::memcmp(site, h.site, kEpochHeaderSiteLength) != 0) {
        continue;
      }
      if (JudgeEpoch(window, at + inside, self, true, shape).verdict == Verdict::kAccept) {
        return Reject(j, kReasonStartsEarly, t,
                      static_cast<double>(j.length - inside));
      }
    }
  }
  j.verdict = Verdict::kAccept;
  return j;
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
    if (quality)
      job.ReportError(epoch.gpsTime, msg::kL1PhaseQuestion, p, epoch.gpsTime);
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
        job.ReportError(epoch.gpsTime, msg::kL2PhaseQuestionable, p,
                        epoch.gpsTime);
      }
    }
    if (l1Warning & kWarnL1Phase) {
      job.l2Time[p] = 0.0;
      if (quality)
        job.ReportError(epoch.gpsTime, msg::kL2PhaseQuestion, p, epoch.gpsTime);
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

enum class Scan { kFound, kEnded, kAborted };

// After a rejected header: scans byte by byte from the byte after its start for the next
// epoch that the judge accepts while resynchronising, and leaves the window there.
Scan Resynchronise(ConversionJob& job, ObservationWindow& window, const Accepted& last,
                   const EpochShape& shape, int32_t total) {
  const int64_t from = window.position();
  for (int64_t scanned = 1;; ++scanned) {
    window.Advance(1);
    // A damaged file can be long: the host may stop the scan and sees it move.
    if (scanned % kScanReportInterval == 0) {
      if (AbortCounter() != 0) return Scan::kAborted;
      job.SendProgress(ClampToInt32(window.position()), total);
    }
    // Most bytes of a damaged stretch cannot start a header: their site name is not text.
    const uint8_t* site = nullptr;
    if (window.Peek(0, kEpochHeaderSize, &site) == static_cast<size_t>(kEpochHeaderSize) &&
        (site[0] < kFirstPrintable || site[0] > kLastPrintable)) {
      continue;
    }
    const Judgement candidate = JudgeEpoch(window, 0, last, true, shape);
    if (candidate.verdict == Verdict::kAccept) {
      job.Report(candidate.header.time_s, msg::kResumed,
                 static_cast<long long>(window.position() - from), job.inputPath,
                 candidate.header.time_s);
      return Scan::kFound;
    }
    if (candidate.verdict == Verdict::kEnd) return Scan::kEnded;
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
    job.ReportError(-1.0, msg::kBadChannelRecordSize,
                    static_cast<long>(recordSize), static_cast<long>(job.receiverType));
    return 3;
  }
  uint8_t* windowBuffer = static_cast<uint8_t*>(std::malloc(kWindowSize));
  if (windowBuffer == nullptr) {
    job.ReportError(-1.0, msg::kNoReadMemory, job.inputPath);
    return 3;
  }
  const int32_t total = FileLength(file);
  const EpochShape shape = {
      job.receiverType == kReceiverGlonass ? kMaxChannelsGlonass : kMaxChannelsGps, recordSize,
      job.options.AltChannelLayout != 0, job.receiverType};
  ObservationWindow window(file, windowBuffer, kWindowSize);

  gpb_epoch_type epoch;
  uint8_t header[kEpochHeaderSize];
  uint8_t buffer[kReadBufferSize];
  int32_t headersRead = 0;
  int32_t leapSecondsWritten = 0;
  Accepted last;
  // Every read fills the same first recordSize bytes, so the bytes beyond a short record
  // (read as zero by the alternative layout) stay zero from this one clearing.
  std::memset(buffer, 0, sizeof buffer);

  int32_t result = 0;
  // The host's abort, also one given while the other files were read, ends the loop
  // before the next epoch.
  while (AbortCounter() == 0) {
    const Judgement judged = JudgeEpoch(window, 0, last, false, shape);
    if (judged.verdict == Verdict::kEnd) break;
    const HeaderView& view = judged.header;
    ++headersRead;
    if (job.epochsWritten % kProgressInterval == 0) {
      job.SendProgress(ClampToInt32(window.position() + kEpochHeaderSize),
                       total);
    }
    if (judged.verdict == Verdict::kCut) {
      job.ReportError(view.time_s, msg::kPrematureEnd, static_cast<long>(headersRead));
      result = 3;
      break;
    }
    if (judged.verdict == Verdict::kReject) {
      // The epoch is neither written nor counted; reading resumes at the next epoch that
      // can be told from damage.
      const double time_s = MessageTime(view.time_s);
      if (view.tooMany) {
        job.Report(time_s, msg::kTooManyChannels);
      } else {
        char reason[sizeof judged.reason];
        CopyText(reason, sizeof reason, judged.reason);
        if (reason[0] == '\0') DescribeFault(view, reason, sizeof reason);
        job.Report(time_s, msg::kImplausibleHeader, static_cast<long long>(window.position()),
                   job.inputPath, reason);
      }
      const Scan scan = Resynchronise(job, window, last, shape, total);
      if (scan == Scan::kAborted) break;
      if (scan == Scan::kEnded) {
        job.Report(time_s, msg::kPrematureEnd, static_cast<long>(headersRead));
        CopyText(ModuleErrorText(), kTextSize, job.messageBuffer);
        result = 3;
        break;
      }
      continue;
    }

    const uint8_t* bytes = nullptr;
    (void)window.Peek(0, judged.length, &bytes);
    std::memcpy(header, bytes, kEpochHeaderSize);
    ByteCursor in(header, kEpochHeaderSize);
    const double time_s = view.time_s;
    const double x_m = in.F64(kEpochXOffset);
    const double y_m = in.F64(kEpochYOffset);
    const double z_m = in.F64(kEpochZOffset);
    const double clock_m = in.F64(kEpochClockOffset);
    const int32_t count = view.count;

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

    int32_t accepted = 0;
    for (int32_t i = 0; i < count; ++i) {
      (void)window.Peek(0, judged.length, &bytes);  // callbacks never move the window
      std::memcpy(buffer, bytes + kEpochHeaderSize + static_cast<size_t>(i) * recordSize,
                  static_cast<size_t>(recordSize));
      const int32_t rejected =
          job.options.AltChannelLayout != 0
              ? DecodeChannelAlt(job, epoch, buffer, accepted)
              : DecodeChannel(job, epoch, buffer, dt, accepted, &leapSecondsWritten);
      if (rejected == 0) ++accepted;
    }
    epoch.nsat = static_cast<int16_t>(accepted);
    window.Advance(judged.length);

    const double step_s = last.any ? FoldedStep(last.time_s, time_s) : 0.0;
    last.step_s = last.any && Continues(last.time_s, time_s) && step_s > 0.0 ? step_s : 0.0;
    last.any = true;
    last.time_s = time_s;
    std::memcpy(last.site, view.site, kEpochHeaderSiteLength);

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

  std::free(windowBuffer);
  if (result == 0) EndOfFile(job, leapSecondsWritten, total);
  return result;
}

}  // namespace talverin
