#include "orbit/ephemeris_store.h"

#include <cmath>
#include <cstdlib>
#include <new>

#include "time/gps_time.h"

namespace talverin {
namespace {

constexpr double kMinRootA_sqrtm = 4500.0;      // m^1/2, bounds accepted
constexpr double kMaxRootA_sqrtm = 6000.0;      // m^1/2
constexpr int64_t kKeyBeforeToe_s = 3600;       // keys stand one hour before toe
constexpr int64_t kWeek_s = static_cast<int64_t>(kSecondsPerWeek);
constexpr int64_t kCacheReach_s = 4000;         // a cached node answers within this distance
constexpr int64_t kSelectionReach_s = 14400;    // no node farther than 4 h is selected
constexpr int64_t kWeekWrapAt_s = 450000;       // week unknown: beyond this, fold one week
// Seconds of week beyond this magnitude cannot lie within 4 h of any key (keys stay below
// 1.4e15 s) and would lose integer exactness in a double; such times find nothing.
constexpr double kMaxLookupTime_s = 4.0e15;

bool AllFieldsFinite(const GpsEph& r) {
  const double fields[] = {r.tgd, r.af2,  r.af1,   r.af0, r.deltaN, r.m0,     r.e,
                           r.rootA, r.cic, r.crc,  r.cis, r.crs,    r.cuc,    r.cus,
                           r.omega0, r.omega, r.i0, r.omegaDot, r.iDot};
  for (double value : fields) {
    if (!std::isfinite(value)) return false;
  }
  return true;
}

bool ValidGpsPrn(int32_t prn) { return prn >= 1 && prn <= kMaxGpsPrn; }

}  // namespace

EphemerisStore::EphemerisStore() = default;

EphemerisStore::~EphemerisStore() { ClearEphemerides(); }

void EphemerisStore::ClearEphemerides() {
  EphNode* node = gpsList;
  while (node != nullptr) {
    EphNode* next = node->next;
    delete node;
    node = next;
  }
  gpsList = nullptr;
  gpsLast_ = nullptr;
  gpsCount = 0;
  for (EphNode*& cached : gpsCache) cached = nullptr;
  lastSystem = 0;
  clockState = 0;
  lightTimePasses = 0;
}

int32_t EphemerisStore::AddGpsEph(const GpsEph& record) {
  if (!ValidGpsPrn(record.prn)) return 1;
  // Written so that a NaN rootA fails too.
  if (!(record.rootA >= kMinRootA_sqrtm && record.rootA <= kMaxRootA_sqrtm)) return 1;
  // One corrupt record would otherwise give NaN or hyperbolic orbits for hours.
  if (!AllFieldsFinite(record)) return 1;
  if (!(record.e >= 0.0 && record.e < 1.0)) return 1;

  const int64_t sowKey = int64_t{record.toe} - kKeyBeforeToe_s;
  // Any int32 week and toe give a finite value below 1.4e15 s: the truncation is safe.
  const int64_t fullKey = static_cast<int64_t>(
      GpsFullSeconds(static_cast<double>(sowKey), record.week, record.toe));

  for (const EphNode* node = gpsList; node != nullptr; node = node->next) {
    if (node->prn == record.prn && node->fullKey == fullKey) return -1;
  }

  EphNode* node = new (std::nothrow) EphNode;
  if (node == nullptr) return 1;
  node->prn = record.prn;
  node->sowKey = sowKey;
  node->fullKey = fullKey;
  node->next = nullptr;
  node->record = record;
  if (gpsLast_ == nullptr) {
    gpsList = node;
  } else {
    gpsLast_->next = node;
  }
  gpsLast_ = node;
  ++gpsCount;
  gpsCache[record.prn] = nullptr;
  return 0;
}

const GpsEph* EphemerisStore::FindGpsEph(int32_t prn, double t, int32_t week) {
  if (!ValidGpsPrn(prn)) return nullptr;
  if (!(std::fabs(t) < kMaxLookupTime_s)) return nullptr;  // NaN and infinities as well

  const bool weekKnown = week >= 0;
  int64_t requestFull_s = 0;
  if (weekKnown) {
    requestFull_s = static_cast<int64_t>(static_cast<double>(FullGpsWeek(week) * kWeek_s) + t);
  }
  // Signed distance of the request from a node's key, s, truncated toward zero.
  auto distance = [&](const EphNode* node) -> int64_t {
    if (weekKnown) return requestFull_s - node->fullKey;
    return static_cast<int64_t>(t - static_cast<double>(node->sowKey));
  };

  const EphNode* cached = gpsCache[prn];
  if (cached != nullptr && std::llabs(distance(cached)) < kCacheReach_s) return &cached->record;

  EphNode* chosen = nullptr;
  int64_t best_s = kSelectionReach_s;
  for (EphNode* node = gpsList; node != nullptr; node = node->next) {
    if (node->prn != prn) continue;
    int64_t d_s = distance(node);
    if (!weekKnown) {
      // Without a week, a key near the other end of the week is the neighbouring week's.
      if (d_s < -kWeekWrapAt_s) {
        d_s += kWeek_s;
      } else if (d_s > kWeekWrapAt_s) {
        d_s -= kWeek_s;
      }
    }
    // Keys and truncated distances are whole seconds, so |d| is the distance itself;
    // strictly below keeps the node added first on a tie.
    const int64_t absolute_s = std::llabs(d_s);
    if (absolute_s < best_s) {
      best_s = absolute_s;
      chosen = node;
    }
  }
  if (chosen == nullptr) return nullptr;
  gpsCache[prn] = chosen;
  return &chosen->record;
}

}  // namespace talverin
