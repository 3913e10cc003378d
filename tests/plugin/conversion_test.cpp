// Whole conversions through ConvertFile on download sets written by the test: the files a
// header-only set gives, abort from inside a callback (in the epoch loop and while the
// ephemeris file is read), and null callbacks.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "output/gpb_reader.h"
#include "plugin/talverin.h"
#include "tests/orbit/bahr_ephemerides.h"
#include "tests/support/test_support.h"
#include "tools/download_set/byte_builder.h"
#include "tools/download_set/ephemeris_file_writer.h"
#include "tools/download_set/observation_file_writer.h"

namespace talverin {
namespace {

using testing_support::ConversionRun;
using testing_support::Message;
using testing_support::RunConversion;
using testing_support::TempDir;

constexpr char kLessThanFour[] = "Warning, less then 4 ephemerides unable to recompute position";

// A dual frequency file of n one-channel epochs, one second apart, and an empty E file.
std::string WriteSet(const TempDir& dir, int n) {
  ObsFile file;
  file.model = "Z-XII3";
  file.recordSize = 97;
  for (int i = 0; i < n; ++i) {
    ObsEpoch epoch;
    epoch.time_s = 345600.0 + i;
    ObsChannel channel;
    channel.prn = 7;
    channel.caRange_s = 0.0712;
    channel.l1Phase_cyc = -1000.5 - i;
    epoch.channels.push_back(channel);
    file.epochs.push_back(epoch);
  }
  EXPECT_TRUE(WriteObservationFile(dir.File("B0001A01.001"), file));
  EXPECT_TRUE(WriteFileBytes(dir.File("E0001A01.001"), {}));
  return dir.File("B0001A01.001");
}

TEST(Conversion, HeaderOnlySetGivesAValidGpbHeaderAndTheTwoHeaderLines) {
  for (int32_t layout : {1, 0}) {
    TempDir dir;
    const std::string input = WriteSet(dir, 0);
    const ConversionRun run = RunConversion(input, dir.File("out.gpb"),
                                            [layout](ConvertOptions& o) { o.GpbLayout = layout; });
    ASSERT_EQ(0, run.result) << run.errorText;
    EXPECT_EQ(0u, run.request.EpochsWritten);
    EXPECT_EQ(0u, run.request.EphemeridesRead);
    EXPECT_EQ(0u, run.request.StationsWritten);
    EXPECT_EQ(0u, run.request.result);
    EXPECT_EQ("$STAINFO Ver7.00 TALVERIN\n", ReadFileText(dir.File("out.sta")));
    EXPECT_EQ("$EPHREC Ver7.0 TALVERIN Ashtech\n", ReadFileText(dir.File("out.epp")));
    ASSERT_EQ(1u, run.progress.size());  // only the end report: total of total
    const int32_t total = static_cast<int32_t>(ReadFileBytes(input).size());
    EXPECT_EQ(std::make_pair(total, total), run.progress[0]);

    const std::vector<uint8_t> gpb = ReadFileBytes(dir.File("out.gpb"));
    GpbReader reader;
    ASSERT_EQ(0, reader.Open(dir.File("out.gpb").c_str())) << reader.errorText();
    if (layout == 1) {
      ASSERT_EQ(512u, gpb.size());
      EXPECT_EQ(0, std::memcmp(gpb.data(), "$NEWGPB\0", 8));
      EXPECT_STREQ("Z-XII3", reader.header().description);  // the model text, NULs after it
    } else {
      ASSERT_EQ(202u, gpb.size());
      EXPECT_EQ(0, reader.header().variant);
    }
    GpbReadEpoch epoch;
    EXPECT_EQ(0, reader.ReadEpoch(&epoch));
  }
}

TEST(Conversion, AbortFromTheMessageCallbackStopsAfterThatEpoch) {
  TempDir dir;
  const std::string input = WriteSet(dir, 5);
  bool aborted = false;
  const ConversionRun run = RunConversion(
      input, dir.File("out.gpb"), {}, true, [&aborted](const Message& m) {
        if (!aborted && m.text == kLessThanFour) {
          aborted = true;
          Abort();
        }
      });
  EXPECT_EQ(1, run.result);
  EXPECT_EQ("User Quit", run.errorText);
  EXPECT_EQ(1u, run.request.EpochsWritten);
  EXPECT_EQ(1, run.CountMessages(kLessThanFour));
  ASSERT_FALSE(run.messages.empty());
  EXPECT_EQ("User Quit", run.messages.back().text);
  EXPECT_EQ(-1.0, run.messages.back().time);

  GpbReader reader;
  ASSERT_EQ(0, reader.Open(dir.File("out.gpb").c_str()));
  static GpbReadEpoch epoch;
  ASSERT_EQ(1, reader.ReadEpoch(&epoch));
  EXPECT_EQ(345600.0, epoch.epoch.gpsTime);
  EXPECT_EQ(0, reader.ReadEpoch(&epoch));
}

TEST(Conversion, AbortWhileTheEphemerisFileIsReadStopsItAndWritesNoEpoch) {
  TempDir dir;
  const std::string input = WriteSet(dir, 5);
  EphemerisFileWriter ephemerides;
  for (const GpsEph& eph : test_data::kBahrEphemerides) ephemerides.AddGps(eph);
  ASSERT_TRUE(WriteFileBytes(dir.File("E0001A01.001"), ephemerides.bytes()));
  const ConversionRun run =
      RunConversion(input, dir.File("out.gpb"), {}, true, [](const Message& m) {
        if (m.text.rfind("GPS Ephemeris loaded", 0) == 0) Abort();
      });
  EXPECT_EQ(1, run.result);
  EXPECT_EQ("User Quit", run.errorText);
  EXPECT_EQ(1u, run.request.EphemeridesRead);
  EXPECT_EQ(0u, run.request.EpochsWritten);
  EXPECT_EQ(1, run.CountMessagesStartingWith("GPS Ephemeris loaded"));
}

TEST(Conversion, NullCallbacksRunSilentlyAndGiveTheSameFiles) {
  TempDir loud;
  TempDir quiet;
  const ConversionRun withCallbacks = RunConversion(WriteSet(loud, 3), loud.File("out.gpb"));
  const ConversionRun without = RunConversion(WriteSet(quiet, 3), quiet.File("out.gpb"), {}, false);
  ASSERT_EQ(0, withCallbacks.result);
  ASSERT_EQ(0, without.result);
  EXPECT_TRUE(without.messages.empty());
  EXPECT_TRUE(without.progress.empty());
  EXPECT_EQ(3u, without.request.EpochsWritten);
  EXPECT_EQ(ReadFileText(loud.File("out.sta")), ReadFileText(quiet.File("out.sta")));
  EXPECT_EQ(ReadFileText(loud.File("out.epp")), ReadFileText(quiet.File("out.epp")));
  std::vector<uint8_t> a = ReadFileBytes(loud.File("out.gpb"));
  std::vector<uint8_t> b = ReadFileBytes(quiet.File("out.gpb"));
  ASSERT_EQ(a.size(), b.size());
  ASSERT_GT(a.size(), 36u);
  // The creation stamp (header bytes 24..35) is the only difference allowed.
  std::fill(a.begin() + 24, a.begin() + 36, 0);
  std::fill(b.begin() + 24, b.begin() + 36, 0);
  EXPECT_TRUE(a == b);
}

TEST(Conversion, GpbFileOnAFullDeviceIsAFailureNotASuccess) {
  TempDir dir;
  const std::string input = WriteSet(dir, 2);
  // The GPB path is a link to the full device; the .sta and .epp files stay in dir.
  if (symlink("/dev/full", dir.File("out.gpb").c_str()) != 0) GTEST_SKIP() << "no /dev/full";
  const ConversionRun run = RunConversion(input, dir.File("out.gpb"));
  EXPECT_EQ(-1, run.result);
  EXPECT_NE(std::string::npos, run.errorText.find("disk full")) << run.errorText;
  EXPECT_NE(std::string::npos, run.errorText.find("out.gpb")) << run.errorText;
  ASSERT_FALSE(run.messages.empty());
  EXPECT_EQ(run.errorText, run.messages.back().text);
}

}  // namespace
}  // namespace talverin
