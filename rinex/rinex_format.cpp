#include "rinex/rinex_format.h"

#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/gnss_constants.h"

namespace talverin {
namespace {

constexpr int32_t kHeaderContentWidth = 60;
constexpr double kMaxF14_3 = 9999999999.999;  // widest F14.3 value (sign takes the 14th column)
constexpr int32_t kMaxPrecision = 12;
constexpr double kPowersOf10[kMaxPrecision + 1] = {1e0, 1e1, 1e2, 1e3,  1e4,  1e5, 1e6,
                                                   1e7, 1e8, 1e9, 1e10, 1e11, 1e12};
// Below 2^43 the product value * 10^precision is within 2^-11 of the exact product (half
// its unit in the last place), so it rounds as the exact decimal value does unless its
// fraction lies within 2^-8 of one half. Elsewhere to_chars, which rounds as printf does,
// formats the value.
constexpr double kExactScaled = 8796093022208.0;  // 2^43
constexpr double kHalfMargin = 1.0 / 256.0;
constexpr double kWidestFixed = 1e15;  // 16 digits, a point and 12 decimals fit 40 columns

// Writes printf's "%.*f" text of value backwards so that it ends just before end; its length,
// or 0 when the value needs to_chars (see kExactScaled). end has 40 characters before it.
int32_t FixedBackwards(double value, int32_t precision, char* end) {
  const double scaled = std::fabs(value) * kPowersOf10[precision];
  if (!(scaled < kExactScaled)) return 0;  // NaN and infinities as well
  const double whole = std::floor(scaled);
  const double fraction = scaled - whole;  // exact below 2^52
  if (!(std::fabs(fraction - 0.5) > kHalfMargin)) return 0;
  uint64_t units = static_cast<uint64_t>(whole) + (fraction > 0.5 ? 1u : 0u);
  char* p = end;
  for (int32_t k = 0; k < precision; ++k) {
    *--p = static_cast<char>('0' + units % 10);
    units /= 10;
  }
  if (precision > 0) *--p = '.';
  do {
    *--p = static_cast<char>('0' + units % 10);
    units /= 10;
  } while (units != 0);
  if (std::signbit(value)) *--p = '-';
  return static_cast<int32_t>(end - p);
}

// printf's "%*.*f" text of value right-aligned in a field ending just before end (at most
// 40 characters); its length (the width, or more when the value is wider).
int32_t FixedField(double value, int32_t width, int32_t precision, char* end) {
  int32_t length = FixedBackwards(value, precision, end);
  if (length == 0) {
    char text[64];
    const std::to_chars_result r =
        std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, precision);
    length = r.ec == std::errc() ? static_cast<int32_t>(r.ptr - text) : 0;
    if (length > 40) length = 40;
    std::memcpy(end - length, text, static_cast<size_t>(length));
  }
  for (; length < width && length < 40; ++length) *(end - length - 1) = ' ';
  return length;
}

}  // namespace

void AppendFixed(std::string* out, double value, int32_t width, int32_t precision) {
  if (precision < 0) precision = 0;
  if (precision > kMaxPrecision) precision = kMaxPrecision;
  // printf's words for NaN and infinities; the widest numbers do not fit the field buffer.
  if (!std::isfinite(value) || width > 40 || !(std::fabs(value) < kWidestFixed)) {
    *out += Format("%*.*f", static_cast<int>(width), static_cast<int>(precision), value);
    return;
  }
  char text[40];
  const int32_t length = FixedField(value, width, precision, text + sizeof text);
  out->append(text + sizeof text - length, static_cast<size_t>(length));
}

void AppendInt(std::string* out, int64_t value, int32_t width, char fill) {
  char reversed[24];
  int32_t n = 0;
  uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  do {
    reversed[n++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  const int32_t length = n + (value < 0 ? 1 : 0);
  const size_t pad = length < width ? static_cast<size_t>(width - length) : 0u;
  if (fill != '0') out->append(pad, ' ');
  if (value < 0) out->push_back('-');
  if (fill == '0') out->append(pad, '0');
  while (n > 0) out->push_back(reversed[--n]);
}

std::string Format(const char* format, ...) {
  char buffer[256];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  return n < 0 ? std::string() : std::string(buffer, n < 256 ? static_cast<size_t>(n) : 255u);
}

void EndLine(std::string* out) {
  size_t n = out->size();
  while (n > 0 && (*out)[n - 1] == ' ') --n;
  out->resize(n);
  out->push_back('\n');
}

void AppendHeaderLine(std::string* out, const std::string& content, const char* label) {
  std::string line = content.substr(0, kHeaderContentWidth);
  line.resize(kHeaderContentWidth, ' ');
  line += label;
  *out += line;
  EndLine(out);
}

std::string FortranDouble(double value, char exponent) {
  if (!std::isfinite(value)) value = 0.0;
  char text[40];
  std::snprintf(text, sizeof text, "%.12E", value);  // d.ddddddddddddE+xx
  std::string s = text;
  const size_t e = s.find('E');
  std::string mantissa = s.substr(0, e);
  int power = std::atoi(s.c_str() + e + 1);
  if (power > 99 || power < -99) {  // beyond two exponent digits: no navigation value is
    mantissa = value < 0.0 ? "-0.000000000000" : "0.000000000000";
    power = 0;
  }
  if (mantissa[0] != '-') mantissa = " " + mantissa;
  return mantissa + exponent + Format("%c%02d", power < 0 ? '-' : '+', power < 0 ? -power : power);
}

bool AppendObservation(std::string* out, bool present, double value, int32_t lli, int32_t ssi) {
  if (!present) {
    out->append(16, ' ');
    return true;
  }
  if (!(std::fabs(value) <= kMaxF14_3)) {
    out->append(16, ' ');
    return false;
  }
  char field[40 + 2];  // F14.3 ends at column 14 of the last 16
  const int32_t length = FixedField(value, 14, 3, field + 40);
  field[40] = lli > 0 && lli <= 9 ? static_cast<char>('0' + lli) : ' ';
  field[41] = ssi > 0 && ssi <= 9 ? static_cast<char>('0' + ssi) : ' ';
  out->append(field + 40 - length, static_cast<size_t>(length) + 2);
  return true;
}

}  // namespace talverin
