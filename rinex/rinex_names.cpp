#include "rinex/rinex_names.h"

#include <algorithm>
#include <cmath>

#include "rinex/rinex_format.h"

namespace talverin {
namespace {

constexpr double kQuarterHour_s = 900.0;
constexpr double kHour_s = 3600.0;
constexpr double kDay_s = 86400.0;
constexpr long kMaxField = 99;  // two digits

// "NN" + unit when value rounds to 1..99 of the unit, else empty.
std::string TwoDigits(double value, char unit) {
  const long n = std::max(1L, std::lround(value));
  return n <= kMaxField ? Format("%02ld%c", n, unit) : std::string();
}

}  // namespace

double NominalSpan_s(double first_s, double last_s, double interval_s) {
  const double raw_s = last_s - first_s;
  if (!(interval_s > 0.0) || !std::isfinite(raw_s)) return raw_s;
  return (std::round(raw_s / interval_s) + 1.0) * interval_s;
}

std::string Rinex3Period(double span_s) {
  if (!(span_s > kQuarterHour_s)) return "15M";
  if (span_s <= kHour_s) return "01H";
  if (span_s < kDay_s) {
    const long hours = static_cast<long>(std::ceil(span_s / kHour_s));
    return hours < 24 ? Format("%02ldH", hours) : "01D";
  }
  const double days = std::ceil(span_s / kDay_s);
  return Format("%02ldD", static_cast<long>(std::min(days, static_cast<double>(kMaxField))));
}

std::string Rinex3Frequency(double interval_s) {
  if (!(interval_s > 0.0) || !std::isfinite(interval_s)) return "00U";
  const double hz = 1.0 / interval_s;
  if (std::lround(hz) >= 100) return TwoDigits(hz / 100.0, 'C');
  if (std::lround(hz) > 1) return TwoDigits(hz, 'Z');
  for (const auto& unit : {std::make_pair(1.0, 'S'), std::make_pair(60.0, 'M'),
                           std::make_pair(kHour_s, 'H'), std::make_pair(kDay_s, 'D')}) {
    const std::string field = TwoDigits(interval_s / unit.first, unit.second);
    if (!field.empty()) return field;
  }
  return "00U";
}

std::string Rinex3Stem(const Rinex3Name& name) {
  const CalendarTime& c = name.start;
  return Format("%.4s%d%d%.3s_R_%04d%03d%02d%02d_%s", name.site.c_str(), name.monument % 10,
                name.receiver % 10, name.country.c_str(), c.year, c.dayOfYear, c.hour, c.minute,
                Rinex3Period(name.span_s).c_str());
}

}  // namespace talverin
