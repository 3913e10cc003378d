#include "dataset/satellite_names.h"

#include <cstdio>

#include "base/gnss_constants.h"

namespace talverin {

SatelliteId SatelliteOf(int32_t prn, bool glonassReceiver) {
  SatelliteId id;
  if (prn >= 1 && prn <= kMaxGpsPrn) {
    id.system = 'G';
    id.number = prn;
  } else if (glonassReceiver && prn > kGlonassPrnBase && prn <= kGlonassPrnBase + kGlonassSlots) {
    id.system = 'R';
    id.number = prn - kGlonassPrnBase;
  }
  return id;
}

std::string SatelliteName(int32_t prn, bool glonassReceiver) {
  const SatelliteId id = SatelliteOf(prn, glonassReceiver);
  char text[24];
  if (id.system == '\0') {
    std::snprintf(text, sizeof text, "PRN %d", static_cast<int>(prn));
  } else {
    std::snprintf(text, sizeof text, "%c%02d", id.system, static_cast<int>(id.number));
  }
  return text;
}

}  // namespace talverin
