#include "orbit/broadcast_range.h"

#include <cmath>
#include <cstdint>

#include "base/gnss_constants.h"

namespace talverin {
namespace {

// toe and toc: 16 bits of 16 s, but a time of week ends at 604784 s (IS-GPS-200 effective
// range).
constexpr double kMaxReferenceTime_s = 604784.0;

// One message field: bit width, signedness and LSB (2^scaleExponent, in the message's unit).
struct MessageField {
  const char* name;
  const char* unit;
  int bits;
  bool isSigned;
  int scaleExponent;
  bool semicircles;      // GpsEph holds radians; the message semicircles
  double GpsEph::*real;  // the member, or null for an integer one
  int32_t GpsEph::*integer;
};

// IS-GPS-200 Table 20-I (subframe 1) and Table 20-III (subframes 2 and 3), in that order.
const MessageField kFields[] = {
    {"tgd", " s", 8, true, -31, false, &GpsEph::tgd, nullptr},
    {"toc", " s", 16, false, 4, false, nullptr, &GpsEph::toc},
    {"af2", " s/s^2", 8, true, -55, false, &GpsEph::af2, nullptr},
    {"af1", " s/s", 16, true, -43, false, &GpsEph::af1, nullptr},
    {"af0", " s", 22, true, -31, false, &GpsEph::af0, nullptr},
    {"crs", " m", 16, true, -5, false, &GpsEph::crs, nullptr},
    {"deltaN", " sc/s", 16, true, -43, true, &GpsEph::deltaN, nullptr},
    {"m0", " sc", 32, true, -31, true, &GpsEph::m0, nullptr},
    {"cuc", " rad", 16, true, -29, false, &GpsEph::cuc, nullptr},
    {"e", "", 32, false, -33, false, &GpsEph::e, nullptr},
    {"cus", " rad", 16, true, -29, false, &GpsEph::cus, nullptr},
    {"rootA", " m^1/2", 32, false, -19, false, &GpsEph::rootA, nullptr},
    {"toe", " s", 16, false, 4, false, nullptr, &GpsEph::toe},
    {"cic", " rad", 16, true, -29, false, &GpsEph::cic, nullptr},
    {"omega0", " sc", 32, true, -31, true, &GpsEph::omega0, nullptr},
    {"cis", " rad", 16, true, -29, false, &GpsEph::cis, nullptr},
    {"i0", " sc", 32, true, -31, true, &GpsEph::i0, nullptr},
    {"crc", " m", 16, true, -5, false, &GpsEph::crc, nullptr},
    {"omega", " sc", 32, true, -31, true, &GpsEph::omega, nullptr},
    {"omegaDot", " sc/s", 24, true, -43, true, &GpsEph::omegaDot, nullptr},
    {"iDot", " sc/s", 14, true, -43, true, &GpsEph::iDot, nullptr},
};

// The range a field spans as the message defines it: -2^(n-1) to 2^(n-1) LSB when signed,
// 0 to 2^n LSB when not (the top code itself is one LSB short of the upper bound).
void NominalRange(const MessageField& f, double* min, double* max) {
  if (f.integer != nullptr) {
    *min = 0.0;
    *max = kMaxReferenceTime_s;
    return;
  }
  const double lsb = std::ldexp(1.0, f.scaleExponent);
  *min = f.isSigned ? -std::ldexp(lsb, f.bits - 1) : 0.0;
  *max = std::ldexp(lsb, f.isSigned ? f.bits - 1 : f.bits);
}

// Half an LSB is allowed below the lowest code and above the highest: a value that went
// through 12-digit decimal text (RINEX) or a float of the file may round just past them.
bool Representable(const MessageField& f, double value, double min, double max) {
  if (f.integer != nullptr) return value >= min && value <= max;
  const double halfLsb = std::ldexp(0.5, f.scaleExponent);
  // Written so that NaN is outside.
  return value >= min - halfLsb && value <= max - halfLsb;
}

}  // namespace

bool WithinBroadcastRange(const GpsEph& eph, BroadcastRangeFault* fault) {
  for (const MessageField& f : kFields) {
    double value = f.real != nullptr ? eph.*f.real : static_cast<double>(eph.*f.integer);
    if (f.semicircles) value /= kPi;
    double min = 0.0;
    double max = 0.0;
    NominalRange(f, &min, &max);
    if (Representable(f, value, min, max)) continue;
    if (fault != nullptr) *fault = BroadcastRangeFault{f.name, f.unit, value, min, max};
    return false;
  }
  return true;
}

}  // namespace talverin
