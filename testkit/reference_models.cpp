#include "testkit/reference_models.h"

#include <cmath>
#include <cstdlib>

namespace talverin {
namespace testing_support {

double RefWrapWeek(double dt_s) {
  if (dt_s > kRefWeek_s / 2) return dt_s - kRefWeek_s;
  if (dt_s < -kRefWeek_s / 2) return dt_s + kRefWeek_s;
  return dt_s;
}

double RefEccentricAnomaly(const GpsEph& r, double t) {
  const double a = r.rootA * r.rootA;
  const double meanAnomaly =
      r.m0 + (std::sqrt(kRefGm_m3ps2 / (a * a * a)) + r.deltaN) * RefWrapWeek(t - r.toe);
  double ea = meanAnomaly;
  for (int i = 0; i < 50; ++i) {  // Newton's method on E - e sin E = M, to machine precision
    const double step = (ea - r.e * std::sin(ea) - meanAnomaly) / (1.0 - r.e * std::cos(ea));
    ea -= step;
    if (std::fabs(step) < 1e-15) break;
  }
  return ea;
}

double Distance3(const double a[3], const double b[3]) {
  return std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) +
                   (a[2] - b[2]) * (a[2] - b[2]));
}

// IS-GPS-200 Table 20-IV, then turned by -omega_e * tau about the z axis.
void RefOrbit(const GpsEph& r, double tt, double tau, double out[3]) {
  const double tk = RefWrapWeek(tt - r.toe);
  const double a = r.rootA * r.rootA;
  const double ea = RefEccentricAnomaly(r, tt);
  const double trueAnomaly =
      std::atan2(std::sqrt(1.0 - r.e * r.e) * std::sin(ea), std::cos(ea) - r.e);
  const double phi = trueAnomaly + r.omega;
  const double u = phi + r.cus * std::sin(2 * phi) + r.cuc * std::cos(2 * phi);
  const double radius =
      a * (1.0 - r.e * std::cos(ea)) + r.crs * std::sin(2 * phi) + r.crc * std::cos(2 * phi);
  const double inc = r.i0 + r.iDot * tk + r.cis * std::sin(2 * phi) + r.cic * std::cos(2 * phi);
  const double node = r.omega0 + (r.omegaDot - kRefOmegaE_radps) * tk - kRefOmegaE_radps * r.toe;
  const double x = radius * std::cos(u);
  const double y = radius * std::sin(u);
  const double fixed[3] = {x * std::cos(node) - y * std::cos(inc) * std::sin(node),
                           x * std::sin(node) + y * std::cos(inc) * std::cos(node),
                           y * std::sin(inc)};
  const double theta = kRefOmegaE_radps * tau;
  out[0] = std::cos(theta) * fixed[0] + std::sin(theta) * fixed[1];
  out[1] = -std::sin(theta) * fixed[0] + std::cos(theta) * fixed[1];
  out[2] = fixed[2];
}

int RefLightTime(const GpsEph& r, double t, double range, const double rx[3], double out[3]) {
  double tau = range / kRefC_mps;
  for (int passes = 1;; ++passes) {
    RefOrbit(r, t - tau, tau, out);
    const double next = Distance3(out, rx) / kRefC_mps;
    if (std::fabs(next - tau) < 1e-10 || passes == 4) return passes;
    tau = next;
  }
}

// From 75 ms the third pass settles below 1e-10 s: each pass shrinks the error by the range
// rate over c (about 1e-5), so the cap of four is not reached.
double RefTravelTime(const GpsEph& r, double t, const double rx[3]) {
  double p[3];
  RefLightTime(r, t, 0.075 * kRefC_mps, rx, p);
  return Distance3(p, rx) / kRefC_mps;
}

double RefClock(const GpsEph& r, double t) {
  constexpr double kF = -4.442809305e-10;  // s/m^1/2, IS-GPS-200 relativistic constant
  const double dt = RefWrapWeek(t - r.toc - 0.075);
  const double ek = RefEccentricAnomaly(r, t - 0.075);
  return r.af0 + r.af1 * dt + r.af2 * dt * dt + kF * r.e * r.rootA * std::sin(ek);
}

// Keys stand one hour before toe; a cached record answers within 4000 s, else the nearest
// within 14400 s (ties: the first added); week unknown, distances beyond 450000 s fold by a
// week; week known, the full request time is truncated first.
const GpsEph* ScanSelection::Find(const EphemerisStore& store, int32_t prn, double t,
                                  int32_t week) {
  const bool known = week >= 0;
  const int64_t full =
      known ? static_cast<int64_t>((week < 500 ? week + 1024 : week) * kRefWeek_s + t) : 0;
  auto d = [&](const EphNode* n) -> int64_t {
    return known ? full - n->fullKey : static_cast<int64_t>(t - static_cast<double>(n->sowKey));
  };
  if (cache[prn] != nullptr && std::llabs(d(cache[prn])) < 4000) return &cache[prn]->record;
  const EphNode* best = nullptr;
  int64_t bestDistance = 14400;
  for (const EphNode* n = store.gpsList; n != nullptr; n = n->next) {
    if (n->prn != prn) continue;
    int64_t dn = d(n);
    if (!known && dn < -450000) dn += 604800;
    if (!known && dn > 450000) dn -= 604800;
    if (std::llabs(dn) < bestDistance) {
      bestDistance = std::llabs(dn);
      best = n;
    }
  }
  if (best != nullptr) cache[prn] = best;
  return best != nullptr ? &best->record : nullptr;
}

}  // namespace testing_support
}  // namespace talverin
