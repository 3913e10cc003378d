#include "cli/set_batch.h"

#include <filesystem>

#include "cli/commands.h"
#include "cli/safe_output.h"

namespace talverin_cli {
namespace {

namespace fs = std::filesystem;

bool Refuse(std::string* error, const std::string& text) {
  *error = text;
  return false;
}

// Each set's output, refusing two sets that would write one file.
bool PlanOutputs(const SetOutputNaming& naming, SetBatch* plan, std::string* error) {
  if (!naming.outputOf) return true;
  for (const std::string& set : plan->sets) {
    const std::string output = naming.outputOf(set);
    for (size_t i = 0; i < plan->outputs.size(); ++i) {
      if (SameFile(plan->outputs[i], output)) {
        return Refuse(error, plan->sets[i] + " and " + set + " would both write " + output +
                                 "; give them in separate runs with different -d folders");
      }
    }
    plan->outputs.push_back(output);
  }
  return true;
}

}  // namespace

int ResolveReceiverType(const SetBatchArgs& args, std::string* error) {
  const int type = ReceiverTypeFromName(args.receiver);
  if (type < 0) {
    *error = "unknown receiver type '" + args.receiver +
             "' (auto, ca, dual, l2-codeless, glonass or 0-4)";
  }
  return type;
}

bool PlanSetBatch(const char* command, const SetBatchArgs& args, const SetOutputNaming& naming,
                  SetBatch* plan, std::string* error) {
  *plan = SetBatch();
  plan->receiverType = ResolveReceiverType(args, error);
  if (plan->receiverType < 0) return false;
  if (!args.output.empty() && !args.outputDir.empty()) {
    return Refuse(error, "-o and -d exclude each other");
  }
  if (!ExpandInputs(args.inputs, args.recursive, &plan->sets, error)) return false;
  if (!args.output.empty() && plan->sets.size() != 1) {
    return Refuse(error, std::string("-o names the ") + naming.kind + " of one set, but " +
                             std::to_string(plan->sets.size()) +
                             " sets were given; use -d DIR for several");
  }
  if (!PlanOutputs(naming, plan, error)) return false;
  if (!args.outputDir.empty()) {
    std::error_code ec;
    fs::create_directories(args.outputDir, ec);
    if (!fs::is_directory(args.outputDir, ec)) {
      return Refuse(error, "-d " + args.outputDir + " is not a folder that can be made");
    }
  }
  plan->batch.jobs = args.jobs;
  plan->batch.jsonPath = args.json;
  plan->batch.command = command;
  return true;
}

}  // namespace talverin_cli
