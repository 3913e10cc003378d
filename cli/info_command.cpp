// `talverin info`: what a download set holds (dataset/set_scan.h) without converting anything:
// receiver model and type, site names and antenna height, first and last epoch (calendar GPS
// time), interval and count, satellites seen, the ephemerides and their health, the events,
// and every damaged stretch. Computed by Info(), formatted as text lines and JSON members
// here; exit 1 when a set holds damage or lacks its E file, 2 when one cannot be read.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "base/gnss_constants.h"
#include "cli/batch.h"
#include "cli/commands.h"
#include "cli/safe_output.h"
#include "dataset/gps_calendar.h"
#include "dataset/json_writer.h"
#include "dataset/session_week.h"
#include "dataset/set_scan.h"

namespace talverin_cli {
namespace {

const char* const kTypeNames[] = {"", "C/A code", "dual frequency", "L2-codeless", "GPS+GLONASS"};
// Text lines show this many site names and damaged stretches; the JSON holds them all.
constexpr size_t kSitesShown = 6;
constexpr size_t kDamageShown = 5;

std::string Fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string PrnList(const std::set<int32_t>& prns) {
  std::string text;
  for (const int prn : prns) {
    char name[16];
    std::snprintf(name, sizeof name, prn <= talverin::kMaxGpsPrn ? "G%02d" : "%d", prn);
    text += (text.empty() ? "" : " ") + std::string(name);
  }
  return text;
}

using talverin::JsonArray;
using talverin::JsonMembers;
using Lines = std::vector<std::string>;

void Row(Lines* lines, const char* label, const std::string& text) {
  char head[32];
  std::snprintf(head, sizeof head, "  %-14s ", label);
  lines->push_back(head + text);
}

std::string JsonNumbers(const std::set<int32_t>& values) {
  std::vector<std::string> items;
  for (const int32_t v : values) items.push_back(std::to_string(v));
  return JsonArray(items);
}

void ReceiverAndSiteRows(const talverin::SetScan& s, Lines* lines) {
  const int32_t type = s.receiverType;
  Row(lines, "receiver",
      s.model + ": " + kTypeNames[type] + " (type " + std::to_string(type) + "), " +
          std::to_string(s.recordSize) + "-byte channel records");
  Row(lines, "site file",
      s.site.present ? std::string(s.site.name) + ", antenna height " +
                           Fixed(s.site.antennaHeight_m, 4) + " m (vertical)"
                     : std::string("none usable"));
  std::string sites;
  for (size_t i = 0; i < s.sites.size() && i < kSitesShown; ++i) {
    const talverin::SetSiteName& site = s.sites[i];
    sites += (sites.empty() ? "" : ", ") + site.name + " (" + std::to_string(site.epochs) +
             (site.epochs == 1 ? " epoch)" : " epochs)");
  }
  if (s.sites.size() > kSitesShown) {
    sites += " and " + std::to_string(s.sites.size() - kSitesShown) + " more names";
  }
  Row(lines, "sites", sites.empty() ? "none" : sites);
}

void TimeRows(const talverin::SetScan& s, Lines* lines) {
  if (s.epochs > 0) {
    Row(lines, "epochs",
        std::to_string(s.epochs) + ": " + talverin::FormatGpsTime(s.firstWeek, s.firstTow_s) +
            " to " + talverin::FormatGpsTime(s.lastWeek, s.lastTow_s) + " GPS" +
            (s.interval_s > 0 ? ", every " + Fixed(s.interval_s, 3) + " s" : std::string()));
  } else {
    Row(lines, "epochs", "none");
  }
  Row(lines, "GPS week",
      (s.week.week >= 0 ? std::to_string(s.week.week) : std::string("unknown")) + " (" +
          talverin::WeekSourceName(s.week.source) + ")" +
          (s.week.note.empty() ? "" : ": " + s.week.note));
}

void EphemerisAndEventRows(const std::string& ePath, const talverin::SetScan& s, Lines* lines) {
  Row(lines, "satellites",
      std::to_string(s.satellites.size()) +
          (s.satellites.empty() ? "" : ": " + PrnList(s.satellites)));
  if (!s.ephemerisFile) {
    Row(lines, "ephemerides", "none: no E file " + ePath);
  } else if (!s.ephemerisError.empty()) {
    Row(lines, "ephemerides", "E file " + ePath + " cannot be read");
  }
  if (s.ephemerisFile) {
    Row(lines, "ephemerides",
        std::to_string(s.gps.size()) + " GPS for " + std::to_string(s.healthyPrns.size()) +
            " satellites, " + std::to_string(s.unhealthyRecords) + " unhealthy" +
            (s.unhealthyPrns.empty() ? "" : " (" + PrnList(s.unhealthyPrns) + ")") + "; " +
            std::to_string(s.glonass.size()) + " GLONASS");
  }
  if (!s.seenWithoutHealthy.empty()) {
    Row(lines, "", "seen without a healthy ephemeris: " + PrnList(s.seenWithoutHealthy));
  }
  if (!s.eventsLoaded) {
    Row(lines, "events", "the D file cannot be held (too large)");
  } else {
    Row(lines, "events",
        s.eventRecords == 0
            ? "none"
            : std::to_string(s.eventRecords) + " records: " + std::to_string(s.siteMarks) +
                  " site marks, " + std::to_string(s.featureEvents) + " feature events");
  }
}

void DamageRows(const talverin::SetScan& s, Lines* lines) {
  for (size_t i = 0; i < s.damage.size() && i <= kDamageShown; ++i) {
    const talverin::SetDamage& d = s.damage[i];
    if (i < kDamageShown) {
      Row(lines, "damage",
          std::string(1, d.file) + " file at byte " + std::to_string(d.offset) + ", " +
              std::to_string(d.skipped) + " bytes skipped: " + d.text);
    } else {
      Row(lines, "damage",
          "... " + std::to_string(s.damagedPlaces - static_cast<int64_t>(kDamageShown)) +
              " more damaged stretches; " + std::to_string(s.damagedBytes) +
              " bytes skipped in all");
    }
  }
  if (s.readError) Row(lines, "damage", "read error: " + s.readErrorText);
  if (s.lastEpochCut) Row(lines, "damage", "the B file ends inside its last epoch");
  if (s.damage.empty() && !s.lastEpochCut && !s.readError) Row(lines, "damage", "none");
}

std::string ReceiverAndSiteJson(const talverin::SetScan& s) {
  JsonMembers json;
  json.Text("result", "read")
      .Raw("receiver", JsonMembers()
                           .Text("model", s.model)
                           .Integer("type", s.receiverType)
                           .Text("kind", kTypeNames[s.receiverType])
                           .Integer("record_size", s.recordSize)
                           .Object());
  json.Raw("site_file", s.site.present ? JsonMembers()
                                             .Text("name", s.site.name)
                                             .Number("antenna_height_m", s.site.antennaHeight_m, 4)
                                             .Object()
                                       : std::string("null"));
  std::vector<std::string> sites;
  for (const talverin::SetSiteName& site : s.sites) {
    sites.push_back(JsonMembers().Text("name", site.name).Integer("epochs", site.epochs).Object());
  }
  json.Raw("sites", JsonArray(sites)).Integer("epochs", s.epochs);
  if (s.epochs > 0) {
    json.Text("first_epoch", talverin::FormatGpsTime(s.firstWeek, s.firstTow_s))
        .Text("last_epoch", talverin::FormatGpsTime(s.lastWeek, s.lastTow_s))
        .Number("first_tow_s", s.firstTow_s, 3)
        .Number("last_tow_s", s.lastTow_s, 3);
  }
  json.Number("interval_s", s.interval_s > 0 ? s.interval_s : NAN, 3);
  json.Raw("gps_week", s.week.week >= 0 ? std::to_string(s.week.week) : std::string("null"));
  json.Text("gps_week_source", talverin::WeekSourceName(s.week.source))
      .Text("gps_week_note", s.week.note);
  return json.text();
}

std::string EphemerisEventsDamageJson(const talverin::SetScan& s) {
  JsonMembers json;
  json.Raw("satellites", JsonNumbers(s.satellites));
  json.Raw("ephemerides", JsonMembers()
                              .Integer("gps", static_cast<int64_t>(s.gps.size()))
                              .Integer("gps_unhealthy", s.unhealthyRecords)
                              .Integer("glonass", static_cast<int64_t>(s.glonass.size()))
                              .Raw("seen_without_healthy", JsonNumbers(s.seenWithoutHealthy))
                              .Object());
  if (s.eventsLoaded) {
    json.Raw("events", JsonMembers()
                           .Integer("records", s.eventRecords)
                           .Integer("site_marks", s.siteMarks)
                           .Integer("feature_events", s.featureEvents)
                           .Object());
  }
  std::vector<std::string> damage;
  for (const talverin::SetDamage& d : s.damage) {
    damage.push_back(JsonMembers()
                         .Text("file", std::string(1, d.file))
                         .Integer("offset", d.offset)
                         .Integer("skipped", d.skipped)
                         .Text("text", d.text)
                         .Object());
  }
  json.Raw("damage", JsonArray(damage))
      .Integer("damaged_bytes", s.damagedBytes)
      .Boolean("last_epoch_cut", s.lastEpochCut);
  return json.text();
}

// What the set lost, as the "lost" row says it; null when it was read whole.
std::string LossJson(const SetLoss& loss) {
  if (loss.text.empty()) return "null";
  JsonMembers json;
  json.Text("text", loss.text)
      .Raw("cut_short_after_epochs",
           loss.cutAfterEpochs >= 0 ? std::to_string(loss.cutAfterEpochs) : "null")
      .Integer("skipped_bytes", loss.skippedBytes)
      .Integer("skipped_places", loss.skippedPlaces);
  if (loss.firstFile != 0) {
    json.Text("first_file", std::string(1, loss.firstFile))
        .Integer("first_offset", loss.firstOffset);
  }
  json.Raw("missing_ephemeris_file", loss.missingEphemerisFile.empty()
                                         ? std::string("null")
                                         : talverin::JsonString(loss.missingEphemerisFile));
  return json.Object();
}

}  // namespace

int InfoStatus(const talverin::SetScan& scan) {
  if (!scan.opened || !scan.ephemerisError.empty() || !scan.eventsLoaded || scan.readError) {
    return kExitFailed;
  }
  return scan.damage.empty() && !scan.lastEpochCut && scan.ephemerisFile ? kExitOk
                                                                         : kExitIncomplete;
}

std::vector<std::string> InfoLines(const InfoSet& set) {
  Lines lines;
  const talverin::SetScan& s = set.scan;
  if (!s.opened) {
    Row(&lines, "unreadable", s.error);
    return lines;
  }
  ReceiverAndSiteRows(s, &lines);
  TimeRows(s, &lines);
  EphemerisAndEventRows(SetInputFiles(set.input)[1], s, &lines);
  DamageRows(s, &lines);
  const std::string loss = SetLossText(s, set.input);
  if (!loss.empty()) Row(&lines, "lost", loss);
  return lines;
}

std::string InfoJsonMembers(const InfoSet& set) {
  const talverin::SetScan& s = set.scan;
  const std::string head =
      JsonMembers().Text("input", set.input).Integer("status", set.status).text() + ", ";
  if (!s.opened)
    return head + JsonMembers().Text("result", "unreadable").Text("error", s.error).text();
  return head + ReceiverAndSiteJson(s) + ", " + EphemerisEventsDamageJson(s) +
         ", \"loss\": " + LossJson(ScanLossOf(s, set.input));
}

InfoResult Info(const InfoArgs& args) {
  InfoResult result;
  result.status = kExitFailed;
  talverin::SetScanOptions options;
  options.receiverType = ResolveReceiverType(args.sets, &result.error);
  options.gpsWeek = args.sets.gpsWeek;
  std::vector<std::string> sets;
  if (options.receiverType < 0) return result;
  if (!SelectSets(args.sets, &sets, &result.note, &result.error) ||
      !CheckGpsWeek(args.sets.gpsWeek, sets, &result.error)) {
    return result;
  }
  result.status = kExitOk;
  result.named = sets.size();
  for (const std::string& path : sets) {
    if (StopRequested()) break;
    InfoSet set;
    set.input = path;
    set.scan = talverin::ScanDownloadSet(path, options);
    set.status = InfoStatus(set.scan);
    result.status = std::max(result.status, set.status);
    result.sets.push_back(std::move(set));
  }
  return result;
}

int RunInfo(const InfoArgs& args) {
  IgnoreBrokenPipes();
  CatchStopSignals();  // before the JSON's temporary file: a stop ends the reading of sets
  const InfoResult result = Info(args);
  if (!result.error.empty()) {
    std::fprintf(stderr, "talverin info: %s\n", result.error.c_str());
    return kExitFailed;
  }
  if (!result.note.empty()) std::fprintf(stderr, "talverin info: %s\n", result.note.c_str());
  std::vector<std::string> inputs;
  for (const InfoSet& set : result.sets) inputs.push_back(set.input);
  SafeOutputs jsonOutput;
  std::string error;
  if (!args.sets.json.empty() && !jsonOutput.Prepare({args.sets.json}, inputs, &error)) {
    std::fprintf(stderr, "talverin info: --json: %s\n", error.c_str());
    return kExitFailed;
  }
  std::string json;
  for (const InfoSet& set : result.sets) {
    PrintLine(set.input);
    for (const std::string& line : InfoLines(set)) PrintLine(line);
    json += (json.empty() ? "\n    {" : ",\n    {") + InfoJsonMembers(set) + "}";
  }
  int status = result.status;
  if (StopRequested()) {
    status = std::max(status, kExitIncomplete);
    std::fprintf(stderr, "talverin info: stopped by %s; %zu of %zu sets read before it\n",
                 StopSignalText().c_str(), result.sets.size(), result.named);
  }
  if (!args.sets.json.empty() && !WriteSummaryJson(&jsonOutput, "info", status, json, &error)) {
    std::fprintf(stderr, "talverin info: %s\n", error.c_str());
    status = kExitFailed;
  }
  return status;
}

}  // namespace talverin_cli
