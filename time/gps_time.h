// GPS time conversions: week and seconds of week, full GPS seconds since 1980-01-06,
// calendar dates, modified Julian days and the GPS-UTC leap-second table. Weeks below 500
// stand for week + 1024 (ten-bit broadcast weeks). No leap seconds are applied: a calendar
// date here is a GPS-time date. 64-bit intermediates keep the arithmetic right past 2038.
#pragma once

#include <cstdint>

namespace talverin {

struct BrokenDownTime {
  int sec;
  int min;
  int hour;
  int mday;   // 1..31
  int mon;    // 0..11
  int year;   // years since 1900
  int wday;
  int yday;
  int isdst;
};

// year: four digits, or years since 1900 when below 1901. Week is produced modulo 1024.
void CalendarToGps(int32_t hour, int32_t minute, double second, int32_t month, int32_t day,
                   int32_t year, int32_t* week, double* secondsOfWeek);
double GpsFullSeconds(double t, int32_t week, double reference);
void GpsToMjd(int32_t week, double t, int32_t* mjd, double* fractionOfDay);
int32_t GpsUtcOffset(double t, int32_t week, double reference);
int32_t WeekOfFullSeconds(double fullSeconds);
double SecondsOfWeek(double fullSeconds);
int64_t SecondsSince1970(const BrokenDownTime& time);

}  // namespace talverin
