// Reads either GPB variant back (header, every epoch, every satellite record) and verifies
// the new file's length word, bytes per satellite and checksum, and the record lengths of
// the version 1.02 file. A damaged or cut file ends reading with a text naming the epoch
// index and byte offset; nothing in the file can make it read out of bounds or loop.
// Not exported by the module: the command-line host's `dump` and the tests use it.
#pragma once

#include <cstdint>
#include <cstdio>

#include "base/gnss_constants.h"
#include "output/gpb_types.h"

namespace talverin {

struct GpbHeaderInfo {
  int32_t variant;        // 1 new "$NEWGPB" file, 0 version 1.02 file
  uint32_t headerLength;  // 512 or 202
  uint32_t dataType;      // 2 from this system
  uint16_t stamp[6];      // month, day, years since 1900, hour, minute, second
  char description[32];   // new file only
  float version;          // 1.02 file only
  uint32_t count;         // 1.02 file only (24)
  float value;            // 1.02 file only (1.0)
};

// One epoch as read from the file, with the file-level fields that gpb_epoch_type lacks.
struct GpbReadEpoch {
  gpb_epoch_type epoch;           // sflags rebuilt from the file's flag bytes
  uint16_t storedLength;          // new file: length word; 1.02 file: 68
  uint16_t storedChecksum;        // new file only
  uint16_t computedChecksum;      // new file only
  uint16_t bytesPerSat;           // new file: 28 or 56; 1.02 file: 44
  int32_t milliseconds;           // new file: offset 64
  uint8_t satFlags[kGpbMaxSats];  // new file: primary record flag byte
  uint8_t extFlags[kGpbMaxSats];  // new file: extended record flag byte (0 when absent)
  uint8_t glonass[kGpbMaxSats];   // new file: primary record byte 1
  uint8_t lockByte[kGpbMaxSats];  // 1.02 file: lock byte (whole seconds or 255)
  int64_t fileOffset;             // byte offset of the epoch record in the file
};

class GpbReader {
 public:
  GpbReader();
  ~GpbReader();
  GpbReader(const GpbReader&) = delete;
  GpbReader& operator=(const GpbReader&) = delete;

  // 0 success (header read), 1 failure (error text set).
  [[nodiscard]] int32_t Open(const char* path);
  // 1 an epoch was read, 0 clean end of file, -1 damaged or cut record (error text set).
  [[nodiscard]] int32_t ReadEpoch(GpbReadEpoch* out);
  void Close();

  const GpbHeaderInfo& header() const { return header_; }
  const char* errorText() const { return errorText_; }
  int32_t epochsRead() const { return epochIndex_; }

 private:
  [[nodiscard]] int32_t ReadNewEpoch(GpbReadEpoch* out);
  [[nodiscard]] int32_t Read102Epoch(GpbReadEpoch* out);
  // Reads exactly size bytes: 1 read; 0 when the file ends before the first byte and
  // endAllowed; else -1 with the text naming what was cut.
  [[nodiscard]] int32_t ReadRecord(uint8_t* bytes, size_t size, const char* what, bool endAllowed);
  int32_t Fail();  // marks the reader failed; returns -1

  FILE* file_ = nullptr;
  GpbHeaderInfo header_{};
  char errorText_[kTextSize] = "";
  char path_[kPathSize] = "";
  int32_t epochIndex_ = 0;  // epochs read so far: the index of the next one
  int64_t offset_ = 0;      // file offset of the next record
  bool failed_ = false;     // sticky: a damaged record ends reading
};

}  // namespace talverin
