// Output files written so that a failure never costs a good file: outputs that are the same
// file as an input or as each other are refused before anything is written; everything is
// written under the final file names inside a new hidden folder in each output's directory
// (same file system, so the final rename is atomic per file); the temporaries replace the
// final files only when the whole job succeeded, all of them or none. After a failure or an
// abort what was written is kept as NAME.partial.EXT beside the final name, which stays
// untouched. Used by every subcommand that writes files, on POSIX and Windows
// (dataset/file_system.h).
#pragma once

#include <string>
#include <vector>

#include "base/file_identity.h"

namespace talverin_cli {

// Whether two paths name one file, as the module judges it (base/file_identity.h).
inline bool SameFile(const std::string& a, const std::string& b) {
  return talverin::SameFile(a.c_str(), b.c_str());
}

// "dir/NAME.partial.ext" for "dir/NAME.ext"; "dir/NAME.partial" when there is no extension.
std::string PartialPath(const std::string& finalPath);

class SafeOutputs {
 public:
  SafeOutputs() = default;
  ~SafeOutputs();  // discards the temporaries still held
  SafeOutputs(const SafeOutputs&) = delete;
  SafeOutputs& operator=(const SafeOutputs&) = delete;

  // Refuses (false, the reason naming both paths in error) an output that is the same file
  // as an input or as another output, is a directory, or is an existing file this process
  // may not replace; else makes the temporary folders. Nothing is created on refusal.
  bool Prepare(const std::vector<std::string>& outputs, const std::vector<std::string>& inputs,
               std::string* error);

  // The path to write in place of the i-th output: its file name in the temporary folder.
  const std::string& TemporaryPath(size_t i) const { return temporaries_.at(i); }
  const std::string& FinalPath(size_t i) const { return finals_.at(i); }
  size_t size() const { return finals_.size(); }

  // Puts every temporary in place of its final name, all or none: the stop signals are held
  // meanwhile, and when one output cannot be put in place those already in place are put back
  // as they were (the temporaries are then still held). False with the reason then, when a
  // temporary is missing, or when a stop signal has come before (unless afterStop: a batch's
  // summary of what it did).
  bool Commit(std::string* error, bool afterStop = false);

  // After a failure or abort: each temporary that holds bytes becomes PartialPath(final)
  // (replacing an older partial file), the empty ones are removed. Returns the kept paths.
  std::vector<std::string> KeepPartial();

  // Removes the temporaries and their folders.
  void Discard();

 private:
  std::vector<std::string> finals_;
  std::vector<std::string> temporaries_;
  std::vector<std::string> folders_;
  std::vector<std::string> inputs_;
  std::vector<bool> done_;
};

}  // namespace talverin_cli
