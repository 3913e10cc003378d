// File names of a RINEX export: the version 3 long name's period and data frequency fields
// (RINEX 3.04, appendix A1) and the whole long name. The period is the nominal collection
// span: the epochs' span on their own grid (time tags of a few milliseconds do not add an
// hour), rounded up to 15 minutes, an hour, hours, a day or days. Nothing here reads files.
#pragma once

#include <string>

#include "dataset/gps_calendar.h"

namespace talverin {

// Nominal span in seconds of epochs from first_s to last_s (same time scale) taken every
// interval_s: (epochs on the grid) * interval; the raw span plus the interval when the
// interval is unknown (0).
double NominalSpan_s(double first_s, double last_s, double interval_s);

// "15M" up to 15 minutes, "01H" up to an hour, "NNH" up to a day (a whole day is "01D"),
// then "NND" (at most 99).
std::string Rinex3Period(double span_s);

// "NNC" (hundreds of Hz), "NNZ" (Hz), "NNS", "NNM", "NNH", "NND"; "00U" when unknown.
std::string Rinex3Frequency(double interval_s);

struct Rinex3Name {
  std::string site;             // 4 characters, upper case
  int monument = 0;             // 0-9
  int receiver = 0;             // 0-9
  std::string country = "XXX";  // ISO 3166 alpha-3
  CalendarTime start;
  double span_s = 0.0;  // nominal
  double interval_s = 0.0;
};

// "SSSSMRCCC_R_YYYYDDDHHMM_PPP" (the stem both files share).
std::string Rinex3Stem(const Rinex3Name& name);

}  // namespace talverin
