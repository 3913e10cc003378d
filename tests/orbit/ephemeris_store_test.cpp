// Ephemeris store: acceptance of records, duplicate keys, key arithmetic checked by hand,
// selection by distance with week known and unknown, the per-PRN cache and clearing.
#include "orbit/ephemeris_store.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <random>

#include "tests/orbit/bahr_ephemerides.h"

namespace talverin {
namespace {

constexpr int64_t kWeek = 604800;

// A real GPS record (PRN 5 of BAHR, 2004-06-10) with the given keys.
GpsEph MakeEph(int32_t prn, int32_t week, int32_t toe) {
  GpsEph r = test_data::kBahrEphemerides[0];
  r.prn = prn;
  r.week = week;
  r.toc = toe;
  r.toe = toe;
  return r;
}

// Root A within 4500..6000 m^1/2, GPS PRNs 1..32, eccentricity in [0, 1).
TEST(EphemerisStore, AcceptsOnlyGpsPrnsAndPlausibleOrbits) {
  struct Case {
    int32_t prn;
    double rootA, e;
    int32_t result;
  };
  const double rootA = 5153.7, e = 0.01;
  const Case cases[] = {{5, 4500.0, e, 0},    {5, 6000.0, e, 0},     {5, rootA, e, 0},
                        {5, 4499.9, e, 1},    {5, 6000.1, e, 1},     {5, 0.0, e, 1},
                        {5, std::nan(""), e, 1}, {5, INFINITY, e, 1}, {1, rootA, 0.0, 0},
                        {32, rootA, 0.999, 0}, {0, rootA, e, 1},     {33, rootA, e, 1},
                        {-5, rootA, e, 1},    {5, rootA, -1e-9, 1},  {5, rootA, 1.0, 1},
                        {5, rootA, 2.5, 1}};
  for (const Case& c : cases) {
    EphemerisStore store;
    GpsEph r = MakeEph(c.prn, 250, 352800);
    r.rootA = c.rootA;
    r.e = c.e;
    EXPECT_EQ(c.result, store.AddGpsEph(r)) << "prn " << c.prn << " rootA " << c.rootA << " e "
                                            << c.e;
    EXPECT_EQ(c.result == 0 ? 1 : 0, store.gpsCount);
  }
}

TEST(EphemerisStore, RefusesARecordWithAnyNonFiniteField) {
  double GpsEph::*const fields[] = {
      &GpsEph::tgd, &GpsEph::af2,    &GpsEph::af1,   &GpsEph::af0,     &GpsEph::deltaN,
      &GpsEph::m0,  &GpsEph::e,      &GpsEph::rootA, &GpsEph::cic,     &GpsEph::crc,
      &GpsEph::cis, &GpsEph::crs,    &GpsEph::cuc,   &GpsEph::cus,     &GpsEph::omega0,
      &GpsEph::omega, &GpsEph::i0,   &GpsEph::omegaDot, &GpsEph::iDot};
  int index = 0;
  for (double GpsEph::*field : fields) {
    for (double bad : {std::nan(""), double{INFINITY}, -double{INFINITY}}) {
      EphemerisStore store;
      GpsEph r = MakeEph(5, 250, 352800);
      r.*field = bad;
      EXPECT_EQ(1, store.AddGpsEph(r)) << "field " << index << " value " << bad;
      EXPECT_EQ(0, store.gpsCount);
      EXPECT_EQ(nullptr, store.gpsList);
    }
    ++index;
  }
}

TEST(EphemerisStore, SameInstantOfTheSamePrnIsADuplicate) {
  EphemerisStore store;
  GpsEph first = MakeEph(5, 250, 352800);
  first.iode = 90;
  GpsEph again = first;
  again.iode = 91;
  EXPECT_EQ(0, store.AddGpsEph(first));
  EXPECT_EQ(-1, store.AddGpsEph(again));
  EXPECT_EQ(1, store.gpsCount);
  ASSERT_NE(nullptr, store.FindGpsEph(5, 352800.0));
  EXPECT_EQ(90, store.FindGpsEph(5, 352800.0)->iode);  // the stored record stays
  // Same toe in another week, or another PRN: not duplicates.
  EXPECT_EQ(0, store.AddGpsEph(MakeEph(5, 251, 352800)));
  EXPECT_EQ(0, store.AddGpsEph(MakeEph(6, 250, 352800)));
  EXPECT_EQ(3, store.gpsCount);
  // A toe of 0 is the start of the week after: the same instant as toe 604800.
  EXPECT_EQ(0, store.AddGpsEph(MakeEph(7, 250, 0)));
  EXPECT_EQ(-1, store.AddGpsEph(MakeEph(7, 250, 604800)));
}

TEST(EphemerisStore, KeysStandOneHourBeforeToe) {
  struct Case {
    int32_t week, toe;
    int64_t sowKey, fullKey;
  };
  const Case cases[] = {
      {250, 352800, 349200, 1274 * kWeek + 349200},
      {1274, 352800, 349200, 1274 * kWeek + 349200},     // full weeks are used as they are
      {250, 0, -3600, 1275 * kWeek - 3600},              // toe 0 counts in the next week
      {250, 3599, -1, 1274 * kWeek - 1},                 // still one hour before, last week
      {600, 7200, 3600, 600 * kWeek + 3600},
      // Corrupt week and toe: 64-bit keys, no overflow.
      {INT_MAX, INT_MIN, int64_t{INT_MIN} - 3600, int64_t{INT_MAX} * kWeek + INT_MIN - 3600},
      {INT_MIN, INT_MAX, int64_t{INT_MAX} - 3600,
       (int64_t{INT_MIN} + 1024) * kWeek + INT_MAX - 3600}};
  for (const Case& c : cases) {
    EphemerisStore store;
    ASSERT_EQ(0, store.AddGpsEph(MakeEph(9, c.week, c.toe))) << c.week << " " << c.toe;
    ASSERT_NE(nullptr, store.gpsList);
    EXPECT_EQ(c.sowKey, store.gpsList->sowKey) << c.week << " " << c.toe;
    EXPECT_EQ(c.fullKey, store.gpsList->fullKey) << c.week << " " << c.toe;
    EXPECT_EQ(9, store.gpsList->prn);
    EXPECT_EQ(c.toe, store.gpsList->record.toe);
  }
}

TEST(EphemerisStore, LookupWithUnknownWeekWrapsAcrossTheWeekBoundary) {
  EphemerisStore store;
  ASSERT_EQ(0, store.AddGpsEph(MakeEph(5, 250, 7200)));     // sowKey 3600
  ASSERT_EQ(0, store.AddGpsEph(MakeEph(6, 250, 601200)));   // sowKey 597600
  // 604000 - 3600 = 600400, folded to -4400.
  const GpsEph* found = store.FindGpsEph(5, 604000.0);
  ASSERT_NE(nullptr, found);
  EXPECT_EQ(7200, found->toe);
  // 1000 - 597600 = -596600, folded to 8200.
  found = store.FindGpsEph(6, 1000.0);
  ASSERT_NE(nullptr, found);
  EXPECT_EQ(601200, found->toe);
  EXPECT_EQ(nullptr, store.FindGpsEph(6, 12000.0));  // folded to 19200 s: too far
}

TEST(EphemerisStore, SelectsOnlyWithinFourHours) {
  struct Case {
    double t;
    bool foundWeekUnknown;
    bool foundWeekKnown;
  };
  // One record with toe 10000 of week 250: keys 6400 s of week, 1274 weeks + 6400 s.
  // Week unknown, the distance t - 6400 is truncated; week known, the full request time
  // is truncated first, so 0.9 s before the key counts as one second more.
  const Case cases[] = {{6400.0 + 14399.0, true, true},   {6400.0 + 14399.9, true, true},
                        {6400.0 + 14400.0, false, false}, {6400.0 - 14399.0, true, true},
                        {6400.0 - 14399.9, true, false},  {6400.0 - 14400.0, false, false}};
  for (const Case& c : cases) {
    EphemerisStore store;
    ASSERT_EQ(0, store.AddGpsEph(MakeEph(5, 250, 10000)));
    EXPECT_EQ(c.foundWeekUnknown, store.FindGpsEph(5, c.t) != nullptr) << "t " << c.t;
    EphemerisStore known;
    ASSERT_EQ(0, known.AddGpsEph(MakeEph(5, 250, 10000)));
    EXPECT_EQ(c.foundWeekKnown, known.FindGpsEph(5, c.t, 250) != nullptr)
        << "week known, t " << c.t;
  }
}

TEST(EphemerisStore, LookupWithKnownWeekCountsWholeWeeks) {
  EphemerisStore store;
  ASSERT_EQ(0, store.AddGpsEph(MakeEph(5, 250, 352800)));
  ASSERT_EQ(0, store.AddGpsEph(MakeEph(6, 250, 0)));  // key 3600 s before week 1275
  EXPECT_NE(nullptr, store.FindGpsEph(5, 349200.0, 250));
  EXPECT_NE(nullptr, store.FindGpsEph(5, 349200.0, 1274));
  EXPECT_EQ(nullptr, store.FindGpsEph(5, 349200.0, 251));   // a week later
  EXPECT_EQ(nullptr, store.FindGpsEph(5, 349200.0, 249));
  EXPECT_NE(nullptr, store.FindGpsEph(6, 604000.0, 250));   // 2800 s after the key
  EXPECT_NE(nullptr, store.FindGpsEph(6, 1000.0, 251));     // 4600 s after it
  EXPECT_EQ(nullptr, store.FindGpsEph(6, 1000.0, 250));     // a week before
}

TEST(EphemerisStore, TiesKeepTheRecordAddedFirst) {
  for (bool earlierFirst : {true, false}) {
    EphemerisStore store;
    const int32_t first = earlierFirst ? 10000 : 30000;
    const int32_t second = earlierFirst ? 30000 : 10000;
    ASSERT_EQ(0, store.AddGpsEph(MakeEph(5, 250, first)));
    ASSERT_EQ(0, store.AddGpsEph(MakeEph(5, 250, second)));
    // Keys 6400 and 26400: 16400 is 10000 s from both.
    const GpsEph* found = store.FindGpsEph(5, 16400.0);
    ASSERT_NE(nullptr, found);
    EXPECT_EQ(first, found->toe);
    found = store.FindGpsEph(5, 16401.0 + 4000.0);  // past the cache: the nearer one wins
    ASSERT_NE(nullptr, found);
    EXPECT_EQ(30000, found->toe);
  }
}

TEST(EphemerisStore, CachedRecordAnswersWithin4000SecondsUntilThePrnGetsARecord) {
  EphemerisStore store;
  ASSERT_EQ(0, store.AddGpsEph(MakeEph(5, 250, 10000)));  // key 6400
  ASSERT_EQ(0, store.AddGpsEph(MakeEph(5, 250, 16000)));  // key 12400
  ASSERT_EQ(10000, store.FindGpsEph(5, 6400.0)->toe);
  // 3999 s from the cached key and 2001 s from the other: the cache answers.
  EXPECT_EQ(10000, store.FindGpsEph(5, 10399.0)->toe);
  // A record of another PRN does not touch this PRN's cache.
  ASSERT_EQ(0, store.AddGpsEph(MakeEph(6, 250, 10000)));
  EXPECT_EQ(10000, store.FindGpsEph(5, 10399.0)->toe);
  // Any record of the PRN empties its cache entry: the next lookup scans.
  ASSERT_EQ(0, store.AddGpsEph(MakeEph(5, 250, 500000)));
  EXPECT_EQ(16000, store.FindGpsEph(5, 10399.0)->toe);
  // 4000 s from a cached key is past the cache.
  ASSERT_EQ(10000, store.FindGpsEph(5, 6400.0)->toe);
  EXPECT_EQ(16000, store.FindGpsEph(5, 10400.0)->toe);
}

TEST(EphemerisStore, LookupFindsNothingForBadPrnOrTime) {
  EphemerisStore store;
  for (int32_t prn = 1; prn <= 32; ++prn) ASSERT_EQ(0, store.AddGpsEph(MakeEph(prn, 250, 3600)));
  EXPECT_NE(nullptr, store.FindGpsEph(1, 0.0));
  EXPECT_NE(nullptr, store.FindGpsEph(32, 0.0));
  const int32_t prns[] = {0, 33, -1, 71, 72, INT_MAX, INT_MIN};
  for (int32_t prn : prns) EXPECT_EQ(nullptr, store.FindGpsEph(prn, 0.0)) << prn;
  const double times[] = {std::nan(""), INFINITY, -INFINITY, 1e300, -1e300};
  for (double t : times) {
    EXPECT_EQ(nullptr, store.FindGpsEph(5, t)) << t;
    EXPECT_EQ(nullptr, store.FindGpsEph(5, t, 250)) << t;
  }
}

TEST(EphemerisStore, ClearEmptiesTheStoreAndItCanBeFilledAgain) {
  EphemerisStore store;
  ASSERT_EQ(0, store.AddGpsEph(MakeEph(5, 250, 10000)));
  ASSERT_NE(nullptr, store.FindGpsEph(5, 6400.0));
  store.lastSystem = 1;
  store.clockState = 3;
  store.ClearEphemerides();
  EXPECT_EQ(0, store.gpsCount);
  EXPECT_EQ(nullptr, store.gpsList);
  EXPECT_EQ(0, store.lastSystem);
  EXPECT_EQ(0, store.clockState);
  for (const EphNode* cached : store.gpsCache) EXPECT_EQ(nullptr, cached);
  EXPECT_EQ(nullptr, store.FindGpsEph(5, 6400.0));
  // Refilled, the list holds the new records in the order added.
  ASSERT_EQ(0, store.AddGpsEph(MakeEph(5, 250, 10000)));
  ASSERT_EQ(0, store.AddGpsEph(MakeEph(6, 250, 20000)));
  EXPECT_EQ(2, store.gpsCount);
  ASSERT_NE(nullptr, store.gpsList);
  ASSERT_NE(nullptr, store.gpsList->next);
  EXPECT_EQ(5, store.gpsList->prn);
  EXPECT_EQ(6, store.gpsList->next->prn);
  EXPECT_EQ(nullptr, store.gpsList->next->next);
}

TEST(EphemerisStore, RecordPointersStayValidWhileRecordsAreAdded) {
  EphemerisStore store;
  ASSERT_EQ(0, store.AddGpsEph(MakeEph(5, 250, 10000)));
  const GpsEph* found = store.FindGpsEph(5, 6400.0);
  ASSERT_NE(nullptr, found);
  for (int32_t k = 1; k <= 100; ++k) ASSERT_EQ(0, store.AddGpsEph(MakeEph(5, 250, 10000 + k)));
  EXPECT_EQ(10000, found->toe);
  EXPECT_EQ(5, found->prn);
  EXPECT_EQ(101, store.gpsCount);
}

// The selection rule as written down, by a scan of every record in the order added, with
// its own per-PRN cache: the store's trees must pick the very same record every time.
struct ScanSelection {
  const EphNode* cache[kMaxPrn] = {};

  const GpsEph* Find(const EphemerisStore& store, int32_t prn, double t, int32_t week) {
    const bool known = week >= 0;
    const int64_t full = known ? static_cast<int64_t>((week < 500 ? week + 1024 : week) *
                                                          static_cast<double>(kWeek) + t)
                               : 0;
    auto d = [&](const EphNode* n) -> int64_t {
      return known ? full - n->fullKey : static_cast<int64_t>(t - static_cast<double>(n->sowKey));
    };
    if (cache[prn] != nullptr && std::llabs(d(cache[prn])) < 4000) return &cache[prn]->record;
    const EphNode* best = nullptr;
    int64_t bestDistance = 14400;
    for (const EphNode* n = store.gpsList; n != nullptr; n = n->next) {
      if (n->prn != prn) continue;
      int64_t dn = d(n);
      if (!known && dn < -450000) dn += kWeek;
      if (!known && dn > 450000) dn -= kWeek;
      if (std::llabs(dn) < bestDistance) {
        bestDistance = std::llabs(dn);
        best = n;
      }
    }
    if (best != nullptr) cache[prn] = best;
    return best != nullptr ? &best->record : nullptr;
  }
};

TEST(EphemerisStore, SelectionMatchesAScanOfEveryRecordInTheOrderAdded) {
  // Few PRNs and toes on a coarse grid near the week's ends: many equal keys, ties,
  // duplicates, folds across the week boundary and cache hits.
  std::mt19937 rng(1274u);
  int found = 0;
  for (int round = 0; round < 40; ++round) {
    EphemerisStore store;
    ScanSelection scan;
    for (int step = 0; step < 300; ++step) {
      const int32_t prn = 1 + static_cast<int32_t>(rng() % 3);
      if (rng() % 4 == 0) {
        const int32_t toe = static_cast<int32_t>(rng() % 2 ? rng() % 12 : 324 + rng() % 13) * 1800;
        if (store.AddGpsEph(MakeEph(prn, 250 + static_cast<int32_t>(rng() % 3), toe)) == 0) {
          scan.cache[prn] = nullptr;
        }
        continue;
      }
      const double t = (rng() % 2 ? 0.0 : 583200.0) + (rng() % 43200) + (rng() % 4) * 0.25;
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
