// Store of the broadcast GPS ephemerides of one conversion, and the satellite clock
// (s) and Earth-fixed position (m) and velocity (m/s) at transmission computed from
// them after IS-GPS-200 20.3.3.4.3. Selection: the record whose instant one hour before
// toe is nearest the requested time, within 4 hours (ties: the record added first), with
// a per-PRN cache. Per PRN, two balanced trees (by key of week, by full key) make adding
// and selecting logarithmic in the number of records. GLONASS ephemerides are not stored.
// Keys are 64-bit, so no week or toe overflows them; records with non-finite fields or an
// impossible orbit are refused.
#pragma once

#include <cstdint>

#include "base/gnss_constants.h"
#include "orbit/gps_eph.h"

namespace talverin {

struct EphNode;

// What an orbit and clock computation needs from a record besides its fields, computed once
// when the record is added, by the same expressions the computation would use.
struct GpsOrbitConstants {
  double a_m;             // semi-major axis, rootA^2
  double n_radps;         // corrected mean motion, sqrt(GM / a^3) + deltaN
  double oneMinusE2;      // 1 - e^2
  double sqrtOneMinusE2;  // sqrt(1 - e^2)
};
[[nodiscard]] GpsOrbitConstants GpsOrbitConstantsOf(const GpsEph& record);

// Links of one node in one AVL tree of the store.
struct EphTreeLinks {
  EphNode* child[2];  // lower, higher
  int32_t height;     // 1 for a leaf
};

struct EphNode {
  int32_t prn;
  int64_t sowKey;   // s of week, toe - 3600 (negative when toe < 3600)
  int64_t fullKey;  // full GPS seconds of toe - 3600, week by the half-week rule
  EphNode* next;
  GpsEph record;
  GpsOrbitConstants orbit;  // of record
  int64_t order;            // 0, 1, 2 ... in the order added: breaks ties between equal keys
  EphTreeLinks bySow;       // this PRN's tree ordered by (sowKey, order)
  EphTreeLinks byFull;      // this PRN's tree ordered by fullKey (unique per PRN)
};

// Euclidean distance of two 3-vectors (m).
[[nodiscard]] double VectorDistance(const double a[3], const double b[3]);

class EphemerisStore {
 public:
  EphemerisStore();
  ~EphemerisStore();
  EphemerisStore(const EphemerisStore&) = delete;
  EphemerisStore& operator=(const EphemerisStore&) = delete;

  // 0 added, 1 rejected (PRN outside 1..32, rootA outside [4500, 6000] m^1/2, e outside
  // [0, 1), a non-finite field, no memory), -1 duplicate (same PRN and full key).
  int32_t AddGpsEph(const GpsEph& record);
  // t: s of week; week: -1 when unknown (every caller in this system). Null when none
  // applies or t is not finite. The pointer stays valid until the store is cleared.
  [[nodiscard]] const GpsEph* FindGpsEph(int32_t prn, double t, int32_t week = -1);
  // The same selection, as the node that holds the record and its orbit constants.
  [[nodiscard]] const EphNode* FindGpsNode(int32_t prn, double t, int32_t week = -1);
  void ClearEphemerides();

  // 0 success, 1 failure (no ephemeris, or a result that is not finite: nothing written).
  // clock: s, subtracted from satellite time to give GPS time; relativity in, tgd not.
  [[nodiscard]] int32_t GpsSatClock(int32_t prn, double t, int32_t week, double* clock);
  // 0 success, 1 failure as above. t: reception time (s of week); range: m, first
  // light-time guess; receiver, position: ECEF m; velocity: ECEF m/s. At most 4 passes.
  [[nodiscard]] int32_t GpsSatPosition(int32_t prn, double t, int32_t week, int32_t clockApplied,
                                       double range, const double receiver[3], double position[3],
                                       double velocity[3]);
  // GpsSatClock and GpsSatPosition (clock applied) from a record already selected for t,
  // so that one selection serves both; success sets clockState to 0, lastSystem to 1.
  [[nodiscard]] int32_t NodeClock(const EphNode& node, double t, double* clock);
  [[nodiscard]] int32_t NodePosition(const EphNode& node, double t, double range,
                                     const double receiver[3], double position[3],
                                     double velocity[3]);
  // GpsSatClock; success also sets clockState to 0.
  [[nodiscard]] int32_t SatClock(int32_t prn, double t, int32_t week, double* clock);
  [[nodiscard]] int32_t SatClock(int32_t prn, double t, double* clock) {
    return SatClock(prn, t, -1, clock);
  }
  // GpsSatPosition; success also sets lastSystem to 1.
  [[nodiscard]] int32_t SatPosition(int32_t prn, double t, int32_t week, int32_t clockApplied,
                                    double range, const double receiver[3], double position[3],
                                    double velocity[3]);
  [[nodiscard]] int32_t SatPosition(int32_t prn, double t, int32_t clockApplied, double range,
                                    const double receiver[3], double position[3],
                                    double velocity[3]) {
    return SatPosition(prn, t, -1, clockApplied, range, receiver, position, velocity);
  }

  int32_t gpsCount = 0;             // GPS records added
  EphNode* gpsList = nullptr;       // nodes in the order added
  EphNode* gpsCache[kMaxPrn] = {};  // per PRN, the node last selected
  int32_t lastSystem = 0;           // 1 after every successful SatPosition
  int32_t clockState = 0;           // 0 after every successful SatClock
  int32_t lightTimePasses = 0;      // orbit passes of the last GpsSatPosition (1..4)

 private:
  // The clock and the light-time orbit of one selected record; nothing else is marked.
  [[nodiscard]] static int32_t ClockOf(const EphNode& node, double t, double* clock);
  [[nodiscard]] int32_t PositionOf(const EphNode& node, double t, double range,
                                   const double receiver[3], double position[3],
                                   double velocity[3]);

  EphNode* gpsLast_ = nullptr;       // tail of gpsList, for appending
  EphNode* sowRoot_[kMaxPrn] = {};   // per PRN, root of the tree by (sowKey, order)
  EphNode* fullRoot_[kMaxPrn] = {};  // per PRN, root of the tree by fullKey
};

}  // namespace talverin
