// Satellite names of the tools' texts, RINEX files and reports: "G05" for GPS PRN 5, "R03"
// for GLONASS slot 3. The receivers of this family number GPS satellites 1-32 and, in a
// GLONASS receiver's channel and ephemeris records, GLONASS slots 1-24 as slot + 37 (38-61).
// Any other number names no satellite: damage, or a system RINEX export does not know.
#pragma once

#include <cstdint>
#include <string>

namespace talverin {

constexpr int32_t kGlonassPrnBase = 37;  // GLONASS slot n is PRN 37 + n
constexpr int32_t kGlonassSlots = 24;

struct SatelliteId {
  char system = '\0';  // 'G' GPS, 'R' GLONASS, '\0' none
  int32_t number = 0;  // PRN or slot
};

// The satellite a PRN byte names; GLONASS only for a GLONASS receiver.
[[nodiscard]] SatelliteId SatelliteOf(int32_t prn, bool glonassReceiver);
// "G05", "R03"; "PRN 35" for a number that names no satellite.
[[nodiscard]] std::string SatelliteName(int32_t prn, bool glonassReceiver);

}  // namespace talverin
