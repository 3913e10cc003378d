// Receiver type from the model text of the observation file header (byte 11 on), by the
// ordered model table of prefixes, and the report of what was found. The type fixes the
// channel record size: 35 bytes (types 1 and 4), 97 (type 2), 66 (type 3). Detection
// only reads the 90 header bytes; it does not look at the epochs.
#pragma once

#include <cstdint>

namespace talverin {

class ConversionJob;

constexpr int kObservationHeaderSize = 90;  // bytes of the observation file header
constexpr int kVersionTagSize = 8;          // "version:" at byte 0 of that header
constexpr int kModelTextOffset = 11;        // receiver model text in that header
constexpr int kModelTextShown = 9;          // characters of it named in the failure message

// Channel record size of a receiver type 1..4; 0 for any other type.
int32_t ChannelRecordSize(int32_t receiverType);
// The type 1..4, or -1 without a version tag or a matching model row.
[[nodiscard]] int32_t DetectReceiver(const uint8_t header[kObservationHeaderSize]);
// 0 for a type 1..4 (record size set, detection message sent), -1 otherwise.
// Cuts the model text in header after its ninth character for the failure message, which
// also becomes the module error text so that the host can ask for the reason.
[[nodiscard]] int32_t ReportReceiver(ConversionJob& job, int32_t type,
                                     uint8_t header[kObservationHeaderSize]);

}  // namespace talverin
