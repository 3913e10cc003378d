#include "output/gpb_reader.h"

#include <cmath>
#include <cstring>

#include "base/byte_order.h"
#include "base/text_buffer.h"
#include "output/gpb_format.h"

namespace talverin {

namespace {

constexpr float kVersionTolerance = 1e-5f;  // 1.02 as f32 is 1.0199999809; any writer's f32 fits
constexpr int kMagicChars = 7;              // "$NEWGPB" without its NUL
constexpr int kLargestSatBytes = 2 * newgpb::kSatSize;  // primary and extended record

}  // namespace

GpbReader::GpbReader() {}

GpbReader::~GpbReader() { Close(); }

void GpbReader::Close() {
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
}

int32_t GpbReader::Fail() {
  failed_ = true;
  return -1;
}

int32_t GpbReader::Open(const char* path) {
  Close();
  header_ = GpbHeaderInfo{};
  errorText_[0] = '\0';
  epochIndex_ = 0;
  offset_ = 0;
  failed_ = false;
  if (path == nullptr) {
    FormatText(errorText_, "No GPB file name given");
    return 1;
  }
  CopyText(path_, sizeof path_, path);
  file_ = std::fopen(path, "rb");
  if (file_ == nullptr) {
    FormatText(errorText_, "Unable to open GPB file '%s'", path_);
    return 1;
  }

  uint8_t bytes[newgpb::kHeaderSize] = {};
  const size_t got = std::fread(bytes, 1, sizeof bytes, file_);
  ByteCursor cursor(bytes, got);
  if (got >= static_cast<size_t>(kMagicChars) &&
      std::memcmp(bytes + newgpb::kMagicOffset, newgpb::kMagic, kMagicChars) == 0) {
    if (got < static_cast<size_t>(newgpb::kHeaderSize)) {
      FormatText(errorText_, "GPB file '%s' ends inside its 512-byte header after %ld bytes", path_,
                 static_cast<long>(got));
      Close();
      return 1;
    }
    header_.variant = 1;
    header_.headerLength = cursor.U32(newgpb::kHeaderLengthOffset);
    header_.dataType = cursor.U32(newgpb::kDataTypeOffset);
    for (int i = 0; i < kGpbStampWords; ++i)
      header_.stamp[i] = cursor.U16(newgpb::kStampOffset + 2 * i);
    std::memcpy(header_.description, bytes + newgpb::kDescriptionOffset,
                newgpb::kDescriptionMaxChars);
    header_.description[newgpb::kDescriptionMaxChars] = '\0';
    if (header_.headerLength != static_cast<uint32_t>(newgpb::kHeaderSize)) {
      FormatText(errorText_, "GPB file '%s': header length %lu at byte %ld, expected 512", path_,
                 static_cast<unsigned long>(header_.headerLength),
                 static_cast<long>(newgpb::kHeaderLengthOffset));
      Close();
      return 1;
    }
    offset_ = newgpb::kHeaderSize;
  } else {
    header_.variant = 0;
    header_.headerLength = cursor.U16(gpb102::kHeaderLengthOffset);
    header_.version = cursor.F32(gpb102::kVersionOffset);
    header_.dataType = cursor.U8(gpb102::kDataTypeOffset);
    header_.count = cursor.U8(gpb102::kCountOffset);
    for (int i = 0; i < kGpbStampWords; ++i)
      header_.stamp[i] = cursor.U16(gpb102::kStampOffset + 2 * i);
    header_.value = cursor.F32(gpb102::kValueOffset);
    const bool versionOk = std::fabs(header_.version - gpb102::kVersion) < kVersionTolerance;
    if (got < static_cast<size_t>(gpb102::kHeaderSize) || !cursor.ok() ||
        header_.headerLength != static_cast<uint32_t>(gpb102::kHeaderSize) || !versionOk) {
      FormatText(errorText_,
                 "'%s' is not a GPB file: no \"$NEWGPB\" header and no 202-byte version 1.02 "
                 "header (%ld bytes read)",
                 path_, static_cast<long>(got));
      Close();
      return 1;
    }
    offset_ = gpb102::kHeaderSize;
  }
  if (std::fseek(file_, static_cast<long>(offset_), SEEK_SET) != 0) {
    FormatText(errorText_, "Unable to seek to the first epoch of GPB file '%s'", path_);
    Close();
    return 1;
  }
  return 0;
}

int32_t GpbReader::ReadRecord(uint8_t* bytes, size_t size, const char* what, bool endAllowed) {
  const size_t got = std::fread(bytes, 1, size, file_);
  if (got == size) return 1;
  if (std::ferror(file_) != 0) {
    FormatText(errorText_, "GPB file '%s': read error in epoch %ld at byte %lld", path_,
               static_cast<long>(epochIndex_), static_cast<long long>(offset_));
    return Fail();
  }
  if (got == 0 && endAllowed) return 0;
  FormatText(errorText_, "GPB file '%s': epoch %ld at byte %lld cut: %s has %ld of %ld bytes",
             path_, static_cast<long>(epochIndex_), static_cast<long long>(offset_), what,
             static_cast<long>(got), static_cast<long>(size));
  return Fail();
}

int32_t GpbReader::ReadEpoch(GpbReadEpoch* out) {
  if (out == nullptr) {
    FormatText(errorText_, "No epoch record given to the GPB reader");
    return -1;
  }
  *out = GpbReadEpoch{};
  if (file_ == nullptr) {
    FormatText(errorText_, "GPB file not open");
    return -1;
  }
  if (failed_) return -1;  // the text of the damaged record stays
  return header_.variant == 1 ? ReadNewEpoch(out) : Read102Epoch(out);
}

namespace {

// The new file's epoch record fields that frame it: what follows it and how long it is.
struct NewEpochFrame {
  uint16_t bytesPerSat;
  uint16_t nsat;
  uint16_t storedLength;
};

// Reads the framing fields; false, with the text naming the epoch and its byte offset,
// when they are not those of an epoch record of this system.
bool ReadNewEpochFrame(ByteCursor& cursor, const char* path, long index, long long at,
                       NewEpochFrame* frame, char* errorText) {
  const uint16_t sync = cursor.U16(newgpb::kSyncOffset);
  const uint16_t kind = cursor.U16(newgpb::kKindOffset);
  const uint16_t bodyLength = cursor.U16(newgpb::kBodyLengthOffset);
  frame->bytesPerSat = cursor.U16(newgpb::kBytesPerSatOffset);
  frame->nsat = cursor.U16(newgpb::kNsatOffset);
  frame->storedLength = cursor.U16(newgpb::kLengthOffset);
  if (sync != newgpb::kSyncWord || kind != newgpb::kEpochKind ||
      bodyLength != newgpb::kBodyLength) {
    FormatText(errorText,
               "GPB file '%s': epoch %ld at byte %lld: sync 0x%04lx, kind %ld, record length "
               "%ld (expected 0xC33C, 1, 68)",
               path, index, at, static_cast<unsigned long>(sync), static_cast<long>(kind),
               static_cast<long>(bodyLength));
    return false;
  }
  if (frame->bytesPerSat != newgpb::kSatSize && frame->bytesPerSat != kLargestSatBytes) {
    FormatText(errorText,
               "GPB file '%s': epoch %ld at byte %lld: %ld bytes per satellite (expected 28 or "
               "56)",
               path, index, at, static_cast<long>(frame->bytesPerSat));
    return false;
  }
  if (frame->nsat > kGpbMaxSats) {
    FormatText(errorText, "GPB file '%s': epoch %ld at byte %lld: %ld satellites, more than %ld",
               path, index, at, static_cast<long>(frame->nsat), static_cast<long>(kGpbMaxSats));
    return false;
  }
  const size_t satBytes = static_cast<size_t>(frame->nsat) * frame->bytesPerSat;
  const uint16_t expectedLength = static_cast<uint16_t>((newgpb::kEpochSize + satBytes) & 0xFFFF);
  if (frame->storedLength != expectedLength) {
    FormatText(errorText,
               "GPB file '%s': epoch %ld at byte %lld: length word %ld, but %ld satellites of "
               "%ld bytes make %ld",
               path, index, at, static_cast<long>(frame->storedLength),
               static_cast<long>(frame->nsat), static_cast<long>(frame->bytesPerSat),
               static_cast<long>(expectedLength));
    return false;
  }
  return true;
}

// The primary record of satellite i (and its flag bytes) into out.
void DecodeNewPrimary(ByteCursor& p, int i, GpbReadEpoch* out) {
  gpb_sat_type& sat = out->epoch.sat[i];
  const uint8_t flags = p.U8(newgpb::kSatFlagsOffset);
  sat.prn = p.U8(newgpb::kPrnOffset);
  out->glonass[i] = p.U8(newgpb::kGlonassOffset);
  out->satFlags[i] = flags;
  if ((flags & newgpb::kPrimaryRange1) != 0) {
    sat.sflags |= kSatRange1;
    sat.range1 = p.F64(newgpb::kRange1Offset);
  }
  if ((flags & newgpb::kPrimaryRange1Marked) != 0) sat.sflags |= kSatRange1Marked;
  if ((flags & newgpb::kPrimaryPhase1) != 0) {
    sat.sflags |= kSatPhase1;
    sat.phase1 = p.F64(newgpb::kPhase1Offset);
  }
  if ((flags & newgpb::kPrimaryDoppler1) != 0) {
    sat.sflags |= kSatDoppler1;
    sat.doppler1 = p.F32(newgpb::kDoppler1Offset);
  }
  if ((flags & newgpb::kPrimaryLock1) != 0) {
    sat.sflags |= kSatLock1;
    sat.lock1 = p.U16(newgpb::kLock1Offset) / newgpb::kLockUnitsPerSecond;
  }
  if ((flags & newgpb::kPrimarySnr1) != 0) {
    sat.sflags |= kSatSnr1;
    sat.snr1 = p.U8(newgpb::kSnr1Offset) / newgpb::kSnrUnitsPerValue;
  }
}

// The extended record of satellite i (and its flag byte) into out.
void DecodeNewExtended(ByteCursor& e, int i, GpbReadEpoch* out) {
  gpb_sat_type& sat = out->epoch.sat[i];
  const uint8_t ext = e.U8(newgpb::kExtFlagsOffset);
  out->extFlags[i] = ext;
  if ((ext & newgpb::kExtendedRangeP1) != 0) {
    sat.sflags |= kSatRangeP1;
    sat.rangeP1 = e.F64(newgpb::kRangeP1Offset);
  }
  if ((ext & newgpb::kExtendedRange2) != 0) {
    sat.sflags |= kSatRange2;
    sat.range2 = e.F64(newgpb::kRange2Offset);
  }
  if ((ext & newgpb::kExtendedPhase2) != 0) {
    sat.sflags |= kSatPhase2;
    sat.phase2 = e.F64(newgpb::kPhase2Offset);
  }
  if ((ext & newgpb::kExtendedLock2) != 0) {
    sat.sflags |= kSatLock2;
    sat.lock2 = e.U16(newgpb::kLock2Offset) / newgpb::kLockUnitsPerSecond;
  }
  if ((ext & newgpb::kExtendedSnr2) != 0) {
    sat.sflags |= kSatSnr2;
    sat.snr2 = e.U8(newgpb::kSnr2Offset) / newgpb::kSnrUnitsPerValue;
  }
}

}  // namespace

int32_t GpbReader::ReadNewEpoch(GpbReadEpoch* out) {
  uint8_t record[newgpb::kEpochSize];
  const int32_t status = ReadRecord(record, sizeof record, "epoch record", true);
  if (status <= 0) return status;

  ByteCursor cursor(record, sizeof record);
  const long index = static_cast<long>(epochIndex_);
  const long long at = static_cast<long long>(offset_);
  NewEpochFrame frame{};
  if (!ReadNewEpochFrame(cursor, path_, index, at, &frame, errorText_)) return Fail();
  const uint16_t bytesPerSat = frame.bytesPerSat;
  const uint16_t nsat = frame.nsat;

  const size_t satBytes = static_cast<size_t>(nsat) * bytesPerSat;
  uint8_t sats[kGpbMaxSats * kLargestSatBytes];
  if (satBytes > 0 && ReadRecord(sats, satBytes, "satellite records", false) != 1) return Fail();

  const uint32_t sum =
      ByteSum(record + newgpb::kChecksumStart, newgpb::kEpochSize - newgpb::kChecksumStart) +
      ByteSum(sats, satBytes);
  out->storedChecksum = cursor.U16(newgpb::kChecksumOffset);
  out->computedChecksum = static_cast<uint16_t>(sum & 0xFFFF);
  if (out->storedChecksum != out->computedChecksum) {
    FormatText(errorText_,
               "GPB file '%s': epoch %ld at byte %lld: checksum 0x%04lx stored, 0x%04lx computed",
               path_, index, at, static_cast<unsigned long>(out->storedChecksum),
               static_cast<unsigned long>(out->computedChecksum));
    return Fail();
  }

  gpb_epoch_type& epoch = out->epoch;
  epoch.valid = 1;
  epoch.flags = cursor.U16(newgpb::kFlagsOffset);
  epoch.nsat = static_cast<int16_t>(nsat);
  epoch.lat = cursor.F64(newgpb::kLatOffset);
  epoch.lon = cursor.F64(newgpb::kLonOffset);
  epoch.height = cursor.F32(newgpb::kHeightOffset);
  epoch.rcvTime = cursor.F64(newgpb::kRcvTimeOffset);
  epoch.gpsTime = cursor.F64(newgpb::kGpsTimeOffset);
  epoch.corrTime = cursor.F64(newgpb::kCorrTimeOffset);
  epoch.clock = cursor.F64(newgpb::kClockOffset);
  epoch.extra = cursor.F32(newgpb::kExtraOffset);
  epoch.aux = cursor.U16(newgpb::kAuxOffset);
  out->milliseconds = cursor.I32(newgpb::kMillisecondsOffset);
  out->storedLength = frame.storedLength;
  out->bytesPerSat = bytesPerSat;
  out->fileOffset = offset_;

  for (int i = 0; i < nsat; ++i) {
    const uint8_t* satRecord = sats + static_cast<size_t>(i) * bytesPerSat;
    ByteCursor primary(satRecord, newgpb::kSatSize);
    DecodeNewPrimary(primary, i, out);
    if (bytesPerSat != kLargestSatBytes) continue;
    ByteCursor extended(satRecord + newgpb::kSatSize, newgpb::kSatSize);
    DecodeNewExtended(extended, i, out);
  }
  offset_ += newgpb::kEpochSize + static_cast<int64_t>(satBytes);
  ++epochIndex_;
  return 1;
}

int32_t GpbReader::Read102Epoch(GpbReadEpoch* out) {
  uint8_t record[gpb102::kEpochSize];
  const int32_t status = ReadRecord(record, sizeof record, "epoch record", true);
  if (status <= 0) return status;

  ByteCursor cursor(record, sizeof record);
  const uint16_t length = cursor.U16(gpb102::kLengthOffset);
  const uint8_t nsat = cursor.U8(gpb102::kNsatOffset);
  const long index = static_cast<long>(epochIndex_);
  const long long at = static_cast<long long>(offset_);
  if (length != gpb102::kEpochSize) {
    FormatText(errorText_, "GPB file '%s': epoch %ld at byte %lld: record length %ld, expected 68",
               path_, index, at, static_cast<long>(length));
    return Fail();
  }
  if (nsat > kGpbMaxSats) {
    FormatText(errorText_, "GPB file '%s': epoch %ld at byte %lld: %ld satellites, more than %ld",
               path_, index, at, static_cast<long>(nsat), static_cast<long>(kGpbMaxSats));
    return Fail();
  }
  const size_t satBytes = static_cast<size_t>(nsat) * gpb102::kSatSize;
  uint8_t sats[kGpbMaxSats * gpb102::kSatSize];
  if (satBytes > 0 && ReadRecord(sats, satBytes, "satellite records", false) != 1) return Fail();

  gpb_epoch_type& epoch = out->epoch;
  epoch.valid = 1;
  epoch.flags = cursor.U8(gpb102::kFlagsOffset);
  epoch.nsat = nsat;
  epoch.lat = cursor.F64(gpb102::kLatOffset);
  epoch.lon = cursor.F64(gpb102::kLonOffset);
  epoch.height = cursor.F32(gpb102::kHeightOffset);
  epoch.gpsTime = cursor.F64(gpb102::kGpsTimeOffset);
  epoch.corrTime = cursor.F64(gpb102::kCorrTimeOffset);
  epoch.clock = cursor.F64(gpb102::kClockOffset);
  epoch.extra = GpbNarrowToFloat(cursor.F64(gpb102::kExtraOffset));
  epoch.aux = cursor.U16(gpb102::kAuxOffset);
  out->storedLength = length;
  out->bytesPerSat = gpb102::kSatSize;
  out->fileOffset = offset_;

  for (int i = 0; i < nsat; ++i) {
    const int64_t satAt = offset_ + gpb102::kEpochSize + static_cast<int64_t>(i) * gpb102::kSatSize;
    ByteCursor s(sats + static_cast<size_t>(i) * gpb102::kSatSize, gpb102::kSatSize);
    const uint16_t satLength = s.U16(gpb102::kSatLengthOffset);
    if (satLength != gpb102::kSatSize) {
      FormatText(errorText_,
                 "GPB file '%s': epoch %ld, satellite record %ld at byte %lld: length %ld, "
                 "expected 44",
                 path_, index, static_cast<long>(i), static_cast<long long>(satAt),
                 static_cast<long>(satLength));
      return Fail();
    }
    // The 1.02 file has no presence bits: a measurement is present when it is not zero.
    gpb_sat_type& sat = epoch.sat[i];
    sat.prn = s.U8(gpb102::kPrnOffset);
    out->lockByte[i] = s.U8(gpb102::kLockOffset);
    sat.range1 = s.F64(gpb102::kRange1Offset);
    sat.phase1 = s.F64(gpb102::kPhase1Offset);
    sat.doppler1 = s.F64(gpb102::kDoppler1Offset);
    sat.range2 = s.F64(gpb102::kRange2Offset);
    sat.phase2 = s.F64(gpb102::kPhase2Offset);
    if (sat.range1 != 0.0) sat.sflags |= kSatRange1;
    if (sat.phase1 != 0.0) sat.sflags |= kSatPhase1;
    if (sat.doppler1 != 0.0) sat.sflags |= kSatDoppler1;
    if (sat.range2 != 0.0) sat.sflags |= kSatRange2;
    if (sat.phase2 != 0.0) sat.sflags |= kSatPhase2;
    if (out->lockByte[i] != gpb102::kLockUnknown) {
      sat.sflags |= kSatLock1;
      sat.lock1 = out->lockByte[i];
    }
  }
  offset_ += gpb102::kEpochSize + static_cast<int64_t>(satBytes);
  ++epochIndex_;
  return 1;
}

}  // namespace talverin
