#include "dataset/download_set_reader.h"

#include <cerrno>
#include <cmath>
#include <cstring>

#include "base/byte_order.h"
#include "base/gnss_constants.h"
#include "base/text_buffer.h"
#include "dataset/value_plausibility.h"
#include "input/epoch_scanner.h"
#include "input/event_marks.h"
#include "input/observation_reader.h"
#include "input/site_reader.h"
#include "job/host_records.h"

namespace talverin {
namespace {

constexpr size_t kMaxDamageEntries = 200;  // damage texts kept; later ones are only counted
constexpr int64_t kValueBytes = 8;         // bytes of one double of a header or record

bool SeekTo(FILE* file, int64_t offset) {
  return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

// A value that is not a number reads as 0, which the file uses for "none", and is counted.
double FiniteOrZero(double v, int32_t* notNumbers) {
  if (std::isfinite(v)) return v;
  ++*notNumbers;
  return 0.0;
}

}  // namespace

DownloadSetReader::DownloadSetReader() = default;

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
  ++damagedPlaces_;
  // Beyond the limit the last entry is the latest stretch: a cut at the end stays visible.
  if (damage_.size() < kMaxDamageEntries) {
    damage_.push_back({file, offset, skipped, text});
  } else {
    damage_.back() = {file, offset, skipped, text};
  }
}

int32_t DownloadSetReader::Open(const std::string& bPath, int32_t receiverType) {
  bPath_ = bPath;
  file_ = std::fopen(bPath.c_str(), "rb");
  if (file_ == nullptr) {
    FormatText(errorText_, "%s: cannot be opened: %s", bPath.c_str(), std::strerror(errno));
    return -1;
  }
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
  return StartScan();
}

int32_t DownloadSetReader::StartScan() {
  scanner_.reset();
  judge_ = std::make_unique<ValueJudge>();
  rejectedAt_ = -1;
  lastEpochCut_ = false;
  ended_ = false;
  damage_.clear();
  damagedBytes_ = 0;
  damagedPlaces_ = 0;
  if (!SeekTo(file_, kObservationHeaderSize)) {
    FormatText(errorText_, "%s: cannot be read", bPath_.c_str());
    return -1;
  }
  const EpochShape shape = {channelLimit(), recordSize_, false, receiverType_};
  scanner_ = std::make_unique<EpochScanner>(file_, shape);
  if (!scanner_->ready()) {
    FormatText(errorText_, "%s: no memory for reading", bPath_.c_str());
    scanner_.reset();
    return -1;
  }
  return 0;
}

int32_t DownloadSetReader::Rewind() {
  if (file_ == nullptr) return -1;
  return StartScan();
}

int32_t DownloadSetReader::DecodeChannel(const uint8_t* record, RawChannel* channel) const {
  ByteCursor in(record, static_cast<size_t>(recordSize_));
  int32_t notNumbers = 0;
  const auto block = [&in, &notNumbers](int start, RawSignalBlock* b) {
    b->range_s = FiniteOrZero(in.F64(start + kBlockRangeOffset), &notNumbers);
    b->warning = in.U8(start + kBlockWarningOffset);
    b->snr = in.U8(start + kBlockSnrOffset);
    b->doppler = in.I32(start + kBlockDopplerOffset);
    b->phase_cyc = FiniteOrZero(in.F64(start + kBlockPhaseOffset), &notNumbers);
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
  return notNumbers;
}

int32_t DownloadSetReader::DecodeEpoch(const ScanItem& item, RawEpoch* epoch) const {
  ByteCursor in(item.bytes, kEpochHeaderSize);
  epoch->offset = item.offset;
  std::memcpy(epoch->site, item.bytes + kEpochHeaderSiteOffset, kEpochHeaderSiteLength);
  epoch->site[kEpochHeaderSiteLength] = '\0';
  epoch->tow_s = item.time_s;
  int32_t notNumbers = 0;
  epoch->ecef_m[0] = FiniteOrZero(in.F64(kEpochXOffset), &notNumbers);
  epoch->ecef_m[1] = FiniteOrZero(in.F64(kEpochYOffset), &notNumbers);
  epoch->ecef_m[2] = FiniteOrZero(in.F64(kEpochZOffset), &notNumbers);
  epoch->clock_m = FiniteOrZero(in.F64(kEpochClockOffset), &notNumbers);
  epoch->countByte = item.count;
  epoch->channels.resize(static_cast<size_t>(item.count));
  for (int32_t i = 0; i < item.count; ++i) {
    const uint8_t* record = item.bytes + kEpochHeaderSize + static_cast<size_t>(i) * recordSize_;
    notNumbers += DecodeChannel(record, &epoch->channels[static_cast<size_t>(i)]);
  }
  return notNumbers;
}

void DownloadSetReader::JudgeValues(int64_t offset, RawEpoch* epoch) {
  std::vector<std::string> findings;
  judge_->Check(epoch, receiverType_ == kReceiverGlonass, &findings);
  if (findings.empty()) return;
  std::string text = "the epoch at offset " + std::to_string(offset) + " holds values no " +
                     "receiver measures, read as none: ";
  for (size_t i = 0; i < findings.size(); ++i) text += (i > 0 ? "; " : "") + findings[i];
  AddDamage('B', offset, static_cast<int64_t>(findings.size()) * kValueBytes, text);
}

int32_t DownloadSetReader::EndOfEpochs(int64_t offset) {
  ended_ = true;
  endResult_ = 0;
  if (std::ferror(file_) != 0) {
    FormatText(errorText_, "%s: read error near offset %lld", bPath_.c_str(),
               static_cast<long long>(offset));
    endResult_ = -1;
  }
  return endResult_;
}

int32_t DownloadSetReader::NextEpoch(RawEpoch* epoch) {
  if (scanner_ == nullptr) return -1;
  if (ended_) return endResult_;
  // Every epoch is judged as the module judges it: what the module would not write is
  // not delivered, and the bytes passed over are recorded as damage.
  for (;;) {
    const ScanItem& item = scanner_->Next();
    switch (item.step) {
      case ScanStep::kEpoch: {
        // Damaged values inside an epoch the judge accepts: the epoch stays, they do not.
        const int32_t notNumbers = DecodeEpoch(item, epoch);
        if (notNumbers > 0) {
          AddDamage('B', item.offset, static_cast<int64_t>(notNumbers) * kValueBytes,
                    "the epoch at offset " + std::to_string(item.offset) + " holds " +
                        std::to_string(notNumbers) +
                        (notNumbers == 1 ? " value that is not a number, read as none"
                                         : " values that are not numbers, read as none"));
        }
        JudgeValues(item.offset, epoch);
        return 1;
      }
      case ScanStep::kRejected:
        rejectedAt_ = item.offset;
        rejectReason_ = item.reason;
        break;
      case ScanStep::kScanning:
        break;
      case ScanStep::kResumed:
        AddDamage('B', rejectedAt_, item.skipped,
                  "implausible epoch at offset " + std::to_string(rejectedAt_) + " (" +
                      rejectReason_ + "); " + std::to_string(item.skipped) +
                      " bytes skipped to the next epoch at offset " + std::to_string(item.offset));
        break;
      case ScanStep::kScanEnded:
        AddDamage('B', rejectedAt_, fileSize_ - rejectedAt_,
                  "implausible epoch at offset " + std::to_string(rejectedAt_) + " (" +
                      rejectReason_ + "); " + std::to_string(fileSize_ - rejectedAt_) +
                      " bytes skipped to the end of the file");
        return EndOfEpochs(item.offset);
      case ScanStep::kCut:
        lastEpochCut_ = true;
        AddDamage('B', item.offset, fileSize_ - item.offset,
                  "the file ends inside the epoch at offset " + std::to_string(item.offset) + " (" +
                      std::to_string(item.count) + " channel records announced, " +
                      std::to_string(fileSize_ - item.offset) + " bytes left); epoch left out");
        return EndOfEpochs(item.offset);
      case ScanStep::kEnd:
        if (item.offset < fileSize_) {
          AddDamage('B', item.offset, fileSize_ - item.offset,
                    std::to_string(fileSize_ - item.offset) +
                        " bytes at the end, too few for an epoch header");
        }
        return EndOfEpochs(item.offset);
    }
  }
}

int32_t DownloadSetReader::ReadEphemerides(std::vector<SetGpsEphemeris>* gps,
                                           std::vector<SetGlonassEphemeris>* glonass) {
  gps->clear();
  glonass->clear();
  const std::string path = CompanionPath('E');
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return 0;
  InputSource source;
  source.Attach(file);
  EphemerisDecoder decoder(source, receiverType_);
  EphemerisRecord record;
  int32_t step = 0;
  while ((step = decoder.Next(&record)) == 1) {
    if (record.glonass) {
      glonass->push_back({record.glonassFields, record.offset});
    } else {
      gps->push_back({record.gps, record.health, record.offset});
    }
  }
  const int32_t result = step < 0 ? -1 : 0;
  if (step < 0) {
    FormatText(errorText_, "%s: read error at offset %lld", path.c_str(),
               static_cast<long long>(decoder.offset()));
  } else if (decoder.cutBytes() > 0) {
    AddDamage('E', decoder.offset(), decoder.cutBytes(),
              "last record cut after " + std::to_string(decoder.cutBytes()) + " of 129 bytes");
  }
  std::fclose(file);
  return result;
}

void DownloadSetReader::ReadSite(SetSiteInfo* info) {
  *info = SetSiteInfo();
  SiteBlock block;
  if (!DecodeSiteFile(CompanionPath('S').c_str(), &block)) return;
  info->present = true;
  CopyText(info->name, sizeof info->name, block.name);
  info->tow_s = block.tow_s;
  info->antennaHeight_m = block.height_m;
}

int32_t DownloadSetReader::ReadEvents(bool stationMarks, EventTable* table) {
  *table = EventTable();
  return DecodeEventFile(CompanionPath('D').c_str(), EventTimesLag(stationMarks, receiverType_),
                         *table);
}

}  // namespace talverin
