// The event file (D) and the station marks: operator-marked occupations and GIS features
// loaded into the job's event table, the per-epoch station-mark step that follows the site
// name of the epoch headers (station blocks, moving flag), and the feature blocks written
// after the epoch loop.
#pragma once

#include <cstdint>

#include "input/event_table.h"

namespace talverin {

class ConversionJob;

constexpr int kEpochHeaderSize = 67;  // bytes of one observation epoch header

// 0 loaded (or no event file), -1 when the records cannot be allocated.
int32_t LoadEventFile(ConversionJob& job, EventTable& table);
// 0, or -1 for a site name byte outside 1..122 (the header's first byte is then set to 0).
int32_t StationMarkStep(ConversionJob& job, uint8_t* epochHeader, EventTable& table);
void WriteEventStations(ConversionJob& job, EventTable& table);
void FreeEventTable(EventTable& table);

}  // namespace talverin
