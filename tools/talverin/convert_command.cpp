// `talverin convert`: fills the host records, calls ConvertFile through the loaded module,
// prints messages with their epoch time, a progress bar on a terminal, and the summary.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/talverin/commands.h"
#include "tools/talverin/plugin_loader.h"

namespace talverin_cli {
namespace {

using talverin::ConvertOptions;
using talverin::ConvertRequest;
using talverin::HostCallbacks;

AbortFn gAbort = nullptr;
bool gQuiet = false;
bool gProgressBar = false;
bool gBarShown = false;

void OnInterrupt(int) {
  if (gAbort != nullptr) gAbort();  // lock-free: safe in a signal handler
}

void ClearBar() {
  if (gBarShown) {
    std::fprintf(stderr, "\r%60s\r", "");
    gBarShown = false;
  }
}

void TALVERIN_CALL OnMessage(double time, const char* text) {
  if (gQuiet && std::strncmp(text, "Error", 5) != 0 && std::strncmp(text, "Warning: Pre", 12) != 0) {
    return;
  }
  ClearBar();
  if (time < 0.0) {
    std::printf("%12s  %s\n", "-", text);
  } else {
    std::printf("%12.3f  %s\n", time, text);
  }
  std::fflush(stdout);
}

void TALVERIN_CALL OnProgress(int32_t position, int32_t total) {
  if (!gProgressBar || total <= 0) return;
  const int width = 40;
  const double share = position >= total ? 1.0 : static_cast<double>(position) / total;
  const int filled = static_cast<int>(share * width);
  std::fprintf(stderr, "\r[%.*s%*s] %3d%%", filled, "########################################",
               width - filled, "", static_cast<int>(share * 100.0));
  gBarShown = true;
}

}  // namespace

int ReceiverTypeFromName(const std::string& name) {
  static const char* const kNames[] = {"auto", "ca", "dual", "l2-codeless", "glonass"};
  for (int i = 0; i < 5; ++i) {
    if (name == kNames[i] || name == std::to_string(i)) return i;
  }
  return -1;
}

std::string DefaultOutputPath(const std::string& input) {
  const size_t slash = input.find_last_of("/\\");
  const size_t dot = input.rfind('.');
  const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  return (hasExtension ? input.substr(0, dot) : input) + ".gpb";
}

int RunConvert(const ConvertArgs& args) {
  const int type = ReceiverTypeFromName(args.receiver);
  if (type < 0) {
    std::fprintf(stderr, "talverin: unknown receiver type '%s' (auto, ca, dual, l2-codeless, "
                 "glonass or 0-4)\n", args.receiver.c_str());
    return 2;
  }
  Plugin plugin;
  std::string error;
  if (!LoadPlugin(args.plugin, &plugin, &error)) {
    std::fprintf(stderr, "talverin: %s\n", error.c_str());
    return 2;
  }
  static ConvertRequest request;
  std::memset(&request, 0, sizeof request);
  request.size = talverin::kConvertRequestSize;
  request.optionsSize = talverin::kConvertOptionsSize;
  const std::string output = args.output.empty() ? DefaultOutputPath(args.input) : args.output;
  if (args.input.size() >= sizeof request.inputPath || output.size() >= sizeof request.outputPath) {
    std::fprintf(stderr, "talverin: paths must be shorter than 256 characters\n");
    UnloadPlugin(&plugin);
    return 2;
  }
  std::memcpy(request.inputPath, args.input.c_str(), args.input.size() + 1);
  std::memcpy(request.outputPath, output.c_str(), output.size() + 1);

  ConvertOptions& o = request.options;
  plugin.SetFactoryDefaults(talverin::kConvertOptionsSize, &o);
  o.ReceiverType = type;
  if (args.forceMoving) o.ForceMoving = 1;
  if (args.stationMarks) o.StationMarkOption = 1;
  if (args.noRecompute) o.RecomputePosition = 0;
  if (args.altLayout) o.AltChannelLayout = 1;
  if (args.dropL2Phase) o.DropL2PhaseWithoutRange = 1;
  if (args.qualityWarnings) o.ReportQualityWarnings = 1;
  o.GpsUtcLeapSeconds = args.leapSeconds;
  if (args.noEvents) o.UseEventFile = 0;
  if (args.stationTimeLimit >= 0) o.StationTimeLimit = args.stationTimeLimit;
  o.GpbLayout = args.gpbVersion == "1.02" ? 0 : 1;

  HostCallbacks callbacks;
  std::memset(&callbacks, 0, sizeof callbacks);
  callbacks.size = talverin::kHostCallbacksSize;
  callbacks.messageCallback = OnMessage;
  callbacks.progressCallback = OnProgress;

  gQuiet = args.quiet;
  gProgressBar = isatty(STDERR_FILENO) != 0;
  gAbort = plugin.Abort;
  std::signal(SIGINT, OnInterrupt);
  const int32_t result = plugin.ConvertFile(&request, &callbacks, 0);
  std::signal(SIGINT, SIG_DFL);
  ClearBar();

  std::string base = output;
  const size_t dot = base.rfind('.');
  const size_t slash = base.find_last_of("/\\");
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) base.resize(dot);
  std::printf("result: %d (%s)\n", static_cast<int>(result),
              result == 0 ? "completed" : result == 1 ? "rejected or aborted" : "failed");
  std::printf("epochs written: %u\nephemerides read: %u\nstations written: %u\n",
              request.EpochsWritten, request.EphemeridesRead, request.StationsWritten);
  std::printf("output: %s\n        %s.sta\n        %s.epp\n", output.c_str(), base.c_str(),
              base.c_str());
  int status = 0;
  if (result != 0) {
    char text[talverin::kTextSize];
    plugin.GetErrString(text);
    std::fprintf(stderr, "talverin: %s\n", text);
    status = result == 1 ? 1 : 2;
  }
  UnloadPlugin(&plugin);
  return status;
}

int RunDetect(const std::string& pluginPath, const std::vector<std::string>& files) {
  Plugin plugin;
  std::string error;
  if (!LoadPlugin(pluginPath, &plugin, &error)) {
    std::fprintf(stderr, "talverin: %s\n", error.c_str());
    return 2;
  }
  int accepted = 0;
  for (const std::string& file : files) {
    const int32_t answer = plugin.AutoDetect(file.c_str());
    accepted += answer == 1 ? 1 : 0;
    std::printf("%s: %d (%s)\n", file.c_str(), static_cast<int>(answer),
                answer == 1 ? "observation file this module converts" : "not converted");
  }
  UnloadPlugin(&plugin);
  return accepted == static_cast<int>(files.size()) ? 0 : 1;
}

}  // namespace talverin_cli
