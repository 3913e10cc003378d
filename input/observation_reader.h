// The epoch loop over the observation file (B): epoch headers and channel records (both
// layouts), per-satellite continuous tracking times (s), recovery from damaged epochs,
// progress and abort, and the GPS-UTC records of the .epp file for GLONASS receivers.
// Each epoch the judge (epoch_scanner.h) accepts becomes one gpb_epoch_type handed to the
// GPB writer; one it refuses is dropped and reading resumes at the next epoch it accepts.
// Ranges leave here in metres (file seconds x c), phases in cycles with the file's sign
// inverted, positions as WGS84 geodetic degrees. Station marks live in event_marks.h.
#pragma once

#include <cstdint>

#include "input/event_marks.h"
#include "output/gpb_types.h"

namespace talverin {

class ConversionJob;

// Epoch header, kEpochHeaderSize (67) bytes, little-endian, packed:
//   offset size type     field
//   0      4    char[4]  site name
//   4      8    f64      receiver time, s of GPS week
//   12     8    f64      position X, m, ECEF
//   20     8    f64      position Y, m, ECEF
//   28     8    f64      position Z, m, ECEF
//   36     12   -        not read
//   48     8    f64      receiver clock offset, m
//   56     10   -        not read
//   66     1    i8       channel records that follow
// Site name and time: kEpochHeaderSiteOffset, kEpochHeaderSiteLength and
// kEpochHeaderTimeOffset of event_marks.h, which reads the same header.
constexpr int kEpochXOffset = 12;
constexpr int kEpochYOffset = 20;
constexpr int kEpochZOffset = 28;
constexpr int kEpochClockOffset = 48;
constexpr int kEpochCountOffset = 66;

// Standard channel record; 35 bytes for receiver types 1 and 4, 66 for type 3, 97 for type 2:
//   offset size type  field
//   0      1    u8    PRN
//   1      3    -     not read
//   4      31   block C/A code block (below)
//   type 3: 35 31 block L2 block
//   type 2: 35 31 block P1 block (P code on L1); 66 31 block L2 block
// Every signal block has one layout, offsets from the block's first byte:
//   +0     8    f64   code range, s
//   +8     7    -     not read
//   +15    1    u8    warning bits (128 restart; C/A block also 4 phase, 8 code, 16 integration)
//   +16    1    -     not read
//   +17    1    u8    signal-to-noise
//   +18    1    -     not read
//   +19    4    i32   Doppler, units of 0.0001 Hz
//   +23    8    f64   carrier phase, cycles
// The conversion reads the C/A block whole, the L2 block's range and phase (type 3) or range,
// warning bits, signal-to-noise and phase (type 2); the other fields serve the RINEX export.
constexpr int kChanBlockSize = 31;
constexpr int kBlockRangeOffset = 0;
constexpr int kBlockWarningOffset = 15;
constexpr int kBlockSnrOffset = 17;
constexpr int kBlockDopplerOffset = 19;
constexpr int kBlockPhaseOffset = 23;
constexpr int kChanCaBlockOffset = 4;
constexpr int kChanCodelessL2BlockOffset = 35;
constexpr int kChanDualP1BlockOffset = 35;
constexpr int kChanDualL2BlockOffset = 66;

constexpr int kChanPrnOffset = 0;
constexpr int kChanRangeOffset = kChanCaBlockOffset + kBlockRangeOffset;
constexpr int kChanL1WarningOffset = kChanCaBlockOffset + kBlockWarningOffset;
constexpr int kChanL1SnrOffset = kChanCaBlockOffset + kBlockSnrOffset;
constexpr int kChanDopplerOffset = kChanCaBlockOffset + kBlockDopplerOffset;
constexpr int kChanL1PhaseOffset = kChanCaBlockOffset + kBlockPhaseOffset;
constexpr int kChanCodelessL2RangeOffset = kChanCodelessL2BlockOffset + kBlockRangeOffset;
constexpr int kChanCodelessL2PhaseOffset = kChanCodelessL2BlockOffset + kBlockPhaseOffset;
constexpr int kChanDualL2RangeOffset = kChanDualL2BlockOffset + kBlockRangeOffset;
constexpr int kChanDualL2WarningOffset = kChanDualL2BlockOffset + kBlockWarningOffset;
constexpr int kChanDualL2SnrOffset = kChanDualL2BlockOffset + kBlockSnrOffset;
constexpr int kChanDualL2PhaseOffset = kChanDualL2BlockOffset + kBlockPhaseOffset;
static_assert(kChanCaBlockOffset + kChanBlockSize == 35, "C/A record is 35 bytes");
static_assert(kChanCodelessL2BlockOffset + kChanBlockSize == 66, "L2-codeless record is 66 bytes");
static_assert(kChanDualL2BlockOffset + kChanBlockSize == 97, "dual-frequency record is 97 bytes");
static_assert(kChanDualP1BlockOffset + kChanBlockSize == kChanDualL2BlockOffset, "P1 then L2");

// Channel limits per epoch: 12 for receiver types 1 to 3, 24 for GLONASS receivers.
constexpr int kMaxChannelsGps = 12;
constexpr int kMaxChannelsGlonass = 24;
// Doppler fields count 0.0001 Hz; some receivers store Hz instead, which shows as every
// value of an epoch below 5.0 once scaled: those epochs are brought back by x 10000.
constexpr double kDopplerUnit = 0.0001;
constexpr double kDopplerSmall = 5.0;
constexpr double kDopplerRescale = 10000.0;
// GLONASS ranges of GLONASS receivers carry the whole GPS-UTC seconds: a range longer than
// 10 s holds (int)(range + 0.25) s of them.
constexpr double kGlonassOffsetMin_s = 10.0;
constexpr double kGlonassOffsetRound_s = 0.25;

// Alternative channel record, read with the same record size (the read buffer is cleared
// first, so fields beyond a short record read 0):
//   offset size type  field
//   0      4    u32   L1 tracking time, ms
//   4      1    u8    PRN
//   8      8    f64   time of signal transmission, s of week
//   16     4    i32   Doppler, units of 0.0001
//   23     8    f64   L1 carrier phase, cycles
//   49     1    u8    status bits (1 or 4 reject the record)
constexpr int kAltLockOffset = 0;
constexpr int kAltPrnOffset = 4;
constexpr int kAltTransmitOffset = 8;
constexpr int kAltDopplerOffset = 16;
constexpr int kAltPhaseOffset = 23;
constexpr int kAltStatusOffset = 49;

// Bit values of the warning and status bytes.
constexpr uint8_t kWarnRestart = 128;
constexpr uint8_t kWarnL1Phase = 4;
constexpr uint8_t kWarnCodePhase = 8;
constexpr uint8_t kWarnIntegration = 16;
constexpr uint8_t kAltStatusRejectMask = 1 | 4;

// The buffer handed to DecodeChannel / DecodeChannelAlt holds at least this many bytes
// (the widest record), zero beyond the record read.
constexpr int kChannelBufferSize = 97;
constexpr int kReadBufferSize = 1024;

// Every epoch goes through the judge of epoch_scanner.h: an epoch is written only when its
// header is plausible (a printable site name, a time in the week that continues the
// recording, with the week rollover and restarts of logging, a channel count from 0 to the
// receiver's limit) and, where the header after it is not where the count says, its
// channel records look like records. Otherwise the epoch is dropped with a message and the
// file is scanned for the next epoch that passes the same checks and is confirmed by its
// neighbours; the scan reports what it skipped.
// 0 when the file was read to its end or the host aborted; 3 when it ended inside an epoch
// (or inside the scan for the next epoch).
[[nodiscard]] int32_t ReadEpochs(ConversionJob& job);
// Standard layout: 0 accepted, 1 rejected (PRN 0, PRN 72 or more, PRN above 32 without a
// GLONASS receiver, or a slot outside the epoch). record: kChannelBufferSize bytes.
[[nodiscard]] int32_t DecodeChannel(ConversionJob& job, gpb_epoch_type& epoch,
                                    const uint8_t* record, double dt, int32_t slot,
                                    int32_t* leapSecondsWritten);
// Alternative layout: 0 accepted, 1 rejected. record: kChannelBufferSize bytes.
[[nodiscard]] int32_t DecodeChannelAlt(ConversionJob& job, gpb_epoch_type& epoch,
                                       const uint8_t* record, int32_t slot);
// Interval between two receiver times (s), folded across a week boundary in either
// direction; 0 when previous is 0, negative or either time is not finite.
[[nodiscard]] double TimeStep(double t, double previous);
// WGS84 geodetic latitude, longitude (rad) and height (m) of an ECEF position (m). The
// polar axis and non-finite input give all zeros.
void EcefToGeodetic(double x, double y, double z, double* lat_rad, double* lon_rad, double* h_m);

}  // namespace talverin
