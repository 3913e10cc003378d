// Which epochs an edited RINEX export or quality report keeps: those inside a time window
// (GPS time, both ends included) and, with a decimation interval, those within half a second
// of its multiples. Times are full GPS seconds (week * 604800 + s of week). `rinex` and `qc`
// both ask here, so that the report of a window has the figures of that window's export.
// Parsing the options is the command line's; this unit only decides.
#pragma once

#include "dataset/gps_calendar.h"

namespace talverin {

struct EpochWindow {
  bool hasStart = false, hasEnd = false;
  GpsInstant start, end;
  double interval_s = 0.0;  // decimation interval, s; 0 keeps every epoch in the window

  bool active() const { return hasStart || hasEnd || interval_s > 0.0; }
  // Inside the window (ignoring the decimation).
  [[nodiscard]] bool Inside(double time_s) const;
  // Inside the window and on the decimation grid.
  [[nodiscard]] bool Keeps(double time_s) const;
};

}  // namespace talverin
