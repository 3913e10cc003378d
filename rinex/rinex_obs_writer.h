// Observation file text, RINEX 2.11 and 3.04: the header, observation epochs (flag 0 or 1,
// values F14.3 with loss-of-lock and signal-strength digits) and event records (flags 2-5
// with the header lines they carry). Values arrive in RINEX units and signs (ranges m,
// phases cycles, Doppler Hz, signal strength dB-Hz); which observables and codes a receiver
// gives is decided by the exporter (rinex_export.h). Writes into std::string.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "rinex/rinex_format.h"

namespace talverin {

struct ObsHeaderInfo {
  int32_t version = 2;       // 2 (2.11) or 3 (3.04)
  char system = 'G';         // G, or M for GPS and GLONASS
  std::string program;       // PGM / RUN BY / DATE
  std::string creationDate;  // "yyyymmdd hhmmss UTC"
  std::string markerName;
  std::string markerNumber;  // MARKER NUMBER when not empty
  std::string observer, agency;
  std::string receiverNumber;
  std::string receiverType;  // REC # / TYPE / VERS, type field
  std::string antennaNumber, antennaType;
  double approx_ecef_m[3] = {0.0, 0.0, 0.0};
  double antennaDelta_m[3] = {0.0, 0.0, 0.0};  // H, E, N
  bool dualFrequency = false;                  // WAVELENGTH FACT L1/2 of version 2: 1 1, else 1 0
  // Observable codes: version 2 uses gpsTypes for every system (two characters each);
  // version 3 lists gpsTypes for G and glonassTypes for R (three characters each).
  std::vector<std::string> gpsTypes;
  std::vector<std::string> glonassTypes;
  GpsInstant first;
  GpsInstant last;
  double interval_s = 0.0;   // INTERVAL when above 0
  int32_t leapSeconds = -1;  // LEAP SECONDS when 0 or more
  std::vector<std::string> comments;
};

struct ObsValue {
  bool present = false;
  double value = 0.0;
  int32_t lli = 0;  // 0-7
  int32_t ssi = 0;  // 1-9, 0 blank
};

struct ObsSatellite {
  char system = 'G';             // G or R
  int32_t number = 0;            // PRN or GLONASS slot
  std::vector<ObsValue> values;  // in the order of the system's types
};

struct ObsEpochOut {
  GpsInstant time;
  int32_t flag = 0;  // 0, or 1 after a power failure
  bool hasClock = false;
  double clock_s = 0.0;  // receiver clock offset
  std::vector<ObsSatellite> sats;
};

struct ObsHeaderRecord {
  std::string content;  // columns 1-60
  std::string label;
};

struct ObsEvent {
  GpsInstant time;
  int32_t flag = 3;  // 2 start moving, 3 new site occupation, 4 header information
  std::vector<ObsHeaderRecord> records;
};

void AppendObsHeader(std::string* out, const ObsHeaderInfo& header);
// The values F14.3 cannot hold are left blank; returns how many.
int32_t AppendObsEpoch(std::string* out, int32_t version, const ObsEpochOut& epoch);
void AppendObsEvent(std::string* out, int32_t version, const ObsEvent& event);

}  // namespace talverin
