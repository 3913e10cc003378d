#include "output/gpb_file.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <new>
#include <system_error>

#include "base/byte_order.h"
#include "base/file_identity.h"
#include "base/message_texts.h"
#include "base/native_path.h"
#include "base/text_buffer.h"

namespace talverin {

namespace {

// Signal-to-noise byte: value * 4, truncated, limited to 0..255; NaN gives 0.
uint8_t SnrByte(double snr) {
  const double units = snr * newgpb::kSnrUnitsPerValue;
  if (std::isnan(units) || units <= 0.0) return 0;
  if (units >= 255.0) return 255;
  return static_cast<uint8_t>(units);
}

// Lock time in 1/20 s: limited to 0..1200 s first, so the result stays below 65535;
// NaN gives 0.
uint16_t LockUnits(double lock_s) {
  if (std::isnan(lock_s) || lock_s <= 0.0) return 0;
  const double limited_s = lock_s > newgpb::kMaxLock_s ? newgpb::kMaxLock_s : lock_s;
  const double units = limited_s * newgpb::kLockUnitsPerSecond;
  return static_cast<uint16_t>(units >= 65535.0 ? 65535.0 : units);
}

// Nearest millisecond of the week, truncated toward zero after adding half a millisecond.
// A non-finite time gives 0; a finite one beyond the i32 range is clamped to it.
int32_t MillisecondsOfWeek(double gpsTime_s) {
  const double ms = (gpsTime_s + 0.0005) * 1000.0;
  if (!std::isfinite(ms)) return 0;
  if (ms >= 2147483647.0) return INT32_MAX;
  if (ms <= -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(ms);
}

// Version 1.02 lock byte: whole seconds when present and at most 255, else 255. A
// negative time (never a tracking time) gives 0 instead of wrapping; NaN counts as absent.
uint8_t LockByte102(uint32_t sflags, double lock_s) {
  if ((sflags & kSatLock1) == 0 || std::isnan(lock_s)) return gpb102::kLockUnknown;
  if (lock_s <= 0.0) return 0;
  if (lock_s >= 256.0) return gpb102::kLockUnknown;
  return static_cast<uint8_t>(lock_s);
}

bool RangeWritten(uint32_t sflags, uint32_t bit, double range_m) {
  return (sflags & bit) != 0 && std::fabs(range_m) > newgpb::kMinRange_m;
}

// Fills the 28-byte primary record; returns its byte sum.
uint32_t BuildPrimary(const gpb_sat_type& sat, uint8_t* record) {
  const uint8_t prn = static_cast<uint8_t>(sat.prn & 0xFF);
  uint8_t flags = 0;
  record[newgpb::kPrnOffset] = prn;
  record[newgpb::kGlonassOffset] = prn > kMaxGpsPrn ? 1 : 0;
  if (RangeWritten(sat.sflags, kSatRange1, sat.range1)) {
    flags |= newgpb::kPrimaryRange1;
    if ((sat.sflags & kSatRange1Marked) != 0) flags |= newgpb::kPrimaryRange1Marked;
    StoreF64(record + newgpb::kRange1Offset, sat.range1);
  }
  if ((sat.sflags & kSatPhase1) != 0) {
    flags |= newgpb::kPrimaryPhase1;
    StoreF64(record + newgpb::kPhase1Offset, sat.phase1);
  }
  if ((sat.sflags & kSatDoppler1) != 0) {
    flags |= newgpb::kPrimaryDoppler1;
    StoreF32(record + newgpb::kDoppler1Offset, GpbNarrowToFloat(sat.doppler1));
  }
  if ((sat.sflags & kSatLock1) != 0) {
    flags |= newgpb::kPrimaryLock1;
    StoreU16(record + newgpb::kLock1Offset, LockUnits(sat.lock1));
  }
  if ((sat.sflags & kSatSnr1) != 0) {
    flags |= newgpb::kPrimarySnr1;
    record[newgpb::kSnr1Offset] = SnrByte(sat.snr1);
  }
  record[newgpb::kSatFlagsOffset] = flags;
  return ByteSum(record, newgpb::kSatSize);
}

// Fills the 28-byte extended record; returns its byte sum.
uint32_t BuildExtended(const gpb_sat_type& sat, uint8_t* record) {
  uint8_t flags = 0;
  if (RangeWritten(sat.sflags, kSatRangeP1, sat.rangeP1)) {
    flags |= newgpb::kExtendedRangeP1;
    StoreF64(record + newgpb::kRangeP1Offset, sat.rangeP1);
  }
  if (RangeWritten(sat.sflags, kSatRange2, sat.range2)) {
    flags |= newgpb::kExtendedRange2;
    StoreF64(record + newgpb::kRange2Offset, sat.range2);
  }
  if ((sat.sflags & kSatPhase2) != 0) {
    flags |= newgpb::kExtendedPhase2;
    StoreF64(record + newgpb::kPhase2Offset, sat.phase2);
  }
  if ((sat.sflags & kSatLock2) != 0) {
    flags |= newgpb::kExtendedLock2;
    StoreU16(record + newgpb::kLock2Offset, LockUnits(sat.lock2));
  }
  if ((sat.sflags & kSatSnr2) != 0) {
    flags |= newgpb::kExtendedSnr2;
    record[newgpb::kSnr2Offset] = SnrByte(sat.snr2);
  }
  record[newgpb::kExtFlagsOffset] = flags;
  return ByteSum(record, newgpb::kSatSize);
}

void Build102Sat(const gpb_sat_type& sat, uint8_t* record) {
  StoreU16(record + gpb102::kSatLengthOffset, static_cast<uint16_t>(gpb102::kSatSize));
  record[gpb102::kPrnOffset] = static_cast<uint8_t>(sat.prn & 0xFF);
  record[gpb102::kLockOffset] = LockByte102(sat.sflags, sat.lock1);
  if ((sat.sflags & kSatRange1) != 0) StoreF64(record + gpb102::kRange1Offset, sat.range1);
  if ((sat.sflags & kSatPhase1) != 0) StoreF64(record + gpb102::kPhase1Offset, sat.phase1);
  if ((sat.sflags & kSatDoppler1) != 0) StoreF64(record + gpb102::kDoppler1Offset, sat.doppler1);
  if ((sat.sflags & kSatRange2) != 0) StoreF64(record + gpb102::kRange2Offset, sat.range2);
  if ((sat.sflags & kSatPhase2) != 0) StoreF64(record + gpb102::kPhase2Offset, sat.phase2);
}

uint16_t AuxWord(const gpb_epoch_type& epoch, uint16_t none) {
  return (epoch.flags & kEpochAuxValid) != 0 ? epoch.aux : none;
}

// Description field: at most 31 characters, the rest of the 32 bytes zero.
void StoreDescription(uint8_t* field, const char* description) {
  std::memset(field, 0, newgpb::kDescriptionSize);
  std::memcpy(field, description, strnlen(description, newgpb::kDescriptionMaxChars));
}

}  // namespace

GpbFile::GpbFile() {}

// The owner closes the file and reads the result; this only releases a stream left open on a
// failure path, whose message is already given.
GpbFile::~GpbFile() { (void)Close(); }

void GpbFile::TakeStamp() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
#if defined(_WIN32)
  const std::tm* converted = std::localtime(&now);  // one conversion thread only
  const bool ok = converted != nullptr;
  if (ok) local = *converted;
#else
  const bool ok = localtime_r(&now, &local) != nullptr;
#endif
  if (!ok) {
    std::memset(stamp_, 0, sizeof stamp_);
    return;
  }
  stamp_[0] = static_cast<uint16_t>(local.tm_mon + 1);
  stamp_[1] = static_cast<uint16_t>(local.tm_mday);
  stamp_[2] = static_cast<uint16_t>(local.tm_year);
  stamp_[3] = static_cast<uint16_t>(local.tm_hour);
  stamp_[4] = static_cast<uint16_t>(local.tm_min);
  stamp_[5] = static_cast<uint16_t>(local.tm_sec);
}

void GpbFile::FillNewHeader() {
  std::memcpy(headerNew_ + newgpb::kMagicOffset, newgpb::kMagic, newgpb::kMagicSize);
  StoreU32(headerNew_ + newgpb::kHeaderLengthOffset, newgpb::kHeaderSize);
  StoreU32(headerNew_ + newgpb::kDataTypeOffset, static_cast<uint32_t>(dataType_));
  for (int i = 0; i < kGpbStampWords; ++i)
    StoreU16(headerNew_ + newgpb::kStampOffset + 2 * i, stamp_[i]);
  StoreDescription(headerNew_ + newgpb::kDescriptionOffset, description_);
}

void GpbFile::FillHeader102(double value, int32_t count) {
  StoreU16(header102_ + gpb102::kHeaderLengthOffset, gpb102::kHeaderSize);
  StoreF32(header102_ + gpb102::kVersionOffset, gpb102::kVersion);
  header102_[gpb102::kDataTypeOffset] = static_cast<uint8_t>(dataType_ & 0xFF);
  header102_[gpb102::kCountOffset] = static_cast<uint8_t>(count & 0xFF);
  for (int i = 0; i < kGpbStampWords; ++i)
    StoreU16(header102_ + gpb102::kStampOffset + 2 * i, stamp_[i]);
  StoreF32(header102_ + gpb102::kValueOffset, GpbNarrowToFloat(value));
}

void GpbFile::ReleaseStream() {
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
  delete[] pending_;
  pending_ = nullptr;
  delete[] pendingEnds_;
  pendingEnds_ = nullptr;
  pendingCapacity_ = 0;
  pendingBytes_ = 0;
  pendingEpochs_ = 0;
}

int32_t GpbFile::Create(int32_t newVariant, const char* fileName, int32_t dataType, double value,
                        int32_t count, int32_t bufferSize) {
  const char* name = fileName != nullptr ? fileName : "";
  // An open stream may hold unflushed epochs: it is never replaced, only closed by Close.
  if (state_ > 0 || file_ != nullptr) {
    FormatText(errorText_, msg::kGpbAlreadyOpen, name);
    state_ = -1;
    return 1;
  }

  state_ = 0;
  variant_ = newVariant != 0 ? 1 : 0;
  dataType_ = dataType;
  description_[0] = '\0';
  std::memset(header102_, 0, sizeof header102_);
  std::memset(headerNew_, 0, sizeof headerNew_);
  TakeStamp();
  if (variant_ == 1) {
    FillNewHeader();
  } else {
    FillHeader102(value, count);
  }

  // A cut name would create a different file than the one asked for.
  if (strnlen(name, kPathSize) >= static_cast<size_t>(kPathSize)) {
    FormatText(errorText_, msg::kGpbNameTooLong, name);
    state_ = -1;
    return 1;
  }

  // A FIFO without a reader would block the open: it is an output that cannot be created.
  file_ = IsPipeOrSocket(name) ? nullptr : std::fopen(name, "wb");
  if (file_ == nullptr) {
    if (variant_ == 1) {
      FormatText(errorText_, msg::kGpbAccessDenied, name);
    } else {
      FormatText(errorText_, msg::kGpb102AccessDenied, name);
    }
    state_ = -1;
    return 1;
  }

  // The stream writes straight through: whole epochs are collected in the writer's own
  // buffer, so that a failed write is seen at once and what reached the file is known.
  // It holds at least one epoch of either variant.
  constexpr size_t kLargestEpoch =
      sizeof epochNew_ > sizeof epoch102_ ? sizeof epochNew_ : sizeof epoch102_;
  constexpr size_t kSmallestEpoch = gpb102::kEpochSize;
  delete[] pending_;
  delete[] pendingEnds_;
  pendingCapacity_ = bufferSize > 0 ? static_cast<size_t>(bufferSize) : 0;
  if (pendingCapacity_ < kLargestEpoch) pendingCapacity_ = kLargestEpoch;
  pending_ = bufferSize > 0 ? new (std::nothrow) uint8_t[pendingCapacity_] : nullptr;
  pendingEnds_ = new (std::nothrow) size_t[pendingCapacity_ / kSmallestEpoch + 1];
  pendingBytes_ = 0;
  pendingEpochs_ = 0;
  if (pending_ == nullptr || pendingEnds_ == nullptr ||
      std::setvbuf(file_, nullptr, _IONBF, 0) != 0) {
    ReleaseStream();
    FormatText(errorText_, msg::kGpbNoBuffer, name);
    state_ = -1;
    return 1;
  }

  const uint8_t* header = variant_ == 1 ? headerNew_ : header102_;
  const size_t headerSize = variant_ == 1 ? newgpb::kHeaderSize : gpb102::kHeaderSize;
  if (std::fwrite(header, 1, headerSize, file_) != headerSize || std::fflush(file_) != 0) {
    ReleaseStream();
    FormatText(errorText_, msg::kGpbHeaderNotWritten, name);
    state_ = -1;
    return 1;
  }

  openMode_ = kModeWrite;
  errorText_[0] = '\0';
  CopyText(fileName_, sizeof fileName_, name);
  epochCount_ = 0;
  lastRecordLength_ = static_cast<int32_t>(headerSize);
  writeFailed_ = false;
  committedBytes_ = static_cast<int64_t>(headerSize);
  committedEpochs_ = 0;
  state_ = 1;
  return 0;
}

int32_t GpbFile::UpdateHeaderInfo(const char* description, const uint32_t* dataType,
                                  int32_t updateStamp, const double* value) {
  if (file_ == nullptr || state_ < 1) {
    CopyText(errorText_, kTextSize, msg::kGpbNotOpened);
    return -1;
  }
  if (openMode_ != kModeWrite && openMode_ != kModeReadWrite) {
    CopyText(errorText_, kTextSize, msg::kGpbHeaderReadOnly);
    return -1;
  }

  int32_t changed = 0;
  if (variant_ == 1) {
    if (description != nullptr) {
      CopyText(description_, sizeof description_, description);
      StoreDescription(headerNew_ + newgpb::kDescriptionOffset, description_);
      ++changed;
    }
    if (dataType != nullptr) {
      dataType_ = static_cast<int32_t>(*dataType);
      StoreU32(headerNew_ + newgpb::kDataTypeOffset, *dataType);
      ++changed;
    }
    if (updateStamp != 0) {
      TakeStamp();
      for (int i = 0; i < kGpbStampWords; ++i)
        StoreU16(headerNew_ + newgpb::kStampOffset + 2 * i, stamp_[i]);
      ++changed;
    }
  } else {
    if (dataType != nullptr) {
      dataType_ = static_cast<int32_t>(*dataType);
      header102_[gpb102::kDataTypeOffset] = static_cast<uint8_t>(*dataType & 0xFF);
      ++changed;
    }
    if (updateStamp != 0) {
      TakeStamp();
      for (int i = 0; i < kGpbStampWords; ++i)
        StoreU16(header102_ + gpb102::kStampOffset + 2 * i, stamp_[i]);
      ++changed;
    }
    if (value != nullptr) {
      StoreF32(header102_ + gpb102::kValueOffset, GpbNarrowToFloat(*value));
      ++changed;
    }
  }
  if (changed == 0) {
    errorText_[0] = '\0';
    return 0;
  }

  const uint8_t* header = variant_ == 1 ? headerNew_ : header102_;
  const size_t headerSize = variant_ == 1 ? newgpb::kHeaderSize : gpb102::kHeaderSize;
  const long position = std::ftell(file_);
  if (position < 0 || std::fseek(file_, 0, SEEK_SET) != 0) {
    FormatText(errorText_, msg::kGpbHeaderUpdateFailed, fileName_);
    return -1;
  }
  const bool written =
      std::fwrite(header, 1, headerSize, file_) == headerSize && std::fflush(file_) == 0;
  // Later epochs must follow the ones already written, so the position is restored even
  // after a failed header write.
  const bool restored = std::fseek(file_, position, SEEK_SET) == 0;
  if (!written || !restored) {
    Fail(msg::kGpbHeaderUpdateFailed);
    return -1;
  }
  errorText_[0] = '\0';
  return changed;
}

void GpbFile::Fail(const char* text) {
  writeFailed_ = true;
  FormatText(errorText_, text, fileName_);
  // What was never written is not in the file, and nothing after this counts.
  pendingBytes_ = 0;
  pendingEpochs_ = 0;
  epochCount_ = committedEpochs_;
}

bool GpbFile::WritePending() {
  if (pendingBytes_ == 0) return true;
  const size_t written = std::fwrite(pending_, 1, pendingBytes_, file_);
  if (written == pendingBytes_ && std::fflush(file_) == 0) {
    committedBytes_ += static_cast<int64_t>(pendingBytes_);
    committedEpochs_ += pendingEpochs_;
    pendingBytes_ = 0;
    pendingEpochs_ = 0;
    return true;
  }
  // The epochs that reached the file whole still count; Close cuts off the rest.
  int32_t whole = 0;
  while (whole < pendingEpochs_ && pendingEnds_[whole] <= written) ++whole;
  if (whole > 0) {
    committedBytes_ += static_cast<int64_t>(pendingEnds_[whole - 1]);
    committedEpochs_ += whole;
  }
  Fail(msg::kUnableToWrite);
  return false;
}

int32_t GpbFile::AddEpoch(const uint8_t* bytes, size_t size) {
  if (pendingBytes_ + size > pendingCapacity_ && !WritePending()) return 1;
  std::memcpy(pending_ + pendingBytes_, bytes, size);
  pendingBytes_ += size;
  pendingEnds_[pendingEpochs_++] = pendingBytes_;
  if (epochCount_ < INT32_MAX) ++epochCount_;
  lastRecordLength_ = static_cast<int32_t>(size);
  errorText_[0] = '\0';
  return 0;
}

void GpbFile::CutToCommitted() {
  // A write refused part-way may have left the start of an epoch behind the last whole one.
  std::error_code error;
  const std::filesystem::path path = NativePath(fileName_);
  if (!std::filesystem::is_regular_file(path, error)) return;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  if (!error && size > static_cast<std::uintmax_t>(committedBytes_)) {
    std::filesystem::resize_file(path, static_cast<std::uintmax_t>(committedBytes_), error);
  }
}

int32_t GpbFile::WriteEpoch(const gpb_epoch_type& epoch) {
  if (epoch.valid == 0) {
    CopyText(errorText_, kTextSize, msg::kGpbEpochNotValid);
    return 1;
  }
  if (file_ == nullptr || state_ < 1) {
    CopyText(errorText_, kTextSize, msg::kGpbNotSetUp);
    return 1;
  }
  if (writeFailed_) {
    FormatText(errorText_, msg::kUnableToWrite, fileName_);
    return 1;
  }
  // The epoch record holds kGpbMaxSats satellites; any other count would read past it.
  if (epoch.nsat < 0 || epoch.nsat > kGpbMaxSats) {
    FormatText(errorText_, msg::kGpbTooManySatellites, epoch.gpsTime, fileName_,
               static_cast<long>(epoch.nsat), static_cast<long>(kGpbMaxSats));
    return 1;
  }
  return variant_ == 1 ? WriteNewEpoch(epoch) : Write102Epoch(epoch);
}

int32_t GpbFile::WriteNewEpoch(const gpb_epoch_type& epoch) {
  const int nsat = epoch.nsat;
  bool extended = false;
  for (int i = 0; i < nsat; ++i) {
    if ((epoch.sat[i].sflags & kSatSecondFrequencyMask) != 0) extended = true;
  }
  const int recordsPerSat = extended ? 2 : 1;
  const int32_t length = newgpb::kEpochSize + newgpb::kSatSize * nsat * recordsPerSat;

  // Each satellite's primary record, then its extended record when the epoch has them,
  // follow the epoch record in the file.
  std::memset(epochNew_, 0, static_cast<size_t>(length));
  uint32_t sum = 0;
  uint8_t* sats = epochNew_ + newgpb::kEpochSize;
  for (int i = 0; i < nsat; ++i) {
    uint8_t* primary = sats + i * recordsPerSat * newgpb::kSatSize;
    sum += BuildPrimary(epoch.sat[i], primary);
    if (extended) sum += BuildExtended(epoch.sat[i], primary + newgpb::kSatSize);
  }

  uint8_t* record = epochNew_;
  StoreU16(record + newgpb::kSyncOffset, newgpb::kSyncWord);
  StoreU16(record + newgpb::kKindOffset, newgpb::kEpochKind);
  StoreU16(record + newgpb::kBodyLengthOffset, newgpb::kBodyLength);
  StoreU16(record + newgpb::kBytesPerSatOffset,
           static_cast<uint16_t>(newgpb::kSatSize * recordsPerSat));
  StoreU16(record + newgpb::kFlagsOffset, static_cast<uint16_t>(epoch.flags & 0xFF));
  StoreU16(record + newgpb::kNsatOffset, static_cast<uint16_t>(nsat & 0xFF));
  StoreF64(record + newgpb::kLatOffset, epoch.lat);
  StoreF64(record + newgpb::kLonOffset, epoch.lon);
  StoreF32(record + newgpb::kHeightOffset, epoch.height);
  StoreF64(record + newgpb::kRcvTimeOffset, epoch.rcvTime);
  StoreF64(record + newgpb::kGpsTimeOffset, epoch.gpsTime);
  StoreF64(record + newgpb::kCorrTimeOffset, epoch.corrTime);
  StoreI32(record + newgpb::kMillisecondsOffset, MillisecondsOfWeek(epoch.gpsTime));
  StoreF64(record + newgpb::kClockOffset, epoch.clock);
  StoreF32(record + newgpb::kExtraOffset, epoch.extra);
  StoreU16(record + newgpb::kAuxOffset, AuxWord(epoch, newgpb::kNoAux));
  sum += ByteSum(record + newgpb::kChecksumStart, newgpb::kEpochSize - newgpb::kChecksumStart);
  StoreU16(record + newgpb::kLengthOffset, static_cast<uint16_t>(length & 0xFFFF));
  StoreU16(record + newgpb::kChecksumOffset, static_cast<uint16_t>(sum & 0xFFFF));

  return AddEpoch(epochNew_, static_cast<size_t>(length));
}

int32_t GpbFile::Write102Epoch(const gpb_epoch_type& epoch) {
  const int nsat = epoch.nsat;
  const size_t length = gpb102::kEpochSize + static_cast<size_t>(nsat) * gpb102::kSatSize;
  std::memset(epoch102_, 0, length);
  uint8_t* record = epoch102_;
  StoreU16(record + gpb102::kLengthOffset, static_cast<uint16_t>(gpb102::kEpochSize));
  record[gpb102::kNsatOffset] = static_cast<uint8_t>(nsat & 0xFF);
  record[gpb102::kFlagsOffset] = static_cast<uint8_t>(epoch.flags & 0xFF);
  StoreF64(record + gpb102::kLatOffset, epoch.lat);
  StoreF64(record + gpb102::kLonOffset, epoch.lon);
  StoreF32(record + gpb102::kHeightOffset, epoch.height);
  StoreF64(record + gpb102::kGpsTimeOffset, epoch.gpsTime);
  StoreF64(record + gpb102::kCorrTimeOffset, epoch.corrTime);
  StoreF64(record + gpb102::kClockOffset, epoch.clock);
  StoreF64(record + gpb102::kExtraOffset, static_cast<double>(epoch.extra));
  StoreU16(record + gpb102::kAuxOffset, AuxWord(epoch, gpb102::kNoAux));
  // The satellite records follow the epoch record.
  uint8_t* sats = epoch102_ + gpb102::kEpochSize;
  for (int i = 0; i < nsat; ++i) Build102Sat(epoch.sat[i], sats + i * gpb102::kSatSize);
  return AddEpoch(epoch102_, length);
}

int32_t GpbFile::Close() {
  int32_t result = 0;
  if (file_ != nullptr) {
    if (!writeFailed_) (void)WritePending();  // a failure is recorded in writeFailed_
    bool failed = writeFailed_;
    if (std::fflush(file_) != 0) failed = true;
    if (std::ferror(file_) != 0) failed = true;
    if (std::fclose(file_) != 0) failed = true;
    file_ = nullptr;
    if (failed) {
      Fail(msg::kUnableToWrite);
      CutToCommitted();
      result = 1;
    } else {
      errorText_[0] = '\0';
    }
  }
  ReleaseStream();
  state_ = 0;
  openMode_ = 0;
  writeFailed_ = false;
  return result;
}

}  // namespace talverin
