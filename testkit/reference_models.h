// Independent reference computations shared by the tests (not part of the module): the
// broadcast orbit and clock written from the IS-GPS-200 equations apart from orbit/ (Kepler
// by Newton's method to convergence, the Earth's turn during the travel time as a rotation),
// and the ephemeris selection rule as a plain scan of every record in the order added.
// Units: m, s, rad; positions ECEF. Also the BAHR receiver position the orbit tests use.
#pragma once

#include <cstdint>

#include "orbit/ephemeris_store.h"

namespace talverin {
namespace testing_support {

constexpr double kRefC_mps = 299792458.0;
constexpr double kRefGm_m3ps2 = 3.986005e14;          // IS-GPS-200
constexpr double kRefOmegaE_radps = 7.2921151467e-5;  // IS-GPS-200
constexpr double kRefWeek_s = 604800.0;
// BAHR antenna reference point, ITRF2014 at 2004-06-10 (shared/data/bahr-2004-162/README.txt).
constexpr double kBahrEcef_m[3] = {3633910.5918, 4425277.7039, 2799862.8556};

double Distance3(const double a[3], const double b[3]);
// A time difference (s) folded into -302400..302400 across the week's ends.
double RefWrapWeek(double dt_s);
// Eccentric anomaly (rad) at GPS time t (s of week), Newton's method to machine precision.
double RefEccentricAnomaly(const GpsEph& r, double t);
// Satellite position at transmission time tt (s of week), in the Earth-fixed frame of the
// instant tau seconds later.
void RefOrbit(const GpsEph& r, double tt, double tau, double out[3]);
// The light-time iteration from a first range guess, stopping below 1e-10 s or after four
// passes: the passes taken, and the position in out.
int RefLightTime(const GpsEph& r, double t, double range, const double rx[3], double out[3]);
// Converged travel time (s) from the satellite to rx at reception time t.
double RefTravelTime(const GpsEph& r, double t, const double rx[3]);
// Satellite clock (s) at reception time t assuming 0.075 s of travel: polynomial plus the
// relativistic term, without the group delay.
double RefClock(const GpsEph& r, double t);

// Selection of the record for (prn, t, week) by scanning store.gpsList, with its own
// per-PRN cache (the store's trees must pick the very same record).
struct ScanSelection {
  const EphNode* cache[kMaxPrn] = {};
  const GpsEph* Find(const EphemerisStore& store, int32_t prn, double t, int32_t week);
};

}  // namespace testing_support
}  // namespace talverin
