#include "rinex/rinex_format.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "base/gnss_constants.h"

namespace talverin {
namespace {

constexpr int32_t kHeaderContentWidth = 60;
constexpr double kMaxF14_3 = 9999999999.999;  // widest F14.3 value (sign takes the 14th column)
}  // namespace

std::string Format(const char* format, ...) {
  char buffer[256];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  return n < 0 ? std::string() : std::string(buffer, n < 256 ? static_cast<size_t>(n) : 255u);
}

void EndLine(std::string* out) {
  while (!out->empty() && out->back() == ' ') out->pop_back();
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
  *out += Format("%14.3f", value);
  *out += lli > 0 && lli <= 9 ? static_cast<char>('0' + lli) : ' ';
  *out += ssi > 0 && ssi <= 9 ? static_cast<char>('0' + ssi) : ' ';
  return true;
}

}  // namespace talverin
