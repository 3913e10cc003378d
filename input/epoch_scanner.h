// The judge of the epochs of an observation file (B): reads the file through a look-ahead
// window from its first epoch header on and hands out, one step at a time, each epoch that
// can be told from damage (its header and raw channel-record bytes), each header it
// refuses (offset and reason), and where the scan that follows a refusal resumes. The
// rules (plausible header, time that continues the recording, sound records where the
// count is doubtful, neighbours confirming a resynchronised epoch) are those of the module's
// epoch loop, which reads through this unit, as do the tools. Layouts: observation_reader.h.
// It decodes no channel record, sends no message and does not read the host's abort.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "input/event_marks.h"

namespace talverin {

// The size of a file's epochs and what their channel records must look like.
struct EpochShape {
  int32_t channelLimit;  // kMaxChannelsGps or kMaxChannelsGlonass
  int32_t recordSize;    // bytes of one channel record, 1 to kChannelBufferSize
  bool alternative;      // records in the alternative layout
  int32_t receiverType;  // 1-4, host_records.h
};

// Bytes scanned for the next epoch between two kScanning steps.
constexpr int64_t kScanReportInterval = 1 << 20;

enum class ScanStep {
  kEpoch,      // an epoch: bytes holds its header and `count` channel records
  kRejected,   // the header at offset is no epoch (reason); the next step scans on
  kScanning,   // the scan after a refusal passed another kScanReportInterval bytes
  kResumed,    // the scan found an epoch at offset; the next step judges it as usual
  kScanEnded,  // the file ended during the scan
  kCut,        // the file ends inside the epoch at offset
  kEnd,        // fewer bytes than a header from offset on: the normal end
};

struct ScanItem {
  ScanStep step = ScanStep::kEnd;
  int64_t offset = 0;              // file offset of the header; kScanning: of the scan
  int64_t skipped = 0;             // kResumed: bytes from the refused header's first byte to offset
  double time_s = 0.0;             // receiver time of the header as stored, s of week
  int32_t count = 0;               // channel count byte as stored (int8)
  bool tooMany = false;            // kRejected: the count is above the limit
  char reason[96] = "";            // kRejected: why the header is no epoch
  const uint8_t* bytes = nullptr;  // kEpoch: valid until the next step
  size_t length = 0;               // kEpoch: kEpochHeaderSize + count * recordSize
};

class EpochScanner {
 public:
  // Reads file from its current position, the first epoch header. Owns only its read-ahead
  // buffer; the file stays the caller's and must outlive the scanner.
  EpochScanner(FILE* file, const EpochShape& shape);
  ~EpochScanner();
  EpochScanner(const EpochScanner&) = delete;
  EpochScanner& operator=(const EpochScanner&) = delete;

  // False when the read-ahead buffer could not be allocated (Next then ends at once).
  bool ready() const { return state_ != nullptr; }
  // The next step. After kScanEnded and kCut every later step is kEnd.
  [[nodiscard]] const ScanItem& Next();

 private:
  struct State;
  void AcceptPending();      // the epoch handed out last becomes the last one accepted
  const ScanItem& ScanOn();  // the scan after a refusal, to its next step
  State* state_ = nullptr;
  uint8_t* buffer_ = nullptr;  // the read-ahead window's bytes
};

}  // namespace talverin
