#include "tools/download_set/download_set_reader.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "base/byte_order.h"
#include "base/gnss_constants.h"
#include "base/text_buffer.h"
#include "input/event_marks.h"
#include "input/observation_reader.h"
#include "input/site_reader.h"
#include "plugin/conversion_job.h"
#include "plugin/host_records.h"

namespace talverin {
namespace {

constexpr size_t kStreamBufferSize = 1 << 16;  // bytes of stdio buffering of the B file
constexpr size_t kScanChunk = 1 << 20;         // bytes examined per read while resynchronising
constexpr size_t kMaxDamageEntries = 200;      // damage texts kept; later ones are only counted
// A code range is light time: about 0.07 s for GPS, plus whole GPS-UTC seconds in GLONASS
// ranges of GLONASS receivers. Anything beyond this is not a range.
constexpr double kMaxPlausibleRange_s = 100.0;
constexpr uint8_t kSiteCharMin = 32;   // a resynchronised header's site bytes are text
constexpr uint8_t kSiteCharMax = 122;

bool Finite(double v) { return std::isfinite(v); }

bool SeekTo(FILE* file, int64_t offset) { return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0; }

// The header fields that decide whether bytes can be an epoch header; strict adds the
// site text test used when searching for a header among damaged bytes.
bool PlausibleHeader(const uint8_t* bytes, int32_t limit, bool strict, std::string* reason) {
  ByteCursor in(bytes, kEpochHeaderSize);
  const double t = in.F64(kEpochHeaderTimeOffset);
  const int32_t count = in.I8(kEpochCountOffset);
  if (!(t >= 0.0 && t <= kSecondsPerWeek)) {
    *reason = "receiver time outside 0-604800 s";
    return false;
  }
  if (count < 0 || count > limit) {
    *reason = "channel count " + std::to_string(count) + " outside 0-" + std::to_string(limit);
    return false;
  }
  const int offsets[] = {kEpochXOffset, kEpochYOffset, kEpochZOffset, kEpochClockOffset};
  for (int offset : offsets) {
    if (!Finite(in.F64(offset))) {
      *reason = "position or clock is not a number";
      return false;
    }
  }
  if (strict) {
    for (int i = 0; i < kEpochHeaderSiteLength; ++i) {
      const uint8_t c = bytes[kEpochHeaderSiteOffset + i];
      if (c < kSiteCharMin || c > kSiteCharMax) return false;
    }
  }
  return true;
}

bool PlausibleBlock(const RawSignalBlock& b, bool strict) {
  if (!Finite(b.range_s) || !Finite(b.phase_cyc)) return false;
  return !strict || (b.range_s >= 0.0 && b.range_s < kMaxPlausibleRange_s);
}

}  // namespace

DownloadSetReader::~DownloadSetReader() {
  if (file_ != nullptr) std::fclose(file_);
}

int32_t DownloadSetReader::channelLimit() const {
  return receiverType_ == kReceiverGlonass ? kMaxChannelsGlonass : kMaxChannelsGps;
}

std::string DownloadSetReader::CompanionPath(char letter) const {
  const size_t slash = bPath_.find_last_of("/\\");
  const size_t first = slash == std::string::npos ? 0 : slash + 1;
  if (first >= bPath_.size()) return std::string();
  std::string path = bPath_;
  path[first] = letter;
  return path;
}

void DownloadSetReader::AddDamage(char file, int64_t offset, int64_t skipped,
                                  const std::string& text) {
  damagedBytes_ += skipped;
  if (damage_.size() < kMaxDamageEntries) damage_.push_back({file, offset, skipped, text});
}

int32_t DownloadSetReader::Open(const std::string& bPath, int32_t receiverType) {
  bPath_ = bPath;
  file_ = std::fopen(bPath.c_str(), "rb");
  if (file_ == nullptr) {
    FormatText(errorText_, "%s: cannot be opened: %s", bPath.c_str(), std::strerror(errno));
    return -1;
  }
  streamBuffer_.resize(kStreamBufferSize);
  std::setvbuf(file_, streamBuffer_.data(), _IOFBF, streamBuffer_.size());
  if (fseeko(file_, 0, SEEK_END) != 0) {
    FormatText(errorText_, "%s: cannot be read", bPath.c_str());
    return -1;
  }
  fileSize_ = static_cast<int64_t>(ftello(file_));
  std::rewind(file_);
  const size_t got = std::fread(header_, 1, kObservationHeaderSize, file_);
  if (got != static_cast<size_t>(kObservationHeaderSize)) {
    FormatText(errorText_, "%s: %zu bytes, shorter than the %d-byte observation file header",
               bPath.c_str(), got, kObservationHeaderSize);
    return -1;
  }
  // The model text as text: up to its first NUL, other unprintable bytes shown as '?'.
  for (int i = 0; i < kModelTextShown; ++i) {
    const uint8_t c = header_[kModelTextOffset + i];
    if (c == 0) break;
    model_[i] = c >= 32 && c < 127 ? static_cast<char>(c) : '?';
  }
  const int32_t detected = DetectReceiver(header_);
  if (receiverType == 0) {
    if (detected < 0) {
      FormatText(errorText_, "%s: %s model text '%s'; give the receiver type", bPath.c_str(),
                 std::memcmp(header_, "version:", kVersionTagSize) == 0 ||
                         std::memcmp(header_, "Version:", kVersionTagSize) == 0 ||
                         std::memcmp(header_, "VERSION:", kVersionTagSize) == 0
                     ? "unknown receiver"
                     : "no version tag before the",
                 model_);
      return -1;
    }
    receiverType = detected;
  }
  recordSize_ = ChannelRecordSize(receiverType);
  if (recordSize_ == 0) {
    FormatText(errorText_, "receiver type %d is not 1-4", static_cast<int>(receiverType));
    return -1;
  }
  receiverType_ = receiverType;
  position_ = kObservationHeaderSize;
  return 0;
}

int32_t DownloadSetReader::Rewind() {
  if (file_ == nullptr || !SeekTo(file_, kObservationHeaderSize)) return -1;
  position_ = kObservationHeaderSize;
  resyncing_ = false;
  damage_.clear();
  damagedBytes_ = 0;
  return 0;
}

void DownloadSetReader::DecodeChannel(const uint8_t* record, RawChannel* channel) const {
  ByteCursor in(record, static_cast<size_t>(recordSize_));
  const auto block = [&in](int start, RawSignalBlock* b) {
    b->range_s = in.F64(start + kBlockRangeOffset);
    b->warning = in.U8(start + kBlockWarningOffset);
    b->snr = in.U8(start + kBlockSnrOffset);
    b->doppler = in.I32(start + kBlockDopplerOffset);
    b->phase_cyc = in.F64(start + kBlockPhaseOffset);
  };
  *channel = RawChannel();
  channel->prn = in.U8(kChanPrnOffset);
  block(kChanCaBlockOffset, &channel->ca);
  if (receiverType_ == kReceiverDual) {
    channel->hasP1 = true;
    block(kChanDualP1BlockOffset, &channel->p1);
    channel->hasL2 = true;
    block(kChanDualL2BlockOffset, &channel->l2);
  } else if (receiverType_ == kReceiverL2Codeless) {
    channel->hasL2 = true;
    block(kChanCodelessL2BlockOffset, &channel->l2);
  }
  // The record size fits every block of the receiver type: the cursor cannot fail here.
}

int32_t DownloadSetReader::ReadEpochAt(int64_t offset, RawEpoch* epoch, std::string* reason) {
  if (ftello(file_) != offset && !SeekTo(file_, offset)) {
    *reason = "seek failed";
    return 0;
  }
  uint8_t header[kEpochHeaderSize];
  if (std::fread(header, 1, kEpochHeaderSize, file_) != static_cast<size_t>(kEpochHeaderSize)) {
    *reason = "short header";
    return 0;
  }
  if (!PlausibleHeader(header, channelLimit(), resyncing_, reason)) return 0;
  ByteCursor in(header, kEpochHeaderSize);
  epoch->offset = offset;
  std::memcpy(epoch->site, header + kEpochHeaderSiteOffset, kEpochHeaderSiteLength);
  epoch->site[kEpochHeaderSiteLength] = '\0';
  epoch->tow_s = in.F64(kEpochHeaderTimeOffset);
  epoch->ecef_m[0] = in.F64(kEpochXOffset);
  epoch->ecef_m[1] = in.F64(kEpochYOffset);
  epoch->ecef_m[2] = in.F64(kEpochZOffset);
  epoch->clock_m = in.F64(kEpochClockOffset);
  epoch->countByte = in.I8(kEpochCountOffset);
  epoch->truncated = false;
  epoch->channels.resize(static_cast<size_t>(epoch->countByte));
  uint8_t record[kChannelBufferSize];
  for (int32_t i = 0; i < epoch->countByte; ++i) {
    if (std::fread(record, 1, static_cast<size_t>(recordSize_), file_) !=
        static_cast<size_t>(recordSize_)) {
      epoch->channels.resize(static_cast<size_t>(i));
      epoch->truncated = true;
      return 2;
    }
    RawChannel& ch = epoch->channels[static_cast<size_t>(i)];
    DecodeChannel(record, &ch);
    const bool prnOk = !resyncing_ || ch.prn <= kMaxGpsPrn || receiverType_ == kReceiverGlonass;
    if (!prnOk || !PlausibleBlock(ch.ca, resyncing_) ||
        (ch.hasP1 && !PlausibleBlock(ch.p1, resyncing_)) ||
        (ch.hasL2 && !PlausibleBlock(ch.l2, resyncing_))) {
      *reason = "channel record " + std::to_string(i + 1) + " holds values that are not numbers";
      return 0;
    }
  }
  return 1;
}

bool DownloadSetReader::Confirmed(const RawEpoch& candidate) {
  // Channel records that pass the strict checks confirm a header; without any, 67 bytes of
  // phase and range doubles pass as a header often enough (found on real data overwritten
  // in the middle): the header after it must be plausible too, or the file must end there.
  if (candidate.countByte > 0 || candidate.truncated) return true;
  const int64_t next = candidate.offset + kEpochHeaderSize;
  uint8_t header[kEpochHeaderSize];
  std::string reason;
  if (next + kEpochHeaderSize > fileSize_) return true;
  return SeekTo(file_, next) &&
         std::fread(header, 1, kEpochHeaderSize, file_) == static_cast<size_t>(kEpochHeaderSize) &&
         PlausibleHeader(header, channelLimit(), true, &reason);
}

int64_t DownloadSetReader::Resync(int64_t from) {
  std::vector<uint8_t> chunk;
  std::string reason;
  RawEpoch candidate;
  resyncing_ = true;
  for (int64_t base = from; base + kEpochHeaderSize <= fileSize_;) {
    const int64_t want = std::min<int64_t>(static_cast<int64_t>(kScanChunk) + kEpochHeaderSize,
                                           fileSize_ - base);
    chunk.resize(static_cast<size_t>(want));
    if (!SeekTo(file_, base) || std::fread(chunk.data(), 1, chunk.size(), file_) != chunk.size()) {
      break;
    }
    const int64_t last = want - kEpochHeaderSize;
    for (int64_t i = 0; i <= last; ++i) {
      if (!PlausibleHeader(chunk.data() + i, channelLimit(), true, &reason)) continue;
      if (ReadEpochAt(base + i, &candidate, &reason) != 0 && Confirmed(candidate)) {
        resyncing_ = false;
        return base + i;
      }
    }
    base += last + 1;
  }
  resyncing_ = false;
  return fileSize_;
}

int32_t DownloadSetReader::NextEpoch(RawEpoch* epoch) {
  if (file_ == nullptr) return -1;
  for (;;) {
    const int64_t left = fileSize_ - position_;
    if (left <= 0) return 0;
    if (left < kEpochHeaderSize) {
      AddDamage('B', position_, left,
                std::to_string(left) + " bytes at the end, too few for an epoch header");
      position_ = fileSize_;
      return 0;
    }
    std::string reason;
    const int32_t got = ReadEpochAt(position_, epoch, &reason);
    if (got == 1) {
      position_ = ftello(file_);
      return 1;
    }
    if (got == 2) {
      AddDamage('B', position_, fileSize_ - position_,
                "the file ends inside the epoch at offset " + std::to_string(position_) + ": " +
                    std::to_string(epoch->channels.size()) + " of " +
                    std::to_string(epoch->countByte) + " channel records kept");
      position_ = fileSize_;
      return 1;
    }
    const int64_t next = Resync(position_ + 1);
    AddDamage('B', position_, next - position_,
              "implausible epoch at offset " + std::to_string(position_) + " (" + reason + "); " +
                  std::to_string(next - position_) + " bytes skipped" +
                  (next < fileSize_ ? " to the next epoch at offset " + std::to_string(next)
                                    : " to the end of the file"));
    position_ = next;
  }
}

int32_t DownloadSetReader::ReadEphemerides(std::vector<SetGpsEphemeris>* gps,
                                           std::vector<SetGlonassEphemeris>* glonass) {
  gps->clear();
  glonass->clear();
  const std::string path = CompanionPath('E');
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return 0;
  uint8_t record[kEphemerisRecordSize];
  int64_t offset = 0;
  int32_t result = 0;
  for (;;) {
    const size_t got = std::fread(record, 1, sizeof record, file);
    if (got != sizeof record) {
      if (std::ferror(file) != 0) {
        FormatText(errorText_, "%s: read error at offset %lld", path.c_str(),
                   static_cast<long long>(offset));
        result = -1;
      } else if (got > 0) {
        AddDamage('E', offset, static_cast<int64_t>(got),
                  "last record cut after " + std::to_string(got) + " of 129 bytes");
      }
      break;
    }
    const int32_t prn = static_cast<int8_t>(record[gps_record::kPrn]);
    if (prn >= 1 && prn <= kMaxGpsPrn) {
      SetGpsEphemeris e;
      DecodeGpsRecord(record, &e.eph, &e.health);
      e.offset = offset;
      gps->push_back(e);
    } else if (prn > kMaxGpsPrn && receiverType_ == kReceiverGlonass) {
      SetGlonassEphemeris e;
      e.fields = DecodeGlonassRecord(record);
      e.offset = offset;
      glonass->push_back(e);
    }
    offset += kEphemerisRecordSize;
  }
  std::fclose(file);
  return result;
}

void DownloadSetReader::ReadSite(SetSiteInfo* info) {
  *info = SetSiteInfo();
  // The module's site reader writes the block it reads to the job's station file: a
  // scratch file takes it, and the job's record and antenna height give the values.
  ConversionJob job;
  CopyText(job.sitePath, sizeof job.sitePath, CompanionPath('S').c_str());
  job.staFile = std::tmpfile();
  if (job.staFile == nullptr) return;
  ReadSiteFile(job);
  if (job.stationsWritten == 0) return;
  info->present = true;
  CopyText(info->name, sizeof info->name, job.station.name);
  info->tow_s = job.station.time;
  info->antennaHeight_m = job.antennaHeight;
}

int32_t DownloadSetReader::ReadEvents(bool stationMarks, EventTable* table) {
  *table = EventTable();
  ConversionJob job;
  CopyText(job.eventPath, sizeof job.eventPath, CompanionPath('D').c_str());
  job.options.StationMarkOption = stationMarks ? 1 : 0;
  job.receiverType = receiverType_;
  return LoadEventFile(job, *table);
}

}  // namespace talverin
