#include "rinex/rinex_splice.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "rinex/rinex_import.h"
#include "rinex/rinex_names.h"
#include "rinex/rinex_obs_writer.h"

namespace talverin {
namespace {

constexpr int kNavRecordLines = 8;       // GPS: the epoch line and seven orbit lines
constexpr size_t kSatsPerLine2 = 12;     // version 2 epoch line
constexpr size_t kValuesPerLine2 = 5;    // version 2 observation line
constexpr size_t kPeriodColumn = 24;     // of a version 3 long name
constexpr double kBeforeEpoch_s = 1e-3;  // a station event sorts this far before its epoch
// Header lines that describe the station; a change between sets becomes an event.
const char* const kStationLabels[] = {"MARKER NAME", "REC # / TYPE / VERS", "ANT # / TYPE",
                                      "ANTENNA: DELTA H/E/N"};

struct Record {
  double time_s = 0.0;
  bool epoch = false;  // an observation epoch (flag 0, 1 or 6), else an event
  std::string key;     // the epoch's time fields
  std::string text;
  int32_t satellites = 0;
};

struct ExportedSet {
  RinexExportSummary summary;
  std::string obsName, navName;
  std::vector<std::string> header;  // observation header lines, END OF HEADER last
  std::vector<std::string> navHeader;
  std::string types;                           // the observable type lines, to compare
  std::map<std::string, std::string> station;  // label -> header content
  std::vector<Record> records;
  std::vector<std::string> navRecords;
};

std::string Label(const std::string& line) { return line.size() > 60 ? line.substr(60) : ""; }

std::vector<std::string> Lines(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

long Field(const std::string& line, size_t from, size_t width) {
  return from < line.size() ? std::strtol(line.substr(from, width).c_str(), nullptr, 10) : 0;
}

// Seconds since 1970 of an epoch line's time fields; false when they are blank.
bool EpochTime(const std::string& line, bool v3, double* t_s) {
  const size_t at = v3 ? 2 : 1;
  const size_t yearWidth = v3 ? 4 : 2;
  if (line.find_first_not_of(' ', at) >= at + yearWidth) return false;
  long year = Field(line, at, yearWidth);
  if (!v3) year = FullYearOfTwoDigits(static_cast<int32_t>(year));
  const size_t m = at + yearWidth + 1;  // month, then day, hour, minute by 3 columns
  const double second = std::strtod(line.substr(m + 11, 11).c_str(), nullptr);
  *t_s =
      static_cast<double>(DaysFromCivil(year, Field(line, m, 2), Field(line, m + 3, 2))) * 86400.0 +
      Field(line, m + 6, 2) * 3600.0 + Field(line, m + 9, 2) * 60.0 + second;
  return true;
}

// Lines of the record that starts at lines[i]: the epoch line(s), and the satellites' or
// the event's lines.
size_t RecordLines(const std::string& line, bool v3, size_t types, int32_t* flag, long* n) {
  *flag = Field(line, v3 ? 31 : 28, 1);
  *n = Field(line, v3 ? 32 : 29, 3);
  if (*flag >= 2 && *flag <= 5) return 1 + static_cast<size_t>(*n);
  if (v3) return 1 + static_cast<size_t>(*n);
  const size_t sats = static_cast<size_t>(*n);
  const size_t epochLines = sats == 0 ? 1 : 1 + (sats - 1) / kSatsPerLine2;
  return epochLines + sats * ((types + kValuesPerLine2 - 1) / kValuesPerLine2);
}

bool ParseObservation(const std::vector<std::string>& lines, ExportedSet* set, std::string* error) {
  size_t i = 0, types = 0;
  bool v3 = false;
  for (; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    const std::string label = Label(line);
    set->header.push_back(line);
    if (label.rfind("RINEX VERSION / TYPE", 0) == 0) v3 = line.compare(0, 6, "     3") == 0;
    if (label.rfind("# / TYPES OF OBSERV", 0) == 0 || label.rfind("SYS / # / OBS TYPES", 0) == 0) {
      set->types += line + "\n";
      if (line[0] != ' ' || !v3) types = std::max(types, static_cast<size_t>(Field(line, 0, 6)));
    }
    for (const char* station : kStationLabels) {
      if (label.rfind(station, 0) == 0) set->station[station] = line.substr(0, 60);
    }
    if (label.rfind("END OF HEADER", 0) == 0) break;
  }
  double last_s = 0.0;
  for (++i; i < lines.size();) {
    Record r;
    int32_t flag = 0;
    long n = 0;
    const size_t count = RecordLines(lines[i], v3, types, &flag, &n);
    if (i + count > lines.size()) {
      *error = "an exported record ends early";
      return false;
    }
    r.time_s = EpochTime(lines[i], v3, &r.time_s) ? r.time_s : last_s;
    last_s = r.time_s;
    r.epoch = flag < 2 || flag > 5;
    r.key = lines[i].substr(0, v3 ? 29 : 26);
    r.satellites = r.epoch ? static_cast<int32_t>(n) : 0;
    for (size_t k = 0; k < count; ++k) r.text += lines[i + k] + "\n";
    set->records.push_back(r);
    i += count;
  }
  return true;
}

void ParseNavigation(const std::vector<std::string>& lines, ExportedSet* set) {
  size_t i = 0;
  for (; i < lines.size(); ++i) {
    set->navHeader.push_back(lines[i]);
    if (Label(lines[i]).rfind("END OF HEADER", 0) == 0) break;
  }
  for (++i; i + kNavRecordLines <= lines.size(); i += kNavRecordLines) {
    std::string record;
    for (int k = 0; k < kNavRecordLines; ++k) record += lines[i + k] + "\n";
    set->navRecords.push_back(record);
  }
}

bool ExportOne(const RinexExportOptions& options, const std::string& tempDir, size_t index,
               ExportedSet* set, std::string* error) {
  RinexExporter exporter;
  const std::string obs = tempDir + "/splice-" + std::to_string(index) + ".obs";
  const std::string nav = tempDir + "/splice-" + std::to_string(index) + ".nav";
  if (exporter.Prepare(options) != 0 || exporter.Write(obs, nav) != 0) {
    *error = exporter.errorText();
    return false;
  }
  set->summary = exporter.summary();
  set->obsName = exporter.observationName();
  set->navName = exporter.navigationName();
  const bool parsed = ParseObservation(Lines(obs), set, error);
  ParseNavigation(Lines(nav), set);
  std::remove(obs.c_str());
  std::remove(nav.c_str());
  if (!parsed) *error = options.bPath + ": " + *error;
  return parsed;
}

// The event before the first epoch of a set whose station lines differ from the set before.
std::string StationEvent(const ExportedSet& before, const ExportedSet& set, int32_t version) {
  ObsEvent e;
  e.time = set.summary.first;
  const bool newMarker = before.station.at("MARKER NAME") != set.station.at("MARKER NAME");
  e.flag = newMarker ? 3 : 4;
  for (const char* label : kStationLabels) {
    const std::string& line = set.station.at(label);
    if (newMarker || line != before.station.at(label)) e.records.push_back({line, label});
  }
  std::string text;
  if (!e.records.empty()) AppendObsEvent(&text, version, e);
  return text;
}

void AddSummary(const RinexExportSummary& s, const std::string& name, RinexExportSummary* sum) {
  sum->unwritableValues += s.unwritableValues;
  sum->droppedChannels += s.droppedChannels;
  sum->navSkipped += s.navSkipped;
  sum->solvedPositions += s.solvedPositions;
  sum->incomplete = sum->incomplete || s.incomplete;
  for (const std::string& m : s.messages) sum->messages.push_back(name + ": " + m);
}

// Header of the spliced file: the first set's, with the last set's TIME OF LAST OBS and the
// smallest interval.
std::string SplicedHeader(const std::vector<ExportedSet>& sets, const RinexExportSummary& sum,
                          int32_t version) {
  ObsHeaderInfo timing;
  timing.version = version;
  timing.last = sum.last;
  std::string text;
  for (const std::string& line : sets.front().header) {
    const std::string label = Label(line);
    if (label.rfind("TIME OF LAST OBS", 0) == 0) {
      const ExportedSet* latest = &sets.front();
      for (const ExportedSet& s : sets) {
        if (s.summary.last.FullSeconds() > latest->summary.last.FullSeconds()) latest = &s;
      }
      for (const std::string& l : latest->header) {
        if (Label(l).rfind("TIME OF LAST OBS", 0) == 0) text += l + "\n";
      }
    } else if (label.rfind("INTERVAL", 0) == 0 && sum.interval_s > 0.0) {
      AppendHeaderLine(&text, Format("%10.3f", sum.interval_s), "INTERVAL");
    } else {
      text += line + "\n";
    }
  }
  return text;
}

void MergeRecords(const std::vector<ExportedSet>& sets, int32_t version, RinexSpliceResult* out) {
  struct Item {
    double time_s;
    size_t set, order;
    const Record* record;
    std::string event;
  };
  std::vector<Item> items;
  for (size_t s = 0; s < sets.size(); ++s) {
    const std::string event = s > 0 ? StationEvent(sets[s - 1], sets[s], version) : "";
    const auto first = std::find_if(sets[s].records.begin(), sets[s].records.end(),
                                    [](const Record& r) { return r.epoch; });
    if (!event.empty() && first != sets[s].records.end()) {
      items.push_back({first->time_s - kBeforeEpoch_s, s, 0, nullptr, event});
    }
    for (size_t k = 0; k < sets[s].records.size(); ++k) {
      items.push_back({sets[s].records[k].time_s, s, k + 1, &sets[s].records[k], ""});
    }
  }
  std::stable_sort(items.begin(), items.end(),
                   [](const Item& a, const Item& b) { return a.time_s < b.time_s; });
  std::set<std::string> written;
  for (const Item& item : items) {
    if (item.record == nullptr) {
      out->observation += item.event;
      ++out->summary.events;
    } else if (!item.record->epoch) {
      out->observation += item.record->text;
      ++out->summary.events;
    } else if (!written.insert(item.record->key).second) {
      ++out->duplicateEpochs;
    } else {
      out->observation += item.record->text;
      ++out->summary.epochs;
      out->summary.observations += item.record->satellites;
    }
  }
}

}  // namespace

int32_t SpliceRinex(const std::vector<std::string>& bPaths, const RinexExportOptions& options,
                    const std::string& tempDir, RinexSpliceResult* result, std::string* error) {
  std::vector<ExportedSet> sets(bPaths.size());
  for (size_t i = 0; i < bPaths.size(); ++i) {
    RinexExportOptions one = options;
    one.bPath = bPaths[i];
    if (!ExportOne(one, tempDir, i, &sets[i], error)) return -1;
    if (sets[i].types != sets[0].types) {
      *error = bPaths[i] + ": holds other observables than " + bPaths[0] +
               " (another receiver class); splice the sets of each receiver class apart";
      return -1;
    }
  }
  if (sets.empty()) {
    *error = "no set to splice";
    return -1;
  }
  std::stable_sort(sets.begin(), sets.end(), [](const ExportedSet& a, const ExportedSet& b) {
    return a.summary.first.FullSeconds() < b.summary.first.FullSeconds();
  });
  RinexSpliceResult& out = *result;
  out = RinexSpliceResult();
  RinexExportSummary& sum = out.summary;
  sum.receiverType = sets.front().summary.receiverType;
  sum.first = sets.front().summary.first;
  sum.last = sum.first;
  sum.interval_s = sets.front().summary.interval_s;
  for (const ExportedSet& s : sets) {
    if (s.summary.last.FullSeconds() > sum.last.FullSeconds()) sum.last = s.summary.last;
    if (s.summary.interval_s > 0.0 && s.summary.interval_s < sum.interval_s) {
      sum.interval_s = s.summary.interval_s;
    }
    AddSummary(s.summary, s.obsName, &sum);
  }
  out.observation = SplicedHeader(sets, sum, options.rinexVersion);
  MergeRecords(sets, options.rinexVersion, &out);
  std::set<std::string> navWritten;
  for (const std::string& line : sets.front().navHeader) out.navigation += line + "\n";
  for (const ExportedSet& s : sets) {
    for (const std::string& record : s.navRecords) {
      if (!navWritten.insert(record).second) {
        ++out.duplicateRecords;
        continue;
      }
      out.navigation += record;
      ++sum.navRecords;
    }
  }
  out.observationName = sets.front().obsName;
  out.navigationName = sets.front().navName;
  if (options.rinexVersion >= 3) {
    const std::string period = Rinex3Period(
        NominalSpan_s(sum.first.FullSeconds(), sum.last.FullSeconds(), sum.interval_s));
    out.observationName.replace(kPeriodColumn, 3, period);
    out.navigationName.replace(kPeriodColumn, 3, period);
  } else {
    out.observationName[7] = '0';
    out.navigationName[7] = '0';
  }
  return 0;
}

int32_t SpliceToDownloadSet(const std::vector<std::string>& bPaths,
                            const RinexExportOptions& options, const std::string& tempDir,
                            std::string* bPath, RinexExportSummary* summary, std::string* error) {
  RinexExportOptions v2 = options;
  v2.rinexVersion = 2;  // what the import reads
  RinexSpliceResult spliced;
  if (SpliceRinex(bPaths, v2, tempDir, &spliced, error) != 0) return -1;
  *summary = spliced.summary;
  RinexImportOptions import;
  import.observationPath = tempDir + "/" + spliced.observationName;
  import.navigationPath = tempDir + "/" + spliced.navigationName;
  import.outputDir = tempDir + "/set";
  static const char* const kClassWords[] = {"", "ca", "dual", "l2-codeless", "glonass"};
  if (options.receiverType >= 1 && options.receiverType <= 4) {
    import.receiver = kClassWords[options.receiverType];
  }
  std::ofstream obs(import.observationPath, std::ios::binary);
  std::ofstream nav(import.navigationPath, std::ios::binary);
  obs << spliced.observation;
  nav << spliced.navigation;
  obs.close();
  nav.close();
  if (!obs || !nav) {
    *error = "cannot write the spliced RINEX files in " + tempDir;
    return -1;
  }
  RinexImportSummary imported;
  char text[kTextSize] = "";
  if (ImportRinex(import, &imported, text) != 0) {
    *error = std::string("the spliced sets do not read back as one set: ") + text;
    return -1;
  }
  *bPath = imported.observationFile;
  return 0;
}

}  // namespace talverin
