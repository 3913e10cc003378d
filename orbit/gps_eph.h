// GPS broadcast ephemeris record (one subframe 1-3 set), angles in radians, times in
// seconds of the GPS week, week numbers ten-bit as the receiver gives them. The ephemeris
// reader fills it from one file record; health and accuracy are not part of it.
#pragma once

#include <cstdint>

namespace talverin {

struct GpsEph {
  int32_t prn;      // 1..32
  int32_t week;     // GPS week as the file gives it (ten-bit)
  int32_t tow;      // s, time of the message (carried)
  double tgd;       // s, group delay (carried, not applied)
  int32_t iodc;     // carried
  int32_t toc;      // s of week, clock reference time
  double af2;       // s/s^2
  double af1;       // s/s
  double af0;       // s
  int32_t iode;     // carried
  double deltaN;    // rad/s, mean motion difference
  double m0;        // rad, mean anomaly at toe
  double e;         // eccentricity
  double rootA;     // m^1/2
  int32_t toe;      // s of week, ephemeris reference time
  double cic;       // rad
  double crc;       // m
  double cis;       // rad
  double crs;       // m
  double cuc;       // rad
  double cus;       // rad
  double omega0;    // rad, longitude of ascending node at weekly epoch
  double omega;     // rad, argument of perigee
  double i0;        // rad, inclination at toe
  double omegaDot;  // rad/s
  double iDot;      // rad/s
};

// Whether every orbit and clock field is a finite number.
bool GpsEphFinite(const GpsEph& r);

}  // namespace talverin
