// GPB observation file writer, both variants: the "$NEWGPB" file (512-byte header,
// 84-byte epoch records, 28-byte primary and extended satellite records) and the
// version 1.02 file (202-byte header, 68-byte epoch and 44-byte satellite records).
// Little-endian, packed; every file byte is built from the named offsets of gpb_format.h.
// Values that become integers (milliseconds, lock times, signal-to-noise) are limited to
// their field's range before conversion; NaN, and a non-finite time, give 0.
// Whole epochs are collected in the writer's own buffer and written in one call; the first
// write that fails is final (nothing after it counts), and the file is cut back to its
// last whole epoch, so the file always holds exactly epochsWritten() epochs.
// It writes; gpb_reader.h reads the files back.
#pragma once

#include <cstdint>
#include <cstdio>

#include "base/gnss_constants.h"
#include "output/gpb_format.h"
#include "output/gpb_types.h"

namespace talverin {

class GpbFile {
 public:
  GpbFile();
  ~GpbFile();
  GpbFile(const GpbFile&) = delete;
  GpbFile& operator=(const GpbFile&) = delete;

  // 0 success, 1 failure (error text set). A file that is still open is never replaced.
  [[nodiscard]] int32_t Create(int32_t newVariant, const char* fileName, int32_t dataType,
                               double value, int32_t count, int32_t bufferSize);
  // Number of items changed (0..3), or -1 on error. Each argument may be null / 0.
  int32_t UpdateHeaderInfo(const char* description, const uint32_t* dataType, int32_t updateStamp,
                           const double* value);
  // 0 success (the epoch is in the file or in the writer's buffer), 1 failure (error text
  // set). After a failed write every further epoch fails with the same text.
  [[nodiscard]] int32_t WriteEpoch(const gpb_epoch_type& epoch);
  // Writes the buffered epochs and closes; 0 success, 1 when any write or the close failed
  // (error text set). After a failure the file is cut back to the end of its last whole
  // epoch and epochsWritten() is the number of epochs it holds. Returns the object to
  // state 0 either way.
  int32_t Close();

  const char* errorText() const { return errorText_; }
  int32_t state() const { return state_; }
  // Epochs accepted so far; after Close, the epochs in the file.
  int32_t epochsWritten() const { return epochCount_; }
  int32_t lastRecordLength() const { return lastRecordLength_; }
  int32_t variant() const { return variant_; }
  const uint16_t* stamp() const { return stamp_; }

 private:
  void TakeStamp();
  void FillNewHeader();
  void FillHeader102(double value, int32_t count);
  [[nodiscard]] int32_t WriteNewEpoch(const gpb_epoch_type& epoch);
  [[nodiscard]] int32_t Write102Epoch(const gpb_epoch_type& epoch);
  // Appends one whole epoch to the buffer, writing the buffer first when it is full.
  [[nodiscard]] int32_t AddEpoch(const uint8_t* bytes, size_t size);
  // Writes the buffered epochs; false (and the sticky failure) when the write fails.
  [[nodiscard]] bool WritePending();
  void Fail(const char* text);
  // After a failure: cuts the closed file back to its last whole epoch.
  void CutToCommitted();
  void ReleaseStream();

  static constexpr int32_t kModeWrite = 2;
  static constexpr int32_t kModeReadWrite = 3;

  int32_t state_ = 0;               // -1 failed, 0 no file, 1 open
  char errorText_[kTextSize] = "";  // empty after a success
  uint16_t stamp_[kGpbStampWords] = {};
  int32_t variant_ = 0;  // 0 version 1.02, 1 new
  uint8_t header102_[gpb102::kHeaderSize] = {};
  uint8_t headerNew_[newgpb::kHeaderSize] = {};
  int32_t dataType_ = 0;
  char description_[newgpb::kDescriptionSize] = "";
  char fileName_[kPathSize] = "";
  int32_t openMode_ = 0;
  FILE* file_ = nullptr;
  int32_t epochCount_ = 0;
  int32_t lastRecordLength_ = 0;  // bytes of the last header or epoch written
  bool writeFailed_ = false;      // a write of this file failed: sticky until Close
  // Whole epochs not yet written (owned, pendingCapacity_ bytes), and what is known to be
  // in the file: the header and every epoch written before.
  uint8_t* pending_ = nullptr;
  size_t pendingCapacity_ = 0;
  size_t pendingBytes_ = 0;
  int32_t pendingEpochs_ = 0;
  size_t* pendingEnds_ = nullptr;  // owned: where each buffered epoch ends in pending_
  int64_t committedBytes_ = 0;
  int32_t committedEpochs_ = 0;
  // Per-epoch scratch, fixed instead of allocated per epoch: a whole new-variant epoch (its
  // record, then each satellite's primary and extended records) goes out in one write.
  uint8_t epochNew_[newgpb::kEpochSize + 2 * kGpbMaxSats * newgpb::kSatSize] = {};
  uint8_t epoch102_[gpb102::kEpochSize + kGpbMaxSats * gpb102::kSatSize] = {};
};

}  // namespace talverin
