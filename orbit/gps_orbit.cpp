// Satellite clock offset and Earth-fixed position and velocity at transmission from one
// broadcast ephemeris, after IS-GPS-200 20.3.3.3.3.1 (clock) and 20.3.3.4.3 (orbit), with
// the light-time iteration and the Earth rotation during the signal's travel. Members of
// EphemerisStore; selection of the record lives in ephemeris_store.cpp.
#include "orbit/ephemeris_store.h"

#include <cmath>

namespace talverin {
namespace {

constexpr double kGpsGm_m3ps2 = 3.986005e14;                 // IS-GPS-200 orbit value, not WGS84's
constexpr double kEarthRotation_radps = 7.2921151467e-5;     // IS-GPS-200 / WGS84
constexpr double kRelativisticF_spsqrtm = -4.442809305e-10;  // s/m^1/2, IS-GPS-200
constexpr double kAssumedTravel_s = 0.075;  // signal travel time assumed for the clock
// Fixed count, no convergence test: for GPS eccentricities (below 0.03) the error left in
// the eccentric anomaly is below 1e-9 rad.
constexpr int kKeplerIterations = 5;
constexpr int kMaxLightTimePasses = 4;           // caps the work per satellite; not an error
constexpr double kLightTimeTolerance_s = 1e-10;  // 3 cm of range

// Brings a time difference into [-302400, 302400]; exactly +-302400 s is left unchanged.
double WrapWeek(double d_s) {
  if (d_s > kHalfWeek_s) return d_s - kSecondsPerWeek;
  if (d_s < -kHalfWeek_s) return d_s + kSecondsPerWeek;
  return d_s;
}

double EccentricAnomaly_rad(const GpsEph& r, double n_radps, double tk_s) {
  const double m_rad = r.m0 + n_radps * tk_s;
  double e_rad = m_rad;
  for (int k = 0; k < kKeplerIterations; ++k) e_rad = m_rad + r.e * std::sin(e_rad);
  return e_rad;
}

bool AllFinite(const double* values, int count) {
  for (int k = 0; k < count; ++k) {
    if (!std::isfinite(values[k])) return false;
  }
  return true;
}

// What one orbit pass leaves for the velocity of that pass.
struct OrbitPass {
  double n_radps, a_m, oneMinusE2, sqrtOneMinusE2, v_rad, s2, c2, rho_m, yp_m;
  double cosU, sinU, cosI, sinI, cosNode, sinNode;
};

// One orbit pass: ECEF position (m) of the satellite at transmission time
// tTransmit_s = t - tau, expressed in the Earth-fixed frame of the reception instant.
void OrbitAtTransmission(const GpsEph& r, const GpsOrbitConstants& k, double tReceive_s,
                         double tau_s, double position[3], OrbitPass* pass) {
  const double tk_s = WrapWeek(tReceive_s - tau_s - r.toe);
  const double a_m = k.a_m;
  const double n_radps = k.n_radps;
  const double ea_rad = EccentricAnomaly_rad(r, n_radps, tk_s);
  const double oneMinusE2 = k.oneMinusE2;
  const double sqrtOneMinusE2 = k.sqrtOneMinusE2;
  const double v_rad = std::atan2(sqrtOneMinusE2 * std::sin(ea_rad), std::cos(ea_rad) - r.e);
  const double phi_rad = v_rad + r.omega;
  const double s2 = std::sin(2.0 * phi_rad);
  const double c2 = std::cos(2.0 * phi_rad);
  const double u_rad = phi_rad + r.cus * s2 + r.cuc * c2;
  const double rho_m = a_m * (1.0 - r.e * std::cos(ea_rad)) + r.crs * s2 + r.crc * c2;
  const double i_rad = r.i0 + r.iDot * tk_s + r.cis * s2 + r.cic * c2;
  // The last term rotates into the Earth-fixed frame of reception: Earth rotation
  // during the signal's travel time tau is included.
  const double node_rad = r.omega0 + (r.omegaDot - kEarthRotation_radps) * tk_s -
                          kEarthRotation_radps * (r.toe + tau_s);

  const double cosU = std::cos(u_rad), sinU = std::sin(u_rad);
  const double cosI = std::cos(i_rad), sinI = std::sin(i_rad);
  const double cosNode = std::cos(node_rad), sinNode = std::sin(node_rad);
  const double xp_m = rho_m * cosU;
  const double yp_m = rho_m * sinU;
  position[0] = xp_m * cosNode - yp_m * cosI * sinNode;
  position[1] = xp_m * sinNode + yp_m * cosI * cosNode;
  position[2] = yp_m * sinI;
  *pass = OrbitPass{n_radps, a_m,  oneMinusE2, sqrtOneMinusE2, v_rad, s2,      c2,     rho_m,
                    yp_m,    cosU, sinU,       cosI,           sinI,  cosNode, sinNode};
}

// ECEF velocity (m/s) of the pass that gave position: computed once, for the pass the
// light-time iteration ends on, not for every pass.
void OrbitVelocity(const GpsEph& r, const OrbitPass& p, const double position[3],
                   double velocity[3]) {
  const double cosV = std::cos(p.v_rad);
  const double onePlusECosV = 1.0 + r.e * cosV;
  const double vDot_radps =
      p.n_radps * onePlusECosV * onePlusECosV / (p.oneMinusE2 * p.sqrtOneMinusE2);
  const double iDot_radps = r.iDot + 2.0 * vDot_radps * (r.cis * p.c2 - r.cic * p.s2);
  const double nodeDot_radps = r.omegaDot - kEarthRotation_radps;
  const double rhoDot_mps = p.a_m * p.n_radps * r.e * std::sin(p.v_rad) / p.sqrtOneMinusE2 +
                            2.0 * vDot_radps * (r.crs * p.c2 - r.crc * p.s2);
  const double uDot_radps = vDot_radps * (1.0 + 2.0 * (r.cus * p.c2 - r.cuc * p.s2));
  const double xpDot_mps = rhoDot_mps * p.cosU - p.rho_m * uDot_radps * p.sinU;
  const double ypDot_mps = rhoDot_mps * p.sinU + p.rho_m * uDot_radps * p.cosU;
  velocity[0] = xpDot_mps * p.cosNode - ypDot_mps * p.cosI * p.sinNode +
                p.yp_m * iDot_radps * p.sinI * p.sinNode - nodeDot_radps * position[1];
  velocity[1] = xpDot_mps * p.sinNode + ypDot_mps * p.cosI * p.cosNode -
                p.yp_m * iDot_radps * p.sinI * p.cosNode + nodeDot_radps * position[0];
  velocity[2] = ypDot_mps * p.sinI + p.yp_m * iDot_radps * p.cosI;
}

}  // namespace

GpsOrbitConstants GpsOrbitConstantsOf(const GpsEph& r) {
  const double a_m = r.rootA * r.rootA;
  const double oneMinusE2 = 1.0 - r.e * r.e;
  return GpsOrbitConstants{a_m, std::sqrt(kGpsGm_m3ps2 / (a_m * a_m * a_m)) + r.deltaN, oneMinusE2,
                           std::sqrt(oneMinusE2)};
}

double VectorDistance(const double a[3], const double b[3]) {
  const double dx = b[0] - a[0];
  const double dy = b[1] - a[1];
  const double dz = b[2] - a[2];
  return std::sqrt(dx * dx + dy * dy + dz * dz);
}

int32_t EphemerisStore::ClockOf(const EphNode& node, double t, double* clock) {
  const GpsEph& r = node.record;
  const double tk_s = WrapWeek(t - r.toe - kAssumedTravel_s);
  const double tc_s = WrapWeek(t - r.toc - kAssumedTravel_s);
  // Not the orbit's Kepler solution: the clock takes an assumed travel time, the orbit the
  // light time of its last pass, so the two eccentric anomalies differ.
  const double ea_rad = EccentricAnomaly_rad(r, node.orbit.n_radps, tk_s);
  const double relativity_s = kRelativisticF_spsqrtm * r.e * r.rootA * std::sin(ea_rad);
  // tgd belongs to the single-frequency user's code correction, not to this clock.
  const double clock_s = (r.af2 * tc_s + r.af1) * tc_s + r.af0 + relativity_s;
  if (!std::isfinite(clock_s)) return 1;
  *clock = clock_s;
  return 0;
}

int32_t EphemerisStore::PositionOf(const EphNode& node, double t, double range,
                                   const double receiver[3], double position[3],
                                   double velocity[3]) {
  const GpsEph& r = node.record;
  double tau_s = range * kInvSpeedOfLight_spm;
  double pos_m[3] = {};
  double vel_mps[3] = {};
  OrbitPass pass{};
  int passes = 0;
  while (true) {
    OrbitAtTransmission(r, node.orbit, t, tau_s, pos_m, &pass);
    ++passes;
    const double next_s = VectorDistance(receiver, pos_m) * kInvSpeedOfLight_spm;
    if (std::fabs(tau_s - next_s) < kLightTimeTolerance_s) break;
    tau_s = next_s;
    if (passes >= kMaxLightTimePasses) break;
  }
  OrbitVelocity(r, pass, pos_m, vel_mps);
  lightTimePasses = passes;
  if (!AllFinite(pos_m, 3) || !AllFinite(vel_mps, 3)) return 1;
  for (int k = 0; k < 3; ++k) {
    position[k] = pos_m[k];
    velocity[k] = vel_mps[k];
  }
  return 0;
}

int32_t EphemerisStore::GpsSatClock(int32_t prn, double t, int32_t week, double* clock) {
  if (prn < 1 || prn > kMaxGpsPrn) return 1;
  const EphNode* node = FindGpsNode(prn, t, week);
  if (node == nullptr) return 1;
  return ClockOf(*node, t, clock);
}

int32_t EphemerisStore::GpsSatPosition(int32_t prn, double t, int32_t week, int32_t clockApplied,
                                       double range, const double receiver[3], double position[3],
                                       double velocity[3]) {
  if (prn < 1 || prn > kMaxGpsPrn) return 1;
  const EphNode* node = FindGpsNode(prn, t, week);
  if (node == nullptr) return 1;
  double tReceive_s = t;
  if (clockApplied == 0) {
    double satClock_s = 0.0;
    if (GpsSatClock(prn, t, week, &satClock_s) != 0) return 1;
    tReceive_s = t - satClock_s;
  }
  return PositionOf(*node, tReceive_s, range, receiver, position, velocity);
}

int32_t EphemerisStore::NodeClock(const EphNode& node, double t, double* clock) {
  if (ClockOf(node, t, clock) != 0) return 1;
  clockState = 0;
  return 0;
}

int32_t EphemerisStore::NodePosition(const EphNode& node, double t, double range,
                                     const double receiver[3], double position[3],
                                     double velocity[3]) {
  if (PositionOf(node, t, range, receiver, position, velocity) != 0) return 1;
  lastSystem = 1;
  return 0;
}

int32_t EphemerisStore::SatClock(int32_t prn, double t, int32_t week, double* clock) {
  if (GpsSatClock(prn, t, week, clock) != 0) return 1;
  clockState = 0;
  return 0;
}

int32_t EphemerisStore::SatPosition(int32_t prn, double t, int32_t week, int32_t clockApplied,
                                    double range, const double receiver[3], double position[3],
                                    double velocity[3]) {
  if (GpsSatPosition(prn, t, week, clockApplied, range, receiver, position, velocity) != 0) {
    return 1;
  }
  lastSystem = 1;
  return 0;
}

}  // namespace talverin
