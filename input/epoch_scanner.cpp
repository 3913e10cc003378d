#include "input/epoch_scanner.h"

#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <new>

#include "base/byte_order.h"
#include "base/gnss_constants.h"
#include "input/observation_reader.h"
#include "job/host_records.h"

namespace talverin {
namespace {

// Epoch headers that cannot be true. Receiver times stand in the GPS week. Between two
// epochs of one recording the time steps forward by 0 to 3600 s, counted across the end
// of the week (the week rollover: 604790 s, then 10 s). Any other step (backwards, or
// forwards by more than an hour) is a restart of logging only when the epoch after it
// continues from the new time and not from the old one; otherwise the odd header is
// damage. Ranges of sound channel records lie within 0 to 100 s of light time (GLONASS
// ranges carry the GPS-UTC seconds), transmission times within 100 s of the epoch.
constexpr double kMaxEpochStep_s = 3600.0;
constexpr double kMaxRecordRange_s = 100.0;
constexpr double kGridTolerance = 0.01;    // share of the logging interval
constexpr uint8_t kFirstPrintable = 0x20;  // site name characters: printable ASCII
constexpr uint8_t kLastPrintable = 0x7E;
constexpr size_t kWindowSize = 65536;  // bytes of read-ahead over the B file

// Why a header is no epoch: the reason given with the refusal.
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
  int64_t base_ = 0;  // file offset of buffer_[0]
  size_t begin_ = 0;  // first byte not consumed
  size_t end_ = 0;    // end of the bytes read
  bool ended_ = false;
};

// An epoch header as the bytes at one place give it.
struct HeaderView {
  bool whole = false;    // all 67 bytes are in the file
  bool sound = false;    // plausible by itself
  bool tooMany = false;  // sound but for a channel count above the limit
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
      std::snprintf(out, size, kFaultSite, view.site[0], view.site[1], view.site[2], view.site[3]);
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
  double time_s = 0.0;  // receiver time of the last epoch accepted
  double step_s = 0.0;  // its step from the one before (0: not known)
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
    const HeaderView after =
        ViewHeader(window,
                   at + j.length + kEpochHeaderSize +
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
        return Reject(j, kReasonStartsEarly, t, static_cast<double>(j.length - inside));
      }
    }
  }
  j.verdict = Verdict::kAccept;
  return j;
}

// Whether the bytes at the window's start are worth judging while scanning: most bytes of a
// damaged stretch cannot start a header, their site name is not text.
bool CanStartHeader(ObservationWindow& window) {
  const uint8_t* site = nullptr;
  return window.Peek(0, kEpochHeaderSize, &site) != static_cast<size_t>(kEpochHeaderSize) ||
         (site[0] >= kFirstPrintable && site[0] <= kLastPrintable);
}

}  // namespace

struct EpochScanner::State {
  State(FILE* file, uint8_t* buffer, const EpochShape& s)
      : window(file, buffer, kWindowSize), shape(s) {}
  enum class Mode { kJudge, kScan, kDone };

  ObservationWindow window;
  EpochShape shape;
  Mode mode = Mode::kJudge;
  Accepted last;
  size_t pendingAdvance = 0;  // bytes of the epoch handed out last, consumed at the next step
  int64_t scanFrom = 0;       // offset of the refused header the scan started after
  int64_t scanned = 0;        // bytes advanced by the scan
  bool judgeHere = false;     // the scan stopped at a report before judging this byte
  ScanItem item;
};

EpochScanner::EpochScanner(FILE* file, const EpochShape& shape) {
  uint8_t* buffer = static_cast<uint8_t*>(std::malloc(kWindowSize));
  if (buffer == nullptr) return;
  state_ = new (std::nothrow) State(file, buffer, shape);
  if (state_ == nullptr) {
    std::free(buffer);
    return;
  }
  buffer_ = buffer;
}

EpochScanner::~EpochScanner() {
  delete state_;
  std::free(buffer_);
}

void EpochScanner::AcceptPending() {
  State& s = *state_;
  ObservationWindow& window = s.window;
  // The epoch handed out last is now the last one accepted.
  const uint8_t* bytes = nullptr;
  (void)window.Peek(0, kEpochHeaderSize, &bytes);
  ByteCursor in(bytes, kEpochHeaderSize);
  const double time_s = in.F64(kEpochHeaderTimeOffset);
  window.Advance(s.pendingAdvance);
  s.pendingAdvance = 0;
  Accepted& last = s.last;
  const double step_s = last.any ? FoldedStep(last.time_s, time_s) : 0.0;
  last.step_s = last.any && Continues(last.time_s, time_s) && step_s > 0.0 ? step_s : 0.0;
  last.any = true;
  last.time_s = time_s;
  std::memcpy(last.site, bytes + kEpochHeaderSiteOffset, kEpochHeaderSiteLength);
}

const ScanItem& EpochScanner::ScanOn() {
  State& s = *state_;
  ObservationWindow& window = s.window;
  ScanItem& item = s.item;
  // Byte by byte from the byte after the refused header's start, for the next epoch that
  // the judge accepts while resynchronising.
  for (;;) {
    if (!s.judgeHere) {
      window.Advance(1);
      ++s.scanned;
      // A damaged file can be long: the caller may stop the scan and show it move.
      if (s.scanned % kScanReportInterval == 0) {
        s.judgeHere = true;
        item.step = ScanStep::kScanning;
        item.offset = window.position();
        return item;
      }
    }
    s.judgeHere = false;
    if (!CanStartHeader(window)) continue;
    const Judgement candidate = JudgeEpoch(window, 0, s.last, true, s.shape);
    if (candidate.verdict == Verdict::kAccept) {
      s.mode = State::Mode::kJudge;
      item.step = ScanStep::kResumed;
      item.offset = window.position();
      item.skipped = window.position() - s.scanFrom;
      item.time_s = candidate.header.time_s;
      item.count = candidate.header.count;
      return item;
    }
    if (candidate.verdict == Verdict::kEnd) {
      s.mode = State::Mode::kDone;
      item.step = ScanStep::kScanEnded;
      item.offset = window.position();
      return item;
    }
  }
}

const ScanItem& EpochScanner::Next() {
  static const ScanItem kNoScanner;
  if (state_ == nullptr) return kNoScanner;
  State& s = *state_;
  ObservationWindow& window = s.window;
  ScanItem& item = s.item;
  item = ScanItem();
  if (s.pendingAdvance > 0) AcceptPending();
  if (s.mode == State::Mode::kDone) {
    item.offset = window.position();
    return item;
  }
  if (s.mode == State::Mode::kScan) return ScanOn();

  const Judgement judged = JudgeEpoch(window, 0, s.last, false, s.shape);
  const HeaderView& view = judged.header;
  item.offset = window.position();
  item.time_s = view.time_s;
  item.count = view.count;
  switch (judged.verdict) {
    case Verdict::kEnd:
      s.mode = State::Mode::kDone;
      item.step = ScanStep::kEnd;
      return item;
    case Verdict::kCut:
      s.mode = State::Mode::kDone;
      item.step = ScanStep::kCut;
      return item;
    case Verdict::kReject:
      s.mode = State::Mode::kScan;
      s.scanFrom = window.position();
      s.scanned = 0;
      item.step = ScanStep::kRejected;
      item.tooMany = view.tooMany;
      std::memcpy(item.reason, judged.reason, sizeof item.reason);
      if (item.reason[0] == '\0') DescribeFault(view, item.reason, sizeof item.reason);
      return item;
    case Verdict::kAccept:
      break;
  }
  item.step = ScanStep::kEpoch;
  item.length = judged.length;
  (void)window.Peek(0, judged.length, &item.bytes);
  s.pendingAdvance = judged.length;
  return item;
}

}  // namespace talverin
