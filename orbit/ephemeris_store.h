// Store of the broadcast GPS ephemerides of one conversion, and the satellite clock
// (s) and Earth-fixed position (m) and velocity (m/s) at transmission computed from
// them after IS-GPS-200 20.3.3.4.3. Selection: the record whose instant one hour before
// toe is nearest the requested time, within 4 hours, with a per-PRN cache.
// GLONASS ephemerides are not stored.
#pragma once

#include <cstdint>

#include "base/gnss_constants.h"
#include "orbit/gps_eph.h"

namespace talverin {

struct EphNode {
  int32_t prn;
  int32_t sowKey;     // toe - 3600, s of week (negative when toe < 3600)
  int32_t fullKey;    // full GPS seconds of toe - 3600, week by the half-week rule
  EphNode* next;
  GpsEph record;
};

// Euclidean distance of two 3-vectors (m).
double VectorDistance(const double a[3], const double b[3]);

class EphemerisStore {
 public:
  EphemerisStore();
  ~EphemerisStore();
  EphemerisStore(const EphemerisStore&) = delete;
  EphemerisStore& operator=(const EphemerisStore&) = delete;

  // 0 added, 1 rejected, -1 duplicate of a stored record.
  int32_t AddGpsEph(const GpsEph& record);
  // week: -1 when unknown (every caller in this system). Null when none applies.
  const GpsEph* FindGpsEph(int32_t prn, double t, int32_t week = -1);
  void ClearEphemerides();

  // 0 success, 1 failure. clock: s, subtracted from satellite time to give GPS time.
  int32_t GpsSatClock(int32_t prn, double t, int32_t week, double* clock);
  // 0 success, 1 failure. t: reception time (s of week); range: m, first light-time guess.
  int32_t GpsSatPosition(int32_t prn, double t, int32_t week, int32_t clockApplied,
                         double range, const double receiver[3], double position[3],
                         double velocity[3]);
  int32_t SatClock(int32_t prn, double t, int32_t week, double* clock);
  int32_t SatClock(int32_t prn, double t, double* clock) { return SatClock(prn, t, -1, clock); }
  int32_t SatPosition(int32_t prn, double t, int32_t week, int32_t clockApplied, double range,
                      const double receiver[3], double position[3], double velocity[3]);
  int32_t SatPosition(int32_t prn, double t, int32_t clockApplied, double range,
                      const double receiver[3], double position[3], double velocity[3]) {
    return SatPosition(prn, t, -1, clockApplied, range, receiver, position, velocity);
  }

  int32_t gpsCount = 0;              // GPS records added
  EphNode* gpsList = nullptr;        // nodes in the order added
  EphNode* gpsCache[kMaxPrn] = {};   // per PRN, the node last selected
  int32_t lastSystem = 0;            // 1 after every successful SatPosition
  int32_t clockState = 0;            // 0 after every successful SatClock

 private:
  EphNode* gpsLast_ = nullptr;       // tail of gpsList, for appending
};

}  // namespace talverin
