#include "rinex/rinex_nav_writer.h"

#include "base/gnss_constants.h"

namespace talverin {
namespace {

constexpr double kUnknown = 0.0;  // SV accuracy, codes on L2, L2 P flag, fit interval

void AppendOrbitLine(std::string* out, int32_t version, char exponent, double a, double b, double c,
                     double d) {
  *out += version >= 3 ? "    " : "   ";
  *out += FortranDouble(a, exponent) + FortranDouble(b, exponent) + FortranDouble(c, exponent) +
          FortranDouble(d, exponent);
  EndLine(out);
}

}  // namespace

GpsInstant NearestInstant(double tow_s, const GpsInstant& reference) {
  GpsInstant t{reference.week, tow_s};
  const double d = tow_s - reference.tow_s;
  if (d > kHalfWeek_s) t.week -= 1;
  if (d < -kHalfWeek_s) t.week += 1;
  return t;
}

void AppendNavHeader(std::string* out, const NavHeaderInfo& h) {
  if (h.version >= 3) {
    AppendHeaderLine(out, "     3.04           N: GNSS NAV DATA    G: GPS", "RINEX VERSION / TYPE");
  } else {
    AppendHeaderLine(out, "     2.11           N: GPS NAV DATA", "RINEX VERSION / TYPE");
  }
  AppendHeaderLine(
      out, Format("%-20.20s%-20.20s%-20.20s", h.program.c_str(), "", h.creationDate.c_str()),
      "PGM / RUN BY / DATE");
  if (h.leapSeconds >= 0) AppendHeaderLine(out, Format("%6d", h.leapSeconds), "LEAP SECONDS");
  AppendHeaderLine(out, "", "END OF HEADER");
}

void AppendNavRecord(std::string* out, int32_t version, const NavRecordInput& r) {
  const GpsEph& e = r.eph;
  const char x = version >= 3 ? 'E' : 'D';
  const GpsInstant transmit{r.transmitWeek, static_cast<double>(e.tow)};
  // toe and toc lie within half a week of the transmission; the week RINEX gives is toe's.
  const GpsInstant toe = NearestInstant(e.toe, transmit);
  const GpsInstant toc = NearestInstant(e.toc, toe);
  const CalendarTime c = GpsCalendar(toc);
  if (version >= 3) {
    *out += Format("G%02d %04d %02d %02d %02d %02d %02d", static_cast<int>(e.prn), c.year, c.month,
                   c.day, c.hour, c.minute, static_cast<int>(c.second));
  } else {
    *out += Format("%2d %02d %2d %2d %2d %2d%5.1f", static_cast<int>(e.prn), c.year % 100, c.month,
                   c.day, c.hour, c.minute, c.second);
  }
  *out += FortranDouble(e.af0, x) + FortranDouble(e.af1, x) + FortranDouble(e.af2, x);
  EndLine(out);
  const double transmitInToeWeek = e.tow + (transmit.week - toe.week) * kSecondsPerWeek;
  AppendOrbitLine(out, version, x, e.iode, e.crs, e.deltaN, e.m0);
  AppendOrbitLine(out, version, x, e.cuc, e.e, e.cus, e.rootA);
  AppendOrbitLine(out, version, x, e.toe, e.cic, e.omega0, e.cis);
  AppendOrbitLine(out, version, x, e.i0, e.crc, e.omega, e.omegaDot);
  AppendOrbitLine(out, version, x, e.iDot, kUnknown, toe.week, kUnknown);
  AppendOrbitLine(out, version, x, kUnknown, r.health, e.tgd, e.iodc);
  AppendOrbitLine(out, version, x, transmitInToeWeek, kUnknown, 0.0, 0.0);
}

}  // namespace talverin
