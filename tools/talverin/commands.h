// The subcommands of the command-line host. Each returns the process exit status.
#pragma once

#include <string>
#include <vector>

#include "plugin/host_records.h"

namespace talverin_cli {

struct ConvertArgs {
  std::string plugin;             // --plugin; empty: beside the executable
  std::string input;              // B file
  std::string output;             // GPB file; empty: the input's name with .gpb
  std::string receiver = "auto";  // auto, ca, dual, l2-codeless, glonass, or 0..4
  bool forceMoving = false;
  bool stationMarks = false;
  bool noRecompute = false;
  bool altLayout = false;
  bool dropL2Phase = false;
  bool qualityWarnings = false;
  int leapSeconds = 0;
  bool noEvents = false;
  int stationTimeLimit = -1;      // -1: the module's default
  std::string gpbVersion = "new"; // new or 1.02
  bool quiet = false;
};

int RunConvert(const ConvertArgs& args);
int RunDetect(const std::string& plugin, const std::vector<std::string>& files);
int RunDump(const std::string& path, bool csv);
int RunStats(const std::string& path, const std::vector<double>& reference);

struct ImportRinexArgs {
  std::string observation;  // RINEX 2 observation file
  std::string navigation;   // RINEX 2 GPS navigation file
  std::string outputDir;
  std::string receiver;     // empty: from the RINEX header
  std::string site;         // empty: the marker name
  std::string headerPosition = "rinex";  // rinex, zeros or a distance in metres
};
int RunImportRinex(const ImportRinexArgs& args);
extern const char kImportRinexHelp[];

struct RinexArgs {
  std::vector<std::string> inputs;  // B files
  std::string outputDir;            // -d; empty: beside each input
  int rinexVersion = 2;             // 2 (2.11) or 3 (3.04)
  int gpsWeek = -1;                 // full GPS week of the first epoch; -1: resolve
  std::string receiver = "auto";
};
int RunRinex(const RinexArgs& args);
extern const char kRinexHelp[];

struct QcArgs {
  std::vector<std::string> inputs; // B files and folders
  bool recursive = false;          // folders' subfolders too
  int jobs = 1;                    // sets at once, each in its own process
  std::string output;              // -o: the report's path (one set)
  std::string outputDir;           // -d: folder for the reports and the index
  std::string json;                // --json FILE: every set's figures
  std::vector<double> reference;   // --reference X,Y,Z (m, ECEF); empty: the mean
  int gpsWeek = -1;                // --gps-week
  std::string receiver = "auto";
};
int RunQc(const QcArgs& args);
extern const char kQcHelp[];

// The receiver type word for a name or digit; -1 when unknown.
int ReceiverTypeFromName(const std::string& name);
// The default output path: the input's directory and name with the extension .gpb.
std::string DefaultOutputPath(const std::string& input);

}  // namespace talverin_cli
