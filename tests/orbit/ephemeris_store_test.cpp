// Ephemeris store: acceptance of records, duplicate keys, key arithmetic checked by hand,
// selection by distance with week known and unknown (hand cases, and the trees against a
// scan of every record), the per-PRN cache and clearing. Broadcast orbit and clock checked
// against the independent IS-GPS-200 computation of testkit/reference_models.h (real ranges:
// the real-data accuracy tests); failures leave every output and status word alone.
#include "orbit/ephemeris_store.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <iterator>
#include <random>
#include <vector>

#include "testkit/reference_models.h"
#include "tests/support/bahr_navigation.h"
#include "tests/support/test_support.h"

namespace talverin {
namespace {

using namespace testing_support;  // NOLINT: the reference models
using test_data::BahrEphemeris;
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
  for (size_t index = 0; index < std::size(test_data::kGpsEphDoubleFields); ++index) {
    for (double bad : {nan, double{INFINITY}, -double{INFINITY}}) {
      GpsEph r = MakeEph(5, 250, 352800);
      r.*test_data::kGpsEphDoubleFields[index] = bad;
      EXPECT_EQ(1, store.AddGpsEph(r)) << "field " << index << " value " << bad;
    }
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
    ScanSelection scan;
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

// Every BAHR record, and PRN 5's made circular (e = 0, no harmonics: the radius stays a) as
// PRN 32, at three times: clock within 1e-15 s and position within 1 mm of the reference,
// velocity within 1 mm/s of the reference's central difference (error ~h^2 * jerk / 6 <
// 1e-5 m/s), the week known or not, the satellite clock applied by the caller or not.
TEST(GpsOrbit, PositionAndVelocityMatchTheIndependentComputation) {
  std::vector<GpsEph> records = test_data::BahrEphemerides();
  records[1].af2 = 3e-18;  // PRN 9 (e = 0.0157: up to 36 ns of relativity) with an af2 and
  records[1].tgd = 1e-3;   // a large group delay, which the clock leaves out
  GpsEph circular = BahrEphemeris(5);
  circular.prn = 32;  // the highest GPS PRN computes like any other
  circular.e = circular.crs = circular.crc = circular.cus = circular.cuc = 0.0;
  circular.cis = circular.cic = 0.0;
  records.push_back(circular);
  EphemerisStore store;
  for (const GpsEph& r : records) ASSERT_EQ(0, store.AddGpsEph(r));
  for (const GpsEph& r : records) {
    for (double offset : {-7000.0, 0.07, 7000.0}) {
      SCOPED_TRACE(testing::Message() << "PRN " << r.prn << " toe + " << offset);
      const double t = r.toe + offset, h = 0.5;
      double pos[3], vel[3], ref[3], before[3], after[3], clock = 0.0;
      ASSERT_EQ(0, store.SatClock(r.prn, t, &clock));
      EXPECT_NEAR(RefClock(r, t), clock, 1e-15);
      ASSERT_EQ(0, store.SatPosition(r.prn, t, 1, 2.2e7, kBahrEcef_m, pos, vel));
      const double tau = RefTravelTime(r, t, kBahrEcef_m);  // converged from kBahrEcef_m
      RefOrbit(r, t - tau, tau, ref);
      EXPECT_LT(Distance3(pos, ref), 1e-3);
      // Asked to, the position applies the satellite clock itself (t + clock at reception
      // is t after it; the clock differs by < 1e-15 s between the two).
      double other[3], otherVel[3];
      ASSERT_EQ(0, store.SatPosition(r.prn, t + clock, 0, 2.2e7, kBahrEcef_m, other, otherVel));
      EXPECT_LT(Distance3(pos, other), 1e-6);
      RefOrbit(r, t - tau - h, tau, before);
      RefOrbit(r, t - tau + h, tau, after);
      for (int k = 0; k < 3; ++k) EXPECT_NEAR((after[k] - before[k]) / (2 * h), vel[k], 1e-3);
      if (r.e == 0.0) {
        EXPECT_NEAR(r.rootA * r.rootA, std::hypot(pos[0], pos[1], pos[2]), 1e-6);
      }
      ASSERT_EQ(0, store.SatPosition(r.prn, t, 250, 1, 2.2e7, kBahrEcef_m, other, otherVel));
      EXPECT_EQ(0.0, Distance3(pos, other));  // the week given
    }
  }
}

TEST(GpsOrbit, LightTimeTakesAtMostFourPasses) {
  const GpsEph& prn5 = BahrEphemeris(5);
  GpsEph fast = prn5;
  fast.deltaN = 0.05;  // about 1.3e6 m/s: the light time cannot settle in four passes
  const double t = prn5.toe + 600.0;
  const double exact = RefTravelTime(prn5, t, kBahrEcef_m) * kRefC_mps;
  const struct {
    const GpsEph* record;
    double range;
    int passes;  // 0: as counted by the reference
  } cases[] = {{&prn5, exact, 1},
               {&prn5, 0.0, 0},
               {&prn5, exact + 1e5, 0},
               {&prn5, 1e12, 0},
               {&fast, 0.0, 4}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.range);
    EphemerisStore store;
    ASSERT_EQ(0, store.AddGpsEph(*c.record));
    double pos[3], vel[3], ref[3];
    ASSERT_EQ(0, store.SatPosition(5, t, 1, c.range, kBahrEcef_m, pos, vel));
    const int refPasses = RefLightTime(*c.record, t, c.range, kBahrEcef_m, ref);
    if (c.passes != 0) {
      EXPECT_EQ(c.passes, refPasses);
    }
    EXPECT_EQ(refPasses, store.lightTimePasses);
    EXPECT_LT(Distance3(pos, ref), 1e-3);
  }
}

// Clock and orbit times wrapped across the week (exactly 302400 s is not wrapped).
TEST(GpsOrbit, ClockAndOrbitWrapTheWeek) {
  GpsEph linear = BahrEphemeris(5);  // e = 0: the clock is 1e-9 * (t - toc - 0.075)
  linear.e = linear.af0 = 0.0;
  linear.af1 = 1e-9;
  linear.toe = 345600;
  linear.toc = 43200;
  EphemerisStore store;
  ASSERT_EQ(0, store.AddGpsEph(linear));
  const struct {
    double t, dt;
  } wraps[] = {{345600.575, -302399.5}, {345600.075, 302400.0}, {345599.0, 302398.925}};
  for (const auto& w : wraps) {
    double clock = 0.0;
    ASSERT_EQ(0, store.SatClock(5, w.t, &clock));
    EXPECT_NEAR(1e-9 * w.dt, clock, 1e-16) << w.t;
  }
  // Orbit: toe 7200 asked at 604000 s of the same (unknown) week is 8000 s before toe.
  GpsEph early = BahrEphemeris(5);
  early.toe = early.toc = 7200;
  EphemerisStore wrapped;
  ASSERT_EQ(0, wrapped.AddGpsEph(early));
  double pos[3], vel[3], ref[3];
  ASSERT_EQ(0, wrapped.SatPosition(5, 604000.0, 1, 2.2e7, kBahrEcef_m, pos, vel));
  const double tau = RefTravelTime(early, 604000.0 - 604800.0, kBahrEcef_m);
  RefOrbit(early, 604000.0 - 604800.0 - tau, tau, ref);
  EXPECT_LT(Distance3(pos, ref), 1e-3);
}

TEST(GpsOrbit, FailuresWriteNothingAndLeaveTheStatusWords) {
  EphemerisStore store;
  ASSERT_EQ(0, store.AddGpsEph(BahrEphemeris(5)));
  const double t = 352800.0, nan = std::nan("");
  const double badReceiver[3] = {INFINITY, 0.0, 0.0};
  const struct {
    int32_t prn;
    double t, range;
    const double* receiver;
    bool clockFails;
  } cases[] = {{0, t, 2e7, kBahrEcef_m, true},           {33, t, 2e7, kBahrEcef_m, true},
               {6, t, 2e7, kBahrEcef_m, true},            // no ephemeris for the PRN
               {5, t + 20000.0, 2e7, kBahrEcef_m, true},  // none within 4 hours
               {5, nan, 2e7, kBahrEcef_m, true},         {5, INFINITY, 2e7, kBahrEcef_m, true},
               {5, t, nan, kBahrEcef_m, false},          {5, t, INFINITY, kBahrEcef_m, false},
               {5, t, 2e7, badReceiver, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.prn << " " << c.t << " " << c.range);
    store.clockState = store.lastSystem = 7;
    double clock = -5.0;
    EXPECT_EQ(c.clockFails ? 1 : 0, store.SatClock(c.prn, c.t, &clock));
    if (c.clockFails) {
      EXPECT_EQ(-5.0, clock);
    }
    EXPECT_EQ(c.clockFails ? 7 : 0, store.clockState);
    double pos[3] = {-1.0, -2.0, -3.0}, vel[3] = {-4.0, -5.0, -6.0};
    for (int32_t applied : {0, 1}) {
      EXPECT_EQ(1, store.SatPosition(c.prn, c.t, applied, c.range, c.receiver, pos, vel));
      EXPECT_EQ(7, store.lastSystem);
      for (int k = 0; k < 3; ++k) {  // left as they were
        EXPECT_EQ(pos[k], -1.0 - k) << "position " << k;
        EXPECT_EQ(vel[k], -4.0 - k) << "velocity " << k;
      }
    }
  }
  double clock = 0.0, pos[3], vel[3];
  ASSERT_EQ(0, store.SatClock(5, t, -1, &clock));
  EXPECT_EQ(0, store.clockState);
  ASSERT_EQ(0, store.SatPosition(5, t, -1, 1, 2e7, kBahrEcef_m, pos, vel));
  EXPECT_EQ(1, store.lastSystem);
  EXPECT_EQ(0, store.GpsSatClock(5, t, 250, &clock));
}

// Corrupt ephemeris files: any bit pattern in any field (times that are no number: the
// failures table). Under the sanitizer build this also shows that no value reaches an
// undefined conversion.
TEST(GpsOrbit, CorruptRecordsGiveFiniteResultsOrFailure) {
  std::mt19937_64 random(20040610);
  const auto& fields = test_data::kGpsEphDoubleFields;
  int successes = 0;
  for (int trial = 0; trial < 3000; ++trial) {
    GpsEph r = BahrEphemeris(5);
    for (int k = 0; k < 3; ++k) {
      const uint64_t bits = random();
      std::memcpy(&(r.*fields[random() % std::size(fields)]), &bits, sizeof bits);
    }
    if (trial % 3 == 0) r.toe = static_cast<int32_t>(random());
    EphemerisStore store;
    if (store.AddGpsEph(r) != 0) continue;
    for (double t : {r.toe + 100.0, r.toe - 14000.5}) {
      double clock = -7.0, pos[3] = {-1.0, -1.0, -1.0}, vel[3] = {-2.0, -2.0, -2.0};
      const int32_t clockResult = store.SatClock(5, t, &clock);
      EXPECT_TRUE(clockResult == 0 ? std::isfinite(clock) : clock == -7.0) << trial;
      if (store.SatPosition(5, t, trial % 2, 2.2e7, kBahrEcef_m, pos, vel) == 0) {
        ++successes;
        for (int k = 0; k < 3; ++k) {
          EXPECT_TRUE(std::isfinite(pos[k])) << trial << " position " << k;
          EXPECT_TRUE(std::isfinite(vel[k])) << trial << " velocity " << k;
        }
      } else {
        EXPECT_EQ(pos[1], -1.0) << trial;
        EXPECT_EQ(vel[1], -2.0) << trial;
      }
    }
  }
  EXPECT_GT(successes, 100);  // the trials do reach the orbit computation
}

}  // namespace
}  // namespace talverin
