// RINEX 2 observation file reader (versions 2.00-2.11): the header, then one observation
// epoch at a time with every satellite's values as written (ranges m, phases cycles,
// Doppler Hz, signal strength as the file gives it), its loss-of-lock (LLI) and signal
// strength (SSI) digits. Event records (epoch flags 2-5) are consumed: the header lines
// they carry (MARKER NAME, APPROX POSITION XYZ, ANTENNA: DELTA H/E/N, # / TYPES OF
// OBSERV) update the header; cycle-slip records (flag 6) are skipped. Epoch times are GPS
// receiver time. Errors name the file and the line.
#pragma once

#include <cstdint>
#include <vector>

#include "rinex/rinex_text.h"

namespace talverin {

constexpr int kRinexMaxObsTypes = 40;       // observable types one file may list
constexpr int kRinexObsPerLine = 5;         // values per observation line
constexpr int kRinexObsFieldWidth = 16;     // F14.3, LLI digit, SSI digit
constexpr int kRinexSatsPerEpochLine = 12;  // satellite numbers on an epoch line
constexpr int kRinexMaxEpochSats = 999;     // the I3 count field

constexpr uint8_t kLliLossOfLock = 0x1;  // LLI bit 0: lock lost since the previous value

// Observable codes this system uses; others are read and ignored.
enum RinexObsCode : int32_t {
  kObsOther = 0,
  kObsC1,
  kObsP1,
  kObsL1,
  kObsD1,
  kObsS1,
  kObsC2,
  kObsP2,
  kObsL2,
  kObsD2,
  kObsS2,
  kObsCodeCount
};

struct RinexObsHeader {
  double version = 0.0;
  char system = 'G';         // column 40 of the first line; blank reads as G
  char markerName[61] = "";  // trimmed; empty when the header has no MARKER NAME
  bool hasMarkerName = false;
  char receiverType[21] = "";                 // REC # / TYPE / VERS, columns 20-39, trimmed
  double approx_ecef_m[3] = {0.0, 0.0, 0.0};  // APPROX POSITION XYZ
  bool hasApproxPosition = false;
  double antennaDeltaH_m = 0.0;  // ANTENNA: DELTA H/E/N, height of the antenna over the marker
  bool hasAntennaDelta = false;
  double interval_s = 0.0;  // 0 when the header has no INTERVAL
  int32_t typeCount = 0;
  char typeText[kRinexMaxObsTypes][3] = {};
  int32_t typeIndex[kObsCodeCount] = {};  // index of each code in the types, -1 if absent
  long endOfHeaderLine = 0;
};

struct RinexObsValue {
  double value = 0.0;
  bool present = false;  // false: field blank
  uint8_t lli = 0;       // loss-of-lock digit, 0 when blank
  uint8_t ssi = 0;       // signal strength digit 1-9, 0 when blank
};

struct RinexSatObs {
  char system = 'G';  // G for GPS (also when blank), R, S, E, T, ...
  int32_t prn = 0;
  RinexObsValue obs[kRinexMaxObsTypes];
};

struct RinexObsEpoch {
  int32_t year = 0;  // four digits
  int32_t month = 0, day = 0, hour = 0, minute = 0;
  double second = 0.0;
  int32_t week = 0;      // full GPS week
  double tow_s = 0.0;    // seconds of that week, receiver time
  int32_t flag = 0;      // 0 or 1 (power failure before this epoch)
  double clock_s = 0.0;  // receiver clock offset when written
  bool hasClock = false;
  long line = 0;  // line of the epoch record
  std::vector<RinexSatObs> sats;
};

class RinexObsReader {
 public:
  // 0 the header was read, -1 not (error text set).
  [[nodiscard]] int32_t Open(const char* path);
  // 1 an observation epoch (flag 0 or 1) was read, 0 end of file, -1 damaged data.
  [[nodiscard]] int32_t ReadEpoch(RinexObsEpoch* epoch);

  // The value of a code for a satellite, or null when the file has no such observable.
  const RinexObsValue* Value(const RinexSatObs& sat, RinexObsCode code) const {
    const int32_t index = header_.typeIndex[code];
    return index < 0 ? nullptr : &sat.obs[index];
  }

  const RinexObsHeader& header() const { return header_; }
  int32_t eventRecords() const { return eventRecords_; }
  int32_t slipRecords() const { return slipRecords_; }
  const char* errorText() const { return lines_.errorText(); }

 private:
  [[nodiscard]] int32_t ReadHeaderLine(bool inEvent, bool* end);
  [[nodiscard]] int32_t ReadTypes();
  [[nodiscard]] int32_t ReadSatelliteList(int32_t count, long epochLine, RinexObsEpoch* epoch);
  [[nodiscard]] int32_t ReadObservations(long epochLine, RinexSatObs* sat);
  [[nodiscard]] int32_t ReadEventLines(long epochLine, long count);

  RinexLineReader lines_;
  RinexObsHeader header_;
  int32_t typesLeft_ = 0;  // types still to come on continuation lines
  int32_t eventRecords_ = 0;
  int32_t slipRecords_ = 0;
};

}  // namespace talverin
