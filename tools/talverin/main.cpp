// talverin: the command-line host of the conversion module.
//   talverin convert [options] B-FILE [OUTPUT.gpb]
//   talverin detect FILE...
//   talverin dump FILE.gpb [--csv]
//   talverin stats FILE.gpb --reference X,Y,Z
//   talverin import-rinex OBS NAV OUTDIR [--receiver TYPE] [--site NAME] [--header-position P]
//   talverin rinex [options] B-FILE...
//   talverin qc [options] B-FILE...
#include <CLI/CLI.hpp>

#include "tools/talverin/commands.h"

int main(int argc, char** argv) {
  CLI::App app{"talverin - convert Ashtech receiver download sets (B, E, S, D files) into GPB\n"
               "observation files with .sta station and .epp ephemeris files, recomputing each\n"
               "epoch's position and clock by single-point positioning."};
  app.require_subcommand(1);
  app.set_help_all_flag("--help-all", "Show the help of every subcommand");

  talverin_cli::ConvertArgs convert;
  CLI::App* convertCmd = app.add_subcommand("convert", "Convert one download set");
  convertCmd->add_option("B-FILE", convert.input, "Observation file (first letter B); the E, S "
                         "and D files beside it are found by name")->required();
  convertCmd->add_option("OUTPUT", convert.output,
                         "GPB file to write (default: the input's name with .gpb); the .sta "
                         "and .epp files are written beside it");
  convertCmd->add_option("-r,--receiver", convert.receiver,
                         "Receiver type: auto (from the file header), ca (C/A code), dual "
                         "(dual frequency), l2-codeless, glonass, or 0-4")
      ->capture_default_str();
  convertCmd->add_flag("--no-recompute", convert.noRecompute,
                       "Keep the receiver's positions and clocks (no single-point solution)");
  convertCmd->add_option("--gpb-version", convert.gpbVersion,
                         "GPB file variant: new ($NEWGPB) or 1.02")
      ->check(CLI::IsMember({"new", "1.02"}))->capture_default_str();
  convertCmd->add_flag("--no-events", convert.noEvents, "Ignore the event file (D)");
  convertCmd->add_flag("--station-marks", convert.stationMarks,
                       "Station-mark mode: \"????\" epochs are moving, sites get BEGIN/END "
                       "blocks");
  convertCmd->add_flag("--force-moving", convert.forceMoving,
                       "Mark every epoch as logged while moving");
  convertCmd->add_flag("--alt-channel-layout", convert.altLayout,
                       "Decode channel records in the alternative layout");
  convertCmd->add_flag("--drop-l2-phase-without-range", convert.dropL2Phase,
                       "Dual frequency: zero the L2 phase when the L2 range is 0");
  convertCmd->add_flag("--quality-warnings", convert.qualityWarnings,
                       "Report duplicate PRNs and phase/code quality warnings");
  convertCmd->add_option("--leap-seconds", convert.leapSeconds,
                         "GPS-UTC seconds written to the .epp file for GLONASS receivers");
  convertCmd->add_option("--station-time-limit", convert.stationTimeLimit,
                         "Station time limit word passed to the module (s)");
  convertCmd->add_flag("-q,--quiet", convert.quiet, "Print only the summary and errors");
  convertCmd->add_option("--plugin", convert.plugin,
                         "Conversion module to load (default: the one beside this program)");

  std::string detectPlugin;
  std::vector<std::string> detectFiles;
  CLI::App* detectCmd = app.add_subcommand("detect", "Tell whether files are observation files "
                                           "the module converts (AutoDetect)");
  detectCmd->add_option("FILE", detectFiles, "Files to test")->required();
  detectCmd->add_option("--plugin", detectPlugin, "Conversion module to load");

  std::string dumpPath;
  bool dumpCsv = false;
  CLI::App* dumpCmd = app.add_subcommand("dump", "Print a GPB file (either variant): header, "
                                         "epochs and satellites, checksums verified");
  dumpCmd->add_option("FILE", dumpPath, "GPB file")->required();
  dumpCmd->add_flag("--csv", dumpCsv, "One CSV line per satellite record");

  talverin_cli::ImportRinexArgs import;
  CLI::App* importCmd = app.add_subcommand("import-rinex", "Make a download set (B, E, S files) "
                                           "from RINEX 2 observation and navigation files");
  importCmd->add_option("OBS", import.observation, "RINEX 2.00-2.11 observation file")->required();
  importCmd->add_option("NAV", import.navigation, "RINEX 2 GPS navigation file")->required();
  importCmd->add_option("OUTDIR", import.outputDir, "Directory for the download set")->required();
  importCmd->add_option("--receiver", import.receiver, "Receiver: ca, dual, l2-codeless, glonass "
                        "or a model text (default: from REC # / TYPE / VERS)");
  importCmd->add_option("--site", import.site, "Site name, 1-4 characters (default: MARKER "
                        "NAME cut to 4)");
  importCmd->add_option("--header-position", import.headerPosition,
                        "Receiver position in the epoch headers: rinex (APPROX POSITION XYZ), "
                        "zeros (no fix yet), or a distance in metres to move the approximate "
                        "position by (equally east, north and up)")
      ->capture_default_str();
  importCmd->footer(talverin_cli::kImportRinexHelp);

  talverin_cli::RinexArgs rinex;
  CLI::App* rinexCmd = app.add_subcommand("rinex", "RINEX observation and GPS navigation files "
                                          "from download sets");
  rinexCmd->add_option("B-FILE", rinex.inputs, "Observation files (first letter B)")->required();
  rinexCmd->add_option("-d,--directory", rinex.outputDir,
                       "Directory for the RINEX files (default: beside each input)");
  rinexCmd->add_option("--rinex-version", rinex.rinexVersion, "RINEX version: 2 (2.11) or 3 (3.04)")
      ->check(CLI::IsMember({2, 3}))->capture_default_str();
  rinexCmd->add_option("--gps-week", rinex.gpsWeek,
                       "Full GPS week of the first epoch (overrides the file name and the "
                       "ephemerides)");
  rinexCmd->add_option("-r,--receiver", rinex.receiver,
                       "Receiver type: auto, ca, dual, l2-codeless, glonass, or 0-4")
      ->capture_default_str();
  rinexCmd->footer(talverin_cli::kRinexHelp);

  std::string statsPath;
  std::vector<double> statsReference;
  CLI::App* statsCmd = app.add_subcommand("stats", "Position errors of a GPB file against a "
                                          "known antenna position (ENU, RMS, 95th percentile)");
  statsCmd->add_option("FILE", statsPath, "GPB file")->required();
  statsCmd->add_option("--reference", statsReference, "Antenna position X,Y,Z (m, ECEF)")
      ->delimiter(',')->expected(3)->required();

  talverin_cli::QcArgs qc;
  CLI::App* qcCmd = app.add_subcommand("qc", "Quality report of download sets: figures, "
                                       "plots (one HTML page per set) and a short summary");
  qcCmd->add_option("B-FILE", qc.inputs, "Observation files (first letter B) or folders of "
                    "them")->required();
  qcCmd->add_flag("--recursive", qc.recursive, "Folders: their subfolders too");
  qcCmd->add_option("-j,--jobs", qc.jobs, "Sets at once, each in its own process")
      ->check(CLI::PositiveNumber)->capture_default_str();
  CLI::Option* qcOut = qcCmd->add_option("-o,--output", qc.output, "The report's path, for "
                                         "one set (default: beside the input, NAME.qc.html)");
  qcCmd->add_option("-d,--dir", qc.outputDir, "Folder for the reports and the index")
      ->excludes(qcOut);
  qcCmd->add_option("--json", qc.json, "Write every set's figures as JSON to this file");
  qcCmd->add_option("--reference", qc.reference, "Antenna position X,Y,Z (m, ECEF): positions "
                    "against it instead of their mean")->delimiter(',')->expected(3);
  qcCmd->add_option("--gps-week", qc.gpsWeek, "Full GPS week (default: from the ephemerides "
                    "and the file name)");
  qcCmd->add_option("-r,--receiver", qc.receiver, "Receiver type: auto, ca, dual, "
                    "l2-codeless, glonass, or 0-4")->capture_default_str();
  qcCmd->footer(talverin_cli::kQcHelp);

  CLI11_PARSE(app, argc, argv);

  if (convertCmd->parsed()) return talverin_cli::RunConvert(convert);
  if (detectCmd->parsed()) return talverin_cli::RunDetect(detectPlugin, detectFiles);
  if (dumpCmd->parsed()) return talverin_cli::RunDump(dumpPath, dumpCsv);
  if (statsCmd->parsed()) return talverin_cli::RunStats(statsPath, statsReference);
  if (importCmd->parsed()) return talverin_cli::RunImportRinex(import);
  if (rinexCmd->parsed()) return talverin_cli::RunRinex(rinex);
  if (qcCmd->parsed()) return talverin_cli::RunQc(qc);
  return 2;
}
