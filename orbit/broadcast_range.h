// What the GPS navigation message can hold in each ephemeris and clock field of a GpsEph:
// the range of the field's bit width, two's complement or unsigned, times its LSB scale
// factor (IS-GPS-200 Tables 20-I and 20-III, subframes 1 to 3). A decoded record outside
// these ranges was damaged after the satellite sent it. Angles are judged in semicircles,
// the unit of the message and of the ephemeris file (GpsEph holds radians). Not judged:
// week, tow, IODC and IODE (carried only), and the 16 s step of toe and toc (a time that
// is not a multiple of 16 s harms no orbit or clock).
#pragma once

#include "orbit/gps_eph.h"

namespace talverin {

// The first field found outside what the message can hold.
struct BroadcastRangeFault {
  const char* field;  // GpsEph member name
  const char* unit;   // of value and bounds, with a leading blank ("" when unitless)
  double value;       // as found, in unit (semicircles for angles and angular rates)
  double min;         // the field's range as the message defines it, in unit: -2^(n-1) to
  double max;         // 2^(n-1) LSB (signed n bits) or 0 to 2^n LSB; toe and toc 0 to 604784 s
};

// True when every field fits its message field, within half an LSB of the lowest and the
// highest code; else false with the first field outside (fault may be null). A non-finite
// field is outside as well.
[[nodiscard]] bool WithinBroadcastRange(const GpsEph& eph, BroadcastRangeFault* fault = nullptr);

}  // namespace talverin
