// `talverin info`: what a download set holds, read through the tools' download-set reader
// without converting anything: receiver model and type, site names and antenna height,
// first and last epoch (calendar GPS time), interval and count, satellites seen, the
// ephemerides and their health, the events, and every damaged stretch. Text on stdout,
// optionally JSON; exit 1 when a set holds damage, 2 when one cannot be read.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "base/gnss_constants.h"
#include "cli/batch.h"
#include "cli/commands.h"
#include "cli/safe_output.h"
#include "dataset/download_set_reader.h"
#include "dataset/gps_calendar.h"
#include "dataset/json_writer.h"
#include "dataset/session_week.h"
#include "input/event_marks.h"

namespace fs = std::filesystem;

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

std::string PrnList(const std::set<int>& prns) {
  std::string text;
  for (const int prn : prns) {
    char name[16];
    std::snprintf(name, sizeof name, prn <= talverin::kMaxGpsPrn ? "G%02d" : "%d", prn);
    text += (text.empty() ? "" : " ") + std::string(name);
  }
  return text;
}

struct SetInfo {
  int status = kExitOk;
  std::vector<std::string> lines;  // after the set's name
  std::string json;
};

void Row(SetInfo* info, const char* label, const std::string& text) {
  char head[32];
  std::snprintf(head, sizeof head, "  %-14s ", label);
  info->lines.push_back(head + text);
}

SetInfo Describe(const std::string& path, const InfoArgs& args) {
  SetInfo info;
  talverin::JsonMembers json;
  talverin::DownloadSetReader reader;
  std::error_code ec;
  const bool regular = fs::is_regular_file(path, ec);
  if (!regular || reader.Open(path, args.receiver) != 0) {
    const std::string why = regular ? reader.errorText() : path + ": no such file (or not a file)";
    info.status = kExitFailed;
    Row(&info, "unreadable", why);
    info.json = json.Text("result", "unreadable").Text("error", why).text();
    return info;
  }
  const int32_t type = reader.receiverType();
  Row(&info, "receiver",
      std::string(reader.model()) + ": " + kTypeNames[type] + " (type " + std::to_string(type) +
          "), " + std::to_string(reader.recordSize()) + "-byte channel records");
  json.Text("result", "read")
      .Raw("receiver", talverin::JsonMembers()
                           .Text("model", reader.model())
                           .Integer("type", type)
                           .Text("kind", kTypeNames[type])
                           .Integer("record_size", reader.recordSize())
                           .Object());

  talverin::SetSiteInfo site;
  reader.ReadSite(&site);
  if (site.present) {
    Row(&info, "site file",
        std::string(site.name) + ", antenna height " + Fixed(site.antennaHeight_m, 4) +
            " m (vertical)");
    json.Raw("site_file", talverin::JsonMembers()
                              .Text("name", site.name)
                              .Number("antenna_height_m", site.antennaHeight_m, 4)
                              .Object());
  } else {
    Row(&info, "site file", "none usable");
    json.Raw("site_file", "null");
  }

  const talverin::SessionWeek week =
      talverin::ResolveSessionWeek(path, reader.CompanionPath('E'), args.gpsWeek);
  talverin::WeekTracker weeks(week);
  std::map<std::string, long> siteEpochs;
  std::vector<std::string> siteOrder;
  std::set<int> seen;
  std::map<long, long> steps;  // ms between epochs -> count
  long epochs = 0;
  double first_s = 0.0;
  double last_s = 0.0;
  int32_t firstWeek = -1;
  int32_t lastWeek = -1;
  talverin::RawEpoch epoch;
  int32_t status;
  while ((status = reader.NextEpoch(&epoch)) == 1) {
    const int32_t w = weeks.WeekOf(epoch.tow_s);
    if (epochs > 0) {
      const double step_s = (w - lastWeek) * talverin::kSecondsPerWeek + epoch.tow_s - last_s;
      if (step_s > 0.0) ++steps[std::lround(step_s * 1000.0)];
    } else {
      first_s = epoch.tow_s;
      firstWeek = w;
    }
    last_s = epoch.tow_s;
    lastWeek = w;
    ++epochs;
    if (siteEpochs[epoch.site]++ == 0) siteOrder.push_back(epoch.site);
    for (const talverin::RawChannel& c : epoch.channels) {
      if (c.prn != 0) seen.insert(c.prn);
    }
  }

  // An epoch cut by the end of the file is reported as damage, not counted.
  const bool truncated = reader.lastEpochCut();
  std::string sites;
  std::vector<std::string> sitesJson;
  for (size_t i = 0; i < siteOrder.size(); ++i) {
    const std::string& name = siteOrder[i];
    if (i < kSitesShown) {
      sites += (sites.empty() ? "" : ", ") + name + " (" + std::to_string(siteEpochs[name]) +
               (siteEpochs[name] == 1 ? " epoch)" : " epochs)");
    }
    sitesJson.push_back(
        talverin::JsonMembers().Text("name", name).Integer("epochs", siteEpochs[name]).Object());
  }
  if (siteOrder.size() > kSitesShown) {
    sites += " and " + std::to_string(siteOrder.size() - kSitesShown) + " more names";
  }
  Row(&info, "sites", sites.empty() ? "none" : sites);
  long interval_ms = 0;
  long most = 0;
  for (const auto& [ms, n] : steps) {
    if (n > most) {
      most = n;
      interval_ms = ms;
    }
  }
  if (epochs > 0) {
    Row(&info, "epochs",
        std::to_string(epochs) + ": " + talverin::FormatGpsTime(firstWeek, first_s) + " to " +
            talverin::FormatGpsTime(lastWeek, last_s) + " GPS" +
            (interval_ms > 0 ? ", every " + Fixed(interval_ms / 1000.0, 3) + " s" : std::string()));
  } else {
    Row(&info, "epochs", "none");
  }
  Row(&info, "GPS week",
      (week.week >= 0 ? std::to_string(week.week) : std::string("unknown")) + " (" +
          talverin::WeekSourceName(week.source) + ")" +
          (week.note.empty() ? "" : ": " + week.note));
  json.Raw("sites", talverin::JsonArray(sitesJson)).Integer("epochs", epochs);
  if (epochs > 0) {
    json.Text("first_epoch", talverin::FormatGpsTime(firstWeek, first_s))
        .Text("last_epoch", talverin::FormatGpsTime(lastWeek, last_s))
        .Number("first_tow_s", first_s, 3)
        .Number("last_tow_s", last_s, 3);
  }
  json.Number("interval_s", interval_ms > 0 ? interval_ms / 1000.0 : NAN, 3);
  if (week.week >= 0) {
    json.Integer("gps_week", week.week);
  } else {
    json.Raw("gps_week", "null");
  }
  json.Text("gps_week_source", talverin::WeekSourceName(week.source))
      .Text("gps_week_note", week.note);

  std::vector<std::string> prnJson;
  for (const int prn : seen) prnJson.push_back(std::to_string(prn));
  Row(&info, "satellites",
      std::to_string(seen.size()) + (seen.empty() ? "" : ": " + PrnList(seen)));
  json.Raw("satellites", talverin::JsonArray(prnJson));

  std::vector<talverin::SetGpsEphemeris> gps;
  std::vector<talverin::SetGlonassEphemeris> glonass;
  const bool haveE = fs::is_regular_file(reader.CompanionPath('E'), ec);
  if (!haveE) {
    Row(&info, "ephemerides", "none: no E file " + reader.CompanionPath('E'));
  } else if (reader.ReadEphemerides(&gps, &glonass) != 0) {
    Row(&info, "ephemerides", "E file " + reader.CompanionPath('E') + " cannot be read");
    info.status = kExitFailed;
  }
  std::set<int> healthy;
  std::set<int> unhealthy;
  for (const talverin::SetGpsEphemeris& e : gps)
    (e.health == 0 ? healthy : unhealthy).insert(e.eph.prn);
  std::set<int> without;
  for (const int prn : seen) {
    if (prn <= talverin::kMaxGpsPrn && healthy.count(prn) == 0) without.insert(prn);
  }
  long unhealthyRecords = 0;
  for (const talverin::SetGpsEphemeris& e : gps) unhealthyRecords += e.health != 0 ? 1 : 0;
  if (haveE) {
    Row(&info, "ephemerides",
        std::to_string(gps.size()) + " GPS for " + std::to_string(healthy.size()) +
            " satellites, " + std::to_string(unhealthyRecords) + " unhealthy" +
            (unhealthy.empty() ? "" : " (" + PrnList(unhealthy) + ")") + "; " +
            std::to_string(glonass.size()) + " GLONASS");
  }
  if (!without.empty()) Row(&info, "", "seen without a healthy ephemeris: " + PrnList(without));
  std::vector<std::string> withoutJson;
  for (const int prn : without) withoutJson.push_back(std::to_string(prn));
  json.Raw("ephemerides", talverin::JsonMembers()
                              .Integer("gps", static_cast<int64_t>(gps.size()))
                              .Integer("gps_unhealthy", unhealthyRecords)
                              .Integer("glonass", static_cast<int64_t>(glonass.size()))
                              .Raw("seen_without_healthy", talverin::JsonArray(withoutJson))
                              .Object());

  talverin::EventTable events;
  if (reader.ReadEvents(false, &events) != 0) {
    Row(&info, "events", "the D file cannot be held (too large)");
    info.status = kExitFailed;
  } else {
    long marks = 0;
    long features = 0;
    for (int32_t i = 0; i < events.count; ++i) {
      (events.records[i].evKind[0] == '\0' ? marks : features) += 1;
    }
    Row(&info, "events",
        events.count == 0 ? "none"
                          : std::to_string(events.count) + " records: " + std::to_string(marks) +
                                " site marks, " + std::to_string(features) + " feature events");
    json.Raw("events", talverin::JsonMembers()
                           .Integer("records", events.count)
                           .Integer("site_marks", marks)
                           .Integer("feature_events", features)
                           .Object());
  }
  talverin::FreeEventTable(events);

  std::vector<std::string> damageJson;
  for (const talverin::SetDamage& d : reader.damage()) {
    if (damageJson.size() < kDamageShown) {
      Row(&info, "damage",
          std::string(1, d.file) + " file at byte " + std::to_string(d.offset) + ", " +
              std::to_string(d.skipped) + " bytes skipped: " + d.text);
    } else if (damageJson.size() == kDamageShown) {
      Row(&info, "damage",
          "... " + std::to_string(reader.damage().size() - kDamageShown) +
              " more damaged stretches; " + std::to_string(reader.damagedBytes()) +
              " bytes skipped in all");
    }
    damageJson.push_back(talverin::JsonMembers()
                             .Text("file", std::string(1, d.file))
                             .Integer("offset", d.offset)
                             .Integer("skipped", d.skipped)
                             .Text("text", d.text)
                             .Object());
  }
  if (status < 0) {
    Row(&info, "damage", std::string("read error: ") + reader.errorText());
    info.status = kExitFailed;
  }
  if (truncated) Row(&info, "damage", "the B file ends inside its last epoch");
  if (reader.damage().empty() && !truncated && status >= 0) {
    Row(&info, "damage", "none");
  } else if (info.status == kExitOk) {
    info.status = kExitIncomplete;
  }
  json.Raw("damage", talverin::JsonArray(damageJson))
      .Integer("damaged_bytes", reader.damagedBytes())
      .Boolean("last_epoch_cut", truncated);
  info.json = json.text();
  return info;
}

}  // namespace

int RunInfo(const InfoArgs& args) {
  IgnoreBrokenPipes();
  std::vector<std::string> sets;
  std::string error;
  if (!ExpandInputs(args.inputs, args.recursive, &sets, &error)) {
    std::fprintf(stderr, "talverin info: %s\n", error.c_str());
    return kExitFailed;
  }
  SafeOutputs jsonOutput;
  if (!args.json.empty() && !jsonOutput.Prepare({args.json}, sets, &error)) {
    std::fprintf(stderr, "talverin info: --json: %s\n", error.c_str());
    return kExitFailed;
  }
  int worst = kExitOk;
  std::string json;
  for (size_t i = 0; i < sets.size(); ++i) {
    const SetInfo info = Describe(sets[i], args);
    worst = std::max(worst, info.status);
    PrintLine(sets[i]);
    for (const std::string& line : info.lines) PrintLine(line);
    json += (i > 0 ? ",\n    {" : "\n    {") +
            talverin::JsonMembers().Text("input", sets[i]).Integer("status", info.status).text() +
            ", " + info.json + "}";
  }
  if (!args.json.empty() && !WriteSummaryJson(&jsonOutput, "info", worst, json, &error)) {
    std::fprintf(stderr, "talverin info: %s\n", error.c_str());
    worst = kExitFailed;
  }
  return worst;
}

}  // namespace talverin_cli
