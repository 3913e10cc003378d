#include "time/gps_time.h"

namespace talverin {

void CalendarToGps(int32_t, int32_t, double, int32_t, int32_t, int32_t, int32_t* week,
                   double* secondsOfWeek) {
  *week = 0;
  *secondsOfWeek = 0.0;
}
double GpsFullSeconds(double, int32_t, double) { return 0.0; }
void GpsToMjd(int32_t, double, int32_t* mjd, double* fractionOfDay) {
  *mjd = 0;
  *fractionOfDay = 0.0;
}
int32_t GpsUtcOffset(double, int32_t, double) { return -1; }
int32_t WeekOfFullSeconds(double) { return 0; }
double SecondsOfWeek(double) { return 0.0; }
int64_t SecondsSince1970(const BrokenDownTime&) { return 0; }

}  // namespace talverin
