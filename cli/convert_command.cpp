// `talverin convert`: every set in a process of its own through the batch runner. Per set:
// the B file is checked before the module is called, the outputs are prepared safely
// (never over an input, replaced only on success), the host records are filled and
// ConvertFile runs with the messages printed by level; the GPB file written is read back
// to count the epochs whose position was recomputed.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "base/gnss_constants.h"
#include "base/native_path.h"
#include "cli/batch.h"
#include "cli/commands.h"
#include "cli/message_printer.h"
#include "cli/platform.h"
#include "cli/plugin_loader.h"
#include "cli/safe_output.h"
#include "cli/set_batch.h"
#include "dataset/json_writer.h"
#include "dataset/session_week.h"
#include "job/path_names.h"
#include "output/gpb_reader.h"

namespace fs = std::filesystem;

namespace talverin_cli {
namespace {

using talverin::ConvertOptions;
using talverin::ConvertRequest;
using talverin::HostCallbacks;
using talverin::MessageLevel;

// The conversion of this process (one per child): the callbacks reach it through these.
AbortFn gAbort = nullptr;
MessagePrinter* gPrinter = nullptr;
bool gProgressBar = false;
bool gBarShown = false;

void OnStopSignal(int signal) {
  if (gAbort != nullptr) gAbort();  // lock-free: safe in a signal handler
  NoteStopSignal(signal);
}

void ClearBar() {
  if (!gBarShown) return;
  const std::string blank = "\r" + std::string(60, ' ') + "\r";
  if (write(STDERR_FILENO, blank.data(), blank.size()) < 0) return;
  gBarShown = false;
}

void TALVERIN_CALL OnMessage(double time, const char* text) {
  ClearBar();
  if (gPrinter != nullptr) gPrinter->OnMessage(time, text);
}

void TALVERIN_CALL OnProgress(int32_t position, int32_t total) {
  if (!gProgressBar || total <= 0) return;
  const int width = 40;
  const double share = position >= total ? 1.0 : static_cast<double>(position) / total;
  const int filled = static_cast<int>(share * width);
  char bar[128];
  std::snprintf(bar, sizeof bar, "\r[%.*s%*s] %3d%%", filled,
                "########################################", width - filled, "",
                static_cast<int>(share * 100.0));
  if (write(STDERR_FILENO, bar, std::strlen(bar)) > 0) gBarShown = true;
}

std::string WithExtension(const std::string& path, const char* extension) {
  char text[talverin::kPathSize * 2];
  if (path.size() >= sizeof text - 8) return path + extension;
  std::memcpy(text, path.c_str(), path.size() + 1);
  if (talverin::ChangeExtension(text, sizeof text, extension) != 0) return path + extension;
  return text;
}

struct GpbCount {
  bool read = false;
  long epochs = 0;
  long withPosition = 0;
};

GpbCount CountPositions(const std::string& path) {
  GpbCount count;
  talverin::GpbReader reader;
  if (path.empty() || reader.Open(path.c_str()) != 0) return count;
  static talverin::GpbReadEpoch epoch;
  int32_t status;
  while ((status = reader.ReadEpoch(&epoch)) == 1) {
    ++count.epochs;
    if ((epoch.epoch.flags & talverin::kEpochPositionValid) != 0) ++count.withPosition;
  }
  count.read = status == 0;
  return count;
}

SetResult Refuse(const std::string& text, const char* result, MessagePrinter& printer) {
  printer.Print(MessageLevel::kError, -1.0, text);
  SetResult r;
  r.status = kExitFailed;
  r.summary = std::string(result) + ": " + text;
  r.json = talverin::JsonMembers().Text("result", result).Text("error", text).text();
  return r;
}

// The module's options: its factory defaults, changed where the command line says so.
void SetOptions(const Plugin& plugin, const ConvertArgs& args, ConvertOptions* o) {
  plugin.SetFactoryDefaults(talverin::kConvertOptionsSize, o);
  o->ReceiverType = ReceiverTypeFromName(args.sets.receiver);
  if (args.forceMoving) o->ForceMoving = 1;
  if (args.stationMarks) o->StationMarkOption = 1;
  if (args.noRecompute) o->RecomputePosition = 0;
  if (args.altLayout) o->AltChannelLayout = 1;
  if (args.dropL2Phase) o->DropL2PhaseWithoutRange = 1;
  if (args.qualityWarnings) o->ReportQualityWarnings = 1;
  o->GpsUtcLeapSeconds = args.leapSeconds;
  if (args.noEvents) o->UseEventFile = 0;
  if (args.stationTimeLimit >= 0) o->StationTimeLimit = args.stationTimeLimit;
  o->GpbLayout = args.gpbVersion == "1.02" ? 0 : 1;
}

// The module's ConvertFile with this process's callbacks, the stop signals calling its Abort
// meanwhile. Its result; its error text in moduleText (kTextSize characters).
int32_t RunModule(const Plugin& plugin, ConvertRequest* request, MessagePrinter* printer,
                  bool progressBar, char* moduleText) {
  HostCallbacks callbacks;
  std::memset(&callbacks, 0, sizeof callbacks);
  callbacks.size = talverin::kHostCallbacksSize;
  callbacks.messageCallback = OnMessage;
  callbacks.progressCallback = OnProgress;

  gPrinter = printer;
  gProgressBar = progressBar;
  gAbort = plugin.Abort;
  SetStopHandler(OnStopSignal);
  // A stop that came before is the module's own quit at its first epoch.
  const bool before = StopRequested();
  const int32_t result = before ? 1 : plugin.ConvertFile(request, &callbacks, 0);
  CatchStopSignals();  // a stop from here on keeps the outputs apart (Settle)
  ClearBar();
  gPrinter = nullptr;
  plugin.GetErrString(moduleText);
  if (before) std::snprintf(moduleText, talverin::kTextSize, "%s", talverin::msg::kUserQuit);
  return result;
}

// The recomputed and unsolved epochs, counted in the GPB file written (none with
// --no-recompute, or when it does not read). A conversion asked to recompute that
// recomputed nothing is incomplete.
void AddRecomputed(const ConvertArgs& args, const std::string& written, long epochs,
                   MessagePrinter* printer, SetResult* r, talverin::JsonMembers* json) {
  const bool recompute = !args.noRecompute;
  const GpbCount count = CountPositions(written);
  // With fewer than four ephemerides in the store no epoch reaches the positioning engine,
  // and the module says so for each: their positions are the receiver's own.
  const bool engineRan = printer->Count(talverin::msg::kTooFewEphemerides) == 0;
  const long recomputed = recompute && engineRan ? count.withPosition : 0;
  if (!recompute) {
    r->summary += ", positions not recomputed (--no-recompute)";
    json->Raw("epochs_recomputed", "null").Raw("epochs_unsolved", "null");
  } else if (!count.read && !written.empty()) {
    r->summary += ", recomputed positions not counted (GPB file unreadable)";
    json->Raw("epochs_recomputed", "null").Raw("epochs_unsolved", "null");
  } else {
    char line[512];
    std::snprintf(line, sizeof line, ", %ld recomputed, %ld unsolved", recomputed,
                  epochs - recomputed);
    r->summary += line;
    json->Integer("epochs_recomputed", recomputed).Integer("epochs_unsolved", epochs - recomputed);
    if (epochs > 0 && recomputed == 0) {
      printer->Print(MessageLevel::kWarning, -1.0,
                     "position recomputation was asked for, but no epoch was recomputed: the "
                     "positions and clocks are the receiver's own");
      if (r->status == kExitOk) r->status = kExitIncomplete;
    }
  }
}

// The week, the outputs (finals when the GPB written is the final one) and the partial
// outputs in the JSON summary.
void AddWeekAndOutputs(const talverin::SessionWeek& week, const std::vector<std::string>& finals,
                       const std::string& written, const std::vector<std::string>& partial,
                       talverin::JsonMembers* json) {
  if (week.week >= 0) {
    json->Integer("gps_week", week.week);
  } else {
    json->Raw("gps_week", "null");
  }
  json->Text("gps_week_source", talverin::WeekSourceName(week.source))
      .Text("gps_week_note", week.note);
  if (written == finals[0]) {
    json->Raw("outputs", talverin::JsonMembers()
                             .Text("gpb", finals[0])
                             .Text("sta", finals[1])
                             .Text("epp", finals[2])
                             .Object());
  } else {
    json->Raw("outputs", "null");
  }
  std::string partialJson = "[";
  for (size_t i = 0; i < partial.size(); ++i) {
    partialJson += (i > 0 ? ", " : "") + talverin::JsonString(partial[i]);
  }
  json->Raw("partial_outputs", partialJson + "]");
}

// What a conversion left: the set's result and JSON so far, the GPB file to count positions
// in (the final one, a partial one, or none) and the partial outputs kept.
struct Outcome {
  SetResult r;
  talverin::JsonMembers json;
  std::string written;
  std::vector<std::string> partial;
};

// The outputs put in place after a completed conversion; else kept apart (NAME.partial.*)
// with the reason in the result and a warning saying where they are.
// A set that the set scan finds cut short is put in place too, up to the cut: the module
// ends it with an error, but every epoch before the cut is whole.
Outcome Settle(int32_t result, const char* moduleText, const std::vector<std::string>& finals,
               const std::string& loss, SafeOutputs* outputs, MessagePrinter* printer) {
  Outcome o;
  std::string error;
  const bool cut = loss.rfind("cut short", 0) == 0 && result != 1;
  if ((result == 0 || cut) && outputs->Commit(&error)) {
    o.written = finals[0];
    o.r.status = loss.empty() ? kExitOk : kExitIncomplete;
    o.r.summary = cut ? loss : loss.empty() ? "completed" : "completed, " + loss;
    o.json.Text("result", cut ? "cut short" : "completed").Text("loss", loss);
    return o;
  }
  // Stopped: the module aborted, or a stop came before the outputs were put in place.
  const bool stopped = (result == 1 && std::strcmp(moduleText, talverin::msg::kUserQuit) == 0) ||
                       ((result == 0 || cut) && StopRequested());
  if (result == 0 && !stopped) printer->Print(MessageLevel::kError, -1.0, error);
  o.partial = outputs->KeepPartial();
  o.r.stopped = stopped;
  o.r.status = stopped ? kExitIncomplete : kExitFailed;  // nothing written: 2
  o.r.summary = stopped ? "aborted" : result == 1 ? "rejected" : "failed";
  o.json.Text("result", o.r.summary);
  if (!stopped) {
    const std::string reason = result == 0 ? error : std::string(moduleText);
    o.r.summary += ": " + reason;
    o.json.Text("error", reason);
  }
  // What the set lacks, in the words of the other commands (a missing E file, damage).
  if (!loss.empty() && !stopped) o.r.summary += " (" + loss + ")";
  std::string kept = "previous outputs left as they were";
  if (!o.partial.empty()) {
    o.written = o.partial[0];
    kept += "; what was written is kept as " + o.partial[0];
    for (size_t i = 1; i < o.partial.size(); ++i) kept += ", " + o.partial[i];
  }
  printer->Print(MessageLevel::kWarning, -1.0, kept);
  return o;
}

// The counts after the result: epochs written and recomputed, ephemerides, stations, the
// week and the outputs, in the summary line and the JSON members.
void AddCounts(const ConvertRequest& request, const ConvertArgs& args,
               const talverin::SessionWeek& week, const std::vector<std::string>& finals,
               MessagePrinter* printer, Outcome* o) {
  const long epochs = static_cast<long>(request.EpochsWritten);
  char line[512];
  std::snprintf(line, sizeof line, ", %ld epochs written", epochs);
  o->r.summary += line;
  o->json.Integer("epochs_written", epochs);
  AddRecomputed(args, o->written, epochs, printer, &o->r, &o->json);
  std::snprintf(line, sizeof line, ", %u ephemerides read, %u station%s", request.EphemeridesRead,
                request.StationsWritten, request.StationsWritten == 1 ? "" : "s");
  o->r.summary += line;
  o->r.summary +=
      ", GPS week " + (week.week >= 0 ? std::to_string(week.week) : std::string("unknown"));
  if (!o->partial.empty()) o->r.summary += "; partial output " + o->partial[0];
  if (o->r.status == kExitOk || (o->r.status == kExitIncomplete && o->written == finals[0])) {
    o->r.summary += " -> " + finals[0];
  }
  o->json.Integer("ephemerides_read", request.EphemeridesRead)
      .Integer("stations_written", request.StationsWritten);
  AddWeekAndOutputs(week, finals, o->written, o->partial, &o->json);
  o->json.Integer("errors", printer->errors()).Integer("warnings", printer->warnings());
}

// Before the module is called: the B file readable (so that its absence is not reported as
// the E file's), the outputs prepared, every path fitting the module's records. False with
// the reason and the result word.
bool PrepareSet(const std::string& input, const std::vector<std::string>& finals,
                SafeOutputs* outputs, std::string* error, const char** result) {
  const std::string unreadable = UnreadableReason(input);
  *result = unreadable.empty() ? "refused" : "unreadable";
  if (!unreadable.empty()) {
    *error = "cannot read the B file " + input + ": " + unreadable;
    return false;
  }
  if (!outputs->Prepare(finals, SetInputFiles(input), error)) return false;
  if (outputs->TemporaryPath(0).size() >= static_cast<size_t>(talverin::kPathSize) ||
      input.size() >= static_cast<size_t>(talverin::kPathSize)) {
    *error = "paths of 256 characters or more do not fit the module's records: " + input;
    return false;
  }
  return true;
}

// The module's request: the input, the temporary GPB path (both shorter than kPathSize)
// and the options.
void FillRequest(const Plugin& plugin, const std::string& input, const std::string& gpb,
                 const ConvertArgs& args, ConvertRequest* request) {
  std::memset(request, 0, sizeof *request);
  request->size = talverin::kConvertRequestSize;
  request->optionsSize = talverin::kConvertOptionsSize;
  std::memcpy(request->inputPath, input.c_str(), input.size() + 1);
  std::memcpy(request->outputPath, gpb.c_str(), gpb.size() + 1);
  SetOptions(plugin, args, &request->options);
}

SetResult ConvertSet(const Plugin& batchModule, const std::string& input,
                     const std::string& gpbPath, const ConvertArgs& args,
                     const SetContext& context) {
  const talverin::SessionWeek week =
      talverin::ResolveSessionWeek(input, SetInputFiles(input)[1], args.sets.gpsWeek);
  MessagePrinter printer(args.verbosity, week, context.label);
  SafeOutputs outputs;
  const std::vector<std::string> finals = {gpbPath, WithExtension(gpbPath, ".sta"),
                                           WithExtension(gpbPath, ".epp")};
  std::string error;
  const char* refused = "refused";
  if (!PrepareSet(input, finals, &outputs, &error, &refused)) {
    return Refuse(error, refused, printer);
  }
  // The week rule notes only a choice in doubt or a week not found; -q shows errors only.
  if (!week.note.empty() && args.verbosity >= 1)
    printer.Print(MessageLevel::kWarning, -1.0, "GPS week: " + week.note);
  Plugin plugin = batchModule;  // this child's own copy of the batch's module
  // On Windows a set runs in a process of its own, which loads the module itself.
#ifdef _WIN32
  if (!LoadPlugin(args.plugin, &plugin, &error)) return Refuse(error, "failed", printer);
#endif
  static ConvertRequest request;
  FillRequest(plugin, input, outputs.TemporaryPath(0), args, &request);
  char moduleText[talverin::kTextSize];
  const int32_t result =
      RunModule(plugin, &request, &printer, context.count == 1 && StderrIsTerminal(), moduleText);
#ifdef _WIN32
  UnloadPlugin(&plugin);
#endif
  printer.Finish();
  // What the set lost, from the scan info and qc read it with, so that the commands agree.
  bool readable = false;
  const std::string loss =
      ScanSetLoss(input, ReceiverTypeFromName(args.sets.receiver), args.sets.gpsWeek, &readable);
  // Nothing is kept beside an input that is no download set (junk or an E file as the B file).
  const auto folderOf = [](const std::string& path) {
    const fs::path folder = talverin::NativePath(path).parent_path();
    return talverin::NativeText(folder.empty() ? fs::path(".") : folder);
  };
  if (result != 0 && !readable && SameFile(folderOf(input), folderOf(gpbPath))) {
    outputs.Discard();
  }
  Outcome o = Settle(result, moduleText, finals, loss, &outputs, &printer);
  o.json.Integer("module_result", result);
  AddCounts(request, args, week, finals, &printer, &o);
  o.r.json = o.json.text();
  return o.r;
}

}  // namespace

int ReceiverTypeFromName(const std::string& name) {
  static const char* const kNames[] = {"auto", "ca", "dual", "l2-codeless", "glonass"};
  for (int i = 0; i < 5; ++i) {
    if (name == kNames[i] || name == std::to_string(i)) return i;
  }
  return -1;
}

std::vector<std::string> SetInputFiles(const std::string& bPath) {
  std::vector<std::string> files;
  const fs::path path = talverin::NativePath(bPath);
  for (const char letter : {'B', 'E', 'S', 'D'}) {
    std::string name = talverin::NativeText(path.filename());
    if (!name.empty()) name[0] = letter;
    files.push_back(talverin::NativeText(path.parent_path() / talverin::NativePath(name)));
  }
  files[0] = bPath;  // as given, also when its first letter is a lower-case b
  return files;
}

std::string UnreadableReason(const std::string& path) {
  std::error_code ec;
  const fs::file_status status = fs::status(talverin::NativePath(path), ec);
  if (!fs::exists(status)) return "no such file";
  if (!fs::is_regular_file(status)) return "not a regular file";
  FILE* probe = std::fopen(path.c_str(), "rb");
  if (probe == nullptr) return std::strerror(errno);
  std::fclose(probe);
  return "";
}

std::string DefaultOutputPath(const std::string& input) {
  const size_t slash = input.find_last_of("/\\");
  const size_t dot = input.rfind('.');
  const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  if (!hasExtension) return input + ".gpb";
  // A download set's extension is its day of year: kept, so that the days of one site and
  // session letter convert side by side into one folder.
  const std::string extension = input.substr(dot + 1);
  const bool day =
      !extension.empty() && extension.find_first_not_of("0123456789") == std::string::npos;
  return input.substr(0, dot) + (day ? "_" + extension : std::string()) + ".gpb";
}

BatchResult Convert(const ConvertArgs& args) {
  SetOutputNaming naming;
  naming.outputOf = [&args](const std::string& set) {
    const SetBatchArgs& a = args.sets;
    const std::string gpb = !a.output.empty() ? a.output : DefaultOutputPath(set);
    return a.outputDir.empty() ? gpb
                               : talverin::NativeText(talverin::NativePath(a.outputDir) /
                                                      talverin::NativePath(gpb).filename());
  };
  SetBatch plan;
  std::string error;
  if (!PlanSetBatch("convert", args.sets, naming, &plan, &error)) {
    return BatchRefused("convert", error);
  }
  // The module is loaded once here, so that a missing module is one usage error and no child
  // loads it again: each child has its own copy, as it was before any conversion.
  Plugin plugin;
  if (!LoadPlugin(args.plugin, &plugin, &error)) return BatchRefused("convert", error);
#ifdef _WIN32
  UnloadPlugin(&plugin);  // each set loads its own (ConvertSet)
#endif
  const BatchResult batch =
      RunBatch(plan.sets, plan.batch, [&](const std::string& set, const SetContext& context) {
        const std::string& gpb = plan.outputs[context.index];
        if (args.sets.update &&
            OutputsUpToDate(set, {gpb, WithExtension(gpb, ".sta"), WithExtension(gpb, ".epp")})) {
          return UpToDate();
        }
        return ConvertSet(plugin, set, gpb, args, context);
      });
  UnloadPlugin(&plugin);
  return NoteEmptyShard(plan, batch);
}

int RunConvert(const ConvertArgs& args) { return PrintBatch(Convert(args)); }

DetectResult Detect(const DetectArgs& args) {
  DetectResult result;
  Plugin plugin;
  if (!LoadPlugin(args.plugin, &plugin, &result.error)) {
    result.status = kExitFailed;
    return result;
  }
  for (const std::string& file : args.files) {
    // A file that cannot be read is an error, not a file the module declines.
    const std::string unreadable = UnreadableReason(file);
    if (!unreadable.empty()) {
      result.error += (result.error.empty() ? "" : "; ") + file + ": " + unreadable;
      result.status = kExitFailed;
      result.answers.push_back(-1);
      continue;
    }
    result.answers.push_back(plugin.AutoDetect(file.c_str()));
    if (result.answers.back() != 1) result.status = std::max(result.status, kExitIncomplete);
  }
  UnloadPlugin(&plugin);
  return result;
}

int RunDetect(const DetectArgs& args) {
  IgnoreBrokenPipes();
  const DetectResult result = Detect(args);
  if (!result.error.empty()) std::fprintf(stderr, "talverin detect: %s\n", result.error.c_str());
  for (size_t i = 0; i < result.answers.size(); ++i) {
    const int32_t answer = result.answers[i];
    if (answer < 0) continue;  // unreadable: named in the error
    PrintLine(args.files[i] + ": " + std::to_string(answer) +
              (answer == 1 ? " (observation file this module converts)" : " (not converted)"));
  }
  return result.status;
}

}  // namespace talverin_cli
