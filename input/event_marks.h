// The event file (D) and the station marks: operator-marked occupations and GIS features
// loaded into the job's event table, the per-epoch station-mark step that follows the
// 4-character site name of the epoch headers (station blocks, moving flag 2 in the job's
// epoch flag bits), and the feature blocks written after the epoch loop. Times are
// seconds of the GPS week; heights metres. Every block goes through WriteStationRecord.
// DecodeEventFile is the decode-only entry: the table without a job, no file written.
#pragma once

#include <cstdint>

#include "job/event_table.h"

namespace talverin {

class ConversionJob;
class InputSource;

constexpr int kEpochHeaderSize = 67;       // bytes of one observation epoch header
constexpr int kEpochHeaderSiteOffset = 0;  // 4 characters, site name ("????": none)
constexpr int kEpochHeaderSiteLength = 4;
constexpr int kEpochHeaderTimeOffset = 4;  // f64, receiver time, s of GPS week

// True when the receiver's 13 s lag comes off the event times: without station marks,
// except on GLONASS receivers.
[[nodiscard]] bool EventTimesLag(bool stationMarks, int32_t receiverType);
// Loads the event file at path (or the source's lines) into table, emptied first; the
// caller frees it with FreeEventTable. 0 loaded (or no event file, or the host aborted:
// the table stays empty), -1 when the records cannot be held: more than 100 000 of
// them, a file above 16 MB, or no memory.
[[nodiscard]] int32_t DecodeEventFile(const char* path, bool subtractLag, EventTable& table);
[[nodiscard]] int32_t DecodeEvents(InputSource& source, bool subtractLag, EventTable& table);
// DecodeEventFile on the job's event file, with the lag its options and receiver decide.
[[nodiscard]] int32_t LoadEventFile(ConversionJob& job, EventTable& table);
// Per epoch, on the header's first 12 bytes. 0, or -1 for a site name byte outside
// 1..122 (the header's first byte is then set to 0 and nothing else changes) or for a
// time that is not a finite number (the name is kept, nothing is written).
int32_t StationMarkStep(ConversionJob& job, uint8_t* epochHeader, EventTable& table);
// After the epoch loop: one block per record, at the time the observation file showed
// its name, else at its event-file time with "-TimeErr" appended to the name.
void WriteEventStations(ConversionJob& job, EventTable& table);

}  // namespace talverin
