#include "input/event_marks.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/byte_order.h"
#include "base/file_identity.h"
#include "base/text_buffer.h"
#include "input/input_source.h"
#include "input/site_reader.h"
#include "job/abort_counter.h"
#include "job/conversion_job.h"
#include "output/gpb_types.h"
#include "output/station_writer.h"

namespace talverin {
namespace {

constexpr int kEventLineBufferSize = 256;
constexpr int kEventLineReadSize = 255;  // one read takes at most 254 characters
constexpr int kMaxFeatureFields = 16;    // fields after the code that are kept
constexpr int kFeatureFieldSize = 64;    // 63 characters each
constexpr int kEventTextSize = 32;       // evName, evDesc, evKind
constexpr int kEventHeightSize = 10;     // evHeight

// Mark line "MI...": fixed columns, counted from 0, last column included.
constexpr size_t kMarkNameFirst = 2;
constexpr size_t kMarkNameLast = 5;
constexpr size_t kMarkDescFirst = 22;
constexpr size_t kMarkDescLast = 29;
constexpr size_t kMarkHeightFirst = 30;
constexpr size_t kMarkHeightLast = 35;

// Feature fields, numbered from 0 after the code.
constexpr int kGfnMinFields = 8;
constexpr int kGfnName = 0;
constexpr int kGfnKind = 4;
constexpr int kGfnHeight = 5;
constexpr int kGfnDesc = 7;
constexpr int kGasMinFields = 5;
constexpr int kGasName = 1;
constexpr int kGasValue = 3;
constexpr int kGefName = 0;
constexpr int kGrpBeginName = 0;
constexpr int kGrpEndName = 1;

// The receiver stamps its event times 13 s late, except GLONASS receivers and files
// written with station marks on.
constexpr double kEventTimeLag_s = 13.0;
constexpr double kRestartDelay_s = 0.5;  // a GRP's new feature begins after its end
constexpr double kNoTime_s = -1.0;
// An event file is a few kilobytes: one this large is damaged or no event file at all,
// and is not held (a 32-bit host could not spare the memory).
constexpr long kMaxEventFileBytes = 16L * 1024 * 1024;
constexpr int64_t kMaxEventRecords = 100000;

constexpr char kUnknownSite[] = "????";
constexpr char kSiteFileDesc[] = "BFILE";
constexpr char kBeginStatic[] = "BEGIN_STATIC";
constexpr char kEndStatic[] = "END_STATIC";
constexpr char kUnnamedStatic[] = "????_STATIC";
constexpr char kSiteChange[] = "SITE CHANGE";
constexpr char kTimeErrSuffix[] = "-TimeErr";

enum class EntryKind { kSkipped, kMark, kFeatureStart, kAttribute, kFeatureEnd, kRestart };

// One two-line entry of the event file, as read from its time line and the line after it.
struct EventEntry {
  EntryKind kind;
  double time_s;
  char name[kEventTextSize];      // mark: columns 2-5
  char desc[kEventTextSize];      // mark: columns 22-29
  char height[kEventHeightSize];  // mark: columns 30-35
  int fieldCount;                 // feature: fields after the code, at most 16
  char field[kMaxFeatureFields][kFeatureFieldSize];
};

bool ReadEventLine(InputSource& file, char* line) {
  return file.ReadLine(line, kEventLineReadSize);
}

// Copies columns first..last of a line, cut at the line's last character; false when the
// range starts at or beyond the end of the line.
bool CutColumns(const char* line, size_t length, size_t first, size_t last, char* out,
                size_t size) {
  if (first >= length) return false;
  const size_t end = last < length ? last : length - 1;
  const size_t count = end - first + 1;
  const size_t kept = count < size ? count : size - 1;
  std::memcpy(out, line + first, kept);
  out[kept] = '\0';
  return true;
}

bool ParseMark(const char* line, EventEntry& entry) {
  const size_t length = std::strlen(line);
  return CutColumns(line, length, kMarkNameFirst, kMarkNameLast, entry.name, sizeof entry.name) &&
         CutColumns(line, length, kMarkDescFirst, kMarkDescLast, entry.desc, sizeof entry.desc) &&
         CutColumns(line, length, kMarkHeightFirst, kMarkHeightLast, entry.height,
                    sizeof entry.height);
}

// "G..." lines: blanks become "_", "*" become "+", then the comma fields up to the line
// end. The code is the first field; at most 16 fields after it are kept, each cut to 63.
EntryKind ParseFeature(char* line, EventEntry& entry) {
  for (char* p = line; *p != '\0'; ++p) {
    if (*p == ' ') *p = '_';
    if (*p == '*') *p = '+';
  }
  char code[kFeatureFieldSize] = "";
  entry.fieldCount = 0;
  const char* p = line;
  int index = -1;  // -1: the code
  for (;;) {
    const size_t length = std::strcspn(p, ",\r\n");
    char* out = index < 0 ? code : entry.field[index];
    const size_t kept = length < kFeatureFieldSize - 1 ? length : kFeatureFieldSize - 1;
    std::memcpy(out, p, kept);
    out[kept] = '\0';
    if (index >= 0) entry.fieldCount = index + 1;
    p += length;
    if (*p != ',' || index + 1 >= kMaxFeatureFields) break;
    ++p;
    ++index;
  }
  if (std::strcmp(code, "GFN") == 0) {
    return entry.fieldCount >= kGfnMinFields ? EntryKind::kFeatureStart : EntryKind::kSkipped;
  }
  if (std::strcmp(code, "GAS") == 0) {
    return entry.fieldCount >= kGasMinFields ? EntryKind::kAttribute : EntryKind::kSkipped;
  }
  if (std::strcmp(code, "GEF") == 0) return EntryKind::kFeatureEnd;
  if (std::strcmp(code, "GRP") == 0) return EntryKind::kRestart;
  return EntryKind::kSkipped;
}

// Reads up to and through the next entry; false at the end of the file.
bool ReadEntry(InputSource& file, char* line, bool subtractLag, EventEntry& entry) {
  do {
    if (!ReadEventLine(file, line)) return false;
  } while (line[0] != 'C');

  const char* cursor = line;
  char word[kSiteWordSize];
  entry.time_s = kNoTime_s;
  if (ScanWord(cursor, word, sizeof word) == 1) {
    double time_s = 0.0;
    if (ScanFiniteDouble(cursor, &time_s) && PlausibleTimeOfWeek(time_s)) entry.time_s = time_s;
  }
  if (subtractLag) entry.time_s -= kEventTimeLag_s;

  if (!ReadEventLine(file, line)) return false;
  entry.kind = EntryKind::kSkipped;
  if (line[0] == 'M' && line[1] == 'I') {
    if (ParseMark(line, entry)) entry.kind = EntryKind::kMark;
  } else if (line[0] == 'G') {
    entry.kind = ParseFeature(line, entry);
  }
  return true;
}

int SlotsFor(EntryKind kind) {
  switch (kind) {
    case EntryKind::kMark:
    case EntryKind::kFeatureStart:
    case EntryKind::kFeatureEnd:
      return 1;
    case EntryKind::kRestart:
      return 2;
    default:
      return 0;
  }
}

void SetFeatureKind(EventRecord& record, char kindLetter) {
  const char* kind = "UNKNOWN";
  record.evMoving = 1;
  if (kindLetter == 'P') {
    kind = "STATIC";
    record.evMoving = 0;
  } else if (kindLetter == 'L') {
    kind = "LINE";
  } else if (kindLetter == 'A') {
    kind = "AREA";
  }
  CopyText(record.evKind, sizeof record.evKind, kind);
}

// A record that continues the previous feature under a new name and role.
void ContinueFeature(EventRecord& record, const EventRecord& previous, double time_s,
                     const char* name, int32_t end) {
  record.evTime = time_s;
  record.evSeen = kNoTime_s;
  record.evEnd = end;
  CopyText(record.evName, sizeof record.evName, name);
  CopyText(record.evDesc, sizeof record.evDesc, previous.evDesc);
  CopyText(record.evHeight, sizeof record.evHeight, previous.evHeight);
  CopyText(record.evKind, sizeof record.evKind, previous.evKind);
  record.evMoving = previous.evMoving;
}

// Second pass: fills at most capacity records in file order; returns the duplicates dropped.
int32_t FillRecords(InputSource& file, char* line, bool subtractLag, EventTable& table,
                    int32_t capacity, EventEntry& entry) {
  int32_t made = 0;
  int32_t duplicates = 0;
  while (AbortCounter() == 0 && ReadEntry(file, line, subtractLag, entry)) {
    EventRecord* previous = made > 0 ? &table.records[made - 1] : nullptr;
    const int32_t room = capacity - duplicates - made;
    switch (entry.kind) {
      case EntryKind::kMark: {
        if (previous != nullptr && previous->evTime == entry.time_s &&
            std::strcmp(previous->evName, entry.name) == 0) {
          ++duplicates;
          break;
        }
        if (room < 1) break;
        EventRecord& record = table.records[made++];
        record.evTime = entry.time_s;
        record.evSeen = kNoTime_s;
        record.evEnd = 0;
        CopyText(record.evName, sizeof record.evName, entry.name);
        CopyText(record.evDesc, sizeof record.evDesc, entry.desc);
        CopyText(record.evHeight, sizeof record.evHeight, entry.height);
        break;
      }
      case EntryKind::kFeatureStart: {
        if (room < 1) break;
        EventRecord& record = table.records[made++];
        record.evTime = entry.time_s;
        record.evSeen = kNoTime_s;
        record.evEnd = 0;
        CopyText(record.evName, sizeof record.evName, entry.field[kGfnName]);
        CopyText(record.evDesc, sizeof record.evDesc, entry.field[kGfnDesc]);
        CopyText(record.evHeight, sizeof record.evHeight, entry.field[kGfnHeight]);
        SetFeatureKind(record, entry.field[kGfnKind][0]);
        table.hasFeatures = 1;
        break;
      }
      case EntryKind::kAttribute: {
        if (previous == nullptr) break;
        char text[kTextSize];
        FormatText(text, "%s=%s", entry.field[kGasName], entry.field[kGasValue]);
        CopyText(previous->evDesc, sizeof previous->evDesc, text);
        break;
      }
      case EntryKind::kFeatureEnd:
        if (previous == nullptr || entry.fieldCount <= kGefName || room < 1) break;
        ContinueFeature(table.records[made], *previous, entry.time_s, entry.field[kGefName], 1);
        ++made;
        break;
      case EntryKind::kRestart:
        if (previous == nullptr || entry.fieldCount <= kGrpEndName || room < 2) break;
        ContinueFeature(table.records[made], *previous, entry.time_s, entry.field[kGrpEndName], 1);
        ContinueFeature(table.records[made + 1], *previous, entry.time_s + kRestartDelay_s,
                        entry.field[kGrpBeginName], 0);
        made += 2;
        break;
      case EntryKind::kSkipped:
        break;
    }
  }
  return duplicates;
}

// Orders the name index: by name, then by position in the file.
bool BuildNameIndex(EventTable& table) {
  table.byName = static_cast<int32_t*>(
      std::calloc(static_cast<size_t>(table.count > 0 ? table.count : 1), sizeof(int32_t)));
  if (table.byName == nullptr) return false;
  for (int32_t i = 0; i < table.count; ++i) table.byName[i] = i;
  const EventRecord* records = table.records;
  std::sort(table.byName, table.byName + table.count, [records](int32_t a, int32_t b) {
    const int order = std::strcmp(records[a].evName, records[b].evName);
    return order != 0 ? order < 0 : a < b;
  });
  return true;
}

// The part of the name index whose records carry the name, in file order.
struct NameRange {
  const int32_t* first;
  const int32_t* last;
};

NameRange RecordsNamed(const EventTable& table, const char* name) {
  if (table.byName == nullptr || table.records == nullptr || table.count <= 0) {
    return {nullptr, nullptr};
  }
  const EventRecord* records = table.records;
  const int32_t* begin = table.byName;
  const int32_t* end = table.byName + table.count;
  const int32_t* first = std::lower_bound(begin, end, name, [records](int32_t i, const char* n) {
    return std::strcmp(records[i].evName, n) < 0;
  });
  const int32_t* last = std::upper_bound(first, end, name, [records](const char* n, int32_t i) {
    return std::strcmp(n, records[i].evName) < 0;
  });
  return {first, last};
}

// The antenna height of an event record: its text scanned as "%lf" does, 0 when none or
// beyond what an antenna can stand.
double EventHeight_m(const EventRecord& record) {
  char text[kEventHeightSize];
  CopyText(text, sizeof text, record.evHeight);
  const char* cursor = text;
  double height_m = 0.0;
  return ScanFiniteDouble(cursor, &height_m) && PlausibleAntennaHeight(height_m) ? height_m : 0.0;
}

// One Sta block with GPS time, week 0 and a vertical height; counted when written.
void WriteMarkBlock(ConversionJob& job, const char* name, double time_s, double height_m,
                    const char* desc, const char* remark) {
  StationRecord& record = job.station;
  record = StationRecord{};
  record.type = kStationTypeSta;
  CopyText(record.name, sizeof record.name, name);
  CopyText(record.desc, sizeof record.desc, desc);
  CopyText(record.remark, sizeof record.remark, remark);
  record.timeType = kTimeTypeGps;
  record.time = time_s;
  record.hiType = kHeightVertical;
  record.hi = height_m;
  if (WriteStationRecord(job.staFile, record) == 0) ++job.stationsWritten;
}

// Writes a block from the first mark record named name at or after the last match, when
// the event file holds marks only; true when a record was used.
bool TryMarkRecords(ConversionJob& job, EventTable& table, const char* name, double time_s,
                    const char* remark) {
  if (job.options.UseEventFile == 0 || table.count <= 0 || table.records == nullptr ||
      table.hasFeatures != 0) {
    return false;
  }
  // Mark times are seconds of week: a match far from the first record's time belongs to
  // the previous week, so the search restarts one week back.
  if (std::fabs(table.records[0].evTime - table.lastMatch) > kHalfWeek_s && table.lastMatch > 0.0) {
    table.lastMatch -= kSecondsPerWeek;
  }
  const NameRange named = RecordsNamed(table, name);
  for (const int32_t* index = named.first; index != named.last; ++index) {
    const EventRecord& record = table.records[*index];
    if (!(record.evTime >= table.lastMatch)) continue;
    table.lastMatch = record.evTime;
    WriteMarkBlock(job, name, time_s, EventHeight_m(record), record.evDesc, remark);
    return true;
  }
  return false;
}

// Feature mode: the epoch's name marks when each feature was seen and whether the
// receiver moves.
void FollowFeatures(ConversionJob& job, EventTable& table, const char* name, bool unknownSite,
                    double time_s) {
  job.previousMovingState = job.epochFlagBits;
  if (unknownSite) {
    job.epochFlagBits = kEpochMoving;
    return;
  }
  const EventRecord* firstBegin = nullptr;
  const NameRange named = RecordsNamed(table, name);
  for (const int32_t* index = named.first; index != named.last; ++index) {
    EventRecord& record = table.records[*index];
    // An end keeps the last epoch that showed the name, a begin the first.
    if (record.evEnd != 0 || record.evSeen < 0.0) record.evSeen = time_s;
    if (record.evEnd == 0 && firstBegin == nullptr) firstBegin = &record;
  }
  if (firstBegin != nullptr) job.epochFlagBits = firstBegin->evMoving != 0 ? kEpochMoving : 0;
}

}  // namespace

bool EventTimesLag(bool stationMarks, int32_t receiverType) {
  return !stationMarks && receiverType != kReceiverGlonass;
}

int32_t DecodeEvents(InputSource& file, bool subtractLag, EventTable& table) {
  FreeEventTable(table);
  char* line = static_cast<char*>(std::calloc(kEventLineBufferSize, 1));
  EventEntry* entry = static_cast<EventEntry*>(std::calloc(1, sizeof(EventEntry)));
  if (line == nullptr || entry == nullptr) {
    std::free(line);
    std::free(entry);
    return -1;
  }
  // The file's length bounds what is read, so an endless or huge file is refused early.
  const long length = file.Measure();
  int64_t slots = 0;
  if (length >= 0 && length <= kMaxEventFileBytes) {
    while (AbortCounter() == 0 && slots <= kMaxEventRecords &&
           ReadEntry(file, line, subtractLag, *entry)) {
      slots += SlotsFor(entry->kind);
    }
  } else {
    slots = kMaxEventRecords + 1;
  }
  // After an abort the table stays empty: the epoch loop ends the conversion with it.
  int32_t result = 0;
  if (AbortCounter() != 0) {
  } else if (slots > kMaxEventRecords) {
    result = -1;
  } else if (slots > 0) {
    const int32_t capacity = static_cast<int32_t>(slots);
    table.records =
        static_cast<EventRecord*>(std::calloc(static_cast<size_t>(capacity), sizeof(EventRecord)));
    if (table.records == nullptr) {
      result = -1;
    } else {
      file.Rewind();
      table.lastMatch = 0.0;
      table.hasFeatures = 0;
      const int32_t duplicates = FillRecords(file, line, subtractLag, table, capacity, *entry);
      table.count = capacity - duplicates;
      if (AbortCounter() != 0) {
        FreeEventTable(table);
      } else if (!BuildNameIndex(table)) {
        FreeEventTable(table);
        result = -1;
      }
    }
  }
  std::free(line);
  std::free(entry);
  return result;
}

int32_t DecodeEventFile(const char* path, bool subtractLag, EventTable& table) {
  InputSource source;
  if (!source.Open(path, "r")) {
    FreeEventTable(table);
    return 0;
  }
  return DecodeEvents(source, subtractLag, table);
}

int32_t LoadEventFile(ConversionJob& job, EventTable& table) {
  return DecodeEventFile(
      job.eventPath, EventTimesLag(job.options.StationMarkOption != 0, job.receiverType), table);
}

int32_t StationMarkStep(ConversionJob& job, uint8_t* epochHeader, EventTable& table) {
  char name[kEpochHeaderSiteLength + 1];
  for (int i = 0; i < kEpochHeaderSiteLength; ++i) {
    const uint8_t c = epochHeader[kEpochHeaderSiteOffset + i];
    if (c < 1 || c > 122) {
      epochHeader[kEpochHeaderSiteOffset] = 0;
      return -1;
    }
    name[i] = static_cast<char>(c);
  }
  name[kEpochHeaderSiteLength] = '\0';
  CopyText(job.currentSite, sizeof job.currentSite, name);

  const double time_s = LoadF64(epochHeader + kEpochHeaderTimeOffset);
  // A corrupt time would put "nan" into the station file and break every comparison.
  if (!std::isfinite(time_s)) return -1;

  const bool unknownSite = std::strcmp(name, kUnknownSite) == 0;
  const bool marksOn = job.options.StationMarkOption != 0;
  if (marksOn) {
    job.previousMovingState = job.epochFlagBits;
    job.epochFlagBits = unknownSite ? kEpochMoving : 0;
  }

  if (job.staFile != nullptr) {
    if (job.options.UseEventFile != 0 && table.hasFeatures == 1) {
      FollowFeatures(job, table, name, unknownSite, time_s);
    } else if (!unknownSite && std::strcmp(name, job.previousSite) != 0) {
      if (!TryMarkRecords(job, table, name, time_s, kBeginStatic)) {
        const char* remark = kSiteChange;
        if (marksOn) {
          remark = job.epochFlagBits == 0 && job.previousMovingState == kEpochMoving
                       ? kBeginStatic
                       : kUnnamedStatic;
        }
        WriteMarkBlock(job, name, time_s, job.antennaHeight, kSiteFileDesc, remark);
        job.lastBeginTime = time_s;
      }
    } else if (unknownSite && job.previousSite[0] != '\0' &&
               std::strcmp(job.previousSite, kUnknownSite) != 0 && job.markPreviousTime >= 0.0 &&
               job.markPreviousTime != job.lastBeginTime) {
      // The occupation of the previous site ended with the previous epoch.
      if (!TryMarkRecords(job, table, job.previousSite, job.markPreviousTime, kEndStatic) &&
          marksOn) {
        const char* remark =
            job.epochFlagBits == kEpochMoving && job.previousMovingState == 0 ? kEndStatic : "";
        WriteMarkBlock(job, job.previousSite, job.markPreviousTime, job.antennaHeight,
                       kSiteFileDesc, remark);
      }
    }
  }

  CopyText(job.previousSite, sizeof job.previousSite, name);
  job.markPreviousTime = time_s;
  return 0;
}

void WriteEventStations(ConversionJob& job, EventTable& table) {
  if (job.staFile == nullptr || table.records == nullptr) return;
  for (int32_t i = 0; i < table.count; ++i) {
    const EventRecord& record = table.records[i];
    double time_s = record.evSeen;
    // The block's name is built in the station record's 64-byte name field: a record name
    // holds at most 31 characters, so the marker always survives whole and the host can
    // tell such a block from one of a name the observation file showed.
    char name[kStationTextSize];
    CopyText(name, sizeof name, record.evName);
    if (!(record.evSeen >= 0.0)) {
      // Never shown by the observation file: kept at its event-file time, marked.
      char marked[kTextSize];
      FormatText(marked, "%s%s", record.evName, kTimeErrSuffix);
      CopyText(name, sizeof name, marked);
      time_s = record.evTime;
    }
    char remark[kTextSize];
    FormatText(remark, "%s%s", record.evEnd != 0 ? "END_" : "BEGIN_", record.evKind);
    WriteMarkBlock(job, name, time_s, EventHeight_m(record), record.evDesc, remark);
  }
}

}  // namespace talverin
