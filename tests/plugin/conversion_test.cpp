// Whole conversions through ConvertFile on download sets written by the test: the files a
// header-only set gives, and abort from inside a callback (in the epoch loop and while the
// ephemeris file is read). (Null callbacks: the real-set round trip of the RINEX import
// converts without them and compares every value.)
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "dataset/byte_builder.h"
#include "dataset/ephemeris_file_writer.h"
#include "plugin/talverin.h"
#include "tests/support/bahr_navigation.h"
#include "tests/support/conversion_fixtures.h"

namespace talverin {
namespace {

using testing_support::ConvertDownloadSet;
using testing_support::ConvertedSet;
using testing_support::Message;
using testing_support::OneChannelEpochs;
using testing_support::TempDir;

constexpr char kLessThanFour[] = "Warning, less then 4 ephemerides unable to recompute position";

// The GPB header keeps 31 characters of the model text at byte 11 of the B file, also when
// the text runs on. (The header lines of the .sta and .epp files are pinned by the output
// fault tests, the size of the version 1.02 header by the full-device test.)
TEST(Conversion, HeaderOnlySetGivesAValidGpbHeader) {
  const std::string model31 = "Z-XII3 ABCDEFGHIJKLMNOPQRSTUVWX";
  TempDir dir;
  ObsFile file;
  file.model = model31 + "Y";
  const std::vector<uint8_t> b = ObservationFileBytes(file);
  const ConvertedSet out = ConvertDownloadSet(dir, b);
  ASSERT_EQ(0, out.run.result) << out.run.errorText;
  const ConvertRequest& r = out.run.request;
  EXPECT_EQ(
      (std::vector<uint32_t>{0, 0, 0, 0}),
      (std::vector<uint32_t>{r.EpochsWritten, r.EphemeridesRead, r.StationsWritten, r.result}));
  const int32_t total = static_cast<int32_t>(b.size());
  EXPECT_EQ((std::vector<std::pair<int32_t, int32_t>>{{total, total}}), out.run.progress);
  EXPECT_EQ(0, out.readStatus);
  EXPECT_TRUE(out.epochs.empty());
  const std::vector<uint8_t> gpb = ReadFileBytes(dir.File("out.gpb"));
  ASSERT_EQ(512u, gpb.size());
  EXPECT_EQ(0, std::memcmp(gpb.data(), "$NEWGPB\0", 8));
  // The description: 32 bytes at 36, the text and NULs after it.
  EXPECT_EQ(model31, std::string(gpb.begin() + 36, gpb.begin() + 67));
  EXPECT_EQ(0, gpb[67]);
}

// The host presses abort inside the message callback: at the first epoch's warning (no
// ephemerides, position recomputation on) the loop stops after that epoch; at the first
// ephemeris loaded the reading stops and no epoch is written. The files are finished and
// "User Quit" is the last message and the module error text.
TEST(Conversion, AbortFromTheMessageCallbackStopsAtTheNextRecordOrEpoch) {
  EphemerisFileWriter bahr;
  for (const GpsEph& eph : test_data::BahrEphemerides()) bahr.AddGps(eph);
  const struct {
    const char* trigger;  // the message that starts with it presses abort
    bool ephemerides;
    uint32_t epochs, read;
  } cases[] = {{kLessThanFour, false, 1, 0}, {"GPS Ephemeris loaded", true, 0, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.trigger);
    TempDir dir;
    const std::string trigger = c.trigger;
    const ConvertedSet out = ConvertDownloadSet(
        dir, ObservationFileBytes(OneChannelEpochs(5, 345600.0)),
        c.ephemerides ? bahr.bytes() : std::vector<uint8_t>{}, {}, [&trigger](const Message& m) {
          if (m.text.rfind(trigger, 0) == 0) Abort();
        });
    EXPECT_EQ(1, out.run.result);
    EXPECT_EQ("User Quit", out.run.errorText);
    EXPECT_EQ(c.epochs, out.run.request.EpochsWritten);
    EXPECT_EQ(c.read, out.run.request.EphemeridesRead);
    EXPECT_EQ(1, out.run.CountMessagesStartingWith(trigger));
    ASSERT_FALSE(out.run.messages.empty());
    EXPECT_EQ("User Quit", out.run.messages.back().text);
    EXPECT_EQ(-1.0, out.run.messages.back().time);
    EXPECT_EQ(0, out.readStatus);
    EXPECT_EQ(c.epochs, out.epochs.size());
  }
}

}  // namespace
}  // namespace talverin
