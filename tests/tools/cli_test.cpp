// The command-line host tested from outside: it loads the module, converts the bundled
// sample, reads the GPB file back, and fails loudly on garbage.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "tests/support/test_support.h"
#include "tools/download_set/byte_builder.h"

#ifdef TALVERIN_CLI_PATH

namespace talverin {
namespace {

using testing_support::TempDir;

struct Outcome {
  int status;
  std::string out;
};

// Runs the host with arguments; stdout and stderr together.
Outcome RunCli(const std::string& arguments) {
  const std::string command = std::string(TALVERIN_CLI_PATH) + " " + arguments + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  Outcome outcome{-1, ""};
  if (pipe == nullptr) return outcome;
  char chunk[4096];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) outcome.out.append(chunk, n);
  const int raw = pclose(pipe);
  outcome.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return outcome;
}

TEST(CommandLine, ConvertsTheHeaderOnlySampleAndDumpsIt) {
  TempDir dir;
  const std::string sample = std::string(TALVERIN_SOURCE_DIR) + "/samples/header-only/B0001A01.001";
  const Outcome convert = RunCli("convert " + sample + " " + dir.File("s.gpb"));
  EXPECT_EQ(0, convert.status) << convert.out;
  EXPECT_NE(std::string::npos, convert.out.find("epochs written: 0")) << convert.out;
  EXPECT_EQ("$STAINFO Ver7.00 TALVERIN\n", ReadFileText(dir.File("s.sta")));
  EXPECT_EQ("$EPHREC Ver7.0 TALVERIN Ashtech\n", ReadFileText(dir.File("s.epp")));
  EXPECT_EQ(512u, ReadFileBytes(dir.File("s.gpb")).size());

  const Outcome dump = RunCli("dump " + dir.File("s.gpb"));
  EXPECT_EQ(0, dump.status) << dump.out;
  EXPECT_NE(std::string::npos, dump.out.find("$NEWGPB")) << dump.out;
  EXPECT_NE(std::string::npos, dump.out.find("Z-XII3")) << dump.out;
  EXPECT_NE(std::string::npos, dump.out.find("0 epochs")) << dump.out;
}

TEST(CommandLine, GarbageInputFailsWithAMessage) {
  TempDir dir;
  ASSERT_TRUE(WriteFileText(dir.File("B0001.123"), "not an observation file at all"));
  ASSERT_TRUE(WriteFileBytes(dir.File("E0001.123"), {}));
  const Outcome convert = RunCli("convert " + dir.File("B0001.123"));
  EXPECT_EQ(2, convert.status) << convert.out;
  EXPECT_NE(std::string::npos, convert.out.find("Unable to detect Ashtech receiver type"))
      << convert.out;

  const Outcome dump = RunCli("dump " + dir.File("B0001.123"));
  EXPECT_EQ(2, dump.status) << dump.out;
  const Outcome missing = RunCli("convert " + dir.File("B9999.123"));
  EXPECT_EQ(2, missing.status) << missing.out;
  EXPECT_NE(std::string::npos, missing.out.find("Unable to open")) << missing.out;
}

TEST(CommandLine, DetectAnswersPerFile) {
  TempDir dir;
  std::vector<uint8_t> header(120, ' ');
  std::copy_n("version:", 8, header.begin());
  ASSERT_TRUE(WriteFileBytes(dir.File("B0001.123"), header));
  ASSERT_TRUE(WriteFileBytes(dir.File("X0001.123"), header));
  const Outcome detect = RunCli("detect " + dir.File("B0001.123") + " " + dir.File("X0001.123"));
  EXPECT_EQ(1, detect.status);
  EXPECT_NE(std::string::npos, detect.out.find("B0001.123: 1")) << detect.out;
  EXPECT_NE(std::string::npos, detect.out.find("X0001.123: 0")) << detect.out;
}

TEST(CommandLine, UnknownReceiverNameIsRefused) {
  const Outcome convert = RunCli("convert --receiver z12 /tmp/B0001.123");
  EXPECT_EQ(2, convert.status);
  EXPECT_NE(std::string::npos, convert.out.find("unknown receiver type")) << convert.out;
}

}  // namespace
}  // namespace talverin

#endif  // TALVERIN_CLI_PATH
