#include "orbit/ephemeris_store.h"

#include <cmath>
#include <cstdlib>
#include <initializer_list>
#include <new>

#include "time/gps_time.h"

namespace talverin {
namespace {

constexpr double kMinRootA_sqrtm = 4500.0;  // m^1/2, bounds accepted
constexpr double kMaxRootA_sqrtm = 6000.0;  // m^1/2
constexpr int64_t kKeyBeforeToe_s = 3600;   // keys stand one hour before toe
constexpr int64_t kWeek_s = static_cast<int64_t>(kSecondsPerWeek);
constexpr int64_t kCacheReach_s = 4000;       // a cached node answers within this distance
constexpr int64_t kSelectionReach_s = 14400;  // no node farther than 4 h is selected
constexpr int64_t kWeekWrapAt_s = 450000;     // week unknown: beyond this, fold one week
// Seconds of week beyond this magnitude cannot lie within 4 h of any key (keys stay below
// 1.4e15 s) and would lose integer exactness in a double; such times find nothing.
constexpr double kMaxLookupTime_s = 4.0e15;

bool ValidGpsPrn(int32_t prn) { return prn >= 1 && prn <= kMaxGpsPrn; }

// --- Insert-only AVL trees threaded through the nodes --------------------------------
// Records are never removed one by one, so a tree needs insertion and search only. The
// height of a tree of n nodes stays below 1.45 log2(n + 2): the recursion is shallow.

using Links = EphTreeLinks EphNode::*;

int32_t Height(const EphNode* node, Links links) {
  return node != nullptr ? (node->*links).height : 0;
}

void UpdateHeight(EphNode* node, Links links) {
  const int32_t lower = Height((node->*links).child[0], links);
  const int32_t higher = Height((node->*links).child[1], links);
  (node->*links).height = 1 + (lower > higher ? lower : higher);
}

// Lifts the child on the side opposite to `side` above node; returns the new subtree root.
EphNode* Rotate(EphNode* node, int side, Links links) {
  EphNode* up = (node->*links).child[1 - side];
  (node->*links).child[1 - side] = (up->*links).child[side];
  (up->*links).child[side] = node;
  UpdateHeight(node, links);
  UpdateHeight(up, links);
  return up;
}

EphNode* Rebalance(EphNode* node, Links links) {
  UpdateHeight(node, links);
  EphNode* lower = (node->*links).child[0];
  EphNode* higher = (node->*links).child[1];
  const int32_t balance = Height(lower, links) - Height(higher, links);
  if (balance > 1) {
    if (Height((lower->*links).child[0], links) < Height((lower->*links).child[1], links)) {
      (node->*links).child[0] = Rotate(lower, 0, links);
    }
    return Rotate(node, 1, links);
  }
  if (balance < -1) {
    if (Height((higher->*links).child[1], links) < Height((higher->*links).child[0], links)) {
      (node->*links).child[1] = Rotate(higher, 1, links);
    }
    return Rotate(node, 0, links);
  }
  return node;
}

bool SowBefore(const EphNode* a, const EphNode* b) {
  return a->sowKey != b->sowKey ? a->sowKey < b->sowKey : a->order < b->order;
}

bool FullBefore(const EphNode* a, const EphNode* b) { return a->fullKey < b->fullKey; }

EphNode* Insert(EphNode* root, EphNode* node, Links links,
                bool (*before)(const EphNode*, const EphNode*)) {
  if (root == nullptr) {
    node->*links = EphTreeLinks{{nullptr, nullptr}, 1};
    return node;
  }
  const int side = before(root, node) ? 1 : 0;
  (root->*links).child[side] = Insert((root->*links).child[side], node, links, before);
  return Rebalance(root, links);
}

// The first node added among those with the smallest sowKey >= key, or null.
EphNode* FirstSowAtLeast(EphNode* node, int64_t key) {
  EphNode* found = nullptr;
  while (node != nullptr) {
    if (node->sowKey >= key) {
      found = node;
      node = node->bySow.child[0];
    } else {
      node = node->bySow.child[1];
    }
  }
  return found;
}

// The first node added among those with the largest sowKey <= key, or null.
EphNode* FirstSowAtMost(EphNode* root, int64_t key) {
  EphNode* found = nullptr;
  for (EphNode* node = root; node != nullptr;) {
    if (node->sowKey <= key) {
      found = node;
      node = node->bySow.child[1];
    } else {
      node = node->bySow.child[0];
    }
  }
  return found != nullptr ? FirstSowAtLeast(root, found->sowKey) : nullptr;
}

// The node with the largest fullKey <= key (below: false) or the smallest > key (true).
EphNode* NearestFull(EphNode* node, int64_t key, bool above) {
  EphNode* found = nullptr;
  while (node != nullptr) {
    const bool goesAbove = node->fullKey > key;
    if (goesAbove == above) found = node;
    node = node->byFull.child[goesAbove ? 0 : 1];
  }
  return found;
}

const EphNode* FindFull(const EphNode* node, int64_t key) {
  while (node != nullptr && node->fullKey != key) {
    node = node->byFull.child[node->fullKey < key ? 1 : 0];
  }
  return node;
}

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
  for (EphNode*& root : sowRoot_) root = nullptr;
  for (EphNode*& root : fullRoot_) root = nullptr;
  lastSystem = 0;
  clockState = 0;
  lightTimePasses = 0;
}

int32_t EphemerisStore::AddGpsEph(const GpsEph& record) {
  if (!ValidGpsPrn(record.prn)) return 1;
  // Written so that a NaN rootA fails too.
  if (!(record.rootA >= kMinRootA_sqrtm && record.rootA <= kMaxRootA_sqrtm)) return 1;
  // One corrupt record would otherwise give NaN or hyperbolic orbits for hours.
  if (!GpsEphFinite(record)) return 1;
  if (!(record.e >= 0.0 && record.e < 1.0)) return 1;

  const int64_t sowKey = int64_t{record.toe} - kKeyBeforeToe_s;
  // Any int32 week and toe give a finite value below 1.4e15 s: the truncation is safe.
  const int64_t fullKey =
      static_cast<int64_t>(GpsFullSeconds(static_cast<double>(sowKey), record.week, record.toe));

  if (FindFull(fullRoot_[record.prn], fullKey) != nullptr) return -1;

  EphNode* node = new (std::nothrow) EphNode;
  if (node == nullptr) return 1;
  node->prn = record.prn;
  node->sowKey = sowKey;
  node->fullKey = fullKey;
  node->next = nullptr;
  node->record = record;
  node->orbit = GpsOrbitConstantsOf(record);
  node->order = gpsCount;
  sowRoot_[record.prn] = Insert(sowRoot_[record.prn], node, &EphNode::bySow, SowBefore);
  fullRoot_[record.prn] = Insert(fullRoot_[record.prn], node, &EphNode::byFull, FullBefore);
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
  const EphNode* node = FindGpsNode(prn, t, week);
  return node != nullptr ? &node->record : nullptr;
}

const EphNode* EphemerisStore::FindGpsNode(int32_t prn, double t, int32_t week) {
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
  if (cached != nullptr && std::llabs(distance(cached)) < kCacheReach_s) return cached;

  // The nearest keys on either side of the request decide: the distance grows with the
  // key's distance from the request on each side (and, week unknown, from the request one
  // week earlier or later, where keys fold into this week). Two distinct keys per side
  // cover a rounding of the shifted request across a whole second.
  EphNode* chosen = nullptr;
  int64_t best_s = kSelectionReach_s;
  auto consider = [&](EphNode* node) {
    if (node == nullptr) return;
    int64_t d_s = distance(node);
    if (!weekKnown) {
      // Without a week, a key near the other end of the week is the neighbouring week's.
      if (d_s < -kWeekWrapAt_s) {
        d_s += kWeek_s;
      } else if (d_s > kWeekWrapAt_s) {
        d_s -= kWeek_s;
      }
    }
    // Keys and truncated distances are whole seconds, so |d| is the distance itself; on
    // equal distances the node added first wins.
    const int64_t absolute_s = std::llabs(d_s);
    if (absolute_s < best_s ||
        (chosen != nullptr && absolute_s == best_s && node->order < chosen->order)) {
      best_s = absolute_s;
      chosen = node;
    }
  };
  if (weekKnown) {
    consider(NearestFull(fullRoot_[prn], requestFull_s, false));
    consider(NearestFull(fullRoot_[prn], requestFull_s, true));
  } else {
    EphNode* root = sowRoot_[prn];
    for (const double shift_s : {0.0, -kSecondsPerWeek, kSecondsPerWeek}) {
      const int64_t centre_s = static_cast<int64_t>(std::floor(t + shift_s));
      EphNode* below = FirstSowAtMost(root, centre_s);
      EphNode* above = FirstSowAtLeast(root, centre_s + 1);
      consider(below);
      consider(above);
      if (below != nullptr) consider(FirstSowAtMost(root, below->sowKey - 1));
      if (above != nullptr) consider(FirstSowAtLeast(root, above->sowKey + 1));
    }
  }
  if (chosen == nullptr) return nullptr;
  gpsCache[prn] = chosen;
  return chosen;
}

bool GpsEphFinite(const GpsEph& r) {
  const double fields[] = {r.tgd,    r.af2,   r.af1, r.af0,      r.deltaN, r.m0,  r.e,
                           r.rootA,  r.cic,   r.crc, r.cis,      r.crs,    r.cuc, r.cus,
                           r.omega0, r.omega, r.i0,  r.omegaDot, r.iDot};
  for (double value : fields) {
    if (!std::isfinite(value)) return false;
  }
  return true;
}

}  // namespace talverin
