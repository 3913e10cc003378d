// `talverin rinex`: RINEX observation and navigation files from download sets, through the
// export library of rinex/. Prints what each set gave; messages on stderr.
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "rinex/rinex_export.h"
#include "tools/talverin/commands.h"

namespace talverin_cli {
namespace {

// PLACEHOLDER for the shared safe-output helper of the command-line tools (temporary names,
// never an input overwritten, rename on success, ".partial" on failure); replaced by it once
// it is in main.
struct OutputFile {
  std::string final;
  std::string temporary;
};

OutputFile PlanOutput(const std::string& final) {
  return {final, final + ".tmp" + std::to_string(static_cast<long>(getpid()))};
}

bool Commit(const OutputFile& f) { return std::rename(f.temporary.c_str(), f.final.c_str()) == 0; }

void Abandon(const OutputFile& f) {
  const std::string partial = f.final + ".partial";
  if (std::rename(f.temporary.c_str(), partial.c_str()) != 0) std::remove(f.temporary.c_str());
}

std::string Directory(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

bool SamePath(const std::string& a, const std::string& b) {
  char ra[PATH_MAX], rb[PATH_MAX];
  return realpath(a.c_str(), ra) != nullptr && realpath(b.c_str(), rb) != nullptr &&
         std::string(ra) == rb;
}

// 0 written, 2 failed.
int ExportOne(const RinexArgs& args, const std::string& input, int receiverType) {
  talverin::RinexExportOptions options;
  options.bPath = input;
  options.rinexVersion = args.rinexVersion;
  options.gpsWeek = args.gpsWeek;
  options.receiverType = receiverType;
  talverin::RinexExporter exporter;
  if (exporter.Prepare(options) != 0) {
    std::fprintf(stderr, "talverin rinex: %s\n", exporter.errorText());
    return 2;
  }
  const std::string dir = args.outputDir.empty() ? Directory(input) : args.outputDir;
  const OutputFile obs = PlanOutput(dir + "/" + exporter.observationName());
  const OutputFile nav = PlanOutput(dir + "/" + exporter.navigationName());
  for (const OutputFile* f : {&obs, &nav}) {
    for (char letter : {'B', 'E', 'S', 'D'}) {
      std::string companion = input;
      const size_t slash = companion.find_last_of('/');
      companion[slash == std::string::npos ? 0 : slash + 1] = letter;
      if (SamePath(f->final, companion)) {
        std::fprintf(stderr, "talverin rinex: %s is an input file; not overwritten\n",
                     f->final.c_str());
        return 2;
      }
    }
  }
  const int32_t written = exporter.Write(obs.temporary, nav.temporary);
  const talverin::RinexExportSummary& s = exporter.summary();
  for (const std::string& m : s.messages) std::fprintf(stderr, "%s: %s\n", input.c_str(), m.c_str());
  if (written != 0 || !Commit(obs) || !Commit(nav)) {
    Abandon(obs);
    Abandon(nav);
    std::fprintf(stderr, "talverin rinex: %s\n",
                 written != 0 ? exporter.errorText() : "the output files cannot be renamed");
    return 2;
  }
  std::printf("%s\n  observation file: %s (%d epochs, %d satellite records, %d event records)\n"
              "  navigation file: %s (%d GPS records)\n",
              input.c_str(), obs.final.c_str(), s.epochs, s.observations, s.events,
              nav.final.c_str(), s.navRecords);
  return 0;
}

}  // namespace

const char kRinexHelp[] =
    "Writes, for each download set, a RINEX observation file with every observable of the\n"
    "B file (C1 L1 D1 S1; dual frequency also P1 P2 L2 D2 S2; L2-codeless P2 L2 D2 S2) and a\n"
    "GPS navigation file with every GPS record of the E file, healthy or not. Version 2.11\n"
    "names: ssssdddf.yyo / .yyn; version 3.04: the long names. Site changes and the marks\n"
    "and features of the D file become event records (flag 3 new site occupation with\n"
    "MARKER NAME and antenna height, flag 2 when the antenna starts moving).\n"
    "\n"
    "Example:\n"
    "  talverin rinex set/BBAHRA04.162\n"
    "  talverin rinex --rinex-version 3 -d out/ set/BBAHRA04.162\n";

int RunRinex(const RinexArgs& args) {
  const int type = ReceiverTypeFromName(args.receiver);
  if (type < 0) {
    std::fprintf(stderr, "talverin rinex: unknown receiver type '%s' (auto, ca, dual, "
                 "l2-codeless, glonass or 0-4)\n", args.receiver.c_str());
    return 2;
  }
  int worst = 0;
  for (const std::string& input : args.inputs) {
    const int status = ExportOne(args, input, type);
    if (status > worst) worst = status;
  }
  return worst;
}

}  // namespace talverin_cli
