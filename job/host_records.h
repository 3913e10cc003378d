// The records exchanged with the host, byte for byte: ConvertRequest (2672 bytes),
// HostCallbacks (272 bytes) and ConvertOptions (52 bytes, 13 signed 32-bit words).
// Little-endian, 32-bit words. On 64-bit builds the two callback pointers of
// HostCallbacks are 8 bytes each, at offsets 8 and 16, and the record stays 272 bytes
// (its unread tail shrinks to 248 bytes); the progress callback takes two 32-bit integers
// on every build. Every offset is pinned by a static_assert below.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/gnss_constants.h"
#include "base/host_callbacks.h"

namespace talverin {

// Receiver types of ConvertOptions::ReceiverType (0 = detect from the file header).
constexpr int32_t kReceiverDetect = 0;
constexpr int32_t kReceiverCa = 1;          // C/A code receiver, 35-byte channel records
constexpr int32_t kReceiverDual = 2;        // dual frequency receiver, 97 bytes
constexpr int32_t kReceiverL2Codeless = 3;  // L2-codeless receiver, 66 bytes
constexpr int32_t kReceiverGlonass = 4;     // GPS+GLONASS receiver, 35 bytes

struct ConvertOptions {
  int32_t ReceiverType;             // word 0, default 0
  int32_t ForceMoving;              // word 1, default 0
  int32_t StationMarkOption;        // word 2, default 0
  int32_t RecomputePosition;        // word 3, default 1
  int32_t AltChannelLayout;         // word 4, default 0
  int32_t DropL2PhaseWithoutRange;  // word 5, default 0
  int32_t ReportQualityWarnings;    // word 6, default 0
  int32_t GpsUtcLeapSeconds;        // word 7, default 0
  int32_t Reserved8;                // word 8, default 0
  int32_t UseEventFile;             // word 9, default 1
  int32_t Reserved10;               // word 10, default 0
  int32_t StationTimeLimit;         // word 11, default 180
  int32_t GpbLayout;                // word 12, default 1 (0 = version 1.02 file)
};

constexpr uint32_t kConvertRequestSize = 2672;
constexpr uint32_t kHostCallbacksSize = 272;
constexpr uint32_t kConvertOptionsSize = 52;

struct ConvertRequest {
  uint32_t size;               // 0: must be 2672
  char inputPath[kPathSize];   // 4
  char outputPath[kPathSize];  // 260
  uint32_t optionsSize;        // 516: must be 52
  ConvertOptions options;      // 520
  uint8_t hostArea[1996];      // 572: not read or written
  uint32_t EpochsWritten;      // 2568
  uint32_t EphemeridesRead;    // 2572
  uint32_t StationsWritten;    // 2576
  uint32_t result;             // 2580: always 0
  uint8_t hostTail[88];        // 2584: not read or written
};

struct HostCallbacks {
  uint32_t size;                      // 0: must be 272
  uint32_t unused;                    // 4
  MessageCallback messageCallback;    // 8
  ProgressCallback progressCallback;  // 12 (32-bit) or 16 (64-bit)
  uint8_t hostTail[kHostCallbacksSize - 8 - 2 * sizeof(void*)];
};

static_assert(sizeof(ConvertOptions) == kConvertOptionsSize, "ConvertOptions is 52 bytes");
static_assert(offsetof(ConvertOptions, ReceiverType) == 0, "");
static_assert(offsetof(ConvertOptions, ForceMoving) == 4, "");
static_assert(offsetof(ConvertOptions, StationMarkOption) == 8, "");
static_assert(offsetof(ConvertOptions, RecomputePosition) == 12, "");
static_assert(offsetof(ConvertOptions, AltChannelLayout) == 16, "");
static_assert(offsetof(ConvertOptions, DropL2PhaseWithoutRange) == 20, "");
static_assert(offsetof(ConvertOptions, ReportQualityWarnings) == 24, "");
static_assert(offsetof(ConvertOptions, GpsUtcLeapSeconds) == 28, "");
static_assert(offsetof(ConvertOptions, Reserved8) == 32, "");
static_assert(offsetof(ConvertOptions, UseEventFile) == 36, "");
static_assert(offsetof(ConvertOptions, Reserved10) == 40, "");
static_assert(offsetof(ConvertOptions, StationTimeLimit) == 44, "");
static_assert(offsetof(ConvertOptions, GpbLayout) == 48, "");

static_assert(sizeof(ConvertRequest) == kConvertRequestSize, "ConvertRequest is 2672 bytes");
static_assert(offsetof(ConvertRequest, size) == 0, "");
static_assert(offsetof(ConvertRequest, inputPath) == 4, "");
static_assert(offsetof(ConvertRequest, outputPath) == 260, "");
static_assert(offsetof(ConvertRequest, optionsSize) == 516, "");
static_assert(offsetof(ConvertRequest, options) == 520, "");
static_assert(offsetof(ConvertRequest, hostArea) == 572, "");
static_assert(offsetof(ConvertRequest, EpochsWritten) == 2568, "");
static_assert(offsetof(ConvertRequest, EphemeridesRead) == 2572, "");
static_assert(offsetof(ConvertRequest, StationsWritten) == 2576, "");
static_assert(offsetof(ConvertRequest, result) == 2580, "");
static_assert(offsetof(ConvertRequest, hostTail) == 2584, "");

static_assert(sizeof(HostCallbacks) == kHostCallbacksSize, "HostCallbacks is 272 bytes");
static_assert(offsetof(HostCallbacks, size) == 0, "");
static_assert(offsetof(HostCallbacks, messageCallback) == 8, "");
static_assert(offsetof(HostCallbacks, progressCallback) == 8 + sizeof(void*),
              "12 on 32-bit builds, 16 on 64-bit builds");
static_assert(offsetof(HostCallbacks, hostTail) == 8 + 2 * sizeof(void*), "");

}  // namespace talverin
