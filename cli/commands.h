// The subcommands of the command-line host, as library functions: each takes its options
// structure and returns a plain result (the exit status and what it computed) without
// printing; its Run... function prints that result as the program does and returns the
// process exit status: 0 done, 1 incomplete (stopped by the user, refused, nothing to show,
// damage found), 2 failed or a usage error (batch.h names them). Per-set work of convert,
// rinex and qc runs in child processes, which print the sets' own messages as they come.
#pragma once

#include <string>
#include <vector>

#include "cli/batch.h"
#include "cli/set_batch.h"
#include "dataset/position_stats.h"
#include "dataset/set_scan.h"
#include "output/gpb_reader.h"
#include "rinex/rinex_import.h"
#include "rinex/rinex_metadata.h"

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
// Every set converted (outputs written); the sets' summaries, JSON members and statuses.
[[nodiscard]] BatchResult Convert(const ConvertArgs& args);
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
  std::string note;   // a shard that holds no set says so
  std::vector<InfoSet> sets;
  size_t named = 0;  // sets the arguments name; more than sets.size() after a stop signal
};
// Reads every set the arguments name, up to a stop signal; prints and writes nothing.
[[nodiscard]] InfoResult Info(const InfoArgs& args);
// 0 read whole, 1 damage found or no E file, 2 unreadable (B file, E file, D file too large,
// read error).
int InfoStatus(const talverin::SetScan& scan);
// The set's text lines (after its name) and its JSON members (input and status first).
std::vector<std::string> InfoLines(const InfoSet& set);
std::string InfoJsonMembers(const InfoSet& set);
// Info, then the text on stdout and the --json file.
int RunInfo(const InfoArgs& args);

struct DetectArgs {
  std::string plugin;  // empty: beside the executable
  std::vector<std::string> files;
};
struct DetectResult {
  int status = 0;                // 1 when a file is not accepted, 2 when no module loads or
                                 // a file cannot be read
  std::string error;             // why the module did not load, or which files are unreadable
  std::vector<int32_t> answers;  // the module's AutoDetect of each file: 1 accepted; -1 unread
};
[[nodiscard]] DetectResult Detect(const DetectArgs& args);
int RunDetect(const DetectArgs& args);

struct DumpArgs {
  std::string gpb;
  bool csv = false;  // one line per satellite record
};
// One epoch record of a GPB file and its satellite records.
struct DumpEpoch {
  double gpsTime = 0.0, rcvTime = 0.0, corrTime = 0.0;  // s of GPS week
  uint32_t flags = 0;
  double lat = 0.0, lon = 0.0, height = 0.0;  // degrees, m (WGS84)
  double clock = 0.0;                         // m
  std::vector<talverin::gpb_sat_type> sats;
};
struct DumpResult {
  int status = 0;     // 2 when the file does not open or a record is damaged
  std::string error;  // the reader's text
  bool opened = false;
  talverin::GpbHeaderInfo header{};
  std::vector<DumpEpoch> epochs;  // every epoch before the end or the damage
};
[[nodiscard]] DumpResult Dump(const DumpArgs& args);
int RunDump(const DumpArgs& args);

// The station of `stats` and `positions`: an ECEF or a geodetic reference (text as typed,
// "X,Y,Z" or "LAT,LON,H"; empty when not given) and the antenna height above it.
struct ReferenceArgs {
  std::string ecef;
  std::string geodetic;
  double antennaHeight_m = 0.0;
};
struct StatsArgs {
  std::string gpb;
  ReferenceArgs reference;  // needed
};
struct StatsResult {
  int status = 0;       // 1 no epoch holds a position or the reference is far, 2 no usable
                        // reference or file
  std::string error;    // why no figures are given
  std::string warning;  // the reference far from the mean position, with the likely cause
  talverin::ReferencePoint reference;
  talverin::PositionStats stats;
};
[[nodiscard]] StatsResult Stats(const StatsArgs& args);
int RunStats(const StatsArgs& args);
// The reference point of the arguments. given: whether one was named. False with the reason
// when both forms are given, the text is not three numbers, or the point is refused.
bool ResolveReference(const ReferenceArgs& args, talverin::ReferencePoint* point, bool* given,
                      std::string* error);
// References farther than this from the mean position are typing mistakes, not the station.
constexpr double kFarReference_m = 10000.0;
// Empty when the mean position (east/north/up from the reference, m) lies within
// kFarReference_m of it; else a text with the distance, the mean's latitude and longitude
// and the likely cause (latitude and longitude swapped, a sign).
std::string FarReferenceWarning(const talverin::ReferencePoint& reference,
                                const double meanEnu_m[3]);

struct PositionsArgs {
  std::string gpb;
  ReferenceArgs reference;
  std::string format = "csv";  // csv, kml or gpx
  std::string output;          // empty: stdout
  int gpsWeek = -1;
};
// One epoch of the GPB file: its GPS week (-1 unknown) and time, its position (geodetic,
// WGS84) with east/north/up from the reference, and its satellites.
struct PositionRow {
  int32_t week = -1;
  double tow_s = 0.0;
  bool valid = false;  // the epoch holds a position
  double lat_deg = 0.0, lon_deg = 0.0, height_m = 0.0;
  double enu_m[3] = {0.0, 0.0, 0.0};  // with a reference
  int satellites = 0;
};
struct PositionsResult {
  int status = 0;        // 1 no epoch holds a position, 2 refused, unreadable or damaged
  bool opened = false;   // the reference usable and the file opened: rows to give
  std::string error;     // why the rows are none or end early, or hold no position
  std::string weekNote;  // a week chosen in doubt or not found
  bool haveReference = false;
  std::vector<PositionRow> rows;
};
[[nodiscard]] PositionsResult Positions(const PositionsArgs& args);
// The result's text in args.format: a CSV header and a row per epoch, or a KML or GPX track.
std::vector<std::string> PositionsLines(const PositionsResult& result, const PositionsArgs& args);
int RunPositions(const PositionsArgs& args);

struct ImportRinexArgs {
  std::string observation;  // RINEX 2 observation file
  std::string navigation;   // RINEX 2 GPS navigation file
  std::string outputDir;
  std::string receiver;                  // empty: from the RINEX header
  std::string site;                      // empty: the marker name
  std::string headerPosition = "rinex";  // rinex, zeros or a distance in metres
  bool force = false;                    // replace files already in outputDir
};
struct ImportRinexResult {
  int status = 0;                        // 2 on any failure
  std::string error;                     // with the file and line
  talverin::RinexImportSummary summary;  // the files written and what they hold
  std::string warning;                   // the navigation file far from the observations
};
[[nodiscard]] ImportRinexResult ImportRinexSet(const ImportRinexArgs& args);
int RunImportRinex(const ImportRinexArgs& args);
extern const char kImportRinexHelp[];

// Editing, alike in `rinex` and `qc`: --start, --end ("YYYY-MM-DDTHH:MM:SS", GPS time),
// --interval (s), --splice.
struct EditArgs {
  std::string start, end;
  double interval_s = 0.0;
  bool splice = false;  // one file pair (one report) per site and day from all the sets
};

struct RinexArgs {
  SetBatchArgs sets;     // without -o; --gps-week: the full week of the first epoch
  int rinexVersion = 2;  // 2 (2.11) or 3 (3.04)
  // Header metadata given on the command line (over the site table, over the set's own).
  talverin::RinexMetadata metadata;
  std::string antennaDelta;  // --antenna-delta "H[,E,N]"; empty: not given
  std::string siteTable;     // --site-table FILE
  int monument = 0;          // --monument: version 3 long name's monument digit (0-9)
  int receiverIndex = 0;     // --receiver-index: its receiver digit (0-9)
  EditArgs edit;
};
[[nodiscard]] BatchResult Rinex(const RinexArgs& args);
int RunRinex(const RinexArgs& args);
extern const char kRinexHelp[];

struct QcArgs {
  SetBatchArgs sets;        // -o: the report's path (one set); -d: the reports and the index
  ReferenceArgs reference;  // as for stats; none given: against the mean
  double mask_deg = 10.0;   // --mask: elevation mask of the figures above it
  EditArgs edit;            // the window, decimation and splicing of the figures
};
struct QcResult {
  BatchResult batch;
  std::string index;  // the index page written for several sets
};
[[nodiscard]] QcResult Qc(const QcArgs& args);
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
// The default output path: the input's directory and name with the extension .gpb, a numeric
// extension (the day of year) kept after an underscore: BBAHRA04.162 -> BBAHRA04_162.gpb.
std::string DefaultOutputPath(const std::string& input);

}  // namespace talverin_cli
