// Records of the event file (D): operator-marked site occupations and GIS feature
// events, in file order, with the bookkeeping the station-mark step keeps while the
// observation file is read. The table owns its records (freed by FreeEventTable).
#pragma once

#include <cstdint>

namespace talverin {

struct EventRecord {
  double evTime;      // s of GPS week, from the entry's time line
  char evName[32];    // site or feature name
  char evDesc[32];    // description, or "name=value" attribute text
  char evHeight[10];  // antenna height text (at most 9 characters)
  char evKind[32];    // "STATIC", "LINE", "AREA", "UNKNOWN"; empty for marks
  int32_t evMoving;   // 1 for a line, area or unknown feature
  int32_t evEnd;      // 1 end event, 0 begin event
  double evSeen;      // time of the epoch that showed this name; -1.0 until then
};

struct EventTable {
  int32_t count;        // records held
  double lastMatch;     // time of the last mark record matched, 0.0 at load
  int32_t hasFeatures;  // 1 when a "GFN" record was loaded
  EventRecord* records;
  // Record indices ordered by evName, file order within one name: the per-epoch lookups
  // stay logarithmic however long the event file. Built by LoadEventFile with records.
  int32_t* byName;
};

// Frees the records and the index and leaves the table empty, as at the job's start.
void FreeEventTable(EventTable& table);

}  // namespace talverin
