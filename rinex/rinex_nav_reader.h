// RINEX 2 GPS navigation file reader (versions 2.00-2.11): every broadcast ephemeris
// record in file order as a GpsEph (angles in radians and rad/s as the file gives them,
// times in seconds of the GPS week, the full GPS week of the record) with its health
// word. toc comes from the record's epoch (GPS time). Errors name the file and the line.
#pragma once

#include <cstdint>
#include <vector>

#include "orbit/gps_eph.h"
#include "rinex/rinex_text.h"

namespace talverin {

struct RinexNavRecord {
  GpsEph eph{};
  int32_t health = 0;       // SV health word, 0 = healthy
  double accuracy_m = 0.0;  // SV accuracy
  double fitInterval_h = 0.0;
  long line = 0;  // line of the record's epoch line
};

struct RinexNavFile {
  double version = 0.0;
  std::vector<RinexNavRecord> records;
};

// Reads the whole file. 0 success, -1 failure (errorText set, "file:line: reason").
[[nodiscard]] int32_t ReadRinexNav(const char* path, RinexNavFile* out, char* errorText);

}  // namespace talverin
