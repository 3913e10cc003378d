// Runs one subcommand over many download sets: each set in a child process of its own
// (the module's state is module-wide, so one process never holds two conversions), up to
// N at once. Each child returns a result record (exit status, one summary line, JSON
// members) through a pipe; the parent collects them in the order of the sets, writes the
// JSON summary file and returns them with the worst status; PrintBatch then gives one line
// per set on stdout. SIGINT, SIGTERM and SIGHUP (to the parent or to the whole process group)
// are caught from RunBatch on, in the parent and the children: they are passed on to the
// running children, start no further set, and let each child end its set as its runner
// decides (outputs put in place all together before the signal, or not at all); the batch then
// exits 1 at least and says which sets finished. A closed stdout stops the printing, never the
// work. Generic over
// the subcommand: the caller gives the function that handles one set. POSIX (fork, pipes,
// poll).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "cli/stop_signals.h"

namespace talverin_cli {

// Exit statuses of every subcommand.
constexpr int kExitOk = 0;
constexpr int kExitIncomplete = 1;  // stopped by the user, refused, or nothing to show
constexpr int kExitFailed = 2;      // usage error, unreadable input, failed set

struct SetResult {
  int status = kExitFailed;  // kExitOk, kExitIncomplete or kExitFailed
  std::string summary;       // one line, without the set's name
  std::string json;          // members of the set's JSON object, without braces
  std::string data;          // for the caller of RunBatch: neither printed nor in the JSON
  bool stopped = false;      // a stop signal came before the set's outputs were put in place
};

struct SetContext {
  size_t index = 0;   // of the set in the batch
  size_t count = 1;   // sets in the batch
  std::string label;  // "NAME: " to put before the set's messages when count > 1
};

using SetRunner = std::function<SetResult(const std::string& set, const SetContext& context)>;

struct BatchOptions {
  int jobs = 1;          // children at once, at least 1
  std::string jsonPath;  // empty: no JSON file
  std::string command;   // the JSON's "command" member, e.g. "convert"
};

// What a batch gave: every set's result in the order of the sets.
struct BatchResult {
  int status = kExitOk;             // the worst set's; kExitFailed when no set ran or the
                                    // JSON file was not written
  std::vector<std::string> sets;    // as named
  std::vector<SetResult> results;   // of every set (those not started say so); none when no
                                    // set ran
  std::vector<std::string> errors;  // lines for stderr, each naming its command: why no set
                                    // ran, or what failed after the sets
  std::string command;              // as in BatchOptions
  bool stopped = false;             // a stop signal came while the sets ran
};

// Runs every set (the runner in the child process) and, with a jsonPath, writes
// {"command", "status", "sets": [{"input", "status", ...members}]} through SafeOutputs
// (never over an input). Prints nothing itself.
[[nodiscard]] BatchResult RunBatch(const std::vector<std::string>& sets,
                                   const BatchOptions& options, const SetRunner& runner);
// A result of no set run: status kExitFailed and the error line "talverin COMMAND: text".
BatchResult BatchRefused(const std::string& command, const std::string& text);
// The lines of a batch for stdout: "SET: summary" for each set; with several sets a count
// of the sets by status.
std::vector<std::string> BatchLines(const BatchResult& batch);
// BatchLines on stdout, then the errors on stderr. The batch's status (WithLateStop).
int PrintBatch(const BatchResult& batch);
// After a batch's lines: a stop signal that came after its sets ran (while its lines were
// printed) is said on stderr, every set having finished, and makes the status at least 1.
int WithLateStop(const BatchResult& batch, int status);

// For outputs whose names a set learns only while it runs (RINEX names come from the
// epochs): claims the paths for this set before it writes them. False, naming the set that
// holds it, when another set of the batch has claimed one of them; nothing is claimed then.
// Inside a runner of RunBatch only (the claims live in a file the batch's processes share,
// locked while it is read and extended); elsewhere every claim succeeds.
bool ClaimOutputs(const std::vector<std::string>& paths, const std::string& set,
                  std::string* error);

// The summary file of a subcommand over sets: {"command", "status", "sets": [objects]},
// setObjects being the sets' JSON objects joined with commas. Written to the first output of
// a prepared SafeOutputs and committed; false with the reason when that fails.
class SafeOutputs;
bool WriteSummaryJson(SafeOutputs* output, const std::string& command, int status,
                      const std::string& setObjects, std::string* error);

// Writes a line to stdout; after the first failed write (closed pipe, full disk) it writes
// nothing more and returns false.
bool PrintLine(const std::string& line);

// Sets SIGPIPE to be ignored, so that a closed stdout or pipe gives an error, not death.
void IgnoreBrokenPipes();

}  // namespace talverin_cli
