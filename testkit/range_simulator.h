// Pseudorange simulator for tests (not part of the module): from broadcast GPS ephemerides
// and a chosen receiver (WGS84 latitude/longitude in degrees, height in m) and clock offset
// (m), the C/A ranges a receiver there would measure at a true GPS reception time: satellite
// position at transmission (the reference orbit of reference_models.h, light time iterated),
// satellite clock with the relativistic term and without the group delay, and the
// Saastamoinen troposphere with the standard atmosphere. Written independently of the
// module's orbit and troposphere code.
// RINEX navigation files are read by rinex/rinex_nav_reader.h.
#pragma once

#include <cstdint>
#include <vector>

#include "orbit/gps_eph.h"
#include "output/gpb_types.h"

namespace talverin {

struct SimulatedRange {
  int32_t prn = 0;
  double range_m = 0.0;  // C/A pseudorange the receiver reports
  double elevation_rad = 0.0;
  double transmission_s = 0.0;  // GPS seconds of week
};

class RangeSimulator {
 public:
  // fullWeek: the GPS week of the simulated times, not folded modulo 1024 (for the season).
  RangeSimulator(double lat_deg, double lon_deg, double height_m, int32_t fullWeek);

  const double* receiver() const { return receiver_m_; }

  // What the receiver measures from eph's satellite at true GPS reception time t (s of week).
  [[nodiscard]] bool Observe(const GpsEph& eph, double reception_s, double clock_m,
                             SimulatedRange* out) const;

  // An epoch of the satellites at or above minElevation_deg (at most 24, in the order of
  // ephs): valid 1, flags 0, rcvTime = gpsTime = t + clock / c, range1 with its presence
  // bit. Returns the satellites in the epoch.
  int32_t BuildEpoch(const std::vector<GpsEph>& ephs, double reception_s, double clock_m,
                     double minElevation_deg, gpb_epoch_type* epoch) const;

  // Saastamoinen delay (m) at this receiver for an elevation (rad), standard atmosphere.
  [[nodiscard]] double Troposphere(double elevation_rad, double gpsSeconds_s) const;

 private:
  double lat_deg_;
  double lon_deg_;
  double height_m_;
  int32_t fullWeek_;
  double receiver_m_[3];
};

}  // namespace talverin
