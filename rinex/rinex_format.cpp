#include "rinex/rinex_format.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "base/gnss_constants.h"

namespace talverin {
namespace {

constexpr int32_t kDaysPerWeek = 7;
constexpr int32_t kHeaderContentWidth = 60;
constexpr double kMaxF14_3 = 9999999999.999;  // widest F14.3 value (sign takes the 14th column)
// Days from 0000-03-01 (proleptic Gregorian) to 1980-01-06, the GPS epoch.
constexpr int64_t kGpsEpochCivilDays = 723125;

// Civil date from days since 0000-03-01 (the year starts in March so that the leap day
// ends it; Gregorian 400-year cycles of 146097 days).
void CivilFromDays(int64_t days, int32_t* year, int32_t* month, int32_t* day) {
  const int64_t era = days / 146097;
  const int64_t doe = days - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  *day = static_cast<int32_t>(doy - (153 * mp + 2) / 5 + 1);
  *month = static_cast<int32_t>(mp < 10 ? mp + 3 : mp - 9);
  *year = static_cast<int32_t>(era * 400 + yoe + (*month <= 2 ? 1 : 0));
}

bool LeapYear(int32_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

}  // namespace

GpsInstant NormalisedInstant(int32_t week, double tow_s) {
  GpsInstant t{week, tow_s};
  if (!std::isfinite(tow_s)) return t;
  const double shift = std::floor(tow_s / kSecondsPerWeek);
  t.week = week + static_cast<int32_t>(shift);
  t.tow_s = tow_s - shift * kSecondsPerWeek;
  if (t.tow_s >= kSecondsPerWeek) {  // rounding of a value just below a whole week
    t.tow_s -= kSecondsPerWeek;
    ++t.week;
  }
  return t;
}

CalendarTime GpsCalendar(const GpsInstant& t) {
  CalendarTime c;
  const int32_t dayOfWeek = static_cast<int32_t>(std::floor(t.tow_s / kSecondsPerDay));
  double secondOfDay = t.tow_s - dayOfWeek * kSecondsPerDay;
  const int64_t days = kGpsEpochCivilDays + static_cast<int64_t>(t.week) * kDaysPerWeek + dayOfWeek;
  CivilFromDays(days, &c.year, &c.month, &c.day);
  c.hour = static_cast<int32_t>(secondOfDay / 3600.0);
  secondOfDay -= c.hour * 3600.0;
  c.minute = static_cast<int32_t>(secondOfDay / 60.0);
  c.second = secondOfDay - c.minute * 60.0;
  static const int32_t kBefore[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
  c.dayOfYear = kBefore[c.month - 1] + c.day + (LeapYear(c.year) && c.month > 2 ? 1 : 0);
  return c;
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
