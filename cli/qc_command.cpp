// `talverin qc`: the quality report of download sets (qc/qc_set.h) through the batch runner:
// each set in a child process of its own (the module's state is module-wide), its report
// beside the input, into -d DIR, or to -o FILE (one set), written through SafeOutputs. Each
// set's text summary goes to stdout, then one line per set; with several sets an index page
// links the reports. Exit status: the worst of the sets (0 complete, 1 report with missing
// parts, 2 no report or unreadable set), 2 for a usage error.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "base/native_path.h"
#include "cli/batch.h"
#include "cli/commands.h"
#include "cli/rinex_plan.h"
#include "cli/safe_output.h"
#include "cli/set_batch.h"
#include "dataset/file_system.h"
#include "qc/qc_set.h"
#include "rinex/rinex_splice.h"

namespace talverin_cli {
namespace {

namespace fs = std::filesystem;

constexpr char kIndexName[] = "qc-index.html";

bool gReportStopped = false;  // this process's report was kept from its place by a stop

// Writes text through SafeOutputs: a temporary beside path, renamed when whole; after a
// failure what was written stays as NAME.partial.EXT.
bool WriteSafely(const std::string& path, const std::string& text,
                 const std::vector<std::string>& inputs, std::string* error) {
  SafeOutputs out;
  if (!out.Prepare({path}, inputs, error)) return false;
  FILE* file = std::fopen(out.TemporaryPath(0).c_str(), "wb");
  const bool written =
      file != nullptr && std::fwrite(text.data(), 1, text.size(), file) == text.size();
  const bool closed = file != nullptr && std::fclose(file) == 0;
  if (written && closed && out.Commit(error)) return true;
  gReportStopped = written && closed && StopRequested();
  if (gReportStopped) *error = "stopped by a signal; " + path + " not written";
  if (error->empty()) *error = "cannot write " + path;
  for (const std::string& kept : out.KeepPartial()) *error += "; what was written is in " + kept;
  return false;
}

// One set in its child process: the report written, its text summary on stdout. source,
// when given, is the set the figures come from (the splice of set's site and day), inputs
// the files no report may replace.
SetResult QcOneSet(const std::string& set, const QcArgs& args, const talverin::QcOptions& options,
                   const talverin::ReferencePoint& reference, const std::string& source = "",
                   const std::vector<std::string>& inputs = {}) {
  // A set's figures have no stopping point: they end, then a stop keeps the report out.
  const std::string report = args.sets.output.empty()
                                 ? talverin::QcReportPath(set, args.sets.outputDir)
                                 : args.sets.output;
  const auto writer = [&inputs](const std::string& path, const std::string& text,
                                const std::vector<std::string>& own, std::string* error) {
    std::vector<std::string> all = own;
    all.insert(all.end(), inputs.begin(), inputs.end());
    return WriteSafely(path, text, all, error);
  };
  const std::string& computed = source.empty() ? set : source;
  const talverin::QcSetResult r = talverin::RunQcSet(computed, options, report, writer);
  std::fputs(r.text.c_str(), stdout);
  std::fflush(stdout);
  if (!r.error.empty()) std::fprintf(stderr, "talverin qc: %s: %s\n", set.c_str(), r.error.c_str());
  SetResult out;
  out.stopped = gReportStopped;
  out.status = out.stopped ? kExitIncomplete : r.status;
  out.summary = out.stopped ? "stopped by a signal, no report" : r.summary;
  out.json = r.json;
  const std::string far = r.againstReference ? FarReferenceWarning(reference, r.meanEnu_m) : "";
  if (!far.empty()) {
    std::fprintf(stderr, "talverin qc: %s: warning: %s\n", set.c_str(), far.c_str());
    out.status = std::max(out.status, kExitIncomplete);
    out.summary += "; " + far;
  }
  // What the set lost, in the words convert, info and rinex use for it.
  const std::string loss = out.status == kExitIncomplete && !out.stopped
                               ? ScanSetLoss(computed, options.receiverType, options.gpsWeek)
                               : "";
  if (!loss.empty()) out.summary = loss + "; " + out.summary;
  out.data = talverin::EncodeQcIndexEntry(r.index);
  return out;
}

// The sets of one site and day as one report, named after the first: their RINEX export
// spliced (rinex_splice.h, the window applied there) and read back as one set.
SetResult QcSplicedSets(const std::vector<std::string>& sets, const QcArgs& args,
                        talverin::QcOptions options, const talverin::ReferencePoint& reference) {
  std::error_code ec;
  std::string why;
  const std::string folder = talverin::MakeUniqueFolder(
      talverin::NativeText(fs::temp_directory_path(ec)), "talverin-qc-splice-", &why);
  SetResult out;
  out.status = kExitFailed;
  out.summary = "failed: no temporary folder for splicing";
  if (folder.empty()) return out;
  talverin::RinexExportOptions rinex;
  rinex.bPath = sets.front();
  rinex.receiverType = options.receiverType;
  rinex.gpsWeek = options.gpsWeek;
  rinex.window = options.window;
  options.window = talverin::EpochWindow();
  std::string spliced, error;
  std::vector<std::string> inputs;
  for (const std::string& set : sets) {
    for (const std::string& file : SetInputFiles(set)) inputs.push_back(file);
  }
  talverin::RinexExportSummary splice;
  if (talverin::SpliceToDownloadSet(sets, rinex, folder, &spliced, &splice, &error) == 0) {
    out = QcOneSet(sets.front(), args, options, reference, spliced, inputs);
    out.summary += " (" + std::to_string(sets.size()) + " sets spliced)";
    // What the sets lost on the way into the splice (damage skipped), as rinex --splice says it.
    for (const std::string& m : splice.messages) {
      std::fprintf(stderr, "%s: %s\n", sets.front().c_str(), m.c_str());
    }
    if (splice.incomplete && !StopRequested()) {
      out.status = std::max(out.status, kExitIncomplete);
      out.summary = "spliced with parts left out (messages on stderr); " + out.summary;
    }
  } else {
    std::fprintf(stderr, "talverin qc: %s: %s\n", sets.front().c_str(), error.c_str());
    out.summary = "failed: " + error;
  }
  talverin::RemoveFolder(folder);
  return out;
}

// --update: a set whose report is newer than its files; its index row is the one the report
// keeps (a report without one is linked with no figures).
SetResult UpToDateReport(const std::string& set, const std::string& report) {
  SetResult r = UpToDate();
  talverin::QcIndexEntry e;
  if (!talverin::ReadQcIndexEntry(report, &e)) {
    e.set = talverin::NativeFileName(set);
    e.status = kExitOk;
    e.positions = kUpToDate;
  }
  e.link = report;
  r.data = talverin::EncodeQcIndexEntry(e);
  return r;
}

// The index page of several sets: each report linked by its path relative to the index's
// folder (-d DIR, else the first set's). Its path, or none with the error in the batch.
std::string WriteIndex(const std::string& outputDir, const char* name, BatchResult* batch) {
  const std::vector<std::string>& sets = batch->sets;
  const std::vector<SetResult>& results = batch->results;
  const fs::path folder = outputDir.empty() ? talverin::NativePath(sets.front()).parent_path()
                                            : talverin::NativePath(outputDir);
  const std::string indexPath = talverin::NativeText(folder / name);
  std::vector<talverin::QcIndexEntry> entries;
  for (size_t i = 0; i < sets.size(); ++i) {
    talverin::QcIndexEntry e;
    if (!talverin::DecodeQcIndexEntry(results[i].data, &e)) {
      e.set = talverin::NativeFileName(sets[i]);
      e.positions = results[i].summary;
    }
    if (!e.link.empty()) {
      const std::string report = talverin::QcReportPath(sets[i], outputDir);
      std::error_code ec;
      const fs::path relative =
          fs::relative(fs::absolute(talverin::NativePath(report)), fs::absolute(folder), ec);
      e.link = ec ? report : talverin::NativeGenericText(relative);
    }
    entries.push_back(e);
  }
  std::string error;
  if (!WriteSafely(indexPath, talverin::RenderQcIndex(entries), sets, &error)) {
    batch->errors.push_back("talverin qc: index: " + error);
    batch->status = kExitFailed;
    return "";
  }
  return indexPath;
}

// --splice: one run per site and day, named by its first set (plan->sets become the firsts);
// with --update, a run whose report is newer than every file of its sets is skipped.
BatchResult QcSplicedBatch(const QcArgs& args, const talverin::QcOptions& options,
                           const talverin::ReferencePoint& reference, SetBatch* plan) {
  const std::map<std::string, std::vector<std::string>> runs = SpliceRuns(*plan);
  if (!args.sets.output.empty() && runs.size() != 1) {
    return BatchRefused("qc", "-o names the report of one site and day, but the sets give " +
                                  std::to_string(runs.size()) + "; use -d DIR for several");
  }
  plan->sets.clear();
  for (const auto& run : runs) plan->sets.push_back(run.first);
  return RunBatch(plan->sets, plan->batch, [&](const std::string& set, const SetContext&) {
    const std::string report = args.sets.output.empty()
                                   ? talverin::QcReportPath(set, args.sets.outputDir)
                                   : args.sets.output;
    bool upToDate = args.sets.update;
    for (const std::string& one : runs.at(set)) {
      upToDate = upToDate && OutputsUpToDate(one, {report});
    }
    if (upToDate) return UpToDateReport(set, report);
    return QcSplicedSets(runs.at(set), args, options, reference);
  });
}

}  // namespace

const char kQcHelp[] =
    "Writes one self-contained HTML page per set (opens offline) and prints a short\n"
    "summary: completeness and gaps, satellites, observations per observable, loss-of-lock\n"
    "flags, cycle slips, mean SNR, MP1/MP2 and the ionospheric delay rate (dual frequency),\n"
    "and the positions the module recomputes (east/north/up against their mean or the\n"
    "reference), with plots. Times are GPS time. A folder means every B file in it. With\n"
    "several sets, qc-index.html (in -d DIR, else beside the first set) links the reports.\n"
    "--start, --end and --interval keep the epochs rinex keeps, so that the figures are those\n"
    "of the RINEX export of that window; --splice reports each site and day once, from its\n"
    "sets' RINEX exports spliced as rinex --splice splices them.\n"
    "\n"
    "Examples:\n"
    "  talverin qc set/BBAHRA04.162 --reference 3633910.5918,4425277.7039,2799862.8556\n"
    "  talverin qc downloads/ --recursive -d reports/ --jobs 2 --json reports/qc.json\n";

QcResult Qc(const QcArgs& args) {
  SetOutputNaming naming;
  naming.kind = "report";
  naming.shardsGroups = args.edit.splice;  // a shard takes whole site-days
  // A splice's report is named after its site and day's first set, learnt as the run plans.
  if (!args.edit.splice)
    naming.outputOf = [&args](const std::string& set) {
      const SetBatchArgs& a = args.sets;
      return a.output.empty() ? talverin::QcReportPath(set, a.outputDir) : a.output;
    };
  QcResult result;
  SetBatch plan;
  std::string error;
  // -o with --splice names the report of one site and day, checked once the runs are known.
  SetBatchArgs sets = args.sets;
  if (args.edit.splice) sets.output.clear();
  if (!PlanSetBatch("qc", sets, naming, &plan, &error)) {
    result.batch = BatchRefused("qc", error);
    return result;
  }
  talverin::QcOptions options;
  options.receiverType = plan.receiverType;
  options.gpsWeek = args.sets.gpsWeek;
  options.maskElevation_deg = args.mask_deg;
  talverin::ReferencePoint reference;
  if (!(std::fabs(args.mask_deg) <= 90.0)) error = "--mask must be a number of degrees, -90 to 90";
  if (!error.empty() || !PlanEpochWindow(args.edit, &options.window, &error) ||
      !ResolveReference(args.reference, &reference, &options.hasReference, &error)) {
    result.batch = BatchRefused("qc", error);
    return result;
  }
  for (int i = 0; i < 3; ++i) options.reference_m[i] = reference.ecef_m[i];
  if (args.edit.splice) {
    result.batch = QcSplicedBatch(args, options, reference, &plan);
  } else {
    result.batch =
        RunBatch(plan.sets, plan.batch, [&](const std::string& set, const SetContext& c) {
          const std::string& report = plan.outputs[c.index];
          if (args.sets.update && OutputsUpToDate(set, {report}))
            return UpToDateReport(set, report);
          return QcOneSet(set, args, options, reference);
        });
  }
  result.batch = NoteEmptyShard(plan, result.batch);
  // A stopped batch keeps the index it had: its links would reach reports of two runs.
  if (plan.sets.size() > 1 && result.batch.results.size() == plan.sets.size() && !StopRequested()) {
    // Each shard's index apart, so that shards writing into one folder keep theirs.
    const std::string name = args.sets.shard.empty()
                                 ? std::string(kIndexName)
                                 : "qc-index." + std::to_string(plan.shard.part) + "-of-" +
                                       std::to_string(plan.shard.parts) + ".html";
    result.index = WriteIndex(args.sets.outputDir, name.c_str(), &result.batch);
  }
  return result;
}

int RunQc(const QcArgs& args) {
  const QcResult result = Qc(args);
  for (const std::string& line : BatchLines(result.batch)) PrintLine(line);
  for (const std::string& error : result.batch.errors) {
    std::fprintf(stderr, "%s\n", error.c_str());
  }
  if (!result.index.empty()) PrintLine("index: " + result.index);
  return WithLateStop(result.batch, result.batch.status);
}

}  // namespace talverin_cli
