// Station file (.sta) blocks: one brace-delimited "Sta { ... }" block per StationRecord,
// written to the open station file. The file's first line is written by the conversion job.
// Failures are reported through the module error text (base/text_buffer.h).
#pragma once

#include <cstdint>
#include <cstdio>

namespace talverin {

struct StationRecord {
  int32_t type;        // 2: a Sta block
  char name[64];       // station ID
  char desc[64];       // description
  char remark[64];     // remark
  int32_t timeType;    // 1: GPS time
  double time;         // s of GPS week
  int32_t week;        // GPS week; callers leave 0
  int32_t hiType;      // 2 slant, other non-zero vertical, 0 no height line
  double hi;           // m, antenna height
};

// 0 success, 1 failure ("Missing station name" or "Disk full" in the module error text).
int32_t WriteStationRecord(FILE* file, const StationRecord& record);

}  // namespace talverin
