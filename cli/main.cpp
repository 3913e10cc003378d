// talverin: the command-line host of the conversion module. Subcommands: convert, info,
// positions, stats, rinex, qc, detect, dump, import-rinex. main only parses the options into
// each subcommand's structure (cli/commands.h) and calls its function; usage errors exit 2
// with a message naming the problem.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "cli/batch.h"
#include "cli/commands.h"
#include "cli/platform.h"

namespace {

constexpr char kExitStatusHelp[] =
    "Exit status, one rule for every command (a batch: the worst of its sets):\n"
    "  0  everything read and written: every set read whole and its outputs written (with\n"
    "     recomputed positions unless --no-recompute); every file accepted (detect); the\n"
    "     statistics, rows or dump given; the set made (import-rinex)\n"
    "  1  written, but something lost, skipped, cut short or left unsolved, and the message\n"
    "     says what and where: damage skipped (\"damaged: ...\"), a download cut short (\"cut\n"
    "     short after N epochs\"), no E file (\"no ephemerides: ...\"; convert cannot convert\n"
    "     such a set: 2), values RINEX cannot hold left out, report parts missing,\n"
    "     no position recomputed; a file not accepted (detect); no epoch holding a position\n"
    "     or a reference far from the mean position (stats, positions)\n"
    "  2  nothing written for a set, or a usage error: a missing or unreadable input, a\n"
    "     --gps-week more than a week from the week of the file name and ephemerides, a\n"
    "     failed conversion, export or report, an output that would overwrite an input or\n"
    "     another output or cannot be written, a damaged GPB file, an unusable reference\n"
    "A run stopped by Ctrl-C, SIGTERM or SIGHUP exits non-zero (1, or 2 when a set failed)\n"
    "and names on stderr the sets that finished before it; a set still running keeps its\n"
    "earlier outputs (all of them: never some old and some new); sets not yet started are\n"
    "not started.\n";

constexpr char kConvertHelp[] =
    "Each B file is converted with the E, S and D files beside it (same name, other first\n"
    "letter). A folder stands for every B file in it (B..., numeric extension).\n"
    "Outputs: NAME_DDD.gpb, .sta and .epp beside each B file (NAME.DDD: BBAHRA04.162 gives\n"
    "BBAHRA04_162.gpb, so that the days of one site convert into one folder), or in -d DIR,\n"
    "or -o FILE as given (one set only). They are written under temporary names and replace\n"
    "earlier outputs only when the conversion completes; after a failure or Ctrl-C the earlier "
    "outputs stay as\n"
    "they were and what was written is kept as NAME.partial.gpb (.sta, .epp). A download cut\n"
    "short is converted up to the cut under the final names (\"cut short after N epochs\").\n"
    "An output that would overwrite an input is refused.\n"
    "Messages go to stderr with their epoch's GPS time and level (default: errors, warnings,\n"
    "one line counting the ephemerides; -v every message; -q errors only); one summary line\n"
    "per set goes to stdout. Ctrl-C, SIGTERM and SIGHUP stop the conversions at the next\n"
    "epoch.\n"
    "\n"
    "Examples:\n"
    "  talverin convert download/BBAHRA04.162\n"
    "  talverin convert -j 2 -d converted --json converted/summary.json download/\n"
    "  talverin convert --recursive --update --shard 3/8 -d /archive/gpb /archive/downloads\n";

constexpr char kPositionsHelp[] =
    "CSV columns: gps_week, tow_s, gps_time (GPS time), lat_deg, lon_deg, height_m\n"
    "(ellipsoidal, WGS84), east_m, north_m, up_m (with a reference), satellites,\n"
    "position_valid (1/0). An epoch without a position has empty position columns. KML and\n"
    "GPX hold the epochs with a position, times in UTC.\n"
    "The GPS week comes from --gps-week, the download set beside the GPB file (NAME.ddd), or\n"
    "the ephemerides in its .epp file.\n"
    "\n"
    "Examples:\n"
    "  talverin positions BBAHRA04_162.gpb --reference 3633910.5918,4425277.7039,2799862.8556\n"
    "  talverin positions BBAHRA04_162.gpb --format kml -o BBAHRA04_162.kml\n";

constexpr char kStatsHelp[] =
    "The reference is the antenna reference point, or the marker with --antenna-height.\n"
    "A reference that is not finite or not within 100 km of the Earth's surface is refused\n"
    "(exit 2); a file without any epoch holding a position gives exit 1.\n"
    "\n"
    "Examples:\n"
    "  talverin stats BBAHRA04_162.gpb --reference 3633910.5918,4425277.7039,2799862.8556\n"
    "  talverin stats BBAHRA04_162.gpb --reference-llh 26.209,50.608,-17.4 --antenna-height 0.1\n";

constexpr char kInfoHelp[] =
    "For each download set: receiver model and type, site names and antenna height, first\n"
    "and last epoch (GPS time), interval and count, satellites seen, the ephemerides and\n"
    "their health, the events, and every damaged stretch of the B and E files. Nothing is\n"
    "converted or written (but the --json file).\n"
    "\n"
    "Examples:\n"
    "  talverin info download/BBAHRA04.162\n"
    "  talverin info --recursive --json sets.json download/\n";

const char* const kSubcommands[] = {"convert", "info",   "positions", "stats",       "rinex",
                                    "qc",      "detect", "dump",      "import-rinex"};

// "convert, info, ... or import-rinex".
std::string SubcommandList() {
  std::string list;
  const size_t n = sizeof kSubcommands / sizeof kSubcommands[0];
  for (size_t i = 0; i < n; ++i) {
    list += (i == 0 ? "" : i + 1 == n ? " or " : ", ") + std::string(kSubcommands[i]);
  }
  return list;
}

void AddReferenceOptions(CLI::App* command, talverin_cli::ReferenceArgs* reference) {
  command->add_option("--reference", reference->ecef, "Station position X,Y,Z (m, ECEF WGS84)");
  command->add_option("--reference-llh", reference->geodetic,
                      "Station position LAT,LON,H (degrees, m above the WGS84 ellipsoid)");
  command->add_option("--antenna-height", reference->antennaHeight_m,
                      "Antenna height above the reference marker (m, vertical)");
}

// Every subcommand's options, as the parser fills them.
struct Options {
  talverin_cli::ConvertArgs convert;
  talverin_cli::InfoArgs info;
  talverin_cli::PositionsArgs positions;
  talverin_cli::StatsArgs stats;
  talverin_cli::DetectArgs detect;
  talverin_cli::DumpArgs dump;
  talverin_cli::ImportRinexArgs import;
  talverin_cli::RinexArgs rinex;
  talverin_cli::QcArgs qc;
};

// The help of one command's set options: each option's text (nullptr: the command does not
// take it), and their order in the help, a letter each: i the sets, r --recursive, o -o,
// d -d, j --jobs, J --json, w --gps-week, R --receiver, s --shard, u --update, and + for the
// command's own options.
struct SetOptionsHelp {
  const char* order;
  const char* recursive;
  const char* output;
  const char* dirNames;  // -d and its long names
  const char* dir;
  const char* jobs;
  const char* json;
  const char* gpsWeek;
  const char* receiver;
  bool outputExcludesDir;  // refused by the parser (else by PlanSetBatch, with its own text)
};

constexpr char kShardHelp[] =
    "Only the K-th of N parts of the sets (1 <= K <= N), each set's part fixed by its path "
    "below the folder named, so that every machine splits a batch alike";
constexpr char kUpdateHelp[] =
    "Skip a set whose outputs all exist and are newer than its B, E, S and D files";

// The options of SetBatchArgs, in the order and with the texts of help; own adds the command's
// own options where the order has a +.
void AddSetOptions(
    CLI::App* command, talverin_cli::SetBatchArgs* a, const SetOptionsHelp& help,
    const std::function<void()>& own = [] {}) {
  CLI::Option* output = nullptr;
  for (const char* key = help.order; *key != '\0'; ++key) {
    if (*key == 'i') {
      command
          ->add_option("B-FILE", a->inputs, "Observation files (first letter B) or folders of them")
          ->required();
    } else if (*key == 'r') {
      command->add_flag("--recursive", a->recursive, help.recursive);
    } else if (*key == 'o') {
      output = command->add_option("-o,--output", a->output, help.output);
    } else if (*key == 'd') {
      CLI::Option* dir = command->add_option(help.dirNames, a->outputDir, help.dir);
      if (help.outputExcludesDir) dir->excludes(output);
    } else if (*key == 'j') {
      command->add_option("-j,--jobs", a->jobs, help.jobs)
          ->check(CLI::Range(1, 64))
          ->capture_default_str();
    } else if (*key == 'J') {
      command->add_option("--json", a->json, help.json);
    } else if (*key == 'w') {
      command->add_option("--gps-week", a->gpsWeek, help.gpsWeek)->check(CLI::Range(0, 100000));
    } else if (*key == 'R') {
      command->add_option("-r,--receiver", a->receiver, help.receiver)->capture_default_str();
    } else if (*key == 's') {
      command->add_option("--shard", a->shard, kShardHelp)->type_name("K/N");
    } else if (*key == 'u') {
      command->add_flag("--update", a->update, kUpdateHelp);
    } else if (*key == '+') {
      own();
    }
  }
}

constexpr char kRecursiveHelp[] = "Folders: also the B files of their subfolders";
constexpr char kReceiverHelp[] = "Receiver type: auto, ca, dual, l2-codeless, glonass, or 0-4";

// The options of convert that the module's ConvertOptions take.
void AddConvertModuleOptions(CLI::App* command, talverin_cli::ConvertArgs* c) {
  command->add_flag("--no-recompute", c->noRecompute,
                    "Keep the receiver's positions and clocks (no single-point solution)");
  command->add_option("--gpb-version", c->gpbVersion, "GPB file variant: new ($NEWGPB) or 1.02")
      ->check(CLI::IsMember({"new", "1.02"}))
      ->capture_default_str();
  command->add_flag("--no-events", c->noEvents, "Ignore the event file (D)");
  command->add_flag("--station-marks", c->stationMarks,
                    "Station-mark mode: \"????\" epochs are moving, sites get BEGIN/END "
                    "blocks");
  command->add_flag("--force-moving", c->forceMoving, "Mark every epoch as logged while moving");
  command->add_flag("--alt-channel-layout", c->altLayout,
                    "Decode channel records in the alternative layout");
  command->add_flag("--drop-l2-phase-without-range", c->dropL2Phase,
                    "Dual frequency: zero the L2 phase when the L2 range is 0");
  command->add_flag("--quality-warnings", c->qualityWarnings,
                    "Report duplicate PRNs and phase/code quality warnings");
  command->add_option("--leap-seconds", c->leapSeconds,
                      "GPS-UTC seconds written to the .epp file for GLONASS receivers");
  command->add_option("--station-time-limit", c->stationTimeLimit,
                      "Station time limit word passed to the module (s)");
  command->add_option("--plugin", c->plugin,
                      "Conversion module to load (default: the one beside this program)");
}

CLI::App* AddConvert(CLI::App* app, Options* o) {
  CLI::App* convertCmd =
      app->add_subcommand("convert", "Convert download sets (B files, or folders of them)");
  const SetOptionsHelp help = {
      "iodjJrsu+wR",
      kRecursiveHelp,
      "GPB file to write (one set only); .sta and .epp go beside it",
      "-d,--output-dir",
      "Folder for the outputs of every set (made when missing)",
      "Sets converted at once, each in its own process",
      "Also write the summary as JSON to this file",
      "GPS week of the messages' times (default: from the ephemerides, checked against the "
      "file name's date)",
      "Receiver type: auto (from the file header), ca (C/A code), dual (dual frequency), "
      "l2-codeless, glonass, or 0-4",
      false};
  AddSetOptions(convertCmd, &o->convert.sets, help, [convertCmd, o] {
    convertCmd->add_flag(
        "-v,--verbose", [o](int64_t) { o->convert.verbosity = 2; },
        "Print every message of the module");
    convertCmd->add_flag(
        "-q,--quiet", [o](int64_t) { o->convert.verbosity = 0; },
        "Print errors only (and the summary)");
  });
  AddConvertModuleOptions(convertCmd, &o->convert);
  convertCmd->footer(std::string(kConvertHelp) + "\n" + kExitStatusHelp);
  return convertCmd;
}

CLI::App* AddInfo(CLI::App* app, Options* o) {
  CLI::App* infoCmd = app->add_subcommand("info", "What download sets hold, damage included");
  const SetOptionsHelp help = {
      "irsJRw",
      kRecursiveHelp,
      nullptr,
      nullptr,
      nullptr,
      nullptr,
      "Also write the information as JSON to this file",
      "GPS week of the first epoch",
      "Receiver type when the model text is not known: auto, ca, dual, l2-codeless, glonass, "
      "or 0-4",
      false};
  AddSetOptions(infoCmd, &o->info.sets, help);
  infoCmd->footer(std::string(kInfoHelp) + "\n" + kExitStatusHelp);
  return infoCmd;
}

CLI::App* AddPositions(CLI::App* app, Options* o) {
  CLI::App* positionsCmd =
      app->add_subcommand("positions", "Epoch positions of a GPB file as CSV, KML or GPX");
  positionsCmd->add_option("FILE", o->positions.gpb, "GPB file")->required();
  AddReferenceOptions(positionsCmd, &o->positions.reference);
  positionsCmd->add_option("--format", o->positions.format, "csv, kml or gpx")
      ->check(CLI::IsMember({"csv", "kml", "gpx"}))
      ->capture_default_str();
  positionsCmd->add_option("-o,--output", o->positions.output, "File to write (default: stdout)");
  positionsCmd->add_option("--gps-week", o->positions.gpsWeek, "GPS week of the first epoch")
      ->check(CLI::Range(0, 100000));
  positionsCmd->footer(std::string(kPositionsHelp) + "\n" + kExitStatusHelp);
  return positionsCmd;
}

CLI::App* AddStats(CLI::App* app, Options* o) {
  CLI::App* statsCmd = app->add_subcommand("stats",
                                           "Position errors of a GPB file against a "
                                           "known station (ENU, RMS, 95th percentile)");
  statsCmd->add_option("FILE", o->stats.gpb, "GPB file")->required();
  AddReferenceOptions(statsCmd, &o->stats.reference);
  statsCmd->footer(std::string(kStatsHelp) + "\n" + kExitStatusHelp);
  return statsCmd;
}

CLI::App* AddDetect(CLI::App* app, Options* o) {
  CLI::App* detectCmd = app->add_subcommand("detect",
                                            "Tell whether files are observation files "
                                            "the module converts (AutoDetect)");
  detectCmd->add_option("FILE", o->detect.files, "Files to test")->required();
  detectCmd->add_option("--plugin", o->detect.plugin, "Conversion module to load");
  detectCmd->footer(std::string("Example:\n  talverin detect download/B*\n\n") + kExitStatusHelp);
  return detectCmd;
}

CLI::App* AddDump(CLI::App* app, Options* o) {
  CLI::App* dumpCmd = app->add_subcommand("dump",
                                          "Print a GPB file (either variant): header, "
                                          "epochs and satellites, checksums verified");
  dumpCmd->add_option("FILE", o->dump.gpb, "GPB file")->required();
  dumpCmd->add_flag("--csv", o->dump.csv, "One CSV line per satellite record");
  dumpCmd->footer(
      std::string("A stdout closed by its reader (| head) ends the dump quietly.\n\n"
                  "Example:\n  talverin dump BBAHRA04_162.gpb --csv > BBAHRA04_162.csv\n\n") +
      kExitStatusHelp);
  return dumpCmd;
}

CLI::App* AddImportRinex(CLI::App* app, Options* o) {
  CLI::App* importCmd = app->add_subcommand("import-rinex",
                                            "Make a download set (B, E, S files) "
                                            "from RINEX 2 observation and navigation files");
  importCmd->add_option("OBS", o->import.observation, "RINEX 2.00-2.11 observation file")
      ->required();
  importCmd->add_option("NAV", o->import.navigation, "RINEX 2 GPS navigation file")->required();
  importCmd->add_option("OUTDIR", o->import.outputDir, "Directory for the download set")
      ->required();
  importCmd->add_option("-r,--receiver", o->import.receiver,
                        "Receiver: ca, dual, l2-codeless, glonass "
                        "or a model text (default: from REC # / TYPE / VERS)");
  importCmd->add_flag("--force", o->import.force,
                      "Replace B, E or S files already in OUTDIR (default: refused, exit 2)");
  importCmd->add_option("--site", o->import.site,
                        "Site name, 1-4 characters (default: MARKER "
                        "NAME cut to 4)");
  importCmd
      ->add_option("--header-position", o->import.headerPosition,
                   "Receiver position in the epoch headers: rinex (APPROX POSITION XYZ), "
                   "zeros (no fix yet), or a distance in metres to move the approximate "
                   "position by (equally east, north and up)")
      ->capture_default_str();
  importCmd->footer(std::string(talverin_cli::kImportRinexHelp) + "\n" + kExitStatusHelp);
  return importCmd;
}

// The window, decimation and splicing of `rinex` and `qc`.
void AddEditOptions(CLI::App* cmd, talverin_cli::EditArgs* a, const char* spliceHelp) {
  cmd->add_option("--start", a->start, "first epoch kept, GPS time YYYY-MM-DDTHH:MM:SS");
  cmd->add_option("--end", a->end, "last epoch kept, GPS time YYYY-MM-DDTHH:MM:SS");
  cmd->add_option("--interval", a->interval_s,
                  "keep the epochs within 0.5 s of multiples of this many seconds");
  cmd->add_flag("--splice", a->splice, spliceHelp);
}

// Header metadata and editing of `rinex`.
void AddRinexEditing(CLI::App* cmd, talverin_cli::RinexArgs* a) {
  talverin::RinexMetadata& m = a->metadata;
  cmd->add_option("--marker-name", m.markerName, "MARKER NAME (60 characters)");
  cmd->add_option("--marker-number", m.markerNumber, "MARKER NUMBER (20 characters)");
  cmd->add_option("--antenna-type", m.antennaType,
                  "ANT # / TYPE: the IGS antenna name with its radome (20 characters)");
  cmd->add_option("--antenna-number", m.antennaNumber, "antenna serial number (20 characters)");
  cmd->add_option("--antenna-delta", a->antennaDelta,
                  "ANTENNA: DELTA H/E/N, m: H[,E,N] (default: the set's antenna height)");
  cmd->add_option("--receiver-number", m.receiverNumber, "receiver serial number (20 characters)");
  cmd->add_option("--observer", m.observer, "OBSERVER (20 characters)");
  cmd->add_option("--agency", m.agency, "AGENCY (40 characters)");
  cmd->add_option("--country", m.country,
                  "ISO 3166 alpha-3 country of version 3 long names (default XXX)");
  cmd->add_option("--monument", a->monument,
                  "monument digit of version 3 long names (0-9, default 0)")
      ->check(CLI::Range(0, 9));
  cmd->add_option("--receiver-index", a->receiverIndex,
                  "receiver digit of version 3 long names (0-9, default 0)")
      ->check(CLI::Range(0, 9));
  cmd->add_option("--site-table", a->siteTable,
                  "CSV of metadata by site: header row 'site,' then any of marker_name, "
                  "marker_number, antenna_type, antenna_number, antenna_delta (H;E;N), "
                  "receiver_number, observer, agency, country");
  AddEditOptions(cmd, &a->edit,
                 "one observation and one navigation file per site and day from all the sets");
}

CLI::App* AddRinex(CLI::App* app, Options* o) {
  CLI::App* rinexCmd = app->add_subcommand("rinex",
                                           "RINEX observation and GPS navigation files "
                                           "from download sets");
  const SetOptionsHelp help = {
      "idjJrs+wR",
      kRecursiveHelp,
      nullptr,
      "-d,--output-dir,--directory",
      "Folder for the RINEX files of every set (made when missing; default: beside each input)",
      "Sets exported at once, each in its own process",
      "Also write the summary as JSON to this file",
      "Full GPS week of the first epoch (overrides the file name and the ephemerides within a "
      "week of theirs; further off it is refused)",
      kReceiverHelp,
      false};
  AddSetOptions(rinexCmd, &o->rinex.sets, help, [rinexCmd, o] {
    rinexCmd
        ->add_option("--rinex-version", o->rinex.rinexVersion,
                     "RINEX version: 2 (2.11) or 3 (3.04)")
        ->check(CLI::IsMember({2, 3}))
        ->capture_default_str();
    AddRinexEditing(rinexCmd, &o->rinex);
  });
  rinexCmd->footer(std::string(talverin_cli::kRinexHelp) + "\n" + kExitStatusHelp);
  return rinexCmd;
}

CLI::App* AddQc(CLI::App* app, Options* o) {
  CLI::App* qcCmd = app->add_subcommand("qc",
                                        "Quality report of download sets: figures, "
                                        "plots (one HTML page per set) and a short summary");
  const SetOptionsHelp help = {
      "irjodJsu+wR",
      "Folders: their subfolders too",
      "The report's path, for one set (default: beside the input, NAME_DDD.qc.html)",
      "-d,--output-dir,--dir",
      "Folder for the reports and the index (made when missing)",
      "Sets at once, each in its own process",
      "Write every set's figures as JSON to this file",
      "Full GPS week (default: from the ephemerides and the file name; more than a week from "
      "theirs is refused)",
      kReceiverHelp,
      true};
  AddSetOptions(qcCmd, &o->qc.sets, help, [qcCmd, o] {
    AddReferenceOptions(qcCmd, &o->qc.reference);
    qcCmd
        ->add_option("--mask", o->qc.mask_deg,
                     "Elevation mask, degrees: possible and complete observations, MP and "
                     "slips above it")
        ->check(CLI::Range(-90.0, 90.0))
        ->capture_default_str();
    AddEditOptions(qcCmd, &o->qc.edit,
                   "one report per site and day from all the sets (their RINEX export spliced)");
  });
  qcCmd->footer(std::string(talverin_cli::kQcHelp) + "\n" + kExitStatusHelp);
  return qcCmd;
}

struct Subcommand {
  CLI::App* command;
  std::function<int()> run;
};

// The subcommands in the order of the help text, each with the call that runs it.
std::vector<Subcommand> AddSubcommands(CLI::App* app, Options* o) {
  using namespace talverin_cli;
  return {
      {AddConvert(app, o), [o] { return RunConvert(o->convert); }},
      {AddInfo(app, o), [o] { return RunInfo(o->info); }},
      {AddPositions(app, o), [o] { return RunPositions(o->positions); }},
      {AddStats(app, o), [o] { return RunStats(o->stats); }},
      {AddDetect(app, o), [o] { return RunDetect(o->detect); }},
      {AddDump(app, o), [o] { return RunDump(o->dump); }},
      {AddImportRinex(app, o), [o] { return RunImportRinex(o->import); }},
      {AddRinex(app, o), [o] { return RunRinex(o->rinex); }},
      {AddQc(app, o), [o] { return RunQc(o->qc); }},
  };
}

// A first argument that is not an option must name a subcommand.
bool SubcommandNamed(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "talverin: a subcommand is needed: %s (talverin --help)\n",
                 SubcommandList().c_str());
    return false;
  }
  if (argv[1][0] == '-') return true;
  for (const char* name : kSubcommands) {
    if (std::strcmp(argv[1], name) == 0) return true;
  }
  std::fprintf(stderr, "talverin: unknown subcommand '%s': %s (talverin --help)\n", argv[1],
               SubcommandList().c_str());
  return false;
}

// Parses the command line; false with the exit status when the program ends here (help,
// version, or a usage error, named on stderr).
bool Parse(CLI::App* app, int argc, char** argv, int* status) {
  try {
    app->parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) {
      *status = app->exit(e);
      return false;
    }
    const bool named = argv[1][0] != '-';  // the subcommand the error belongs to
    std::fprintf(stderr, "talverin: %s (talverin%s%s --help)\n", e.what(), named ? " " : "",
                 named ? argv[1] : "");
    *status = talverin_cli::kExitFailed;
    return false;
  }
  return true;
}

// For the man page (help2man): every subcommand's help with its examples.
int PrintManPage(CLI::App* app) {
  std::string text = app->help();
  for (const CLI::App* command : app->get_subcommands({})) text += "\n" + command->help();
  std::fputs(text.c_str(), stdout);
  return talverin_cli::kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  // UTF-8 arguments on every platform (Windows: from the wide command line).
  std::vector<std::string> arguments = talverin_cli::Utf8Arguments(argc, argv);
  std::vector<char*> pointers;
  for (std::string& argument : arguments) pointers.push_back(&argument[0]);
  pointers.push_back(nullptr);
  argc = static_cast<int>(arguments.size());
  argv = pointers.data();
  talverin_cli::PrepareConsole();
  if (!SubcommandNamed(argc, argv)) return talverin_cli::kExitFailed;
  CLI::App app{
      "talverin - convert receiver download sets (B, E, S, D files) into GPB\n"
      "observation files with .sta station and .epp ephemeris files, recomputing each\n"
      "epoch's position and clock by single-point positioning."};
  app.require_subcommand(1);
  app.set_help_all_flag("--help-all", "Show the help of every subcommand");
  app.set_version_flag("--version", "talverin " TALVERIN_VERSION);
  app.footer(std::string("Example:\n  talverin convert download/BBAHRA04.162\n\n") +
             kExitStatusHelp);
  Options options;
  const std::vector<Subcommand> subcommands = AddSubcommands(&app, &options);
  if (std::strcmp(argv[1], "--help-man") == 0) return PrintManPage(&app);
  int status = talverin_cli::kExitFailed;
  if (!Parse(&app, argc, argv, &status)) return status;
  for (const Subcommand& subcommand : subcommands) {
    if (subcommand.command->parsed()) return subcommand.run();
  }
  return talverin_cli::kExitFailed;
}
