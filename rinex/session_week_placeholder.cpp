#include "rinex/session_week_placeholder.h"

#include <cctype>
#include <cmath>
#include <map>

#include "base/gnss_constants.h"
#include "tools/rinex/rinex_text.h"

namespace talverin {
namespace {

constexpr int32_t kWeekCycle = 1024;  // broadcast weeks are counted modulo 1024

}  // namespace

bool ParseSetName(const std::string& bPath, SetName* name) {
  const size_t slash = bPath.find_last_of("/\\");
  const std::string file = bPath.substr(slash == std::string::npos ? 0 : slash + 1);
  // B ssss s yy . ddd
  if (file.size() != 12 || (file[0] != 'B' && file[0] != 'b') || file[8] != '.') return false;
  for (int i : {6, 7, 9, 10, 11}) {
    if (!std::isdigit(static_cast<unsigned char>(file[static_cast<size_t>(i)]))) return false;
  }
  *name = SetName();
  for (int i = 0; i < 4; ++i) name->site[i] = file[static_cast<size_t>(1 + i)];
  name->session = file[5];
  name->year = RinexFullYear(std::stol(file.substr(6, 2)));
  name->dayOfYear = std::stoi(file.substr(9, 3));
  return name->dayOfYear >= 1 && name->dayOfYear <= 366;
}

int32_t ResolveSessionWeek(const std::string& bPath, const std::vector<int32_t>& ephemerisWeeks,
                           double firstTow_s, int32_t overrideWeek, int32_t* week,
                           std::string* message) {
  message->clear();
  if (overrideWeek >= 0) {
    *week = overrideWeek;
    return 0;
  }
  // The most frequent ephemeris week, ten-bit.
  std::map<int32_t, int32_t> counts;
  for (int32_t w : ephemerisWeeks) {
    if (w >= 0) ++counts[w % kWeekCycle];
  }
  int32_t ephWeek = -1;
  int32_t best = 0;
  for (const auto& c : counts) {
    if (c.second > best) {
      best = c.second;
      ephWeek = c.first;
    }
  }
  SetName name;
  int32_t nameWeek = -1;
  if (ParseSetName(bPath, &name)) {
    int32_t w = 0;
    double tow = 0.0;
    if (RinexGpsTime(name.year, 1, 1, 0, 0, 0.0, &w, &tow)) {
      const double dayStart = w * kSecondsPerWeek + tow + (name.dayOfYear - 1) * kSecondsPerDay;
      nameWeek = static_cast<int32_t>(std::floor(dayStart / kSecondsPerWeek));
      const double dayTow = dayStart - nameWeek * kSecondsPerWeek;
      // The first epoch may fall in the week before or after the named day.
      if (firstTow_s - dayTow > kHalfWeek_s) --nameWeek;
      if (firstTow_s - dayTow < -kHalfWeek_s) ++nameWeek;
    }
  }
  if (nameWeek >= 0) {
    *week = nameWeek;
    if (ephWeek >= 0) {
      // The week the module's ten-bit rule gives (below 500: + 1024).
      const int32_t moduleWeek = ephWeek < 500 ? ephWeek + kWeekCycle : ephWeek;
      const int32_t d = (nameWeek - ephWeek) % kWeekCycle;
      if (d > 1 && d < kWeekCycle - 1) {
        *message = "ephemeris week " + std::to_string(ephWeek) + " (modulo 1024) does not match "
                   "the day in the file name (GPS week " + std::to_string(nameWeek) +
                   "); dates follow the file name";
      } else if (std::abs(moduleWeek - nameWeek) > 1) {
        *message = "ephemeris week " + std::to_string(ephWeek) + " is counted from the week "
                   "rollover before GPS week " + std::to_string(nameWeek - nameWeek % kWeekCycle) +
                   "; dates follow the file name";
      }
    }
    return 0;
  }
  if (ephWeek >= 0) {
    *week = ephWeek < 500 ? ephWeek + kWeekCycle : ephWeek;
    *message = "the file name holds no date: GPS week " + std::to_string(*week) +
               " from the ephemerides (give --gps-week if the data are from another 1024-week cycle)";
    return 0;
  }
  *message = "neither the file name nor the ephemerides give the GPS week: give --gps-week";
  return -1;
}

}  // namespace talverin
