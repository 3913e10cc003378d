// The BAHR sample of 2004-06-10 (samples/bahr-2004-162): its GPS broadcast ephemerides,
// read at test time from bahr1620.04n through the project's RINEX navigation reader, and
// the station's position: the fixtures of the orbit, store, positioning and ephemeris
// file tests. Angles in radians, times in seconds of the GPS week, weeks ten-bit (250) as
// a receiver stores them.
#pragma once

#include <vector>

#include "orbit/gps_eph.h"

namespace talverin {
namespace test_data {

// The record of toe 352800 s (02:00 GPS time) of each PRN, in the order given; an empty
// record (and a test failure) for a PRN the file does not hold at that toe.
std::vector<GpsEph> BahrEphemerides(const std::vector<int>& prns = {5, 9, 30, 6, 10, 17, 24});
inline GpsEph BahrEphemeris(int prn) { return BahrEphemerides({prn})[0]; }

// BAHR antenna reference point on 2004-06-10 (ITRF2014 marker propagated to the date, plus
// the 3.122 m antenna height), geodetic WGS84; GPS week 1274 day 4 begins at 345600 s.
inline constexpr double kBahrLat_deg = 26.20914118;
inline constexpr double kBahrLon_deg = 50.60814563;
inline constexpr double kBahrHeight_m = -13.957;
inline constexpr int kBahrFullWeek = 1274;
inline constexpr double kBahrDayStart_s = 345600.0;

// The double fields of a record, for tests that damage them one by one.
inline constexpr double GpsEph::*kGpsEphDoubleFields[] = {
    &GpsEph::tgd,   &GpsEph::af2, &GpsEph::af1,      &GpsEph::af0, &GpsEph::deltaN,
    &GpsEph::m0,    &GpsEph::e,   &GpsEph::rootA,    &GpsEph::cic, &GpsEph::crc,
    &GpsEph::cis,   &GpsEph::crs, &GpsEph::cuc,      &GpsEph::cus, &GpsEph::omega0,
    &GpsEph::omega, &GpsEph::i0,  &GpsEph::omegaDot, &GpsEph::iDot};

}  // namespace test_data
}  // namespace talverin
