#include "cli/set_batch.h"

#include <algorithm>
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
  if (!CheckGpsWeek(args.gpsWeek, plan->sets, error)) return false;
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

bool CheckGpsWeek(int gpsWeek, const std::vector<std::string>& sets, std::string* error) {
  for (size_t i = 0; gpsWeek >= 0 && i < sets.size(); ++i) {
    const std::string refusal =
        talverin::ResolveSessionWeek(sets[i], SetInputFiles(sets[i])[1], gpsWeek).refusal;
    if (!refusal.empty()) return Refuse(error, sets[i] + ": " + refusal);
  }
  return true;
}

bool SetCutShort(const talverin::SetScan& scan, int64_t bBytes) {
  if (scan.lastEpochCut) return true;
  for (auto d = scan.damage.rbegin(); d != scan.damage.rend(); ++d) {
    if (d->file == 'B') return bBytes > 0 && d->offset + d->skipped >= bBytes;
  }
  return false;
}

SetLoss ScanLossOf(const talverin::SetScan& scan, const std::string& bPath) {
  SetLoss loss;
  std::error_code ec;
  const auto size = fs::file_size(bPath, ec);
  const bool cut = SetCutShort(scan, ec ? 0 : static_cast<int64_t>(size));
  if (cut) {
    loss.cutAfterEpochs = scan.epochs;
    loss.text = "cut short after " + std::to_string(scan.epochs) + " epochs";
  }
  // A cut stretch is the cut itself; only the damage before it is told apart.
  const size_t places = scan.damage.size() - (cut && !scan.damage.empty() ? 1 : 0);
  if (places > 0) {
    for (size_t i = 0; i < places; ++i) loss.skippedBytes += scan.damage[i].skipped;
    loss.skippedPlaces = static_cast<int64_t>(places);
    loss.firstFile = scan.damage[0].file;
    loss.firstOffset = scan.damage[0].offset;
    loss.text += (loss.text.empty() ? "" : "; ") + std::string("damaged: ") +
                 std::to_string(loss.skippedBytes) + " bytes skipped in " + std::to_string(places) +
                 (places == 1 ? " place" : " places") + ", the first in the " + loss.firstFile +
                 " file at byte " + std::to_string(loss.firstOffset);
  }
  // Without ephemerides nothing is recomputed, the navigation file is empty and the report
  // has no elevations: every command's output lacks what the set should have given.
  if (scan.opened && !scan.ephemerisFile) {
    loss.missingEphemerisFile = SetInputFiles(bPath)[1];
    loss.text += (loss.text.empty() ? "" : "; ") + std::string("no ephemerides: no E file ") +
                 loss.missingEphemerisFile;
  }
  return loss;
}

std::string SetLossText(const talverin::SetScan& scan, const std::string& bPath) {
  return ScanLossOf(scan, bPath).text;
}

std::string ScanSetLoss(const std::string& bPath, int receiverType, int gpsWeek, bool* readable) {
  talverin::SetScanOptions options;
  options.receiverType = std::max(0, receiverType);
  options.gpsWeek = gpsWeek;
  const talverin::SetScan scan = talverin::ScanDownloadSet(bPath, options);
  if (readable != nullptr) *readable = scan.opened && scan.epochs > 0;
  return SetLossText(scan, bPath);
}

}  // namespace talverin_cli
