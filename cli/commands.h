// The subcommands of the command-line host. Each returns the process exit status: 0 done,
// 1 incomplete (stopped by the user, refused, nothing to show, damage found), 2 failed or a
// usage error
// (batch.h names them).
#pragma once

#include <string>
#include <vector>

#include "cli/set_batch.h"
#include "dataset/position_stats.h"
#include "dataset/set_scan.h"

namespace talverin_cli {

struct ConvertArgs {
  SetBatchArgs sets;   // -o: the GPB file of the one input; -d: every set's outputs
  std::string plugin;  // --plugin; empty: beside the executable
  int verbosity = 1;   // 0 -q, 1 default, 2 -v
  bool forceMoving = false;
  bool stationMarks = false;
  bool noRecompute = false;
  bool altLayout = false;
  bool dropL2Phase = false;
  bool qualityWarnings = false;
  int leapSeconds = 0;
  bool noEvents = false;
  int stationTimeLimit = -1;       // -1: the module's default
  std::string gpbVersion = "new";  // new or 1.02
};
int RunConvert(const ConvertArgs& args);

struct InfoArgs {
  SetBatchArgs sets;  // without -o, -d and --jobs; the receiver type when the model is unknown
};
// One set as `info` shows it: the scan and the set's exit status.
struct InfoSet {
  std::string input;
  talverin::SetScan scan;
  int status = 0;
};
struct InfoResult {
  int status = 0;     // the worst set's
  std::string error;  // a usage error (receiver type, no B file in a folder): no set was read
  std::vector<InfoSet> sets;
};
// Reads every set the arguments name; prints and writes nothing.
InfoResult Info(const InfoArgs& args);
// 0 read whole, 1 damage found, 2 unreadable (B file, E file, D file too large, read error).
int InfoStatus(const talverin::SetScan& scan);
// The set's text lines (after its name) and its JSON members (input and status first).
std::vector<std::string> InfoLines(const InfoSet& set);
std::string InfoJsonMembers(const InfoSet& set);
// Info, then the text on stdout and the --json file.
int RunInfo(const InfoArgs& args);

int RunDetect(const std::string& plugin, const std::vector<std::string>& files);
int RunDump(const std::string& path, bool csv);

// The station of `stats` and `positions`: an ECEF or a geodetic reference (text as typed,
// "X,Y,Z" or "LAT,LON,H"; empty when not given) and the antenna height above it.
struct ReferenceArgs {
  std::string ecef;
  std::string geodetic;
  double antennaHeight_m = 0.0;
};
int RunStats(const std::string& path, const ReferenceArgs& reference);
// The reference point of the arguments. given: whether one was named. False with the reason
// when both forms are given, the text is not three numbers, or the point is refused.
bool ResolveReference(const ReferenceArgs& args, talverin::ReferencePoint* point, bool* given,
                      std::string* error);

struct PositionsArgs {
  std::string gpb;
  ReferenceArgs reference;
  std::string format = "csv";  // csv, kml or gpx
  std::string output;          // empty: stdout
  int gpsWeek = -1;
};
int RunPositions(const PositionsArgs& args);

struct ImportRinexArgs {
  std::string observation;  // RINEX 2 observation file
  std::string navigation;   // RINEX 2 GPS navigation file
  std::string outputDir;
  std::string receiver;                  // empty: from the RINEX header
  std::string site;                      // empty: the marker name
  std::string headerPosition = "rinex";  // rinex, zeros or a distance in metres
};
int RunImportRinex(const ImportRinexArgs& args);
extern const char kImportRinexHelp[];

struct RinexArgs {
  SetBatchArgs sets;     // without -o; --gps-week: the full week of the first epoch
  int rinexVersion = 2;  // 2 (2.11) or 3 (3.04)
};
int RunRinex(const RinexArgs& args);
extern const char kRinexHelp[];

struct QcArgs {
  SetBatchArgs sets;        // -o: the report's path (one set); -d: the reports and the index
  ReferenceArgs reference;  // as for stats; none given: against the mean
};
int RunQc(const QcArgs& args);
extern const char kQcHelp[];

// The files of the set of a B file: the B path as given, then the E, S and D paths (its file
// name with the first letter replaced), whether they exist or not.
std::vector<std::string> SetInputFiles(const std::string& bPath);
// Why a B file cannot be read ("no such file", "not a regular file", the system's reason),
// or empty when it can be opened for reading.
std::string UnreadableReason(const std::string& path);
// The receiver type word for a name or digit; -1 when unknown.
int ReceiverTypeFromName(const std::string& name);
// The default output path: the input's directory and name with the extension .gpb.
std::string DefaultOutputPath(const std::string& input);

}  // namespace talverin_cli
