// The ephemeris file (E): 129-byte binary records, GPS (PRN 1..32) and GLONASS (PRN 33 on,
// GLONASS receivers only). Reports every record, writes the healthy GPS records and the
// GLONASS records to the .epp text file, and hands the healthy GPS records to the
// positioning engine's store when position recomputation is on.
#pragma once

#include <cstdint>
#include <cstdio>

#include "orbit/gps_eph.h"

namespace talverin {

class ConversionJob;

constexpr int kEphemerisRecordSize = 129;

void ReadEphemerisFile(ConversionJob& job);
void LoadGpsRecord(ConversionJob& job, const uint8_t* record);
void LoadGlonassRecord(ConversionJob& job, const uint8_t* record);
// Writes the seven-line "GpsEph {" record. 0 success, 1 when a write failed.
int32_t WriteGpsEph(FILE* file, const GpsEph& eph);

}  // namespace talverin
