#include "cli/set_batch.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cwctype>
#include <filesystem>
#include <map>
#include <set>

#include "base/native_path.h"
#include "cli/commands.h"
#include "cli/safe_output.h"
#include "dataset/json_writer.h"

namespace talverin_cli {
namespace {

namespace fs = std::filesystem;

bool Refuse(std::string* error, const std::string& text) {
  *error = text;
  return false;
}

// What SameFile compares, as one text per path, so that the paths of a batch of thousands of
// sets are compared through a map instead of in pairs: an existing file's device and inode
// (links followed), else its absolute path with the links of its existing part resolved and
// the rest lexically normal.
std::string FileIdentity(const std::string& path) {
#ifndef _WIN32
  struct stat s {};
  if (stat(path.c_str(), &s) == 0) {
    return "i" + std::to_string(s.st_dev) + ":" + std::to_string(s.st_ino);
  }
#endif
  std::error_code ec;
  const fs::path absolute = fs::absolute(talverin::NativePath(path), ec);
  if (ec) return "p" + path;
  const fs::path resolved = fs::weakly_canonical(absolute, ec);
  const fs::path normal = ec ? absolute.lexically_normal() : resolved;
#ifdef _WIN32
  // No inode numbers there, and file names compare without regard to case.
  std::wstring text = normal.wstring();
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return "p" + fs::path(text).u8string();
#else
  return "p" + normal.string();
#endif
}

// Each set's output, refusing two sets that would write one file.
bool PlanOutputs(const SetOutputNaming& naming, SetBatch* plan, std::string* error) {
  if (!naming.outputOf) return true;
  std::map<std::string, size_t> writer;  // FileIdentity of an output -> its set
  for (const std::string& set : plan->sets) {
    const std::string output = naming.outputOf(set);
    const auto first = writer.emplace(FileIdentity(output), plan->outputs.size());
    if (!first.second) {
      return Refuse(error, plan->sets[first.first->second] + " and " + set + " would both write " +
                               output + "; give them in separate runs with different -d folders");
    }
    plan->outputs.push_back(output);
  }
  return true;
}

bool IsSetFileName(const std::string& name) {
  if (name.empty() || (name[0] != 'B' && name[0] != 'b')) return false;
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0 || dot + 1 == name.size()) return false;
  return std::all_of(name.begin() + static_cast<long>(dot) + 1, name.end(),
                     [](char c) { return c >= '0' && c <= '9'; });
}

// The B files of a folder (with recursive, of its subfolders too, hidden ones skipped),
// sorted by name.
std::vector<std::string> FolderSets(const std::string& folder, bool recursive) {
  std::vector<std::string> found;
  const auto take = [&](const fs::directory_entry& entry) {
    std::error_code e;
    if (entry.is_regular_file(e) && IsSetFileName(talverin::NativeText(entry.path().filename()))) {
      found.push_back(talverin::NativeText(entry.path()));
    }
  };
  std::error_code ec;
  if (recursive) {
    fs::recursive_directory_iterator it(talverin::NativePath(folder),
                                        fs::directory_options::skip_permission_denied, ec);
    for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
      const std::string name = talverin::NativeText(it->path().filename());
      if (it->is_directory(ec) && !name.empty() && name[0] == '.') {
        it.disable_recursion_pending();
        continue;
      }
      take(*it);
    }
  } else {
    for (fs::directory_iterator it(talverin::NativePath(folder), ec);
         !ec && it != fs::directory_iterator(); it.increment(ec)) {
      take(*it);
    }
  }
  std::sort(found.begin(), found.end());
  return found;
}

// FNV-1a, 64 bits (offset basis and prime of the published algorithm).
uint64_t Fnv1a64(const std::string& text) {
  uint64_t hash = 14695981039346656037ull;
  for (const char c : text) {
    hash ^= static_cast<uint8_t>(c);
    hash *= 1099511628211ull;
  }
  return hash;
}

// A whole number of at most six digits (a shard's K or N); -1 when text is none.
int SmallNumber(const std::string& text) {
  if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != text.npos)
    return -1;
  return std::atoi(text.c_str());
}

// Keeps the entries of the shard in keys and in each list as long as keys (the lists first).
void KeepShard(const Shard& shard, std::vector<std::string>* keys,
               const std::vector<std::vector<std::string>*>& lists) {
  size_t kept = 0;
  for (size_t i = 0; i < keys->size(); ++i) {
    if (!InShard(shard, (*keys)[i])) continue;
    for (std::vector<std::string>* list : lists) {
      if (list->size() == keys->size()) (*list)[kept] = (*list)[i];
    }
    (*keys)[kept++] = (*keys)[i];
  }
  for (std::vector<std::string>* list : lists) {
    if (list->size() == keys->size()) list->resize(kept);
  }
  keys->resize(kept);
}

}  // namespace

const char kUpToDate[] = "up to date";

bool ExpandInputs(const std::vector<std::string>& arguments, bool recursive,
                  std::vector<std::string>* sets, std::string* error,
                  std::vector<std::string>* keys) {
  std::set<std::string> taken;  // FileIdentity of the sets so far
  for (const std::string& argument : arguments) {
    std::error_code ec;
    const bool folder = fs::is_directory(talverin::NativePath(argument), ec);
    const std::vector<std::string> found =
        folder ? FolderSets(argument, recursive) : std::vector<std::string>{argument};
    if (found.empty()) {
      return Refuse(error, "no B files (B..., numeric extension) in " + argument +
                               (recursive ? " or its subfolders" : ""));
    }
    for (const std::string& set : found) {
      if (!taken.insert(FileIdentity(set)).second) continue;
      sets->push_back(set);
      const fs::path key =
          folder ? talverin::NativePath(set).lexically_relative(talverin::NativePath(argument))
                 : talverin::NativePath(set).filename();
      keys->push_back(talverin::NativeGenericText(key));
    }
  }
  return true;
}

bool ParseShard(const std::string& text, Shard* shard, std::string* error) {
  const size_t slash = text.find('/');
  const int part = slash == std::string::npos ? -1 : SmallNumber(text.substr(0, slash));
  const int parts = slash == std::string::npos ? -1 : SmallNumber(text.substr(slash + 1));
  if (part < 0 || parts < 0) {
    return Refuse(error, "--shard " + text + ": give K/N, the K-th of N parts (e.g. 2/8)");
  }
  if (parts == 0 || part == 0 || part > parts) {
    return Refuse(error, "--shard " + text + ": K must be 1 to N and N at least 1 (e.g. 2/8)");
  }
  *shard = Shard{part, parts};
  return true;
}

bool InShard(const Shard& shard, const std::string& key) {
  return Fnv1a64(key) % static_cast<uint64_t>(shard.parts) == static_cast<uint64_t>(shard.part - 1);
}

bool SelectSets(const SetBatchArgs& args, std::vector<std::string>* sets, std::string* note,
                std::string* error) {
  Shard shard;
  std::vector<std::string> keys;
  if (!ParseShard(args.shard.empty() ? "1/1" : args.shard, &shard, error) ||
      !ExpandInputs(args.inputs, args.recursive, sets, error, &keys)) {
    return false;
  }
  const size_t named = sets->size();
  KeepShard(shard, &keys, {sets});
  if (sets->empty()) *note = EmptyShardText(shard, named);
  return true;
}

std::string EmptyShardText(const Shard& shard, size_t named) {
  return "shard " + std::to_string(shard.part) + "/" + std::to_string(shard.parts) +
         " holds none of the " + std::to_string(named) + (named == 1 ? " set" : " sets") +
         " named; nothing to do";
}

BatchResult NoteEmptyShard(const SetBatch& plan, BatchResult batch) {
  if (batch.results.empty() && batch.status == kExitOk) {
    batch.errors.push_back("talverin " + plan.batch.command + ": " +
                           EmptyShardText(plan.shard, plan.named));
  }
  return batch;
}

bool OutputsUpToDate(const std::string& bPath, const std::vector<std::string>& outputs) {
  std::error_code ec;
  fs::file_time_type newestInput = fs::last_write_time(talverin::NativePath(bPath), ec);
  if (ec) return false;  // run the set, to report its B file
  for (const std::string& input : SetInputFiles(bPath)) {
    const fs::file_time_type t = fs::last_write_time(talverin::NativePath(input), ec);
    if (!ec && t > newestInput) newestInput = t;
  }
  for (const std::string& output : outputs) {
    const fs::file_time_type t = fs::last_write_time(talverin::NativePath(output), ec);
    if (ec || !fs::is_regular_file(talverin::NativePath(output), ec) || !(t > newestInput))
      return false;
  }
  return true;
}

SetResult UpToDate() {
  SetResult r;
  r.status = kExitOk;
  r.summary = kUpToDate;
  r.json = talverin::JsonMembers().Text("result", kUpToDate).text();
  return r;
}

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
  if (!ParseShard(args.shard.empty() ? "1/1" : args.shard, &plan->shard, error) ||
      !ExpandInputs(args.inputs, args.recursive, &plan->sets, error, &plan->keys) ||
      !CheckGpsWeek(args.gpsWeek, plan->sets, error)) {
    return false;
  }
  plan->named = plan->sets.size();
  // Checked on the whole batch, so that every shard refuses the same arguments and no two
  // shards write one file.
  if (!args.output.empty() && plan->sets.size() != 1) {
    return Refuse(error, std::string("-o names the ") + naming.kind + " of one set, but " +
                             std::to_string(plan->sets.size()) +
                             " sets were given; use -d DIR for several");
  }
  if (!PlanOutputs(naming, plan, error)) return false;
  if (!naming.shardsGroups) KeepShard(plan->shard, &plan->keys, {&plan->sets, &plan->outputs});
  if (!args.outputDir.empty()) {
    std::error_code ec;
    fs::create_directories(talverin::NativePath(args.outputDir), ec);
    if (!fs::is_directory(talverin::NativePath(args.outputDir), ec)) {
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
  const auto size = fs::file_size(talverin::NativePath(bPath), ec);
  const bool cut = SetCutShort(scan, ec ? 0 : static_cast<int64_t>(size));
  if (cut) {
    loss.cutAfterEpochs = scan.epochs;
    loss.text = "cut short after " + std::to_string(scan.epochs) + " epochs";
  }
  // A cut stretch is the cut itself; only the damage before it is told apart.
  const bool cutStretch = cut && !scan.damage.empty();  // the latest stretch, kept last
  const int64_t places = scan.damagedPlaces - (cutStretch ? 1 : 0);
  if (places > 0) {
    loss.skippedBytes = scan.damagedBytes - (cutStretch ? scan.damage.back().skipped : 0);
    loss.skippedPlaces = places;
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
  options.epochDetails = false;  // the loss needs the epochs' count and damage only
  const talverin::SetScan scan = talverin::ScanDownloadSet(bPath, options);
  if (readable != nullptr) *readable = scan.opened && scan.epochs > 0;
  return SetLossText(scan, bPath);
}

}  // namespace talverin_cli
