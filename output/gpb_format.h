// Byte layouts of the two GPB file variants: the new file ("$NEWGPB", 512-byte header,
// 84-byte epoch record, 28-byte primary and extended satellite records) and the version
// 1.02 file (202-byte header, 68-byte epoch record, 44-byte satellite records).
// Little-endian, packed; offsets are bytes from the start of each record. Each table is
// mirrored by the named constants below it; gpb_file.cpp writes and gpb_reader.cpp reads
// through these names only. Values not listed in a table are zero.
#pragma once

#include <cfloat>
#include <cmath>
#include <cstdint>

namespace talverin {

// f64 to f32 for the files' float fields: narrowing a finite double beyond the float range
// is undefined, so it becomes +-infinity (what IEEE rounding gives); NaN and infinities
// pass unchanged.
inline float GpbNarrowToFloat(double value) {
  if (value > FLT_MAX) return HUGE_VALF;
  if (value < -FLT_MAX) return -HUGE_VALF;
  return static_cast<float>(value);
}

// Creation stamp: six u16 words of local time.
constexpr int kGpbStampWords = 6;  // month 1-12, day, years since 1900, hour, minute, second
constexpr int kGpbStampSize = 2 * kGpbStampWords;

namespace newgpb {

// Header, 512 bytes, at file offset 0.
// | Off | Size | Type     | Field                                   |
// |   0 |    8 | char[8]  | "$NEWGPB" and a NUL                     |
// |   8 |    8 | -        | zero                                    |
// |  16 |    4 | u32      | header length, 512                      |
// |  20 |    4 | u32      | data type (2 from this system)          |
// |  24 |   12 | u16[6]   | creation stamp                          |
// |  36 |   32 | char[32] | description, NUL-terminated, <= 31 chars|
// |  68 |  444 | -        | zero                                    |
constexpr int kHeaderSize = 512;
constexpr char kMagic[] = "$NEWGPB";  // 7 characters and the NUL: 8 bytes
constexpr int kMagicOffset = 0;
constexpr int kMagicSize = 8;
constexpr int kHeaderLengthOffset = 16;
constexpr int kDataTypeOffset = 20;
constexpr int kStampOffset = 24;
constexpr int kDescriptionOffset = 36;
constexpr int kDescriptionSize = 32;
constexpr int kDescriptionMaxChars = kDescriptionSize - 1;
static_assert(sizeof kMagic == kMagicSize, "magic with its NUL fills 8 bytes");
static_assert(kStampOffset + kGpbStampSize == kDescriptionOffset, "stamp ends at the description");
static_assert(kDescriptionOffset + kDescriptionSize + 444 == kHeaderSize, "header is 512 bytes");

// Epoch record, 84 bytes; the satellite records follow it.
// | Off | Size | Type | Field                                                    |
// |   0 |    2 | u16  | sync word 0xC33C                                         |
// |   2 |    2 | u16  | record kind, 1                                           |
// |   4 |    2 | u16  | epoch length: 84 + 28 per satellite record, mod 65536    |
// |   6 |    2 | u16  | checksum: byte sum of bytes 8..83 and of every satellite |
// |     |      |      | record of the epoch, mod 65536                           |
// |   8 |    2 | u16  | 68, record length after offset 16                        |
// |  10 |    2 | u16  | bytes per satellite: 56 with extended records, else 28   |
// |  12 |    4 | -    | zero                                                     |
// |  16 |    2 | u16  | low byte of flags                                        |
// |  18 |    2 | u16  | low byte of nsat                                         |
// |  20 |    8 | f64  | lat, degrees                                             |
// |  28 |    8 | f64  | lon, degrees                                             |
// |  36 |    4 | f32  | height, m                                                |
// |  40 |    8 | f64  | rcvTime, s of week                                       |
// |  48 |    8 | f64  | gpsTime, s of week                                       |
// |  56 |    8 | f64  | corrTime, s of week                                      |
// |  64 |    4 | i32  | gpsTime, ms: (gpsTime + 0.0005) * 1000 truncated         |
// |  68 |    8 | f64  | clock, m                                                 |
// |  76 |    4 | f32  | extra                                                    |
// |  80 |    2 | -    | zero                                                     |
// |  82 |    2 | u16  | aux with flags bit 9, else 0xFFFF                        |
constexpr int kEpochSize = 84;
constexpr int kSyncOffset = 0;
constexpr int kKindOffset = 2;
constexpr int kLengthOffset = 4;
constexpr int kChecksumOffset = 6;
constexpr int kBodyLengthOffset = 8;
constexpr int kBytesPerSatOffset = 10;
constexpr int kFlagsOffset = 16;
constexpr int kNsatOffset = 18;
constexpr int kLatOffset = 20;
constexpr int kLonOffset = 28;
constexpr int kHeightOffset = 36;
constexpr int kRcvTimeOffset = 40;
constexpr int kGpsTimeOffset = 48;
constexpr int kCorrTimeOffset = 56;
constexpr int kMillisecondsOffset = 64;
constexpr int kClockOffset = 68;
constexpr int kExtraOffset = 76;
constexpr int kAuxOffset = 82;
constexpr int kChecksumStart = 8;  // checksum covers epoch bytes 8..83
constexpr uint16_t kSyncWord = 0xC33C;
constexpr uint16_t kEpochKind = 1;
constexpr uint16_t kBodyLength = 68;
constexpr uint16_t kNoAux = 0xFFFF;
static_assert(kAuxOffset + 2 == kEpochSize, "epoch record is 84 bytes");
static_assert(kEpochSize - 16 == kBodyLength, "body length counts bytes after offset 16");

// Primary satellite record, 28 bytes.
// | Off | Size | Type | Field                                                  |
// |   0 |    1 | u8   | low byte of prn                                        |
// |   1 |    1 | u8   | 1 when that byte is above 32 (GLONASS), else 0         |
// |   2 |    2 | -    | zero                                                   |
// |   4 |    1 | u8   | flags (kPrimary* below)                                |
// |   5 |    1 | u8   | snr1 * 4, truncated, 0..255 (flag 0x10)                |
// |   6 |    2 | u16  | lock1 limited to 0..1200 s, * 20, truncated (flag 0x08)|
// |   8 |    8 | f64  | range1, m (flag 0x01)                                  |
// |  16 |    8 | f64  | phase1, cycles (flag 0x02)                             |
// |  24 |    4 | f32  | doppler1, Hz (flag 0x04)                               |
constexpr int kSatSize = 28;
constexpr int kPrnOffset = 0;
constexpr int kGlonassOffset = 1;
constexpr int kSatFlagsOffset = 4;
constexpr int kSnr1Offset = 5;
constexpr int kLock1Offset = 6;
constexpr int kRange1Offset = 8;
constexpr int kPhase1Offset = 16;
constexpr int kDoppler1Offset = 24;
static_assert(kDoppler1Offset + 4 == kSatSize, "primary record is 28 bytes");
constexpr uint8_t kPrimaryRange1 = 0x01;
constexpr uint8_t kPrimaryPhase1 = 0x02;
constexpr uint8_t kPrimaryDoppler1 = 0x04;
constexpr uint8_t kPrimaryLock1 = 0x08;
constexpr uint8_t kPrimarySnr1 = 0x10;
constexpr uint8_t kPrimaryRange1Marked = 0x80;  // sflags bit 16, only with kPrimaryRange1

// Extended satellite record, 28 bytes, after every primary record of an epoch in which
// any satellite has second-frequency data.
// | Off | Size | Type | Field                                                  |
// |   0 |    1 | u8   | flags (kExtended* below)                               |
// |   1 |    1 | u8   | snr2 * 4, truncated, 0..255 (flag 0x10)                |
// |   2 |    2 | u16  | lock2 limited to 0..1200 s, * 20, truncated (flag 0x08)|
// |   4 |    8 | f64  | rangeP1, m (flag 0x20)                                 |
// |  12 |    8 | f64  | range2, m (flag 0x01)                                  |
// |  20 |    8 | f64  | phase2, cycles (flag 0x02)                             |
constexpr int kExtFlagsOffset = 0;
constexpr int kSnr2Offset = 1;
constexpr int kLock2Offset = 2;
constexpr int kRangeP1Offset = 4;
constexpr int kRange2Offset = 12;
constexpr int kPhase2Offset = 20;
static_assert(kPhase2Offset + 8 == kSatSize, "extended record is 28 bytes");
constexpr uint8_t kExtendedRange2 = 0x01;
constexpr uint8_t kExtendedPhase2 = 0x02;
constexpr uint8_t kExtendedLock2 = 0x08;
constexpr uint8_t kExtendedSnr2 = 0x10;
constexpr uint8_t kExtendedRangeP1 = 0x20;

constexpr double kMinRange_m = 10.0;   // ranges of at most 10 m are not written
constexpr double kMaxLock_s = 1200.0;  // lock times are limited to 0..1200 s
constexpr double kLockUnitsPerSecond = 20.0;
constexpr double kSnrUnitsPerValue = 4.0;

}  // namespace newgpb

namespace gpb102 {

// Header, 202 bytes, at file offset 0.
// | Off | Size | Type   | Field                                  |
// |   0 |    2 | u16    | header length, 202                     |
// |   2 |    4 | f32    | version 1.02 (bits 0x3F828F5C)         |
// |   6 |    1 | u8     | data type (2 from this system)         |
// |   7 |    1 | u8     | count given at creation (24)           |
// |   8 |   12 | u16[6] | creation stamp                         |
// |  20 |    4 | f32    | value given at creation (1.0)          |
// |  24 |  178 | -      | zero                                   |
constexpr int kHeaderSize = 202;
constexpr int kHeaderLengthOffset = 0;
constexpr int kVersionOffset = 2;
constexpr int kDataTypeOffset = 6;
constexpr int kCountOffset = 7;
constexpr int kStampOffset = 8;
constexpr int kValueOffset = 20;
constexpr float kVersion = 1.02f;
static_assert(kStampOffset + kGpbStampSize == kValueOffset, "stamp ends at the value");
static_assert(kValueOffset + 4 + 178 == kHeaderSize, "header is 202 bytes");

// Epoch record, 68 bytes, followed by nsat satellite records.
// | Off | Size | Type | Field                                 |
// |   0 |    2 | u16  | record length, 68                     |
// |   2 |    1 | u8   | low byte of nsat                      |
// |   3 |    1 | u8   | low byte of flags                     |
// |   4 |    4 | -    | zero                                  |
// |   8 |    8 | f64  | lat, degrees                          |
// |  16 |    8 | f64  | lon, degrees                          |
// |  24 |    4 | f32  | height, m                             |
// |  28 |    8 | f64  | gpsTime, s of week                    |
// |  36 |    8 | f64  | corrTime, s of week                   |
// |  44 |    8 | f64  | clock, m                              |
// |  52 |    8 | f64  | extra, widened                        |
// |  60 |    2 | u16  | aux with flags bit 9, else 0xFFFF     |
// |  62 |    6 | -    | zero                                  |
constexpr int kEpochSize = 68;
constexpr int kLengthOffset = 0;
constexpr int kNsatOffset = 2;
constexpr int kFlagsOffset = 3;
constexpr int kLatOffset = 8;
constexpr int kLonOffset = 16;
constexpr int kHeightOffset = 24;
constexpr int kGpsTimeOffset = 28;
constexpr int kCorrTimeOffset = 36;
constexpr int kClockOffset = 44;
constexpr int kExtraOffset = 52;
constexpr int kAuxOffset = 60;
constexpr uint16_t kNoAux = 0xFFFF;
static_assert(kAuxOffset + 2 + 6 == kEpochSize, "epoch record is 68 bytes");

// Satellite record, 44 bytes; a measurement that is absent stays zero.
// | Off | Size | Type | Field                                                    |
// |   0 |    2 | u16  | record length, 44                                        |
// |   2 |    1 | u8   | low byte of prn                                          |
// |   3 |    1 | u8   | lock1 in whole seconds when present and <= 255, else 255 |
// |   4 |    8 | f64  | range1, m                                                |
// |  12 |    8 | f64  | phase1, cycles                                           |
// |  20 |    8 | f64  | doppler1, Hz                                             |
// |  28 |    8 | f64  | range2, m                                                |
// |  36 |    8 | f64  | phase2, cycles                                           |
constexpr int kSatSize = 44;
constexpr int kSatLengthOffset = 0;
constexpr int kPrnOffset = 2;
constexpr int kLockOffset = 3;
constexpr int kRange1Offset = 4;
constexpr int kPhase1Offset = 12;
constexpr int kDoppler1Offset = 20;
constexpr int kRange2Offset = 28;
constexpr int kPhase2Offset = 36;
constexpr uint8_t kLockUnknown = 255;  // lock absent, or 255 s and longer
static_assert(kPhase2Offset + 8 == kSatSize, "satellite record is 44 bytes");

}  // namespace gpb102

}  // namespace talverin
