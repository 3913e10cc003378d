#include "cli/set_batch.h"

#include <cstdio>
#include <filesystem>

#include "cli/commands.h"
#include "cli/safe_output.h"

namespace talverin_cli {
namespace {

namespace fs = std::filesystem;

bool Refuse(const SetBatchRequest& request, const std::string& text) {
  std::fprintf(stderr, "talverin %s: %s\n", request.command, text.c_str());
  return false;
}

// Each set's output, refusing two sets that would write one file.
bool PlanOutputs(const SetBatchRequest& request, SetBatch* plan) {
  if (!request.outputOf) return true;
  for (const std::string& set : plan->sets) {
    const std::string output = request.outputOf(set);
    for (size_t i = 0; i < plan->outputs.size(); ++i) {
      if (SameFile(plan->outputs[i], output)) {
        return Refuse(request, plan->sets[i] + " and " + set + " would both write " + output +
                                   "; give them in separate runs with different -d folders");
      }
    }
    plan->outputs.push_back(output);
  }
  return true;
}

}  // namespace

bool PlanSetBatch(const SetBatchRequest& request, SetBatch* plan) {
  *plan = SetBatch();
  plan->receiverType = ReceiverTypeFromName(request.receiver);
  if (plan->receiverType < 0) {
    return Refuse(request, "unknown receiver type '" + request.receiver +
                               "' (auto, ca, dual, l2-codeless, glonass or 0-4)");
  }
  if (!request.output.empty() && !request.outputDir.empty()) {
    return Refuse(request, "-o and -d exclude each other");
  }
  std::string error;
  if (!ExpandInputs(request.inputs, request.recursive, &plan->sets, &error)) {
    return Refuse(request, error);
  }
  if (!request.output.empty() && plan->sets.size() != 1) {
    return Refuse(request, std::string("-o names the ") + request.outputKind + " of one set, but " +
                               std::to_string(plan->sets.size()) +
                               " sets were given; use -d DIR for several");
  }
  if (!PlanOutputs(request, plan)) return false;
  if (!request.outputDir.empty()) {
    std::error_code ec;
    fs::create_directories(request.outputDir, ec);
    if (!fs::is_directory(request.outputDir, ec)) {
      return Refuse(request, "-d " + request.outputDir + " is not a folder that can be made");
    }
  }
  plan->batch.jobs = request.jobs;
  plan->batch.jsonPath = request.json;
  plan->batch.command = request.command;
  return true;
}

}  // namespace talverin_cli
