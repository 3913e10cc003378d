// `talverin rinex`: RINEX observation and navigation files from download sets, through the
// export library of rinex/ and the batch runner: each set in a process of its own, its two
// files written through SafeOutputs (never over a file of the set or another output of the
// batch, renamed only when both are whole, NAME.partial.EXT kept after a failure), one
// summary line per set on stdout, what each set resolved, skipped or left out on stderr.
// Exit status, the worst set's: 0 written, 1 written with damage skipped, values left out or
// no E file (an empty navigation file), 2 nothing written.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "base/native_path.h"
#include "cli/batch.h"
#include "cli/commands.h"
#include "cli/rinex_plan.h"
#include "cli/safe_output.h"
#include "cli/set_batch.h"
#include "dataset/file_system.h"
#include "dataset/json_writer.h"
#include "rinex/rinex_export.h"
#include "rinex/rinex_format.h"
#include "rinex/rinex_splice.h"

namespace talverin_cli {
namespace {

namespace fs = std::filesystem;

SetResult Failed(const std::string& set, const char* result, const std::string& reason) {
  std::fprintf(stderr, "talverin rinex: %s: %s\n", set.c_str(), reason.c_str());
  SetResult r;
  r.status = kExitFailed;
  r.summary = std::string(result) + ": " + reason;
  r.json = talverin::JsonMembers().Text("result", result).Text("error", reason).text();
  return r;
}

// The export that was written but not put in place (stopped, failed, or not committed): the
// reason with the final names the user knows, and where what was written is kept.
SetResult NotCommitted(const std::string& set, const std::string& cause, bool stopped,
                       SafeOutputs* outputs, const std::string& messages) {
  std::string reason = cause;
  for (size_t i = 0; i < outputs->size(); ++i) {
    const size_t at = reason.find(outputs->TemporaryPath(i));
    if (at != std::string::npos) {
      reason.replace(at, outputs->TemporaryPath(i).size(), outputs->FinalPath(i));
    }
  }
  std::string kept = "; previous outputs left as they were";
  const std::vector<std::string> partial = outputs->KeepPartial();
  for (size_t i = 0; i < partial.size(); ++i) {
    kept += (i == 0 ? "; what was written is kept as " : ", ") + partial[i];
  }
  SetResult r = Failed(set, stopped ? "stopped" : "failed", reason + kept);
  if (stopped) r.status = kExitIncomplete;
  r.stopped = stopped;
  r.json += ", \"messages\": " + messages;
  return r;
}

// The result of an export put in place.
SetResult Written(const talverin::RinexExportSummary& s, const std::vector<std::string>& finals,
                  const std::string& messages) {
  SetResult r;
  r.status = s.incomplete ? kExitIncomplete : kExitOk;
  char line[256];
  std::snprintf(line, sizeof line,
                "%s, %d epochs, %d satellite records, %d event records, %d GPS navigation "
                "records%s -> ",
                s.incomplete ? "written with parts left out" : "written", s.epochs, s.observations,
                s.events, s.navRecords, s.messages.empty() ? "" : ", messages on stderr");
  r.summary = line + finals[0] + ", " + finals[1];
  r.json = talverin::JsonMembers()
               .Text("result", s.incomplete ? "incomplete" : "written")
               .Integer("gps_week", s.first.week)
               .Integer("epochs", s.epochs)
               .Integer("satellite_records", s.observations)
               .Integer("event_records", s.events)
               .Integer("navigation_records", s.navRecords)
               .Raw("outputs", talverin::JsonMembers()
                                   .Text("observation", finals[0])
                                   .Text("navigation", finals[1])
                                   .Object())
               .Raw("messages", messages)
               .text();
  return r;
}

// The export's messages on stderr, each after the set's name; as a JSON array.
std::string ShowMessages(const std::string& set, const std::vector<std::string>& messages) {
  std::string json = "[";
  for (const std::string& m : messages) {
    std::fprintf(stderr, "%s: %s\n", set.c_str(), m.c_str());
    json += (json.size() > 1 ? ", " : "") + talverin::JsonString(m);
  }
  return json + "]";
}

SetResult ExportSet(const std::string& set, const RinexArgs& args, const RinexPlan& plan,
                    int receiverType) {
  const std::string unreadable = UnreadableReason(set);
  if (!unreadable.empty()) {
    return Failed(set, "unreadable", "cannot read the B file " + set + ": " + unreadable);
  }
  talverin::RinexExportOptions options = OptionsFor(plan, set);
  options.receiverType = receiverType;
  talverin::RinexExporter exporter;
  if (exporter.Prepare(options) != 0) return Failed(set, "failed", exporter.errorText());

  const fs::path dir = args.sets.outputDir.empty() ? talverin::NativePath(set).parent_path()
                                                   : talverin::NativePath(args.sets.outputDir);
  const std::vector<std::string> finals = {(dir / exporter.observationName()).string(),
                                           (dir / exporter.navigationName()).string()};
  SafeOutputs outputs;
  std::string error;
  if (!ClaimOutputs(finals, set, &error) || !outputs.Prepare(finals, SetInputFiles(set), &error)) {
    return Failed(set, "refused", error);
  }
  // The export has no stopping point: it ends, then a stop keeps it from being put in place.
  const int32_t written = exporter.Write(outputs.TemporaryPath(0), outputs.TemporaryPath(1));
  const std::string messages = ShowMessages(set, exporter.summary().messages);
  if (written != 0 || !outputs.Commit(&error)) {
    const bool stopped = written == 0 && StopRequested();
    const std::string cause = written != 0 ? std::string(exporter.errorText()) : error;
    return NotCommitted(set, cause, stopped, &outputs, messages);
  }
  SetResult r = Written(exporter.summary(), finals, messages);
  // What the set lost, in the words convert, info and qc use for it. Without an E file the
  // navigation file holds no record: written, but not all a set gives.
  std::error_code ec;
  if (!fs::exists(talverin::NativePath(SetInputFiles(set)[1]), ec)) r.status = kExitIncomplete;
  const std::string loss =
      r.status == kExitOk ? "" : ScanSetLoss(set, receiverType, options.gpsWeek);
  if (!loss.empty()) r.summary = loss + "; " + r.summary;
  return r;
}

// A private folder for the splice's per-set exports; empty when none can be made.
std::string SpliceFolder() {
  std::error_code ec;
  std::string error;
  return talverin::MakeUniqueFolder(fs::temp_directory_path(ec).string(), "talverin-splice-",
                                    &error);
}

bool WriteText(const std::string& path, const std::string& text) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  return std::fclose(file) == 0 && written;
}

// The sets of one site and day spliced into one file pair, named after the first set.
SetResult SpliceSets(const std::vector<std::string>& sets, const RinexArgs& args,
                     const RinexPlan& plan, int receiverType) {
  const std::string& first = sets.front();
  talverin::RinexExportOptions options = OptionsFor(plan, first);
  options.receiverType = receiverType;
  const std::string folder = SpliceFolder();
  if (folder.empty()) return Failed(first, "failed", "no temporary folder for splicing");
  talverin::RinexSpliceResult spliced;
  std::string error;
  const int32_t made = talverin::SpliceRinex(sets, options, folder, &spliced, &error);
  talverin::RemoveFolder(folder);
  if (made != 0) return Failed(first, "failed", error);
  const fs::path dir = args.sets.outputDir.empty() ? talverin::NativePath(first).parent_path()
                                                   : talverin::NativePath(args.sets.outputDir);
  const std::vector<std::string> finals = {(dir / spliced.observationName).string(),
                                           (dir / spliced.navigationName).string()};
  std::vector<std::string> inputs;
  for (const std::string& set : sets) {
    for (const std::string& file : SetInputFiles(set)) inputs.push_back(file);
  }
  SafeOutputs outputs;
  if (!ClaimOutputs(finals, first, &error) || !outputs.Prepare(finals, inputs, &error)) {
    return Failed(first, "refused", error);
  }
  const bool written = WriteText(outputs.TemporaryPath(0), spliced.observation) &&
                       WriteText(outputs.TemporaryPath(1), spliced.navigation);
  const std::string messages = ShowMessages(first, spliced.summary.messages);
  if (!written || !outputs.Commit(&error)) {
    const bool stopped = written && StopRequested();
    const std::string cause = !written ? "cannot write " + outputs.TemporaryPath(0) : error;
    return NotCommitted(first, cause, stopped, &outputs, messages);
  }
  SetResult r = Written(spliced.summary, finals, messages);
  r.summary += talverin::Format(" (%zu sets spliced, %d repeated epochs left out)", sets.size(),
                                spliced.duplicateEpochs);
  return r;
}

}  // namespace

const char kRinexHelp[] =
    "Writes, for each download set, a RINEX observation file with every observable of the\n"
    "B file (C1 L1 D1 S1; dual frequency also P1 P2 L2 D2 S2; L2-codeless P2 L2 D2 S2) and a\n"
    "GPS navigation file with every GPS record of the E file, healthy or not. Version 2.11\n"
    "names: ssssdddf.yyo / .yyn; version 3.04: the long names. Site changes and the marks\n"
    "and features of the D file become event records (flag 3 new site occupation with\n"
    "MARKER NAME and antenna height, flag 2 when the antenna starts moving).\n"
    "A folder stands for every B file in it. Each set runs in a process of its own; its files\n"
    "are written under temporary names and renamed when both are whole: an earlier output\n"
    "stays as it was after a failure, and what was written is kept as NAME.partial.EXT. An\n"
    "output that would overwrite a file of the set or another set's output is refused.\n"
    "\n"
    "Examples:\n"
    "  talverin rinex set/BBAHRA04.162\n"
    "  talverin rinex --rinex-version 3 -j 2 -d out/ --json out/rinex.json downloads/\n";

BatchResult Rinex(const RinexArgs& args) {
  SetOutputNaming naming;
  naming.shardsGroups = args.edit.splice;  // a shard takes whole site-days
  SetBatch plan;
  std::string error;
  if (!PlanSetBatch("rinex", args.sets, naming, &plan, &error)) {
    return BatchRefused("rinex", error);
  }
  RinexPlan rinex;
  if (!PlanRinex(args, &rinex, &error)) return BatchRefused("rinex", error);
  if (!args.edit.splice) {
    return NoteEmptyShard(
        plan, RunBatch(plan.sets, plan.batch, [&](const std::string& set, const SetContext&) {
          return ExportSet(set, args, rinex, plan.receiverType);
        }));
  }
  // One run per site and day, named by its first set; a shard takes those of its first sets.
  const std::map<std::string, std::vector<std::string>> byFirst = SpliceRuns(plan);
  std::vector<std::string> firsts;
  for (const auto& group : byFirst) firsts.push_back(group.first);
  return NoteEmptyShard(
      plan, RunBatch(firsts, plan.batch, [&](const std::string& set, const SetContext&) {
        return SpliceSets(byFirst.at(set), args, rinex, plan.receiverType);
      }));
}

int RunRinex(const RinexArgs& args) { return PrintBatch(Rinex(args)); }

}  // namespace talverin_cli
