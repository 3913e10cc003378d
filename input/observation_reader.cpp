#include "input/observation_reader.h"

#include "plugin/conversion_job.h"

namespace talverin {

int32_t ReadEpochs(ConversionJob& /*job*/) { return 0; }

int32_t DecodeChannel(ConversionJob& /*job*/, gpb_epoch_type& /*epoch*/,
                      const uint8_t* /*record*/, double /*dt*/, int32_t /*slot*/,
                      int32_t* /*leapSecondsWritten*/) {
  return 1;
}

int32_t DecodeChannelAlt(ConversionJob& /*job*/, gpb_epoch_type& /*epoch*/,
                         const uint8_t* /*record*/, int32_t /*slot*/) {
  return 1;
}

double TimeStep(double /*t*/, double /*previous*/) { return 0.0; }

void EcefToGeodetic(double /*x*/, double /*y*/, double /*z*/, double* lat_rad, double* lon_rad,
                    double* h_m) {
  *lat_rad = 0.0;
  *lon_rad = 0.0;
  *h_m = 0.0;
}

}  // namespace talverin
