// What `convert`, `rinex` and `qc` do before their sets run, in one place: the receiver type
// named, the sets the arguments name (files, folders, --recursive), -o for one set only, -d
// made when missing, no two sets writing one output, and the batch runner's options (--jobs,
// --json). A usage error is one message on stderr naming the command; the caller exits 2.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "cli/batch.h"

namespace talverin_cli {

struct SetBatchRequest {
  const char* command = "";         // "convert", "rinex", "qc"
  std::vector<std::string> inputs;  // B files and folders
  bool recursive = false;
  std::string receiver = "auto";  // auto, ca, dual, l2-codeless, glonass, or 0-4
  std::string output;             // -o: the output of the one set given
  std::string outputDir;          // -d: made when missing
  int jobs = 1;
  std::string json;  // --json FILE
  // The path a set writes (its first output), from the set, -o and -d; empty when the names
  // are learnt only while the set runs (those are claimed then: ClaimOutputs).
  std::function<std::string(const std::string& set)> outputOf;
  const char* outputKind = "output";  // in messages: "output", "report"
};

struct SetBatch {
  std::vector<std::string> sets;
  std::vector<std::string> outputs;  // outputOf of each set, when given
  int receiverType = 0;              // 0 detect, 1-4 fixed
  BatchOptions batch;
};

// False after a message on stderr: unknown receiver, -o with -d, no B file in a folder, -o
// for several sets, two sets with one output, -d not a folder that can be made.
bool PlanSetBatch(const SetBatchRequest& request, SetBatch* plan);

}  // namespace talverin_cli
