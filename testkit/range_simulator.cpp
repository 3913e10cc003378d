#include "testkit/range_simulator.h"

#include <cmath>
#include <cstring>

#include "testkit/reference_models.h"

namespace talverin {
namespace {

// Constants kept apart from the module's code; the orbit, GM, c and the week's fold are the
// reference model's (IS-GPS-200).
using testing_support::kRefC_mps;
constexpr double kWgs84A = 6378137.0;     // m
constexpr double kWgs84B = 6356752.3141;  // m
constexpr double kPiValue = 3.141592653589793;

}  // namespace

RangeSimulator::RangeSimulator(double lat_deg, double lon_deg, double height_m, int32_t fullWeek)
    : lat_deg_(lat_deg), lon_deg_(lon_deg), height_m_(height_m), fullWeek_(fullWeek) {
  const double phi = lat_deg * kPiValue / 180.0;
  const double lambda = lon_deg * kPiValue / 180.0;
  const double e2 = 1.0 - (kWgs84B * kWgs84B) / (kWgs84A * kWgs84A);
  const double n = kWgs84A / std::sqrt(1.0 - e2 * std::sin(phi) * std::sin(phi));
  receiver_m_[0] = (n + height_m) * std::cos(phi) * std::cos(lambda);
  receiver_m_[1] = (n + height_m) * std::cos(phi) * std::sin(lambda);
  receiver_m_[2] = (n * (1.0 - e2) + height_m) * std::sin(phi);
}

double RangeSimulator::Troposphere(double elevation_rad, double gpsSeconds_s) const {
  // Season: days since J2000.0 (MJD 51545) over the tropical year of 365.242191 days.
  const double mjd = 44244.0 + 7.0 * fullWeek_ + gpsSeconds_s / 86400.0;
  const double years = (mjd - 51545.0) / 365.242191;
  const double season = 2.0 * kPiValue * (years - std::floor(years));
  const double phi = lat_deg_ * kPiValue / 180.0;
  const double hKm = height_m_ / 1000.0;
  const double celsius =
      (std::sin(season) * (1.1 * hKm - 4.7) + std::cos(season) * (3.3 * hKm - 14.3)) *
          std::sin(phi) +
      48.4 * std::cos(phi) - 3.1 * hKm - 20.5;
  const double pressure =
      1013.25 * std::pow((celsius + 273.15) / (celsius + 273.15 + 6.5 * hKm), 5.26);
  const double kelvin = celsius + 273.0;
  // Saastamoinen's B table (mbar against km), linear between rows.
  const double heights[] = {0.0, 0.5, 1.0, 1.5, 2.0, 2.5, 3.0, 4.0, 5.0, 7.0, 10.0, 15.0};
  const double bValues[] = {1.156, 1.079, 1.006, 0.938, 0.874, 0.813,
                            0.757, 0.654, 0.563, 0.407, 0.222, 0.0};
  double b = hKm < 0.0 ? 1.156 : 0.0;
  for (int i = 0; i < 11; ++i) {
    if (hKm >= heights[i] && hKm < heights[i + 1]) {
      b = bValues[i] +
          (bValues[i + 1] - bValues[i]) * (hKm - heights[i]) / (heights[i + 1] - heights[i]);
    }
  }
  const double zenith = kPiValue / 2.0 - elevation_rad;
  const double gravity = 1.0 + 0.0026 * std::cos(2.0 * phi) + 0.00028 * hKm;
  return 0.002277 * gravity / std::cos(zenith) *
         (pressure + (1255.0 / kelvin + 0.05) * 0.6 - b * std::pow(std::tan(zenith), 2));
}

bool RangeSimulator::Observe(const GpsEph& eph, double reception_s, double clock_m,
                             SimulatedRange* out) const {
  double tau = 0.075;
  double sat[3] = {};
  double ea = 0.0;
  double rho = 0.0;
  double tropo = 0.0;
  double elevation = 0.0;
  for (int pass = 0; pass < 30; ++pass) {
    // The Earth turns by omega_e * tau while the signal travels: the transmission position
    // in the frame of the reception instant.
    testing_support::RefOrbit(eph, reception_s - tau, tau, sat);
    ea = testing_support::RefEccentricAnomaly(eph, reception_s - tau);
    const double d[3] = {sat[0] - receiver_m_[0], sat[1] - receiver_m_[1], sat[2] - receiver_m_[2]};
    rho = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    const double phi = lat_deg_ * kPiValue / 180.0;
    const double lambda = lon_deg_ * kPiValue / 180.0;
    const double up = std::cos(phi) * std::cos(lambda) * d[0] +
                      std::cos(phi) * std::sin(lambda) * d[1] + std::sin(phi) * d[2];
    elevation = std::asin(up / rho);
    tropo = Troposphere(elevation, reception_s);
    const double next = (rho + tropo) / kRefC_mps;  // the delay also delays the transmission
    const bool done = std::fabs(next - tau) < 1e-14;
    tau = next;
    if (done) break;
  }
  if (!std::isfinite(rho)) return false;
  const double transmission = reception_s - tau;
  const double tc = testing_support::RefWrapWeek(transmission - eph.toc);
  const double relativity = -2.0 * std::sqrt(testing_support::kRefGm_m3ps2) /
                            (kRefC_mps * kRefC_mps) * eph.e * eph.rootA * std::sin(ea);
  const double satClock = eph.af0 + eph.af1 * tc + eph.af2 * tc * tc + relativity;
  out->prn = eph.prn;
  out->elevation_rad = elevation;
  out->transmission_s = transmission;
  out->range_m = rho + clock_m - kRefC_mps * satClock + tropo;
  return true;
}

int32_t RangeSimulator::BuildEpoch(const std::vector<GpsEph>& ephs, double reception_s,
                                   double clock_m, double minElevation_deg,
                                   gpb_epoch_type* epoch) const {
  std::memset(epoch, 0, sizeof *epoch);
  epoch->valid = 1;
  epoch->rcvTime = reception_s + clock_m / kRefC_mps;
  epoch->gpsTime = epoch->rcvTime;
  int32_t count = 0;
  for (const GpsEph& eph : ephs) {
    SimulatedRange range;
    if (count >= kGpbMaxSats || !Observe(eph, reception_s, clock_m, &range)) continue;
    if (range.elevation_rad * 180.0 / kPiValue < minElevation_deg) continue;
    epoch->sat[count].prn = static_cast<uint32_t>(eph.prn);
    epoch->sat[count].sflags = kSatRange1;
    epoch->sat[count].range1 = range.range_m;
    ++count;
  }
  epoch->nsat = static_cast<int16_t>(count);
  return count;
}

}  // namespace talverin
