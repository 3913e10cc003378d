// GPS navigation file text, RINEX 2.11 ("N: GPS NAV DATA") and 3.04 ("N: GNSS NAV DATA",
// G records): one eight-line record per broadcast ephemeris, in the units RINEX uses (s,
// m, rad, rad/s; the record's angles already in radians), with the full GPS week that goes
// with toe and the transmission time referred to that week. Fields the receiver's record
// does not hold are written as RINEX reads an unknown value: SV accuracy, codes on L2, L2 P
// data flag and fit interval 0. The caller owns the file and the week resolution.
#pragma once

#include <cstdint>
#include <string>

#include "orbit/gps_eph.h"
#include "rinex/rinex_format.h"

namespace talverin {

struct NavHeaderInfo {
  int32_t version = 2;       // 2 (2.11) or 3 (3.04)
  std::string program;       // PGM / RUN BY / DATE, program field
  std::string creationDate;  // "yyyymmdd hhmmss UTC"
  int32_t leapSeconds = -1;  // LEAP SECONDS when 0 or more
};

// One record for writing: the decoded ephemeris, its health word, and the full GPS week
// of its transmission time (tow), from which the toe and toc weeks follow.
struct NavRecordInput {
  GpsEph eph{};
  int32_t health = 0;
  int32_t transmitWeek = 0;  // full GPS week of eph.tow
};

void AppendNavHeader(std::string* out, const NavHeaderInfo& header);
void AppendNavRecord(std::string* out, int32_t version, const NavRecordInput& record);

// The instant in the week nearest to reference (within half a week) of a time of week.
GpsInstant NearestInstant(double tow_s, const GpsInstant& reference);

}  // namespace talverin
