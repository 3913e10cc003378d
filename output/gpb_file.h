// GPB observation file writer, both variants: the "$NEWGPB" file (512-byte header,
// 84-byte epoch records, 28-byte primary and extended satellite records) and the
// version 1.02 file (202-byte header, 68-byte epoch and 44-byte satellite records).
// Little-endian, packed; every file byte is built from named offsets (tables below).
// It writes; gpb_reader.h reads the same files back.
#pragma once

#include <cstdint>
#include <cstdio>

#include "base/gnss_constants.h"
#include "output/gpb_types.h"

namespace talverin {

class GpbFile {
 public:
  GpbFile();
  ~GpbFile();
  GpbFile(const GpbFile&) = delete;
  GpbFile& operator=(const GpbFile&) = delete;

  // 0 success, 1 failure (error text set).
  [[nodiscard]] int32_t Create(int32_t newVariant, const char* fileName, int32_t dataType,
                               double value, int32_t count, int32_t bufferSize);
  // Number of items changed (0..3), or -1 on error. Each argument may be null / 0.
  int32_t UpdateHeaderInfo(const char* description, const uint32_t* dataType,
                           int32_t updateStamp, const double* value);
  // 0 success, 1 failure (error text set).
  [[nodiscard]] int32_t WriteEpoch(const gpb_epoch_type& epoch);
  // Flushes and closes; 0 success, 1 when the final flush or close failed (error text set).
  int32_t Close();

  const char* errorText() const { return errorText_; }
  int32_t state() const { return state_; }
  int32_t epochsWritten() const { return epochCount_; }

 private:
  // Implementation fields are owned by gpb_file.cpp.
  int32_t state_ = 0;
  char errorText_[kTextSize] = "";
  int32_t epochCount_ = 0;
  FILE* file_ = nullptr;
};

}  // namespace talverin
