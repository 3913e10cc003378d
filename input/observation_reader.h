// The epoch loop over the observation file (B): epoch headers and channel records (both
// layouts), per-satellite continuous tracking times, recovery from epochs announcing too
// many channels, progress and abort, and the GPS-UTC records of the .epp file for GLONASS
// receivers. Each epoch becomes one gpb_epoch_type handed to the GPB writer.
#pragma once

#include <cstdint>

#include "output/gpb_types.h"

namespace talverin {

class ConversionJob;

// 0 when the file was read to its end or the host aborted; 3 when it ended inside an epoch.
int32_t ReadEpochs(ConversionJob& job);
// Standard layout: 0 accepted, 1 rejected.
int32_t DecodeChannel(ConversionJob& job, gpb_epoch_type& epoch, const uint8_t* record,
                      double dt, int32_t slot, int32_t* leapSecondsWritten);
// Alternative layout: 0 accepted, 1 rejected.
int32_t DecodeChannelAlt(ConversionJob& job, gpb_epoch_type& epoch, const uint8_t* record,
                         int32_t slot);
// Interval between two receiver times (s), folded across a week boundary.
double TimeStep(double t, double previous);
// WGS84 geodetic latitude, longitude (rad) and height (m) of an ECEF position (m).
void EcefToGeodetic(double x, double y, double z, double* lat_rad, double* lon_rad,
                    double* h_m);

}  // namespace talverin
