// Test helpers: a scratch directory removed after the test, and a conversion run through
// the exported functions that records every message and progress call.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "plugin/talverin.h"

namespace talverin {

// Values a corrupt file can hold.
inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
inline constexpr double kInf = std::numeric_limits<double>::infinity();

namespace testing_support {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// While it lives, no file of this process can grow beyond limitBytes: a write past it
// fails with EFBIG (SIGXFSZ is ignored meanwhile), as on a full device.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(uint64_t limitBytes);
  ~FileSizeLimit();
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;
  bool active() const { return active_; }
  void Lift();  // ends the limit before the object does

 private:
  bool active_ = false;
  uint64_t previousSoft_ = 0;
  void (*previousHandler_)(int) = nullptr;
};

struct Message {
  double time;
  std::string text;
};

struct ConversionRun {
  int32_t result = 0;
  ConvertRequest request{};
  std::vector<Message> messages;
  std::vector<std::pair<int32_t, int32_t>> progress;
  std::string errorText;  // GetErrString after the call

  int CountMessages(const std::string& prefix) const;  // messages that start with prefix
};

// Options start from SetFactoryDefaults; adjust them in setOptions. onMessage, if given,
// runs inside the message callback. (Null callbacks: the RINEX import's real-set round trip.)
ConversionRun RunConversion(const std::string& input, const std::string& output,
                            const std::function<void(ConvertOptions&)>& setOptions = {},
                            const std::function<void(const Message&)>& onMessage = {});

// A program run from outside, as a user's shell would: its exit status (the negated signal
// number when a signal ended it), stdout and stderr.
struct ProgramRun {
  int status = -1;
  std::string out;
  std::string err;
};
struct ProgramHooks {
  bool closedStdout = false;  // stdout is a pipe whose reading end is already closed
  int timeout_s = 60;         // then the child is killed (status -9)
  // When set, the child runs in a process group of its own (as a terminal's job does) with
  // its stdout a pipe filled up before it starts, and started gets its pid before anything
  // is read: the child blocks on its first write until started returns, so that a signal
  // sent there finds it running, however busy the machine.
  std::function<void(int pid)> started;
};
ProgramRun RunProgram(const std::vector<std::string>& argv, const ProgramHooks& hooks = {});

// Several values of one record checked at once, each named by its expression:
//   EXPECT_FIELDS(FIELD_IS(r.flags, 3), FIELD_IS(r.lat, -33.5));
// A failure names the field with both values. They compare as doubles: exact for integers up
// to 2^53 and for floats.
struct NamedValue {
  const char* name;
  double got, want;
};
inline NamedValue Named(const char* name, double got, double want) { return {name, got, want}; }
#define FIELD_IS(got, want) ::talverin::testing_support::Named(#got, got, want)
#define EXPECT_FIELDS(...)                                                          \
  for (const auto& named_value_ :                                                   \
       std::initializer_list<::talverin::testing_support::NamedValue>{__VA_ARGS__}) \
  EXPECT_EQ(named_value_.got, named_value_.want) << named_value_.name

// Skips a test of the command-line program in a build without it (TALVERIN_TOOLS=OFF).
#define TALVERIN_SKIP_WITHOUT_CLI()           \
  if (std::string(TALVERIN_CLI_PATH).empty()) \
  GTEST_SKIP() << "this build has no command-line program (TALVERIN_TOOLS=OFF)"

}  // namespace testing_support
}  // namespace talverin
