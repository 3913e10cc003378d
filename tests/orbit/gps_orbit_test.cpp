// Broadcast orbit and clock checked against an independent computation written here from
// the IS-GPS-200 equations (Kepler solved by Newton's method, Earth-fixed coordinates at
// transmission, then turned by the Earth's rotation during the travel time), against
// physics (vis-viva, circular orbits) and against real ionosphere-free pseudoranges of
// the IGS station BAHR on 2004-06-10.
#include "orbit/ephemeris_store.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "tests/orbit/bahr_ephemerides.h"

namespace talverin {
namespace {

constexpr double kMu = 3.986005e14;          // m^3/s^2, IS-GPS-200
constexpr double kOmegaE = 7.2921151467e-5;  // rad/s, IS-GPS-200
constexpr double kC = 299792458.0;           // m/s
constexpr double kF = -4.442809305e-10;      // s/m^1/2, IS-GPS-200 relativistic constant

using test_data::kBahrEphemerides;

// BAHR antenna reference point, ITRF2014 at 2004-06-10 (shared/data/bahr-2004-162/README.txt).
const double kBahr[3] = {3633910.5918, 4425277.7039, 2799862.8556};

const GpsEph& Bahr(int32_t prn) { return test_data::BahrEphemeris(prn); }

// ---- Independent reference, IS-GPS-200 Table 20-IV ----

double RefWrap(double tk) {
  if (tk > 302400.0) return tk - 604800.0;
  if (tk < -302400.0) return tk + 604800.0;
  return tk;
}

double RefEccentricAnomaly(const GpsEph& r, double tk) {
  const double a = r.rootA * r.rootA;
  const double mk = r.m0 + (std::sqrt(kMu / (a * a * a)) + r.deltaN) * tk;
  double ek = mk;
  for (int k = 0; k < 50; ++k) {  // Newton's method on E - e sin E = M
    const double step = (mk - ek + r.e * std::sin(ek)) / (1.0 - r.e * std::cos(ek));
    ek += step;
    if (std::fabs(step) < 1e-15) break;
  }
  return ek;
}

// Earth-fixed position (m) in the frame of the transmission instant tt (s of week).
void RefEcef(const GpsEph& r, double tt, double out[3]) {
  const double a = r.rootA * r.rootA;
  const double tk = RefWrap(tt - r.toe);
  const double ek = RefEccentricAnomaly(r, tk);
  const double denominator = 1.0 - r.e * std::cos(ek);
  const double sinV = std::sqrt(1.0 - r.e * r.e) * std::sin(ek) / denominator;
  const double cosV = (std::cos(ek) - r.e) / denominator;
  const double phi = std::atan2(sinV, cosV) + r.omega;
  const double du = r.cus * std::sin(2 * phi) + r.cuc * std::cos(2 * phi);
  const double dr = r.crs * std::sin(2 * phi) + r.crc * std::cos(2 * phi);
  const double di = r.cis * std::sin(2 * phi) + r.cic * std::cos(2 * phi);
  const double u = phi + du;
  const double radius = a * denominator + dr;
  const double inc = r.i0 + di + r.iDot * tk;
  const double node = r.omega0 + (r.omegaDot - kOmegaE) * tk - kOmegaE * r.toe;
  const double xOrb = radius * std::cos(u);
  const double yOrb = radius * std::sin(u);
  out[0] = xOrb * std::cos(node) - yOrb * std::cos(inc) * std::sin(node);
  out[1] = xOrb * std::sin(node) + yOrb * std::cos(inc) * std::cos(node);
  out[2] = yOrb * std::sin(inc);
}

// The same point in the Earth-fixed frame tau seconds later: turned by -omega_e * tau.
void RefAtReception(const GpsEph& r, double tt, double tau, double out[3]) {
  double fixed[3];
  RefEcef(r, tt, fixed);
  const double theta = kOmegaE * tau;
  out[0] = std::cos(theta) * fixed[0] + std::sin(theta) * fixed[1];
  out[1] = -std::sin(theta) * fixed[0] + std::cos(theta) * fixed[1];
  out[2] = fixed[2];
}

double Distance(const double a[3], const double b[3]) {
  return std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) +
                   (a[2] - b[2]) * (a[2] - b[2]));
}

double Norm(const double a[3]) { return std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]); }

// Light-time iteration: passes at most 4, stop when tau changes by less than 1e-10 s.
int RefLightTime(const GpsEph& r, double t, double range, const double rx[3], double out[3]) {
  double tau = range / kC;
  int passes = 0;
  while (true) {
    RefAtReception(r, t - tau, tau, out);
    ++passes;
    const double next = Distance(out, rx) / kC;
    if (std::fabs(next - tau) < 1e-10) break;
    tau = next;
    if (passes == 4) break;
  }
  return passes;
}

// Converged travel time from the receiver, s.
double RefTravelTime(const GpsEph& r, double t, const double rx[3]) {
  double tau = 0.075;
  double p[3];
  for (int k = 0; k < 10; ++k) {
    RefAtReception(r, t - tau, tau, p);
    tau = Distance(p, rx) / kC;
  }
  return tau;
}

double RefClock(const GpsEph& r, double t) {
  const double tk = RefWrap(t - r.toe - 0.075);
  const double dt = RefWrap(t - r.toc - 0.075);
  const double relativity = kF * r.e * r.rootA * std::sin(RefEccentricAnomaly(r, tk));
  return r.af0 + r.af1 * dt + r.af2 * dt * dt + relativity;
}

// ---- Tests ----

TEST(GpsOrbit, VectorDistanceIsEuclidean) {
  const double a[3] = {1.0, 2.0, 3.0};
  const double b[3] = {4.0, 6.0, 15.0};  // differences 3, 4, 12
  EXPECT_EQ(13.0, VectorDistance(a, b));
  EXPECT_EQ(13.0, VectorDistance(b, a));
  EXPECT_EQ(0.0, VectorDistance(a, a));
}

TEST(GpsOrbit, PositionAndVelocityMatchTheIndependentComputation) {
  EphemerisStore store;
  for (const GpsEph& r : kBahrEphemerides) ASSERT_EQ(0, store.AddGpsEph(r));
  for (const GpsEph& r : kBahrEphemerides) {
    for (double offset : {-7000.0, 0.07, 7000.0}) {
      const double t = r.toe + offset;
      double pos[3], vel[3];
      ASSERT_EQ(0, store.SatPosition(r.prn, t, 1, 2.2e7, kBahr, pos, vel)) << r.prn;
      const double tau = RefTravelTime(r, t, kBahr);
      double ref[3];
      RefAtReception(r, t - tau, tau, ref);
      EXPECT_LT(Distance(pos, ref), 1e-3) << "PRN " << r.prn << " t " << t;
      // The Earth's turn during the ~0.07 s of travel moves the point by tens of metres.
      double unrotated[3];
      RefEcef(r, t - tau, unrotated);
      EXPECT_GT(Distance(pos, unrotated), 30.0) << "PRN " << r.prn;
      // Velocity: central difference of the reference, error ~h^2 * jerk / 6 < 1e-5 m/s.
      const double h = 0.5;
      double before[3], after[3];
      RefAtReception(r, t - tau - h, tau, before);
      RefAtReception(r, t - tau + h, tau, after);
      for (int k = 0; k < 3; ++k) {
        EXPECT_NEAR((after[k] - before[k]) / (2 * h), vel[k], 1e-3) << "PRN " << r.prn;
      }
      // Physical: radius near 26560 km; vis-viva on the inertial velocity (Earth-fixed
      // velocity plus omega_e x r).
      const double a = r.rootA * r.rootA;
      const double radius = Norm(pos);
      EXPECT_NEAR(26560e3, radius, a * r.e + 2e3) << r.prn;
      const double inertial[3] = {vel[0] - kOmegaE * pos[1], vel[1] + kOmegaE * pos[0], vel[2]};
      EXPECT_NEAR(std::sqrt(kMu * (2.0 / radius - 1.0 / a)), Norm(inertial), 1.0) << r.prn;
      // The week known gives the same.
      double posWeek[3], velWeek[3];
      ASSERT_EQ(0, store.SatPosition(r.prn, t, 250, 1, 2.2e7, kBahr, posWeek, velWeek));
      EXPECT_EQ(0.0, Distance(pos, posWeek));
    }
  }
}

TEST(GpsOrbit, RangesToBahrMatchIonosphereFreePseudoranges) {
  // Epoch 2004-06-10 00:59:30 receiver time of shared/data/bahr-2004-162/bahr1620.04o:
  // P1 and P2 (m) per PRN. The receiver clock is about +0.373 ms (README.txt).
  struct Observation {
    int32_t prn;
    double p1, p2;
  };
  const Observation observations[] = {
      {5, 20417609.120, 20417612.787},  {6, 22506948.416, 22506951.769},
      {9, 24234160.398, 24234164.193},  {10, 21784731.469, 21784735.293},
      {17, 21107435.443, 21107439.934}, {24, 23196613.063, 23196617.484},
      {30, 20730674.417, 20730677.287}};
  const double gamma = (77.0 / 60.0) * (77.0 / 60.0);  // (f1 / f2)^2
  const double receiveTime = 345600.0 + 3570.0 - 0.373e-3;  // day 4 of week 1274, GPS time
  const double lat = 26.20914118 * M_PI / 180.0, lon = 50.60814563 * M_PI / 180.0;
  const double up[3] = {std::cos(lat) * std::cos(lon), std::cos(lat) * std::sin(lon),
                        std::sin(lat)};
  EphemerisStore store;
  for (const GpsEph& r : kBahrEphemerides) ASSERT_EQ(0, store.AddGpsEph(r));
  double residual[7];
  double mean = 0.0;
  int n = 0;
  for (const Observation& o : observations) {
    const double ionoFree = (gamma * o.p1 - o.p2) / (gamma - 1.0);
    double satClock = 0.0;
    ASSERT_EQ(0, store.SatClock(o.prn, receiveTime, &satClock));
    double pos[3], vel[3];
    ASSERT_EQ(0, store.SatPosition(o.prn, receiveTime - satClock, 1, ionoFree, kBahr, pos, vel));
    const double range = Distance(pos, kBahr);
    const double los[3] = {pos[0] - kBahr[0], pos[1] - kBahr[1], pos[2] - kBahr[2]};
    const double sinElevation = (los[0] * up[0] + los[1] * up[1] + los[2] * up[2]) / range;
    ASSERT_GT(sinElevation, std::sin(10.0 * M_PI / 180.0)) << o.prn;
    const double troposphere = 2.4 / sinElevation;  // zenith delay near sea level, m
    residual[n] = ionoFree - range + kC * satClock - troposphere;
    mean += residual[n] / 7.0;
    ++n;
  }
  EXPECT_NEAR(0.373e-3 * kC, mean, 200.0);  // the common part is the receiver clock
  // Per satellite, broadcast orbit and clock errors, code noise and the rough
  // troposphere leave a few metres; a wrong Earth-rotation or light-time term or a
  // missing relativistic clock term would leave tens of metres.
  for (int k = 0; k < n; ++k) {
    EXPECT_NEAR(mean, residual[k], 5.0) << "PRN " << observations[k].prn;
  }
}

TEST(GpsOrbit, LightTimeTakesAtMostFourPasses) {
  const GpsEph& prn5 = Bahr(5);
  GpsEph fast = prn5;
  fast.deltaN = 0.05;  // about 1.3e6 m/s: the light time cannot settle in four passes
  const double t = prn5.toe + 600.0;
  const double exact = RefTravelTime(prn5, t, kBahr) * kC;
  struct Case {
    const GpsEph* record;
    double range;
    int expectedPasses;  // 0: as counted by the reference
  };
  const Case cases[] = {{&prn5, exact, 1}, {&prn5, 0.0, 0},  {&prn5, exact + 1e5, 0},
                        {&prn5, 1e12, 0},  {&fast, 0.0, 4}};
  for (const Case& c : cases) {
    EphemerisStore store;
    ASSERT_EQ(0, store.AddGpsEph(*c.record));
    double pos[3], vel[3];
    ASSERT_EQ(0, store.SatPosition(5, t, 1, c.range, kBahr, pos, vel)) << c.range;
    double ref[3];
    const int refPasses = RefLightTime(*c.record, t, c.range, kBahr, ref);
    if (c.expectedPasses != 0) {
      EXPECT_EQ(c.expectedPasses, refPasses);
    }
    EXPECT_EQ(refPasses, store.lightTimePasses) << "range " << c.range;
    EXPECT_LT(Distance(pos, ref), 1e-3) << "range " << c.range;
  }
}

TEST(GpsOrbit, ClockIsPolynomialPlusRelativityWithoutGroupDelay) {
  GpsEph r = Bahr(9);  // e = 0.0157: a relativistic term of up to 36 ns
  r.af2 = 3e-18;
  r.tgd = 1e-3;
  EphemerisStore store;
  ASSERT_EQ(0, store.AddGpsEph(r));
  for (double offset : {-7000.0, -1800.0, 0.0, 2500.0, 9000.0}) {
    const double t = r.toe + offset;
    double clock = 0.0;
    ASSERT_EQ(0, store.SatClock(9, t, &clock));
    EXPECT_NEAR(RefClock(r, t), clock, 1e-15) << offset;
    const double tk = t - r.toe - 0.075;
    const double relativity = kF * r.e * r.rootA * std::sin(RefEccentricAnomaly(r, tk));
    EXPECT_GT(std::fabs(relativity), 1e-9) << offset;  // the check above includes it
  }
}

TEST(GpsOrbit, TimeDifferencesWrapBeyondHalfAWeek) {
  GpsEph r = Bahr(5);
  r.e = 0.0;  // no relativistic term: the clock is af0 + af1 * dt
  r.af0 = 0.0;
  r.af1 = 1e-9;
  r.toe = 345600;
  r.toc = 43200;
  EphemerisStore store;
  ASSERT_EQ(0, store.AddGpsEph(r));
  struct Case {
    double t;
    double dt;  // t - toc - 0.075 after the wrap
  };
  // Exactly 302400 s is not wrapped.
  const Case cases[] = {{345600.575, -302399.5}, {345600.075, 302400.0}, {345599.0, 302398.925}};
  for (const Case& c : cases) {
    double clock = 0.0;
    ASSERT_EQ(0, store.SatClock(5, c.t, &clock));
    EXPECT_NEAR(1e-9 * c.dt, clock, 1e-16) << c.t;
  }

  // Orbit: toe 7200 asked at 604000 s of the same (unknown) week is 8000 s before toe.
  GpsEph early = Bahr(5);
  early.toe = 7200;
  early.toc = 7200;
  EphemerisStore wrapped;
  ASSERT_EQ(0, wrapped.AddGpsEph(early));
  double pos[3], vel[3];
  ASSERT_EQ(0, wrapped.SatPosition(5, 604000.0, 1, 2.2e7, kBahr, pos, vel));
  const double tau = RefTravelTime(early, 604000.0 - 604800.0, kBahr);
  double ref[3];
  RefAtReception(early, 604000.0 - 604800.0 - tau, tau, ref);
  EXPECT_LT(Distance(pos, ref), 1e-3);
}

TEST(GpsOrbit, CircularOrbitKeepsItsRadius) {
  GpsEph r = Bahr(5);
  r.e = 0.0;
  r.crs = r.crc = r.cus = r.cuc = r.cis = r.cic = 0.0;
  EphemerisStore store;
  ASSERT_EQ(0, store.AddGpsEph(r));
  for (double offset : {-5000.0, 0.0, 5000.0}) {
    double pos[3], vel[3];
    ASSERT_EQ(0, store.SatPosition(5, r.toe + offset, 1, 2.2e7, kBahr, pos, vel));
    EXPECT_NEAR(r.rootA * r.rootA, Norm(pos), 1e-6);
    // No radial motion; Earth rotation is about the z axis and keeps |r| as well.
    const double radial = (pos[0] * vel[0] + pos[1] * vel[1] + pos[2] * vel[2]) / Norm(pos);
    EXPECT_NEAR(0.0, radial, 1e-6);
    const double tau = RefTravelTime(r, r.toe + offset, kBahr);
    double ref[3];
    RefAtReception(r, r.toe + offset - tau, tau, ref);
    EXPECT_LT(Distance(pos, ref), 1e-3);
  }
}

TEST(GpsOrbit, ClockAppliedByThePositionItselfWhenAsked) {
  EphemerisStore store;
  const GpsEph& r = Bahr(30);  // af0 0.55 ms: 164 km of clock
  ASSERT_EQ(0, store.AddGpsEph(r));
  const double t = r.toe - 2000.0;
  double clock = 0.0;
  ASSERT_EQ(0, store.SatClock(30, t, &clock));
  double applied[3], vApplied[3], own[3], vOwn[3];
  ASSERT_EQ(0, store.SatPosition(30, t - clock, 1, 2.2e7, kBahr, applied, vApplied));
  ASSERT_EQ(0, store.SatPosition(30, t, 0, 2.2e7, kBahr, own, vOwn));
  EXPECT_LT(Distance(applied, own), 1e-6);
  double uncorrected[3], vUncorrected[3];
  ASSERT_EQ(0, store.SatPosition(30, t, 1, 2.2e7, kBahr, uncorrected, vUncorrected));
  EXPECT_GT(Distance(uncorrected, own), 1.0);  // 0.55 ms of motion is about 2 m
}

TEST(GpsOrbit, FailuresWriteNothingAndLeaveTheStatusWords) {
  EphemerisStore store;
  ASSERT_EQ(0, store.AddGpsEph(Bahr(5)));
  const double t = 352800.0;
  const double nan = std::nan("");
  const double badReceiver[3] = {INFINITY, 0.0, 0.0};
  struct Case {
    int32_t prn;
    double t;
    double range;
    const double* receiver;
    bool clockFails;
  };
  const Case cases[] = {{0, t, 2e7, kBahr, true},       {40, t, 2e7, kBahr, true},
                        {33, t, 2e7, kBahr, true},      {-1, t, 2e7, kBahr, true},
                        {6, t, 2e7, kBahr, true},       // no ephemeris for the PRN
                        {5, t + 20000.0, 2e7, kBahr, true},  // none within 4 hours
                        {5, nan, 2e7, kBahr, true},     {5, INFINITY, 2e7, kBahr, true},
                        {5, t, nan, kBahr, false},      {5, t, INFINITY, kBahr, false},
                        {5, t, 2e7, badReceiver, false}};
  for (const Case& c : cases) {
    store.clockState = 7;
    store.lastSystem = 7;
    double clock = -5.0;
    EXPECT_EQ(c.clockFails ? 1 : 0, store.SatClock(c.prn, c.t, &clock)) << c.prn << " " << c.t;
    if (c.clockFails) {
      EXPECT_EQ(-5.0, clock);
    }
    EXPECT_EQ(c.clockFails ? 7 : 0, store.clockState);
    double pos[3] = {-1.0, -2.0, -3.0}, vel[3] = {-4.0, -5.0, -6.0};
    for (int32_t applied : {0, 1}) {
      EXPECT_EQ(1, store.SatPosition(c.prn, c.t, applied, c.range, c.receiver, pos, vel))
          << c.prn << " " << c.t << " " << c.range;
      EXPECT_EQ(7, store.lastSystem);
      EXPECT_TRUE(pos[0] == -1.0 && pos[1] == -2.0 && pos[2] == -3.0) << "position written";
      EXPECT_TRUE(vel[0] == -4.0 && vel[1] == -5.0 && vel[2] == -6.0) << "velocity written";
    }
  }
  // Success sets them.
  double clock = 0.0, pos[3], vel[3];
  ASSERT_EQ(0, store.SatClock(5, t, -1, &clock));
  EXPECT_EQ(0, store.clockState);
  ASSERT_EQ(0, store.SatPosition(5, t, -1, 1, 2e7, kBahr, pos, vel));
  EXPECT_EQ(1, store.lastSystem);
  EXPECT_EQ(0, store.GpsSatClock(5, t, 250, &clock));
}

// Corrupt ephemeris files: any bit pattern in any field, at any requested time. Under the
// sanitizer build this also shows that no value reaches an undefined conversion.
TEST(GpsOrbit, CorruptRecordsGiveFiniteResultsOrFailure) {
  std::mt19937_64 random(20040610);
  auto anyDouble = [&]() {
    const uint64_t bits = random();
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  };
  double GpsEph::*const fields[] = {
      &GpsEph::tgd, &GpsEph::af2, &GpsEph::af1, &GpsEph::af0,    &GpsEph::deltaN,
      &GpsEph::m0,  &GpsEph::e,   &GpsEph::rootA, &GpsEph::cic,  &GpsEph::crc,
      &GpsEph::cis, &GpsEph::crs, &GpsEph::cuc, &GpsEph::cus,    &GpsEph::omega0,
      &GpsEph::omega, &GpsEph::i0, &GpsEph::omegaDot, &GpsEph::iDot};
  const int fieldCount = static_cast<int>(sizeof fields / sizeof fields[0]);
  int successes = 0;
  for (int trial = 0; trial < 3000; ++trial) {
    GpsEph r = Bahr(5);
    for (int k = 0; k < 3; ++k) r.*fields[random() % fieldCount] = anyDouble();
    if (trial % 3 == 0) r.toe = static_cast<int32_t>(random());
    if (trial % 5 == 0) r.toc = static_cast<int32_t>(random());
    if (trial % 7 == 0) r.week = static_cast<int32_t>(random());
    EphemerisStore store;
    if (store.AddGpsEph(r) != 0) continue;
    const double times[] = {r.toe + 100.0, anyDouble(), r.toe - 14000.5};
    for (double t : times) {
      double clock = -7.0;
      const int32_t clockResult = store.SatClock(5, t, &clock);
      if (clockResult == 0) {
        EXPECT_TRUE(std::isfinite(clock));
      } else {
        EXPECT_EQ(-7.0, clock);
      }
      double pos[3] = {-1.0, -1.0, -1.0}, vel[3] = {-2.0, -2.0, -2.0};
      const double range = trial % 11 == 0 ? anyDouble() : 2.2e7;
      if (store.SatPosition(5, t, trial % 2, range, kBahr, pos, vel) == 0) {
        ++successes;
        for (int k = 0; k < 3; ++k) {
          EXPECT_TRUE(std::isfinite(pos[k]) && std::isfinite(vel[k])) << trial;
        }
      } else {
        EXPECT_EQ(-1.0, pos[1]);
        EXPECT_EQ(-2.0, vel[1]);
      }
    }
  }
  EXPECT_GT(successes, 100);  // the trials do reach the orbit computation
}

}  // namespace
}  // namespace talverin
