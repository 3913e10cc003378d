// What `convert`, `rinex` and `qc` share before their sets run, in one place: the options
// they take alike (SetBatchArgs), and the plan made from them: the receiver type named, the
// sets the arguments name (files, folders, --recursive), the part of them --shard K/N takes,
// -o for one set only, -d made when missing, no two sets writing one output, and the batch
// runner's options (--jobs, --json); --update's test of a set's outputs against its inputs.
// A usage error is one message for the caller to print; the command exits 2.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "cli/batch.h"
#include "dataset/set_scan.h"

namespace talverin_cli {

// The options of a command over download sets (info takes the first five and --shard).
struct SetBatchArgs {
  std::vector<std::string> inputs;  // B files and folders
  bool recursive = false;           // folders' subfolders too
  std::string receiver = "auto";    // auto, ca, dual, l2-codeless, glonass, or 0-4
  std::string json;                 // --json FILE: every set's summary
  int gpsWeek = -1;                 // --gps-week; -1: resolved for each set
  std::string output;               // -o: the output of the one set given
  std::string outputDir;            // -d: made when missing; empty: beside each input
  int jobs = 1;                     // sets at once, each in its own process
  std::string shard;                // --shard K/N: the K-th of N parts; empty: every set
  bool update = false;              // --update: a set whose outputs are up to date is skipped
};

// The B files that the arguments name: a file as it stands (also when missing, for its set
// to report), a folder as every file in it whose name starts with B or b and ends in a
// numeric extension, sorted by name; with recursive, its subfolders too (hidden ones are
// skipped). A set named twice (a folder and one of its files) is taken once. keys gets each
// set's path relative to the folder that named it (a file named on its own: its file name),
// the same wherever the folder is mounted. False with the reason when a folder holds no B
// file.
bool ExpandInputs(const std::vector<std::string>& arguments, bool recursive,
                  std::vector<std::string>* sets, std::string* error,
                  std::vector<std::string>* keys);

// The K-th of N parts of a batch (1 <= K <= N); 1/1 is the whole batch.
struct Shard {
  int part = 1;   // K
  int parts = 1;  // N
};
// "K/N" as a shard; false with the reason when it is none.
[[nodiscard]] bool ParseShard(const std::string& text, Shard* shard, std::string* error);
// Whether the set of this key (ExpandInputs' keys: its path relative to the folder that named
// it) falls in the shard: FNV-1a 64 of the key, modulo N, is K - 1. The same on every machine
// and mount point; the N parts are disjoint and together the whole batch.
bool InShard(const Shard& shard, const std::string& key);
// The sets the arguments name, cut to the shard of --shard; note gets EmptyShardText when
// the shard holds none. False with the reason (a folder without a B file, a --shard that is
// not K/N).
[[nodiscard]] bool SelectSets(const SetBatchArgs& args, std::vector<std::string>* sets,
                              std::string* note, std::string* error);

// How a command names each set's output.
struct SetOutputNaming {
  // The path a set writes (its first output); none when the names are learnt only while
  // the set runs (those are claimed then: ClaimOutputs).
  std::function<std::string(const std::string& set)> outputOf;
  const char* kind = "output";  // in messages: "output", "report"
  // The command takes its shard itself, of groups of sets (rinex --splice: the site-days);
  // the plan keeps every set.
  bool shardsGroups = false;
};

struct SetBatch {
  std::vector<std::string> sets;     // of the shard
  std::vector<std::string> keys;     // of each set: what the shard is taken by
  std::vector<std::string> outputs;  // outputOf of each set, when given
  Shard shard;
  size_t named = 0;      // sets the arguments name, before the shard
  int receiverType = 0;  // 0 detect, 1-4 fixed
  BatchOptions batch;
};

// The receiver type word of args.receiver (0 detect, 1-4 fixed); -1 with the reason when
// it names none.
int ResolveReceiverType(const SetBatchArgs& args, std::string* error);

// False with the reason: unknown receiver, -o with -d, no B file in a folder, -o for several
// sets, two sets with one output, -d not a folder that can be made.
[[nodiscard]] bool PlanSetBatch(const char* command, const SetBatchArgs& args,
                                const SetOutputNaming& naming, SetBatch* plan, std::string* error);

// False with the reason when --gps-week (>= 0) contradicts a set's file name and ephemerides
// by more than a week (dataset/session_week.h): the run is refused before any set runs.
[[nodiscard]] bool CheckGpsWeek(int gpsWeek, const std::vector<std::string>& sets,
                                std::string* error);

// What a shard that holds none of the named sets tells on stderr ("shard 2/3 holds none of
// the 5 sets named; nothing to do"); it is no error.
std::string EmptyShardText(const Shard& shard, size_t named);
// After RunBatch: a batch that ran no set because its shard is empty says so in its errors.
BatchResult NoteEmptyShard(const SetBatch& plan, BatchResult batch);

// --update: whether every output exists and is newer than every file of the set (B, E, S, D
// that exist), as make judges a target; the result of a set so skipped: "up to date", 0.
bool OutputsUpToDate(const std::string& bPath, const std::vector<std::string>& outputs);
SetResult UpToDate();
extern const char kUpToDate[];

// Whether a scanned set is cut short: the B file ends inside an epoch, or its last damaged
// stretch runs to the end of the file (bBytes long). convert, info, rinex and qc all ask here.
bool SetCutShort(const talverin::SetScan& scan, int64_t bBytes);
// What a scanned set lost, counted: the cut, the damage before it, a missing E file.
struct SetLoss {
  int64_t cutAfterEpochs = -1;  // epochs read before the cut; -1 when not cut short
  int64_t skippedBytes = 0;     // damage before the cut
  int64_t skippedPlaces = 0;
  char firstFile = 0;  // 'B' or 'E': where the first damaged stretch lies (0 none)
  int64_t firstOffset = 0;
  std::string missingEphemerisFile;  // the E file's path when it does not exist
  // In the words every command uses: "cut short after N epochs", "damaged: B bytes skipped
  // in M places, the first in the B file at byte X", "no ephemerides: no E file PATH",
  // joined by "; "; empty when the set was read whole.
  std::string text;
};
SetLoss ScanLossOf(const talverin::SetScan& scan, const std::string& bPath);
// ScanLossOf(scan, bPath).text.
std::string SetLossText(const talverin::SetScan& scan, const std::string& bPath);
// SetLossText of the set of a B file, scanned with the receiver type word and GPS week given;
// readable, when given, says whether its B file reads as a download set at all.
std::string ScanSetLoss(const std::string& bPath, int receiverType, int gpsWeek,
                        bool* readable = nullptr);

}  // namespace talverin_cli
