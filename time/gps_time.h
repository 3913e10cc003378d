// GPS time conversions: week and seconds of week, full GPS seconds since 1980-01-06,
// calendar dates, modified Julian days and the GPS-UTC leap-second table. Weeks below 500
// stand for week + 1024 (ten-bit broadcast weeks). No leap seconds are applied: a calendar
// date here is a GPS-time date. 64-bit intermediates keep the arithmetic right past 2038.
// Inputs that are not finite never reach an integer conversion: the integer outputs then
// read 0 (week, MJD) or -1 (GPS-UTC offset), the double outputs are noted per function.
#pragma once

#include <cstdint>

namespace talverin {

struct BrokenDownTime {
  int sec;
  int min;
  int hour;
  int mday;  // 1..31
  int mon;   // 0..11
  int year;  // years since 1900
  int wday;
  int yday;
  int isdst;
};

// The full week of a week as receivers and ephemerides give it: below 500, week + 1024.
[[nodiscard]] int64_t FullGpsWeek(int32_t week);

// year: four digits, or years since 1900 when below 1901. Week is produced modulo 1024
// (1024 subtracted once). A second that is not finite or beyond the int range gives
// week 0 and 0.0 s, as does a date whose week does not fit 32 bits.
void CalendarToGps(int32_t hour, int32_t minute, double second, int32_t month, int32_t day,
                   int32_t year, int32_t* week, double* secondsOfWeek);
// Full GPS seconds of t (s of week) in the week nearest the reference r (s of week):
// |t - r| >= 300000 s moves t into the neighbouring week; r of exactly 0.0 stands for
// the start of week + 1. Non-finite t or r give NaN.
[[nodiscard]] double GpsFullSeconds(double t, int32_t week, double reference);
// MJD day number and fraction of day (0 <= f < 1). Non-finite t, or an MJD beyond the
// int32 range, gives day 0 and fraction 0.0.
void GpsToMjd(int32_t week, double t, int32_t* mjd, double* fractionOfDay);
// GPS-UTC in seconds from the module's 13-row table, or -1 where the table lists none
// (before 1991, from 2005 on, and for a non-finite time).
[[nodiscard]] int32_t GpsUtcOffset(double t, int32_t week, double reference);
// Full week of full GPS seconds; 0 when non-finite or beyond the int32 range.
[[nodiscard]] int32_t WeekOfFullSeconds(double fullSeconds);
// fullSeconds - 604800 * WeekOfFullSeconds(fullSeconds); NaN stays NaN.
[[nodiscard]] double SecondsOfWeek(double fullSeconds);
// Seconds since 1970-01-01 00:00:00 from the first six fields. Years since 1900 below 70
// stand for 2000-2069; every year divisible by 4 is a leap year. A month outside 0..11 is
// carried into the year. Any int field values give an exact 64-bit result.
[[nodiscard]] int64_t SecondsSince1970(const BrokenDownTime& time);

}  // namespace talverin
