// Whole conversions through the exported ConvertFile, as a host runs them: throughput in
// epochs and MB of observation file per CPU second, with and without position
// recomputation, against the floor of copying the same bytes through stdio; and the peak
// resident memory of a fresh process that converts one set (getrusage of the child), for
// sets of different lengths; and the time of a set's quality report (figures and page, as
// `talverin qc` makes them). The sets are generated once per process (bench_sets.h) and
// every conversion's GPB file is checked once before its figures count.
// Modes besides the benchmarks: --convert-once B OUT.gpb RECOMPUTE (the child of the memory
// benchmark) and --write-outputs DIR (the sets and their outputs, to compare builds).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_sets.h"
#include "plugin/talverin.h"
#include "qc/qc_figures.h"
#include "qc/qc_html.h"

extern char** environ;

namespace talverin {
namespace bench {
namespace {

constexpr double kBahrDayStart_s = 345600.0;  // 2004-06-10 00:00 GPS time, week 1274
constexpr size_t kCopyChunkBytes = 8192;
constexpr double kBytesPerMb = 1.0e6;

// The bundled real BAHR hour, imported from its RINEX files (samples/bahr-2004-162).
const char kRealSetName[] = "bahr-rinex-1h-30s";

const SetShape kShapes[] = {
    {kRealSetName, kBahrDayStart_s, 0, 30.0, 0, 0, 0.0},
    // The BAHR recording's shape: one hour at 30 s, the satellites a receiver tracks above 5.
    {"bahr-1h-30s", kBahrDayStart_s, 120, 30.0, 0, 12, 5.0},
    // Synthetic day at 1 s with 10 to 12 satellites per epoch, and its first hour.
    {"synthetic-1h-1s", kBahrDayStart_s, 3600, 1.0, 10, 12, 5.0, true},
    {"synthetic-24h-1s", kBahrDayStart_s, 86400, 1.0, 10, 12, 5.0, true},
};

int32_t g_messages = 0;
int32_t g_progressCalls = 0;

void TALVERIN_CALL CountMessage(double /*time*/, const char* /*text*/) { ++g_messages; }
void TALVERIN_CALL CountProgress(int32_t /*position*/, int32_t /*total*/) { ++g_progressCalls; }

struct Outcome {
  int32_t result = -99;
  uint32_t epochsWritten = 0;
  int32_t messages = 0;
};

Outcome Convert(const std::string& input, const std::string& output, bool recompute) {
  ConvertRequest request;
  std::memset(&request, 0, sizeof request);
  request.size = kConvertRequestSize;
  request.optionsSize = kConvertOptionsSize;
  std::snprintf(request.inputPath, sizeof request.inputPath, "%s", input.c_str());
  std::snprintf(request.outputPath, sizeof request.outputPath, "%s", output.c_str());
  SetFactoryDefaults(kConvertOptionsSize, &request.options);
  request.options.RecomputePosition = recompute ? 1 : 0;
  HostCallbacks callbacks;
  std::memset(&callbacks, 0, sizeof callbacks);
  callbacks.size = kHostCallbacksSize;
  callbacks.messageCallback = CountMessage;
  callbacks.progressCallback = CountProgress;
  g_messages = 0;
  Outcome outcome;
  outcome.result = ConvertFile(&request, &callbacks, 0);
  outcome.epochsWritten = request.EpochsWritten;
  outcome.messages = g_messages;
  return outcome;
}

// The generated sets, made on first use in one temporary directory removed at exit.
class Workspace {
 public:
  ~Workspace() {
    std::error_code ignored;
    if (!root_.empty() && removeAtExit_) std::filesystem::remove_all(root_, ignored);
  }

  // Makes the workspace in dir (kept) or in a fresh temporary directory (removed).
  bool Open(const std::string& dir, std::string* why) {
    if (!root_.empty()) return true;
    if (dir.empty()) {
      char pattern[] = "/tmp/talverin-bench-XXXXXX";
      const char* made = mkdtemp(pattern);
      if (made == nullptr) {
        *why = "cannot create a temporary directory";
        return false;
      }
      root_ = made;
      removeAtExit_ = true;
    } else {
      std::error_code error;
      std::filesystem::create_directories(dir, error);
      root_ = dir;
    }
    const std::string navPath = FindBahrNavigation();
    navigation_ = LoadNavigation(navPath, why);
    return !navigation_.empty();
  }

  const std::string& root() const { return root_; }

  // The set of the shape, generated on first use; null with a reason on failure.
  const DownloadSet* Set(const SetShape& shape, std::string* why) {
    auto found = sets_.find(shape.name);
    if (found != sets_.end()) return found->second.get();
    if (!Open("", why)) return nullptr;
    const std::string dir = root_ + "/" + shape.name;
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    auto set = std::make_unique<DownloadSet>();
    const bool made = shape.name == kRealSetName
                          ? ImportRealSet(dir, shape.name, set.get(), why)
                          : MakeDownloadSet(dir, shape, navigation_, set.get(), why);
    if (!made) return nullptr;
    return (sets_[shape.name] = std::move(set)).get();
  }

  // Converts the set once and checks its GPB file; the result is kept per set and mode.
  bool Verified(const DownloadSet& set, bool recompute, GpbCheck* check, std::string* why) {
    const std::string key = set.shape.name + (recompute ? "/1" : "/0");
    auto found = checks_.find(key);
    if (found != checks_.end()) {
      *check = found->second.check;
      *why = found->second.why;
      return found->second.ok;
    }
    Entry entry;
    const std::string gpb = OutputPath(set, recompute);
    const Outcome outcome = Convert(set.observationPath, gpb, recompute);
    if (outcome.result != 0 || outcome.epochsWritten != static_cast<uint32_t>(set.shape.epochs)) {
      entry.why = "ConvertFile gave " + std::to_string(outcome.result) + " with " +
                  std::to_string(outcome.epochsWritten) + " epochs written of " +
                  std::to_string(set.shape.epochs);
    } else {
      entry.ok = CheckGpb(gpb, set, recompute, &entry.check, &entry.why);
    }
    checks_[key] = entry;
    *check = entry.check;
    *why = entry.why;
    return entry.ok;
  }

  std::string OutputPath(const DownloadSet& set, bool recompute) const {
    return root_ + "/" + set.shape.name + (recompute ? "/recomputed.gpb" : "/copied.gpb");
  }

 private:
  struct Entry {
    bool ok = false;
    GpbCheck check;
    std::string why;
  };
  std::string root_;
  bool removeAtExit_ = false;
  std::vector<GpsEph> navigation_;
  std::map<std::string, std::unique_ptr<DownloadSet>> sets_;
  std::map<std::string, Entry> checks_;
};

Workspace& Sets() {
  static Workspace workspace;
  return workspace;
}

void AddSetCounters(benchmark::State& state, const DownloadSet& set) {
  state.counters["sats_per_epoch"] = set.meanSatellites;
  if (set.simulated) state.counters["sats_used"] = set.meanAboveMask;
}

void BM_Convert(benchmark::State& state, const SetShape* shape, bool recompute) {
  std::string why;
  const DownloadSet* set = Sets().Set(*shape, &why);
  GpbCheck check;
  if (set == nullptr || !Sets().Verified(*set, recompute, &check, &why)) {
    state.SkipWithError(why.c_str());
    return;
  }
  const std::string output = Sets().OutputPath(*set, recompute);
  int32_t messages = 0;
  for (auto _ : state) {
    const Outcome outcome = Convert(set->observationPath, output, recompute);
    if (outcome.result != 0) {
      state.SkipWithError("ConvertFile failed");
      return;
    }
    messages = outcome.messages;
  }
  const double iterations = static_cast<double>(state.iterations());
  state.counters["epochs_per_s"] =
      benchmark::Counter(iterations * set->shape.epochs, benchmark::Counter::kIsRate);
  state.counters["MB_per_s"] =
      benchmark::Counter(iterations * static_cast<double>(set->observationBytes) / kBytesPerMb,
                         benchmark::Counter::kIsRate);
  state.counters["messages"] = messages;
  if (recompute) {
    state.counters["max_err_m"] = check.maxPositionError_m;
    if (!set->simulated) {
      state.counters["rms_err_m"] = check.rmsPositionError_m;
      state.counters["solved"] =
          set->shape.epochs > 0 ? static_cast<double>(check.positioned) / set->shape.epochs : 0.0;
    }
  }
  AddSetCounters(state, *set);
}

// A set's quality report as the child process of `talverin qc` makes it: every figure (its
// conversion, each epoch's solution, the scan of the observation file) and the page text;
// nothing written but the conversion's scratch files.
void BM_QcReport(benchmark::State& state, const SetShape* shape) {
  std::string why;
  const DownloadSet* set = Sets().Set(*shape, &why);
  if (set == nullptr) {
    state.SkipWithError(why.c_str());
    return;
  }
  static QcReport report;  // a day of values: one per process
  size_t pageBytes = 0;
  for (auto _ : state) {
    if (ComputeQcReport(set->observationPath, QcOptions(), &report) != 0) {
      state.SkipWithError(report.readError.c_str());
      return;
    }
    const std::string page = RenderQcHtml(report);
    pageBytes = page.size();
    benchmark::DoNotOptimize(page.data());
  }
  if (report.positions.solved != report.epochs || report.epochs != set->shape.epochs) {
    state.SkipWithError("not every epoch of the set was read and solved");
    return;
  }
  state.counters["epochs"] = static_cast<double>(report.epochs);
  state.counters["page_MB"] = static_cast<double>(pageBytes) / kBytesPerMb;
}

// The floor: the B file's bytes read and written again through stdio, chunk by chunk.
void BM_CopyFloor(benchmark::State& state, const SetShape* shape) {
  std::string why;
  const DownloadSet* set = Sets().Set(*shape, &why);
  if (set == nullptr) {
    state.SkipWithError(why.c_str());
    return;
  }
  const std::string output = Sets().root() + "/" + shape->name + "/copy.bin";
  std::vector<char> chunk(kCopyChunkBytes);
  for (auto _ : state) {
    FILE* in = std::fopen(set->observationPath.c_str(), "rb");
    FILE* out = std::fopen(output.c_str(), "wb");
    if (in == nullptr || out == nullptr) {
      if (in != nullptr) std::fclose(in);
      if (out != nullptr) std::fclose(out);
      state.SkipWithError("cannot open the copy files");
      return;
    }
    int64_t copied = 0;
    size_t n = 0;
    while ((n = std::fread(chunk.data(), 1, chunk.size(), in)) > 0) {
      copied += static_cast<int64_t>(std::fwrite(chunk.data(), 1, n, out));
    }
    std::fclose(in);
    if (std::fclose(out) != 0 || copied != set->observationBytes) {
      state.SkipWithError("copy incomplete");
      return;
    }
  }
  const double iterations = static_cast<double>(state.iterations());
  state.counters["epochs_per_s"] =
      benchmark::Counter(iterations * set->shape.epochs, benchmark::Counter::kIsRate);
  state.counters["MB_per_s"] =
      benchmark::Counter(iterations * static_cast<double>(set->observationBytes) / kBytesPerMb,
                         benchmark::Counter::kIsRate);
}

// Peak resident memory of a fresh process (this program in --convert-once mode) that
// converts the set with recomputation. shape null: the bundled header-only set, the
// process's own floor. The child reports its VmHWM: the ru_maxrss that getrusage gives for
// an exec'd child on Linux starts from the spawning process's high-water mark (carried
// across exec), here the parent's generated sets; it is reported beside as rusage_MB.
void BM_PeakMemory(benchmark::State& state, const SetShape* shape) {
  std::string why;
  std::string input = std::string(TALVERIN_SOURCE_DIR) + "/samples/header-only/B0001A01.001";
  int32_t epochs = 0;
  if (shape != nullptr) {
    const DownloadSet* set = Sets().Set(*shape, &why);
    if (set == nullptr) {
      state.SkipWithError(why.c_str());
      return;
    }
    input = set->observationPath;
    epochs = set->shape.epochs;
  } else if (!Sets().Open("", &why)) {
    state.SkipWithError(why.c_str());
    return;
  }
  const std::string output = Sets().root() + "/peak-memory.gpb";
  const std::string report = Sets().root() + "/peak-memory.txt";
  long ownPeak_kb = 0;
  long rusagePeak_kb = 0;
  for (auto _ : state) {
    char self[] = "/proc/self/exe";
    char mode[] = "--convert-once";
    char recompute[] = "1";
    std::vector<char> in(input.begin(), input.end());
    in.push_back('\0');
    std::vector<char> out(output.begin(), output.end());
    out.push_back('\0');
    char* args[] = {self, mode, in.data(), out.data(), recompute, nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, report.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t child = 0;
    const int spawned = posix_spawn(&child, self, &actions, nullptr, args, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
      state.SkipWithError("cannot start the conversion process");
      return;
    }
    int status = 0;
    struct rusage usage;
    std::memset(&usage, 0, sizeof usage);
    if (wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
      state.SkipWithError("the conversion process failed");
      return;
    }
    FILE* file = std::fopen(report.c_str(), "r");
    const bool read = file != nullptr && std::fscanf(file, "%ld", &ownPeak_kb) == 1;
    if (file != nullptr) std::fclose(file);
    if (!read) {
      state.SkipWithError("the conversion process reported no peak memory");
      return;
    }
    rusagePeak_kb = usage.ru_maxrss;
  }
  state.counters["peak_rss_MB"] = static_cast<double>(ownPeak_kb) / 1024.0;
  state.counters["rusage_MB"] = static_cast<double>(rusagePeak_kb) / 1024.0;
  state.counters["epochs"] = epochs;
}

// This process's peak resident set (VmHWM of /proc/self/status), kB; 0 when unknown.
long OwnPeakResident_kb() {
  FILE* file = std::fopen("/proc/self/status", "r");
  if (file == nullptr) return 0;
  long peak_kb = 0;
  char line[256];
  while (std::fgets(line, sizeof line, file) != nullptr) {
    if (std::sscanf(line, "VmHWM: %ld kB", &peak_kb) == 1) break;
  }
  std::fclose(file);
  return peak_kb;
}

// Child of BM_PeakMemory: one conversion, then its own peak resident set (kB) on stdout;
// exit status 0 only when the conversion completed.
int ConvertOnce(int argc, char** argv) {
  if (argc < 5) return 2;
  const Outcome outcome = Convert(argv[2], argv[3], std::atoi(argv[4]) != 0);
  std::printf("%ld\n", OwnPeakResident_kb());
  return outcome.result == 0 ? 0 : 1;
}

// Generates every set into dir and converts each with and without recomputation, leaving
// the outputs there (GPB files of two builds compare equal past their header stamp).
int WriteOutputs(const std::string& dir) {
  std::string why;
  if (!Sets().Open(dir, &why)) {
    std::fprintf(stderr, "%s\n", why.c_str());
    return 1;
  }
  int failures = 0;
  for (const SetShape& shape : kShapes) {
    const DownloadSet* made = Sets().Set(shape, &why);
    if (made == nullptr) {
      std::fprintf(stderr, "%s: %s\n", shape.name.c_str(), why.c_str());
      return 1;
    }
    const DownloadSet& set = *made;
    for (int recompute = 1; recompute >= 0; --recompute) {
      const std::string gpb = Sets().OutputPath(set, recompute != 0);
      const Outcome outcome = Convert(set.observationPath, gpb, recompute != 0);
      GpbCheck check;
      const bool ok = outcome.result == 0 && CheckGpb(gpb, set, recompute != 0, &check, &why);
      std::printf("%-18s recompute %d: result %d, %u epochs, %d messages, max error %.4f m%s%s\n",
                  shape.name.c_str(), recompute, static_cast<int>(outcome.result),
                  outcome.epochsWritten, static_cast<int>(outcome.messages),
                  check.maxPositionError_m, ok ? "" : ", FAILED: ", ok ? "" : why.c_str());
      if (!ok) ++failures;
    }
  }
  return failures == 0 ? 0 : 1;
}

void RegisterAll() {
  for (const SetShape& shape : kShapes) {
    const std::string name = shape.name;
    if (name != "synthetic-1h-1s") {
      benchmark::RegisterBenchmark(("Convert/" + name + "/recompute:1").c_str(), BM_Convert, &shape,
                                   true)
          ->Unit(benchmark::kMillisecond);
      benchmark::RegisterBenchmark(("Convert/" + name + "/recompute:0").c_str(), BM_Convert, &shape,
                                   false)
          ->Unit(benchmark::kMillisecond);
      benchmark::RegisterBenchmark(("CopyFloor/" + name).c_str(), BM_CopyFloor, &shape)
          ->Unit(benchmark::kMillisecond);
    }
  }
  for (const SetShape& shape : kShapes) {
    if (shape.name == kRealSetName || shape.name == "synthetic-24h-1s") {
      benchmark::RegisterBenchmark(("QcReport/" + shape.name).c_str(), BM_QcReport, &shape)
          ->Unit(benchmark::kMillisecond);
    }
  }
  benchmark::RegisterBenchmark("PeakMemory/header-only", BM_PeakMemory, nullptr)
      ->Iterations(1)
      ->Unit(benchmark::kMillisecond);
  for (const SetShape& shape : kShapes) {
    benchmark::RegisterBenchmark(("PeakMemory/" + shape.name).c_str(), BM_PeakMemory, &shape)
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
  }
}

}  // namespace
}  // namespace bench
}  // namespace talverin

int main(int argc, char** argv) {
  using namespace talverin::bench;
  if (argc >= 2 && std::strcmp(argv[1], "--convert-once") == 0) return ConvertOnce(argc, argv);
  if (argc >= 3 && std::strcmp(argv[1], "--write-outputs") == 0) return WriteOutputs(argv[2]);
  RegisterAll();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
