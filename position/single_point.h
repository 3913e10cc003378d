// Single-point positioning engine of one conversion: owns the ephemeris store, and
// recomputes each epoch's receiver position (ECEF m, reported as WGS84 latitude and
// longitude in degrees and height in m) and receiver clock offset (m) from the epoch's
// C/A pseudoranges and the broadcast GPS ephemerides, with a troposphere model, an
// iterated least-squares adjustment, residual and reliability tests and a two-sample
// receiver clock model. No ionosphere model; GLONASS satellites are not used.
#pragma once

#include <cstdint>

#include "base/gnss_constants.h"
#include "base/host_callbacks.h"
#include "orbit/ephemeris_store.h"
#include "output/gpb_types.h"

namespace talverin {

class SinglePoint {
 public:
  SinglePoint();
  ~SinglePoint();
  SinglePoint(const SinglePoint&) = delete;
  SinglePoint& operator=(const SinglePoint&) = delete;

  void Reset();
  void SetMessageFunction(MessageCallback callback) { messageFunction_ = callback; }
  // flags bit 0: write the solved position; bit 1: write clock and corrected time.
  // 0 solved, 1 no solution for this epoch.
  int32_t ProcessEpoch(gpb_epoch_type* epoch, int32_t flags);

  EphemerisStore& store() { return store_; }
  const char* errorText() const { return errorText_; }

 private:
  char errorText_[kTextSize] = "";
  EphemerisStore store_;
  MessageCallback messageFunction_ = nullptr;
};

}  // namespace talverin
