// Broadcast orbit and clock checked against the independent IS-GPS-200 computation of
// testkit/reference_models.h (real ranges: the real-data accuracy tests); failures
// leave every output and status word alone.
#include "orbit/ephemeris_store.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <iterator>
#include <random>
#include <vector>

#include "testkit/reference_models.h"
#include "tests/support/bahr_navigation.h"

namespace talverin {
namespace {

using namespace testing_support;  // NOLINT: the reference models
using test_data::BahrEphemeris;
const double* const kBahr = kBahrEcef_m;

// The reference point at reception time t with the light time converged from kBahr.
void RefAt(const GpsEph& r, double t, double out[3]) {
  const double tau = RefTravelTime(r, t, kBahr);
  RefOrbit(r, t - tau, tau, out);
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
      ASSERT_EQ(0, store.SatPosition(r.prn, t, 1, 2.2e7, kBahr, pos, vel));
      RefAt(r, t, ref);
      EXPECT_LT(Distance3(pos, ref), 1e-3);
      // Asked to, the position applies the satellite clock itself (t + clock at reception
      // is t after it; the clock differs by < 1e-15 s between the two).
      double other[3], otherVel[3];
      ASSERT_EQ(0, store.SatPosition(r.prn, t + clock, 0, 2.2e7, kBahr, other, otherVel));
      EXPECT_LT(Distance3(pos, other), 1e-6);
      const double tau = RefTravelTime(r, t, kBahr);
      RefOrbit(r, t - tau - h, tau, before);
      RefOrbit(r, t - tau + h, tau, after);
      for (int k = 0; k < 3; ++k) EXPECT_NEAR((after[k] - before[k]) / (2 * h), vel[k], 1e-3);
      if (r.e == 0.0) {
        EXPECT_NEAR(r.rootA * r.rootA, std::hypot(pos[0], pos[1], pos[2]), 1e-6);
      }
      ASSERT_EQ(0, store.SatPosition(r.prn, t, 250, 1, 2.2e7, kBahr, other, otherVel));
      EXPECT_EQ(0.0, Distance3(pos, other));  // the week given
    }
  }
}

TEST(GpsOrbit, LightTimeTakesAtMostFourPasses) {
  const GpsEph& prn5 = BahrEphemeris(5);
  GpsEph fast = prn5;
  fast.deltaN = 0.05;  // about 1.3e6 m/s: the light time cannot settle in four passes
  const double t = prn5.toe + 600.0;
  const double exact = RefTravelTime(prn5, t, kBahr) * kRefC_mps;
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
    ASSERT_EQ(0, store.SatPosition(5, t, 1, c.range, kBahr, pos, vel));
    const int refPasses = RefLightTime(*c.record, t, c.range, kBahr, ref);
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
  ASSERT_EQ(0, wrapped.SatPosition(5, 604000.0, 1, 2.2e7, kBahr, pos, vel));
  RefAt(early, 604000.0 - 604800.0, ref);
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
  } cases[] = {{0, t, 2e7, kBahr, true},           {33, t, 2e7, kBahr, true},
               {6, t, 2e7, kBahr, true},            // no ephemeris for the PRN
               {5, t + 20000.0, 2e7, kBahr, true},  // none within 4 hours
               {5, nan, 2e7, kBahr, true},         {5, INFINITY, 2e7, kBahr, true},
               {5, t, nan, kBahr, false},          {5, t, INFINITY, kBahr, false},
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
  ASSERT_EQ(0, store.SatPosition(5, t, -1, 1, 2e7, kBahr, pos, vel));
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
      if (store.SatPosition(5, t, trial % 2, 2.2e7, kBahr, pos, vel) == 0) {
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
