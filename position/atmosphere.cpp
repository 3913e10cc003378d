#include "position/atmosphere.h"

#include <cmath>

#include "base/gnss_constants.h"
#include "position/single_point.h"
#include "time/gps_time.h"

namespace talverin {
namespace {

// Weeks beyond this never come from a receiver file; they would only overflow the
// calendar arithmetic, so the model is not applied to them.
constexpr int32_t kMaxEphemerisWeek = 65535;

}  // namespace

double SaastamoinenTableB(double height_km) {
  // Saastamoinen's height correction B (mbar) against height (km), extended to 15 km.
  static constexpr int kRows = 12;
  static constexpr double kHeight_km[kRows] = {0.0, 0.5, 1.0, 1.5, 2.0,  2.5,
                                               3.0, 4.0, 5.0, 7.0, 10.0, 15.0};
  static constexpr double kB_mbar[kRows] = {1.156, 1.079, 1.006, 0.938, 0.874, 0.813,
                                            0.757, 0.654, 0.563, 0.407, 0.222, 0.0};
  if (!(height_km >= kHeight_km[0])) return kB_mbar[0];  // below the table (or NaN)
  if (height_km >= kHeight_km[kRows - 1]) return 0.0;
  for (int i = 0; i + 1 < kRows; ++i) {
    if (height_km < kHeight_km[i + 1]) {
      const double fraction = (height_km - kHeight_km[i]) / (kHeight_km[i + 1] - kHeight_km[i]);
      return kB_mbar[i] + fraction * (kB_mbar[i + 1] - kB_mbar[i]);
    }
  }
  return 0.0;
}

namespace {

// The part of the delay that depends only on the station and the date, the same for every
// satellite of an epoch: computed once per epoch instead of once per satellite.
struct StationAtmosphere {
  double full_s = 0.0;              // GPS seconds it was computed for
  double scale = 0.0;               // 0.002277 times the gravity factor
  double pressureTerms_mbar = 0.0;  // pressure plus the water-vapour term
  double b_mbar = 0.0;              // Saastamoinen's height correction
  bool ready = false;
};

// The satellite's epoch time as full GPS seconds (week resolved against its ephemeris), or
// false when the model does not apply to this satellite and station.
bool DelayApplies(double time_s, const SatelliteState& satellite, const GeodeticPos& station,
                  double* full_s) {
  if (satellite.valid == 0 || satellite.elevationValid == 0 || satellite.ephemeris == nullptr) {
    return false;
  }
  const double lat_deg = station.lat;
  const double lon_deg = station.lon;
  const double h_m = station.height;
  // A position record of exactly 0 latitude or longitude is the "no position yet" record.
  if (lat_deg == 0.0 || lon_deg == 0.0) return false;
  if (!std::isfinite(lat_deg) || !std::isfinite(lon_deg) || !std::isfinite(h_m)) return false;
  if (h_m < kTropoMinHeight_m || h_m > kTropoMaxHeight_m) return false;
  if (!std::isfinite(satellite.elevation)) return false;
  const GpsEph& eph = *satellite.ephemeris;
  if (!(std::fabs(time_s) < kMaxEpochTime_s) || eph.week < 0 || eph.week > kMaxEphemerisWeek) {
    return false;
  }
  *full_s = GpsFullSeconds(time_s, eph.week, static_cast<double>(eph.toe));
  return true;
}

void ComputeStationAtmosphere(double full_s, const GeodeticPos& station, StationAtmosphere* out) {
  const double lat_deg = station.lat;
  const double h_m = station.height;
  const int32_t week = WeekOfFullSeconds(full_s);
  const double sow_s = SecondsOfWeek(full_s);
  int32_t mjd = 0;
  double dayFraction = 0.0;
  GpsToMjd(week, sow_s, &mjd, &dayFraction);

  // Standard atmosphere: season phase from J2000 (MJD 51545) over the tropical year
  // (0.002737909323296114 = 1 / 365.242191 days).
  double wholeYears = 0.0;
  const double yearPhase =
      6.28318530717958 *
      std::modf((static_cast<double>(mjd) - 51545.0 + dayFraction) * 0.002737909323296114,
                &wholeYears);
  const double phi_rad = lat_deg * 0.017453292519943278;
  const double h_km = h_m * 0.001;
  const double temperature_c =
      (std::sin(yearPhase) * (1.1 * h_km - 4.7) + std::cos(yearPhase) * (3.3 * h_km - 14.3)) *
          std::sin(phi_rad) +
      48.4 * std::cos(phi_rad) - 3.1 * h_km - 20.5;
  const double pressure_mbar =
      1013.25 * std::pow((temperature_c + 273.15) / (temperature_c + 273.15 + 6.5 * h_km), 5.26);
  const double temperature_k = temperature_c + 273.0;
  const double waterVapour_mbar = 0.6;

  out->full_s = full_s;
  // Saastamoinen, with the gravity factor (1 + 0.0026 cos 2phi + 0.00028 H[km]) multiplied in.
  out->scale = 0.002277 * (1.0 + 0.0026 * std::cos(2.0 * lat_deg * 0.017453292519943295) +
                           2.7999999999999997e-7 * h_m);
  out->pressureTerms_mbar = pressure_mbar + (1255.0 / temperature_k + 0.05) * waterVapour_mbar;
  out->b_mbar = SaastamoinenTableB(h_km);
  out->ready = true;
}

double SlantDelay(const StationAtmosphere& a, double elevation_rad) {
  const double zenith_rad = 1.5707963267948966 - elevation_rad;
  const double tanZenith = std::tan(zenith_rad);
  return a.scale / std::cos(zenith_rad) * (a.pressureTerms_mbar - a.b_mbar * tanZenith * tanZenith);
}

// TropoDelay with the station part kept in cache between the satellites of one epoch.
double CachedTropoDelay(double time_s, const SatelliteState& satellite, const GeodeticPos& station,
                        StationAtmosphere* cache) {
  double full_s = 0.0;
  if (!DelayApplies(time_s, satellite, station, &full_s)) return 0.0;
  if (!cache->ready || cache->full_s != full_s) ComputeStationAtmosphere(full_s, station, cache);
  return SlantDelay(*cache, satellite.elevation);
}

}  // namespace

double TropoDelay(double time_s, const SatelliteState& satellite, const GeodeticPos& station) {
  StationAtmosphere atmosphere;
  return CachedTropoDelay(time_s, satellite, station, &atmosphere);
}

void ApplyAtmosphere(double time_s, int32_t n, const int32_t* prns, double* ranges_m,
                     int32_t troposphereModel, const GeodeticPos& station,
                     SatelliteState* satellites) {
  StationAtmosphere atmosphere;  // the station is the same for the whole list
  for (int32_t i = 0; i < n && i < kMaxUsedSatellites; ++i) {
    if (prns[i] < 1 || prns[i] > kMaxGpsPrn) continue;  // never listed by the selection
    SatelliteState& s = satellites[prns[i]];
    double delay_m = 0.0;
    if (troposphereModel == 1) {
      delay_m = CachedTropoDelay(time_s, s, station, &atmosphere);
      // Very low elevations give absurd delays: those are dropped, not clipped.
      if (!(delay_m >= -kTropoLimit_m && delay_m <= kTropoLimit_m)) delay_m = 0.0;
    }
    ranges_m[i] -= delay_m;
    s.troposphericDelay = delay_m;
    s.ionosphereSource = 0;
    s.ionosphere[0] = 0.0;
  }
}

void SinglePoint::ApplyAtmosphere(double time_s, int32_t n, const int32_t* prns, double* ranges_m) {
  talverin::ApplyAtmosphere(time_s, n, prns, ranges_m, settings_.troposphereModel, geodetic_,
                            satellites_);
}

}  // namespace talverin
