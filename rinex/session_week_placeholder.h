// PLACEHOLDER, to be replaced by the shared session-week resolver of the command-line tools
// (tools/download_set/session_week.h) once it is in main; the RINEX export calls only
// ResolveSessionWeek below. Full GPS week of a download set's first epoch: from the
// --gps-week override, else the day in the set's file name ("B" + site + session + "yy.ddd")
// checked against the ten-bit weeks of its ephemerides (a disagreement or a rollover is
// resolved from the name and reported), else the ephemerides alone.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace talverin {

struct SetName {
  char site[5] = "";
  char session = '\0';
  int32_t year = 0;       // four digits (80-99: 1980-1999, 00-79: 2000-2079)
  int32_t dayOfYear = 0;  // 1-366
};
// false when the file name does not have that form.
[[nodiscard]] bool ParseSetName(const std::string& bPath, SetName* name);

// 0 with *week set (and *message saying what was found when the sources disagree), -1 when
// nothing gives a week (message says so).
[[nodiscard]] int32_t ResolveSessionWeek(const std::string& bPath,
                                         const std::vector<int32_t>& ephemerisWeeks,
                                         double firstTow_s, int32_t overrideWeek, int32_t* week,
                                         std::string* message);

}  // namespace talverin
