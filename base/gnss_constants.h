// Physical and time constants shared by the readers, the orbit and the positioning.
// Values are the ones the receiver files and IS-GPS-200 use; each is defined once here.
#pragma once

#include <cstdint>

namespace talverin {

constexpr double kSpeedOfLight_mps = 299792458.0;               // m/s, exact (SI)
constexpr double kInvSpeedOfLight_spm = 3.3356409519815204e-9;  // s/m, 1/c as the files use it
constexpr double kPi = 3.141592653589793;            // semicircles to radians (IS-GPS-200)
constexpr double kSecondsPerWeek = 604800.0;         // s
constexpr double kHalfWeek_s = 302400.0;             // s
constexpr double kSecondsPerDay = 86400.0;           // s
constexpr double kDegPerRad = 57.29577951308232;     // degrees per radian
constexpr double kRadPerDeg = 0.017453292519943295;  // radians per degree

constexpr int kMaxPrn = 72;     // per-PRN tables are indexed 0..71
constexpr int kMaxGpsPrn = 32;  // GPS PRNs are 1..32; GLONASS numbers lie above
constexpr int kTextSize = 512;  // every message buffer, NUL included
constexpr int kPathSize = 256;  // every path field, NUL included

}  // namespace talverin
