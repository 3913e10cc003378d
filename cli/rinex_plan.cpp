#include "cli/rinex_plan.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "base/native_path.h"
#include "dataset/gps_calendar.h"

namespace talverin_cli {

bool PlanEpochWindow(const EditArgs& args, talverin::EpochWindow* w, std::string* error) {
  if (!args.start.empty() && !ParseGpsTime(args.start, &w->start)) {
    *error = "--start '" + args.start + "' is not a GPS time YYYY-MM-DDTHH:MM:SS";
    return false;
  }
  if (!args.end.empty() && !ParseGpsTime(args.end, &w->end)) {
    *error = "--end '" + args.end + "' is not a GPS time YYYY-MM-DDTHH:MM:SS";
    return false;
  }
  w->hasStart = !args.start.empty();
  w->hasEnd = !args.end.empty();
  if (w->hasStart && w->hasEnd && w->end.FullSeconds() < w->start.FullSeconds()) {
    *error = "--end " + args.end + " lies before --start " + args.start;
    return false;
  }
  if (args.interval_s != 0.0 && !(args.interval_s > 0.0 && args.interval_s <= 86400.0)) {
    *error = "--interval must be a number of seconds above 0, at most 86400";
    return false;
  }
  w->interval_s = args.interval_s;
  return true;
}

bool ParseGpsTime(const std::string& text, talverin::GpsInstant* t) {
  talverin::CalendarTime c;
  int consumed = 0;
  char separator = 0;
  const int fields = std::sscanf(text.c_str(), "%4d-%2d-%2d%c%2d:%2d:%lf%n", &c.year, &c.month,
                                 &c.day, &separator, &c.hour, &c.minute, &c.second, &consumed);
  if (fields != 7 || static_cast<size_t>(consumed) != text.size() ||
      (separator != 'T' && separator != ' ')) {
    return false;
  }
  return talverin::CalendarToGps(c, &t->week, &t->tow_s);
}

bool PlanRinex(const RinexArgs& args, RinexPlan* plan, std::string* error) {
  plan->base.rinexVersion = args.rinexVersion;
  plan->base.gpsWeek = args.sets.gpsWeek;
  if (args.monument < 0 || args.monument > 9 || args.receiverIndex < 0 || args.receiverIndex > 9) {
    *error = "--monument and --receiver-index are digits 0-9";
    return false;
  }
  plan->base.monument = args.monument;
  plan->base.receiverIndex = args.receiverIndex;
  plan->commandLine = args.metadata;
  if (!args.antennaDelta.empty()) {
    if (!talverin::ParseAntennaDelta(args.antennaDelta, plan->commandLine.antennaDelta_m, error)) {
      return false;
    }
    plan->commandLine.hasAntennaDelta = true;
  }
  if (!talverin::CheckMetadata(plan->commandLine, error)) return false;
  if (!args.siteTable.empty() && !talverin::ReadSiteTable(args.siteTable, &plan->table, error)) {
    return false;
  }
  return PlanEpochWindow(args.edit, &plan->base.window, error);
}

talverin::RinexExportOptions OptionsFor(const RinexPlan& plan, const std::string& set) {
  talverin::RinexExportOptions o = plan.base;
  o.bPath = set;
  const std::string name = talverin::NativeFileName(set);
  const talverin::RinexMetadata* row =
      name.size() > 4 ? talverin::FindSite(plan.table, name.substr(1, 4)) : nullptr;
  o.metadata =
      talverin::MergeMetadata(row != nullptr ? *row : talverin::RinexMetadata(), plan.commandLine);
  return o;
}

std::map<std::string, std::vector<std::string>> SpliceRuns(const SetBatch& plan) {
  std::map<std::string, std::string> keyOf;
  for (size_t i = 0; i < plan.sets.size(); ++i) keyOf[plan.sets[i]] = plan.keys[i];
  std::map<std::string, std::vector<std::string>> byFirst;
  for (const auto& group : SpliceGroups(plan.sets)) {
    if (InShard(plan.shard, keyOf[group.second.front()])) {
      byFirst[group.second.front()] = group.second;
    }
  }
  return byFirst;
}

std::map<std::string, std::vector<std::string>> SpliceGroups(const std::vector<std::string>& sets) {
  std::map<std::string, std::vector<std::string>> groups;
  for (const std::string& set : sets) {
    const std::string name = talverin::NativeFileName(set);
    const size_t dot = name.rfind('.');
    std::string key = set;
    if (name.size() >= 12 && dot == name.size() - 4 && dot >= 2) {
      std::string site = name.substr(1, 4);
      for (char& c : site) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      key = site + " " + name.substr(dot - 2);
    }
    groups[key].push_back(set);
  }
  return groups;
}

}  // namespace talverin_cli
