// Tropospheric delay (m) of a C/A pseudorange from the Saastamoinen formula, fed by a
// built-in standard atmosphere (temperature from latitude, height in km and season; pressure
// from temperature and height; a fixed water-vapour pressure) and Saastamoinen's height
// correction table B (mbar, extended to 15 km). No ionosphere model: the ionosphere fields
// of a satellite state stay 0. SinglePoint::ApplyAtmosphere (atmosphere.cpp) applies the
// delay to the ranges of an attempt.
#pragma once

#include "geodesy/geodetic.h"
#include "position/epoch_solution.h"

namespace talverin {

constexpr double kTropoLimit_m = 25.0;         // a delay beyond +-25 m is not applied
constexpr double kTropoMinHeight_m = -2000.0;  // station heights outside these get no delay
constexpr double kTropoMaxHeight_m = 35000.0;

// Saastamoinen height correction B (mbar) at a height in km, interpolated in table B:
// 1.156 below 0 km, 0 from 15 km up.
[[nodiscard]] double SaastamoinenTableB(double height_km);

// Delay (m) for the satellite seen from the geodetic position record; 0 when the model does
// not apply (no position or elevation yet, no ephemeris, a station exactly on the equator or
// the Greenwich meridian, a height outside -2000..35000 m). time: s of week of the epoch.
[[nodiscard]] double TropoDelay(double time_s, const SatelliteState& satellite,
                                const GeodeticPos& station);

// Removes the delay from each of the n ranges (m) of the listed PRNs (1..32) and records it
// in their satellite states (indexed by PRN), clearing their ionosphere fields. A delay
// outside +-25 m is dropped. troposphereModel: 0 none, 1 the model above.
void ApplyAtmosphere(double time_s, int32_t n, const int32_t* prns, double* ranges_m,
                     int32_t troposphereModel, const GeodeticPos& station,
                     SatelliteState* satellites);

}  // namespace talverin
