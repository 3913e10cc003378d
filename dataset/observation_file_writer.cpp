#include "dataset/observation_file_writer.h"

#include <algorithm>

#include "base/byte_order.h"
#include "dataset/byte_builder.h"
#include "input/event_marks.h"
#include "input/observation_reader.h"
#include "input/receiver_detect.h"

namespace talverin {
namespace {

void PutText(std::vector<uint8_t>& bytes, size_t offset, const std::string& text, size_t width) {
  const size_t n = std::min(width, text.size());
  for (size_t i = 0; i < n && offset + i < bytes.size(); ++i) {
    bytes[offset + i] = static_cast<uint8_t>(text[i]);
  }
}

void PutF64(std::vector<uint8_t>& bytes, size_t offset, double v) {
  if (offset + 8 <= bytes.size()) StoreF64(bytes.data() + offset, v);
}
void PutU32(std::vector<uint8_t>& bytes, size_t offset, uint32_t v) {
  if (offset + 4 <= bytes.size()) StoreU32(bytes.data() + offset, v);
}
void PutU8(std::vector<uint8_t>& bytes, size_t offset, uint8_t v) {
  if (offset < bytes.size()) bytes[offset] = v;
}

}  // namespace

std::vector<uint8_t> ObservationHeaderBytes(const ObsFile& file) {
  std::vector<uint8_t> bytes(kObservationHeaderSize, 0);
  PutText(bytes, 0, file.versionTag, kVersionTagSize);
  PutText(bytes, kModelTextOffset, file.model, kObservationHeaderSize - kModelTextOffset);
  return bytes;
}

std::vector<uint8_t> EpochHeaderBytes(const ObsEpoch& epoch) {
  std::vector<uint8_t> bytes(kEpochHeaderSize, 0);
  PutText(bytes, kEpochHeaderSiteOffset, epoch.site, kEpochHeaderSiteLength);
  PutF64(bytes, kEpochHeaderTimeOffset, epoch.time_s);
  PutF64(bytes, kEpochXOffset, epoch.x_m);
  PutF64(bytes, kEpochYOffset, epoch.y_m);
  PutF64(bytes, kEpochZOffset, epoch.z_m);
  PutF64(bytes, kEpochClockOffset, epoch.clock_m);
  const uint8_t count =
      epoch.countByte.has_value() ? *epoch.countByte : static_cast<uint8_t>(epoch.channels.size());
  PutU8(bytes, kEpochCountOffset, count);
  return bytes;
}

std::vector<uint8_t> ChannelRecordBytes(const ObsChannel& c, int recordSize, ObsLayout layout) {
  std::vector<uint8_t> bytes(static_cast<size_t>(std::max(recordSize, 0)), 0);
  if (layout == ObsLayout::kAlternative) {
    PutU32(bytes, kAltLockOffset, c.lock_ms);
    PutU8(bytes, kAltPrnOffset, c.prn);
    PutF64(bytes, kAltTransmitOffset, c.transmit_s);
    PutU32(bytes, kAltDopplerOffset, static_cast<uint32_t>(c.doppler));
    PutF64(bytes, kAltPhaseOffset, c.l1Phase_cyc);
    PutU8(bytes, kAltStatusOffset, c.altStatus);
    return bytes;
  }
  PutU8(bytes, kChanPrnOffset, c.prn);
  PutF64(bytes, kChanRangeOffset, c.caRange_s);
  PutU8(bytes, kChanL1WarningOffset, c.l1Warning);
  PutU8(bytes, kChanL1SnrOffset, c.l1Snr);
  PutU32(bytes, kChanDopplerOffset, static_cast<uint32_t>(c.doppler));
  PutF64(bytes, kChanL1PhaseOffset, c.l1Phase_cyc);
  if (recordSize == 66) {
    PutF64(bytes, kChanCodelessL2RangeOffset, c.l2Range_s);
    PutF64(bytes, kChanCodelessL2PhaseOffset, c.l2Phase_cyc);
  } else if (recordSize >= 97) {
    PutF64(bytes, kChanDualL2RangeOffset, c.l2Range_s);
    PutU8(bytes, kChanDualL2WarningOffset, c.l2Warning);
    PutU8(bytes, kChanDualL2SnrOffset, c.l2Snr);
    PutF64(bytes, kChanDualL2PhaseOffset, c.l2Phase_cyc);
  }
  return bytes;
}

std::vector<uint8_t> ObservationFileBytes(const ObsFile& file) {
  ByteBuilder out;
  out.Append(ObservationHeaderBytes(file));
  for (const ObsEpoch& epoch : file.epochs) {
    out.Append(EpochHeaderBytes(epoch));
    for (const ObsChannel& channel : epoch.channels) {
      out.Append(ChannelRecordBytes(channel, file.recordSize, file.layout));
    }
    out.Append(epoch.rawAfter);
  }
  out.Append(file.rawAfter);
  std::vector<uint8_t> bytes = out.bytes();
  if (file.cutAt.has_value() && *file.cutAt < bytes.size()) bytes.resize(*file.cutAt);
  return bytes;
}

bool WriteObservationFile(const std::string& path, const ObsFile& file) {
  return WriteFileBytes(path, ObservationFileBytes(file));
}

}  // namespace talverin
