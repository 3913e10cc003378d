#include "output/station_writer.h"

namespace talverin {

int32_t WriteStationRecord(FILE*, const StationRecord&) { return 1; }

}  // namespace talverin
