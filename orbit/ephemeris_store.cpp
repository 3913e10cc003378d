#include "orbit/ephemeris_store.h"

namespace talverin {

double VectorDistance(const double*, const double*) { return 0.0; }
EphemerisStore::EphemerisStore() {}
EphemerisStore::~EphemerisStore() { ClearEphemerides(); }
int32_t EphemerisStore::AddGpsEph(const GpsEph&) { return 1; }
const GpsEph* EphemerisStore::FindGpsEph(int32_t, double, int32_t) { return nullptr; }
void EphemerisStore::ClearEphemerides() {}
int32_t EphemerisStore::GpsSatClock(int32_t, double, int32_t, double*) { return 1; }
int32_t EphemerisStore::GpsSatPosition(int32_t, double, int32_t, int32_t, double, const double*,
                                       double*, double*) {
  return 1;
}
int32_t EphemerisStore::SatClock(int32_t, double, int32_t, double*) { return 1; }
int32_t EphemerisStore::SatPosition(int32_t, double, int32_t, int32_t, double, const double*,
                                    double*, double*) {
  return 1;
}

}  // namespace talverin
