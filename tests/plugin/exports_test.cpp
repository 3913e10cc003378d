// The exported functions seen from a host: AutoDetect on real files, the record checks of
// ConvertFile, the open failures and their texts, and the abort counter.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "plugin/talverin.h"
#include "tests/support/test_support.h"
#include "tools/download_set/byte_builder.h"

namespace talverin {
namespace {

using testing_support::ConversionRun;
using testing_support::RunConversion;
using testing_support::TempDir;

// An observation file that starts with tag and is length bytes long.
void WriteTagged(const std::string& path, const char* tag, size_t length) {
  std::vector<uint8_t> bytes(length, 0x20);
  std::memcpy(bytes.data(), tag, std::min<size_t>(8, length));
  ASSERT_TRUE(WriteFileBytes(path, bytes));
}

TEST(AutoDetect, NeedsADigitExtensionAVersionTagAndMoreThanTheHeader) {
  TempDir dir;
  struct Case {
    const char* name;
    const char* tag;
    size_t length;
    int32_t expected;
  } cases[] = {
      {"B1234A03.123", "version:", 91, 1},
      {"B1234A03.124", "Version:", 300, 1},
      {"B1234A03.125", "VERSION:", 91, 1},
      {"B1234A03.126", "version:", 90, 0},   // header only: not enough bytes
      {"b1234A03.12x", "version:", 91, 0},   // non-digit in the extension
      {"b1234A03.127", "version:", 91, 1},   // a lower-case b is accepted
      {"B1234A03.", "version:", 91, 0},      // empty extension
      {"E1234A03.123", "version:", 91, 0},   // not an observation file name
      {"B1234A03.128", "VerSion:", 91, 0},   // tag case must match one of three forms
      {"B0001", "version:", 91, 1},          // no dot: only digits after the first letter
      {"B00A1", "version:", 91, 0},
  };
  for (const Case& c : cases) {
    const std::string path = dir.File(c.name);
    WriteTagged(path, c.tag, c.length);
    EXPECT_EQ(c.expected, AutoDetect(path.c_str())) << c.name;
  }
}

TEST(AutoDetect, AnswersZeroWithoutOpeningAnythingForUnusablePaths) {
  EXPECT_EQ(0, AutoDetect(nullptr));
  const std::string longPath(300, 'B');
  EXPECT_EQ(0, AutoDetect(longPath.c_str()));
  EXPECT_EQ(0, AutoDetect("/nonexistent/B0001.123"));
  TempDir dir;
  const std::string windowsStyle = dir.path() + "\\B0002.123";  // '\' also separates
  EXPECT_EQ(0, AutoDetect(windowsStyle.c_str()));
}

TEST(ConvertFile, RefusesWrongRecordSizesWithoutTouchingTheResultWords) {
  struct Case {
    uint32_t requestSize;
    uint32_t callbackSize;
    uint32_t optionsSize;
    const char* text;
  } cases[] = {
      {2671, 272, 52, "Incorrect version of Sample Conversion DLL"},
      {2672, 271, 52, "Incorrect version of Sample Conversion DLL"},
      {2672, 272, 51, "Incorrect version of Sample Conversion DLL, Invalid options"},
  };
  for (const Case& c : cases) {
    static ConvertRequest request;
    std::memset(&request, 0, sizeof request);
    request.size = c.requestSize;
    request.optionsSize = c.optionsSize;
    request.EpochsWritten = 0xA1A2A3A4;
    request.EphemeridesRead = 0xB1B2B3B4;
    request.StationsWritten = 0xC1C2C3C4;
    request.result = 0xD1D2D3D4;
    HostCallbacks callbacks;
    std::memset(&callbacks, 0, sizeof callbacks);
    callbacks.size = c.callbackSize;
    EXPECT_EQ(1, ConvertFile(&request, &callbacks, 0));
    char text[512];
    GetErrString(text);
    EXPECT_STREQ(c.text, text);
    EXPECT_EQ(0xA1A2A3A4u, request.EpochsWritten);
    EXPECT_EQ(0xB1B2B3B4u, request.EphemeridesRead);
    EXPECT_EQ(0xC1C2C3C4u, request.StationsWritten);
    EXPECT_EQ(0xD1D2D3D4u, request.result);
  }
}

TEST(ConvertFile, RefusesAReceiverTypeOutsideZeroToFour) {
  TempDir dir;
  for (int32_t type : {5, -1}) {
    const ConversionRun run = RunConversion(dir.File("B0001.123"), dir.File("out.gpb"),
                                            [type](ConvertOptions& o) { o.ReceiverType = type; });
    EXPECT_EQ(1, run.result);
    EXPECT_NE(std::string::npos, run.errorText.find("receiver type"));
    EXPECT_TRUE(run.messages.empty());
  }
}

TEST(ConvertFile, MissingEphemerisFileFailsBeforeAnyOutputIsCreated) {
  TempDir dir;
  WriteTagged(dir.File("B0001.123"), "version:", 90);
  const ConversionRun run = RunConversion(dir.File("B0001.123"), dir.File("out.gpb"));
  EXPECT_EQ(-1, run.result);
  const std::string expected = "Error: Unable to open " + dir.File("E0001.123") +
                               ". Will Not be able to Re-Calc Position/Time";
  ASSERT_EQ(1u, run.messages.size());
  EXPECT_EQ(expected, run.messages[0].text);
  EXPECT_EQ(-1.0, run.messages[0].time);
  EXPECT_EQ(expected, run.errorText);
  EXPECT_TRUE(ReadFileBytes(dir.File("out.epp")).empty());
  EXPECT_TRUE(ReadFileBytes(dir.File("out.sta")).empty());
  EXPECT_TRUE(ReadFileBytes(dir.File("out.gpb")).empty());
}

TEST(ConvertFile, MissingObservationFileIsReportedInTheModuleErrorText) {
  TempDir dir;
  ASSERT_TRUE(WriteFileBytes(dir.File("E0001.123"), {}));
  const ConversionRun run = RunConversion(dir.File("B0001.123"), dir.File("out.gpb"));
  EXPECT_EQ(-1, run.result);
  EXPECT_EQ("Error: Unable to open " + dir.File("B0001.123"), run.errorText);
  ASSERT_EQ(1u, run.messages.size());
  EXPECT_EQ(run.errorText, run.messages[0].text);
}

TEST(ConvertFile, UnwritableOutputsAreReportedWithTheirTexts) {
  TempDir dir;
  WriteTagged(dir.File("B0001.123"), "version:", 90);
  ASSERT_TRUE(WriteFileBytes(dir.File("E0001.123"), {}));
  const std::string missingDir = dir.File("no/such/dir/out.gpb");
  const ConversionRun run = RunConversion(dir.File("B0001.123"), missingDir);
  EXPECT_EQ(-1, run.result);
  EXPECT_EQ("Error: Unable to open " + dir.File("no/such/dir/out.epp"), run.errorText);
}

TEST(ConvertFile, RefusesPathsThatDoNotFitTheirFields) {
  static ConvertRequest request;
  std::memset(&request, 0, sizeof request);
  request.size = kConvertRequestSize;
  request.optionsSize = kConvertOptionsSize;
  SetFactoryDefaults(52, &request.options);
  std::memset(request.inputPath, 'B', sizeof request.inputPath);  // no terminator
  std::strcpy(request.outputPath, "/tmp/out.gpb");
  HostCallbacks callbacks;
  std::memset(&callbacks, 0, sizeof callbacks);
  callbacks.size = kHostCallbacksSize;
  EXPECT_EQ(-1, ConvertFile(&request, &callbacks, 0));
  char text[512];
  GetErrString(text);
  EXPECT_NE(nullptr, std::strstr(text, "256 characters"));
}

TEST(ConvertFile, AbortBeforeTheConversionStartsIsForgotten) {
  TempDir dir;
  WriteTagged(dir.File("B0001.123"), "version:", 90);
  ASSERT_TRUE(WriteFileBytes(dir.File("E0001.123"), {}));
  Abort();
  Abort();
  const ConversionRun run = RunConversion(dir.File("B0001.123"), dir.File("out.gpb"),
                                          [](ConvertOptions& o) { o.ReceiverType = 1; });
  EXPECT_NE(1, run.result);
  EXPECT_NE("User Quit", run.errorText);
}

}  // namespace
}  // namespace talverin
