// Ephemeris store: acceptance of records, duplicate keys, key arithmetic checked by hand,
// selection by distance with week known and unknown (hand cases, and the trees against a
// scan of every record), the per-PRN cache and clearing.
#include "orbit/ephemeris_store.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <random>

#include "testkit/reference_models.h"
#include "tests/support/bahr_navigation.h"
#include "tests/support/test_support.h"

namespace talverin {
namespace {

constexpr int64_t kWeek = 604800;

// A real GPS record (PRN 5 of BAHR, 2004-06-10) with the given keys.
GpsEph MakeEph(int32_t prn, int32_t week, int32_t toe) {
  GpsEph r = test_data::BahrEphemeris(5);
  r.prn = prn;
  r.week = week;
  r.toc = r.toe = toe;
  return r;
}

// Root A within 4500..6000 m^1/2, GPS PRNs 1..32, eccentricity in [0, 1), every double
// field finite.
TEST(EphemerisStore, AcceptsOnlyGpsPrnsAndPlausibleOrbits) {
  const double rootA = 5153.7, e = 0.01, nan = std::nan("");
  const struct {
    int32_t prn;
    double rootA, e;
    int32_t result;
  } cases[] = {{5, 4500.0, e, 0},    {5, 6000.0, e, 0},     {5, 4499.9, e, 1}, {5, 6000.1, e, 1},
               {1, rootA, 0.0, 0},   {32, rootA, 0.999, 0}, {0, rootA, e, 1},  {33, rootA, e, 1},
               {5, rootA, -1e-9, 1}, {5, rootA, 1.0, 1}};
  for (const auto& c : cases) {
    EphemerisStore store;
    GpsEph r = MakeEph(c.prn, 250, 352800);
    r.rootA = c.rootA;
    r.e = c.e;
    EXPECT_EQ(c.result, store.AddGpsEph(r)) << c.prn << " " << c.rootA << " " << c.e;
    EXPECT_EQ(c.result == 0 ? 1 : 0, store.gpsCount);
  }
  EphemerisStore store;
  int index = 0;
  for (double GpsEph::*field : test_data::kGpsEphDoubleFields) {
    for (double bad : {nan, double{INFINITY}, -double{INFINITY}}) {
      GpsEph r = MakeEph(5, 250, 352800);
      r.*field = bad;
      EXPECT_EQ(1, store.AddGpsEph(r)) << "field " << index << " value " << bad;
    }
    ++index;
  }
  EXPECT_EQ(store.gpsCount, 0);
  EXPECT_EQ(store.gpsList, nullptr);
}

// Keys stand one hour before toe: toe 3599 is still in the week before; toe 0 counts in the
// next week; full weeks are used as they are; corrupt week and toe give 64-bit keys, no
// overflow.
TEST(EphemerisStore, KeysStandOneHourBeforeToe) {
  const struct {
    int32_t week, toe;
    int64_t sowKey, fullKey;
  } cases[] = {
      {1274, 352800, 349200, 1274 * kWeek + 349200},
      {250, 0, -3600, 1275 * kWeek - 3600},
      {250, 3599, -1, 1274 * kWeek - 1},
      {INT_MAX, INT_MIN, int64_t{INT_MIN} - 3600, int64_t{INT_MAX} * kWeek + INT_MIN - 3600},
      {INT_MIN, INT_MAX, int64_t{INT_MAX} - 3600,
       (int64_t{INT_MIN} + 1024) * kWeek + INT_MAX - 3600}};
  for (const auto& c : cases) {
    EphemerisStore store;
    ASSERT_EQ(0, store.AddGpsEph(MakeEph(9, c.week, c.toe)));
    SCOPED_TRACE(c.toe);
    EXPECT_FIELDS(FIELD_IS(store.gpsList->sowKey, c.sowKey),
                  FIELD_IS(store.gpsList->fullKey, c.fullKey));
  }
}

// The 4 h window around a key (toe - 3600): week unknown, the distance t - key is
// truncated; week known, the full request time is truncated first, so 0.9 s before the key
// counts as one second more. Bad PRNs and times find nothing.
TEST(EphemerisStore, SelectsWithinFourHoursOnlyAndNothingForBadPrnOrTime) {
  EphemerisStore store;
  for (int32_t prn = 1; prn <= 32; ++prn) ASSERT_EQ(0, store.AddGpsEph(MakeEph(prn, 250, 10000)));
  EXPECT_NE(nullptr, store.FindGpsEph(5, 20799.9, 1274));  // full weeks as they are
  EXPECT_EQ(nullptr, store.FindGpsEph(5, 20800.0, 250));
  EXPECT_NE(nullptr, store.FindGpsEph(5, 6400.0 - 14399.9));
  EXPECT_EQ(nullptr, store.FindGpsEph(5, 6400.0 - 14399.9, 250));
  EXPECT_EQ(nullptr, store.FindGpsEph(5, 6400.0 - 14400.0));
  EXPECT_NE(store.FindGpsEph(1, 6400.0), nullptr);
  EXPECT_NE(store.FindGpsEph(32, 6400.0), nullptr);
  for (int32_t prn : {0, 33, -1, 71, 72, INT_MAX, INT_MIN})
    EXPECT_EQ(nullptr, store.FindGpsEph(prn, 6400.0)) << prn;
  for (double t : {std::nan(""), double{INFINITY}, -double{INFINITY}, 1e300, -1e300}) {
    EXPECT_EQ(store.FindGpsEph(5, t), nullptr) << t;
    EXPECT_EQ(store.FindGpsEph(5, t, 250), nullptr) << t;
  }
}

// A record found stays valid while more are added, until the store is cleared; a cleared
// store is empty.
TEST(EphemerisStore, ClearEmptiesTheStoreAndRecordPointersLiveUntilThen) {
  EphemerisStore store;
  ASSERT_EQ(0, store.AddGpsEph(MakeEph(5, 250, 10000)));
  const GpsEph* found = store.FindGpsEph(5, 6400.0);
  for (int32_t k = 1; k <= 100; ++k) ASSERT_EQ(0, store.AddGpsEph(MakeEph(5, 250, 10000 + k)));
  ASSERT_NE(found, nullptr);
  EXPECT_FIELDS(FIELD_IS(found->toe, 10000), FIELD_IS(found->prn, 5),
                FIELD_IS(store.gpsCount, 101));
  store.lastSystem = 1;
  store.clockState = 3;
  store.ClearEphemerides();
  EXPECT_FIELDS(FIELD_IS(store.gpsCount, 0), FIELD_IS(store.lastSystem, 0),
                FIELD_IS(store.clockState, 0));
  EXPECT_EQ(store.gpsList, nullptr);
  EXPECT_EQ(store.FindGpsEph(5, 6400.0), nullptr);
  for (const EphNode* cached : store.gpsCache) EXPECT_EQ(nullptr, cached);
  // Refilled: the same instant of the same PRN is a duplicate and the stored record stays;
  // the same toe in another week or of another PRN is not; toe 0 is the start of the week
  // after, the same instant as toe 604800. The list holds the records in the order added.
  GpsEph first = MakeEph(5, 250, 352800), again = first;
  first.iode = 90;
  again.iode = 91;
  EXPECT_EQ(0, store.AddGpsEph(first));
  EXPECT_EQ(-1, store.AddGpsEph(again));
  EXPECT_EQ(0, store.AddGpsEph(MakeEph(5, 251, 352800)));
  EXPECT_EQ(0, store.AddGpsEph(MakeEph(6, 250, 352800)));
  EXPECT_EQ(0, store.AddGpsEph(MakeEph(7, 250, 0)));
  EXPECT_EQ(-1, store.AddGpsEph(MakeEph(7, 250, 604800)));
  ASSERT_EQ(4, store.gpsCount);
  const EphNode* n = store.gpsList;
  EXPECT_FIELDS(FIELD_IS(n->record.iode, 90), FIELD_IS(n->next->record.week, 251),
                FIELD_IS(n->next->next->prn, 6), FIELD_IS(n->next->next->next->prn, 7));
  EXPECT_EQ(n->next->next->next->next, nullptr);
}

// Few PRNs and toes on a coarse grid near the week's ends: many equal keys, ties,
// duplicates, folds across the week boundary and cache hits (a record of the PRN empties its
// entry; 4000 s from the cached key is past it); the store's trees must select what a scan
// of every record selects.
TEST(EphemerisStore, SelectionMatchesAScanOfEveryRecordInTheOrderAdded) {
  std::mt19937 rng(1274u);
  int found = 0;
  for (int round = 0; round < 40; ++round) {
    EphemerisStore store;
    testing_support::ScanSelection scan;
    for (int step = 0; step < 300; ++step) {
      const int32_t prn = 1 + static_cast<int32_t>(rng() % 3);
      if (rng() % 4 == 0) {
        const int32_t toe = static_cast<int32_t>(rng() % 2 ? rng() % 12 : 324 + rng() % 13) * 1800;
        if (store.AddGpsEph(MakeEph(prn, 250 + static_cast<int32_t>(rng() % 3), toe)) == 0)
          scan.cache[prn] = nullptr;
        continue;
      }
      const double t = (rng() % 2 ? 0.0 : 583200.0) + (rng() % 216) * 200.0 + (rng() % 4) * 0.25;
      const int32_t week = rng() % 4 == 0 ? 250 + static_cast<int32_t>(rng() % 3) : -1;
      const GpsEph* expected = scan.Find(store, prn, t, week);
      EXPECT_EQ(expected, store.FindGpsEph(prn, t, week))
          << "round " << round << " step " << step << " prn " << prn << " t " << t;
      found += expected != nullptr ? 1 : 0;
    }
  }
  EXPECT_GT(found, 2000);  // most lookups select a record
}

}  // namespace
}  // namespace talverin
