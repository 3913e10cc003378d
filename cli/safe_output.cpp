#include "cli/safe_output.h"

#ifndef _WIN32
#include <fcntl.h>
#endif

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "base/native_path.h"
#include "cli/stop_signals.h"
#include "dataset/file_system.h"

namespace fs = std::filesystem;

namespace talverin_cli {
namespace {

std::string DirectoryOf(const std::string& path) {
  const fs::path parent = talverin::NativePath(path).parent_path();
  return parent.empty() ? "." : parent.string();
}

// Puts the temporary in place of the final file: exchanged with it where the system can (the
// old file then waits under the temporary's name), else the old file is first moved aside into
// the temporary folder and the new one moved in, so that the old file survives until Discard
// and a later failure can put it back. kExchanged, kMovedAside, kMoved (no old file), or 0 with
// the reason in error; on 0 nothing has changed.
constexpr int kExchanged = 1;
constexpr int kMovedAside = 2;
constexpr int kMoved = 3;
std::string AsidePath(const std::string& temporary) { return temporary + ".old"; }

int Swap(const std::string& temporary, const std::string& final, std::string* error) {
#ifdef RENAME_EXCHANGE
  if (renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, final.c_str(), RENAME_EXCHANGE) == 0) {
    return kExchanged;
  }
#endif
  std::error_code ec;
  const bool hadOld = fs::exists(talverin::NativePath(final), ec);
  if (hadOld && !talverin::MoveReplacing(final, AsidePath(temporary), error)) {
    std::string held;  // name the output another program holds, not the aside name
    if (!talverin::CanReplaceFile(final, &held)) *error = held;
    return 0;
  }
  if (!talverin::MoveReplacing(temporary, final, error)) {
    std::string ignored;
    if (hadOld && !talverin::MoveReplacing(AsidePath(temporary), final, &ignored)) ignored.clear();
    return 0;
  }
  return hadOld ? kMovedAside : kMoved;
}

// Undoes a Swap after a later output could not be put in place: the old file, exchanged or moved
// aside, goes back over the new one; a new file without an old one goes back to being a
// temporary (best effort: nothing is left to try when the system refuses a move back).
void Unswap(const std::string& temporary, const std::string& final, int swapped) {
  std::string ignored;
#ifdef RENAME_EXCHANGE
  if (swapped == kExchanged) {
    renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, final.c_str(), RENAME_EXCHANGE);
  }
#endif
  if (swapped == kMovedAside && !talverin::MoveReplacing(AsidePath(temporary), final, &ignored)) {
    ignored.clear();
  }
  if (swapped == kMoved && !talverin::MoveReplacing(final, temporary, &ignored)) ignored.clear();
}

}  // namespace

std::string PartialPath(const std::string& finalPath) {
  fs::path path = talverin::NativePath(finalPath);
  const std::string extension = talverin::NativeText(path.extension());
  path.replace_extension();
  return talverin::NativeText(path) + ".partial" + extension;
}

SafeOutputs::~SafeOutputs() { Discard(); }

bool SafeOutputs::Prepare(const std::vector<std::string>& outputs,
                          const std::vector<std::string>& inputs, std::string* error) {
  Discard();
  for (size_t i = 0; i < outputs.size(); ++i) {
    const std::string& out = outputs[i];
    for (const std::string& in : inputs) {
      if (SameFile(out, in)) {
        *error = "output " + out + " is the input " + in + "; refusing to overwrite an input";
        return false;
      }
    }
    for (size_t j = 0; j < i; ++j) {
      if (SameFile(out, outputs[j])) {
        *error = "outputs " + outputs[j] + " and " + out + " are the same file";
        return false;
      }
    }
    std::error_code ec;
    if (fs::is_directory(talverin::NativePath(out), ec)) {
      *error = "output " + out + " is a directory";
      return false;
    }
    if (fs::exists(talverin::NativePath(out), ec) &&
        (!fs::is_regular_file(talverin::NativePath(out), ec) || !talverin::IsWritableFile(out))) {
      *error = "output " + out + " exists and is not a writable regular file";
      return false;
    }
  }
  inputs_ = inputs;
  for (const std::string& out : outputs) {
    // A symbolic link is replaced through: the file it names is the output.
    std::error_code ec;
    const std::string final =
        fs::is_symlink(talverin::NativePath(out), ec)
            ? talverin::NativeText(fs::canonical(talverin::NativePath(out), ec))
            : out;
    const std::string directory = DirectoryOf(final);
    std::string folder;
    for (size_t k = 0; k < finals_.size(); ++k) {
      if (DirectoryOf(finals_[k]) == directory)
        folder = talverin::NativeText(talverin::NativePath(temporaries_[k]).parent_path());
    }
    if (folder.empty()) {
      std::string why;
      folder = talverin::MakeUniqueFolder(directory, ".talverin-", &why);
      if (folder.empty()) {
        *error = "cannot write in " + directory + ": " + why;
        Discard();
        return false;
      }
      folders_.push_back(folder);
    }
    finals_.push_back(final);
    temporaries_.push_back(talverin::NativeText(talverin::NativePath(folder) /
                                                talverin::NativePath(final).filename()));
    done_.push_back(false);
  }
  return true;
}

bool SafeOutputs::Commit(std::string* error, bool afterStop) {
  // Held, so that a stop signal falls before the first rename or after the last.
  const HeldStopSignals held;
  if (StopRequested() && !afterStop) {
    *error = "stopped by a signal before its outputs were put in place";
    return false;
  }
  for (size_t i = 0; i < finals_.size(); ++i) {
    std::error_code ec;
    if (!fs::is_regular_file(talverin::NativePath(temporaries_[i]), ec)) {
      *error = finals_[i] + " was not written";
      return false;
    }
  }
  for (size_t i = 0; i < finals_.size(); ++i) {
    if (!talverin::CanReplaceFile(finals_[i], error)) return false;
  }
  // The first output (the one a set is known by) goes last: while it is old, the set is.
  std::vector<int> swaps(finals_.size(), 0);
  for (size_t i = finals_.size(); i-- > 0;) {
    swaps[i] = Swap(temporaries_[i], finals_[i], error);
    if (swaps[i] == 0) {
      for (size_t k = i + 1; k < finals_.size(); ++k) Unswap(temporaries_[k], finals_[k], swaps[k]);
      return false;
    }
  }
  Discard();
  return true;
}

std::vector<std::string> SafeOutputs::KeepPartial() {
  std::vector<std::string> kept;
  for (size_t i = 0; i < finals_.size(); ++i) {
    if (done_[i]) continue;
    std::error_code ec;
    const std::string partial = PartialPath(finals_[i]);
    std::string why;  // a partial file that cannot be kept is removed with the folder
    bool isInput = false;
    for (const std::string& in : inputs_) isInput = isInput || SameFile(partial, in);
    if (fs::is_regular_file(talverin::NativePath(temporaries_[i]), ec) &&
        fs::file_size(talverin::NativePath(temporaries_[i]), ec) > 0 && !isInput &&
        talverin::MoveReplacing(temporaries_[i], partial, &why)) {
      kept.push_back(partial);
      done_[i] = true;
    }
  }
  Discard();
  return kept;
}

void SafeOutputs::Discard() {
  for (const std::string& folder : folders_) {
    std::error_code ec;
    talverin::RemoveFolder(folder);
  }
  finals_.clear();
  temporaries_.clear();
  folders_.clear();
  inputs_.clear();
  done_.clear();
}

}  // namespace talverin_cli
