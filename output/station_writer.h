// Station file (.sta) blocks: one brace-delimited "Sta { ... }" block per StationRecord,
// written to the open station file. Times are seconds of the GPS week, heights metres.
// The file's first line is written by the conversion job, which also opens and closes it.
// Failures are reported through the module error text (base/text_buffer.h). A double
// quote inside a text is written as a single quote and a control character as a blank,
// so that every quoted field stays on its line and readable.
#pragma once

#include <cstdint>
#include <cstdio>

namespace talverin {

constexpr int kStationTextSize = 64;    // bytes of name, desc and remark, NUL included
constexpr int32_t kStationTypeSta = 2;  // a "Sta" block
constexpr int32_t kTimeTypeGps = 1;     // the time is GPS time
constexpr int32_t kHeightSlant = 2;     // hiType 2: slant; other non-zero: vertical
constexpr int32_t kHeightVertical = 1;

struct StationRecord {
  int32_t type;                   // 2: a Sta block
  char name[kStationTextSize];    // station ID
  char desc[kStationTextSize];    // description
  char remark[kStationTextSize];  // remark
  int32_t timeType;               // 1: GPS time
  double time;                    // s of GPS week
  int32_t week;                   // GPS week; callers leave 0
  int32_t hiType;                 // 2 slant, other non-zero vertical, 0 no height line
  double hi;                      // m, antenna height
};

// 0 success, 1 failure ("Missing station name" or "Disk full" in the module error text).
// The module error text reads "Disk full" after every call that is not refused for its
// name, successful or not. A refused record leaves nothing in the file.
[[nodiscard]] int32_t WriteStationRecord(FILE* file, const StationRecord& record);

}  // namespace talverin
