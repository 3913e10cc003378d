#include "input/ephemeris_reader.h"

#include "plugin/conversion_job.h"

namespace talverin {

void ReadEphemerisFile(ConversionJob& /*job*/) {}
void LoadGpsRecord(ConversionJob& /*job*/, const uint8_t* /*record*/) {}
void LoadGlonassRecord(ConversionJob& /*job*/, const uint8_t* /*record*/) {}
int32_t WriteGpsEph(FILE* /*file*/, const GpsEph& /*eph*/) { return 1; }

}  // namespace talverin
