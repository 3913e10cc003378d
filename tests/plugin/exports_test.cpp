// The exported functions seen from a host: the factory defaults, AutoDetect on real files,
// the record checks of ConvertFile, outputs that would overwrite an input or each other,
// inputs that are missing or not regular files, and the abort counter; whole conversions of
// download sets written by the test: the files a header-only set gives, and abort from inside
// a callback (in the epoch loop and while the ephemeris file is read). (Null callbacks: the
// real-set round trip of the RINEX import converts without them and compares every value.)
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

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

using testing_support::ConversionRun;
using testing_support::ConvertDownloadSet;
using testing_support::ConvertedSet;
using testing_support::Message;
using testing_support::OneChannelEpochs;
using testing_support::RunConversion;
using testing_support::TempDir;

// An observation file that starts with tag and is length bytes long.
void WriteTagged(const std::string& path, const char* tag, size_t length) {
  std::vector<uint8_t> bytes(length, 0x20);
  std::memcpy(bytes.data(), tag, std::min<size_t>(8, length));
  ASSERT_TRUE(WriteFileBytes(path, bytes));
}

// Size 52 fills the thirteen words; any other size leaves the block untouched.
TEST(FactoryDefaults, OnlySizeFiftyTwoFillsTheThirteenWords) {
  const int32_t defaults[13] = {0, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0, 180, 1};
  int32_t untouched[13];
  std::memset(untouched, 0x55, sizeof untouched);
  for (int32_t size : {52, 51, 53, 0, -52}) {
    ConvertOptions options;
    static_assert(sizeof options == sizeof defaults, "thirteen words");
    std::memset(&options, 0x55, sizeof options);
    SetFactoryDefaults(size, &options);
    int32_t words[13];
    std::memcpy(words, &options, sizeof words);
    for (int i = 0; i < 13; ++i)
      EXPECT_EQ(words[i], size == 52 ? defaults[i] : untouched[i])
          << "size " << size << " word " << i;
  }
}

// A B file name with a digit extension (or digits after the first letter), one of the three
// version tags and more than the 90-byte header; paths that are no such file answer 0.
TEST(AutoDetect, NeedsADigitExtensionAVersionTagAndMoreThanTheHeader) {
  TempDir dir;
  const struct {
    const char* name;
    const char* tag;
    size_t length;
    int32_t expected;
  } cases[] = {{"b1234A03.123", "Version:", 91, 1}, {"B0001", "version:", 91, 1},
               {"B1234A03.126", "version:", 90, 0}, {"B1234A03.12x", "version:", 91, 0},
               {"E1234A03.123", "version:", 91, 0}, {"B1234A03.128", "VerSion:", 91, 0},
               {"B00A1", "version:", 91, 0}};
  for (const auto& c : cases) {
    WriteTagged(dir.File(c.name), c.tag, c.length);
    EXPECT_EQ(c.expected, AutoDetect(dir.File(c.name).c_str())) << c.name;
  }
  EXPECT_EQ(0, AutoDetect(nullptr));
  EXPECT_EQ(0, AutoDetect(std::string(300, 'B').c_str()));
}

// Records of the wrong size, a receiver type outside 0..4 and a path without its
// terminator are refused with their texts before the result words are touched.
TEST(ConvertFile, RefusesBadRecordsWithoutTouchingTheResultWords) {
  const std::string version = "Incorrect version of Sample Conversion DLL";
  const struct {
    uint32_t requestSize, callbackSize, optionsSize;
    int32_t receiverType;
    bool unterminatedInput;
    int32_t result;
    std::string text;
  } cases[] = {
      {2671, 272, 52, 0, false, 1, version},
      {2672, 272, 51, 0, false, 1, version + ", Invalid options"},
      {2672, 272, 52, 5, false, 1,
       "Invalid receiver type 5 in the options: 0 (detect) or 1 to 4 expected"},
      {2672, 272, 52, 1, true, -1,
       "Error: path of 256 characters or more: " + std::string(255, 'B')},
  };
  for (const auto& c : cases) {
    static ConvertRequest request;
    std::memset(&request, 0, sizeof request);
    request.size = c.requestSize;
    request.optionsSize = c.optionsSize;
    SetFactoryDefaults(52, &request.options);
    request.options.ReceiverType = c.receiverType;
    std::strcpy(request.inputPath, "/nonexistent/B0001.123");
    if (c.unterminatedInput) std::memset(request.inputPath, 'B', sizeof request.inputPath);
    std::strcpy(request.outputPath, "/nonexistent/out.gpb");
    request.EpochsWritten = 0xA1A2A3A4;
    request.EphemeridesRead = 0xB1B2B3B4;
    request.StationsWritten = 0xC1C2C3C4;
    request.result = 0xD1D2D3D4;
    HostCallbacks callbacks;
    std::memset(&callbacks, 0, sizeof callbacks);
    callbacks.size = c.callbackSize;
    EXPECT_EQ(c.result, ConvertFile(&request, &callbacks, 0));
    char text[512];
    GetErrString(text);
    EXPECT_EQ(c.text, text);
    EXPECT_EQ((std::vector<uint32_t>{0xA1A2A3A4, 0xB1B2B3B4, 0xC1C2C3C4, 0xD1D2D3D4}),
              (std::vector<uint32_t>{request.EpochsWritten, request.EphemeridesRead,
                                     request.StationsWritten, request.result}));
  }
}

// A download set of four small inputs named B/E/S/D0001.123 and what they hold.
std::vector<std::vector<uint8_t>> WriteInputs(const TempDir& dir) {
  WriteTagged(dir.File("B0001.123"), "version:", 90);
  const std::vector<std::vector<uint8_t>> contents = {
      ReadFileBytes(dir.File("B0001.123")), {0x01, 0x02}, {0x53, 0x0A}, {0x43, 0x0A}};
  EXPECT_TRUE(WriteFileBytes(dir.File("E0001.123"), contents[1]));
  EXPECT_TRUE(WriteFileBytes(dir.File("S0001.123"), contents[2]));
  EXPECT_TRUE(WriteFileBytes(dir.File("D0001.123"), contents[3]));
  return contents;
}

TEST(ConvertFile, RefusesAnOutputThatIsAnInputOrAnotherOutputBeforeCreatingAnything) {
  struct Case {
    const char* output;  // in the set's directory
    const char* link;    // made before the run: a symbolic link "out.gpb" to this input
    const char* first;   // the paths the message names
    const char* second;
    bool outputs;  // two outputs collide
  };
  const Case cases[] = {
      {"E0001.123", nullptr, "E0001.123", "E0001.123", false},
      {"out.gpb", "E0001.123", "out.gpb", "E0001.123", false},
      {"x.epp", nullptr, "x.epp", "x.epp", true},
  };
  for (const Case& c : cases) {
    TempDir dir;
    const std::vector<std::vector<uint8_t>> contents = WriteInputs(dir);
    if (c.link != nullptr) {
      ASSERT_EQ(0, symlink(dir.File(c.link).c_str(), dir.File("out.gpb").c_str()));
    }
    const ConversionRun run = RunConversion(dir.File("B0001.123"), dir.File(c.output));
    const std::string expected = c.outputs ? "Error: outputs " + dir.File(c.first) + " and " +
                                                 dir.File(c.second) + " are the same file"
                                           : "Error: output " + dir.File(c.first) +
                                                 " is the same file as input " + dir.File(c.second);
    EXPECT_EQ(-1, run.result) << c.output;
    EXPECT_EQ(expected, run.errorText);
    ASSERT_EQ(1u, run.messages.size()) << c.output;
    EXPECT_EQ(expected, run.messages[0].text);
    // Every input byte-identical, and no output beside them.
    const char* const names[] = {"B0001.123", "E0001.123", "S0001.123", "D0001.123"};
    for (int i = 0; i < 4; ++i)
      EXPECT_EQ(contents[i], ReadFileBytes(dir.File(names[i]))) << names[i];
    for (const char* made : {"x.epp", "x.sta", "out.epp", "out.sta", "E0001.epp", "E0001.sta"}) {
      struct stat st;
      EXPECT_NE(0, lstat(dir.File(made).c_str(), &st)) << made << " was created";
    }
  }
}

// B: the open failure; E: the ephemeris open failure, both before any output exists, as
// the one message (time -1) and the module error text; S and D: absent, so the conversion
// completes. A FIFO without a writer, a directory, and endless devices; a hang
// ends the test binary after 10 s. An abort given before the conversion starts is
// forgotten.
TEST(ConvertFile, AnInputThatIsMissingOrNotARegularFileFailsItsOpenAndNothingHangs) {
  struct Case {
    const char* name;
    const char* kind;    // "fifo" or a device to link to
    int result;          // ConvertFile's result
    const char* before;  // the module error text around the path, or null: success
    const char* after;
    bool nothingMade;  // no output exists afterwards
  };
  const char* const kEphemerisFailure = ". Will Not be able to Re-Calc Position/Time";
  const Case cases[] = {
      {"B0001.123", "fifo", -1, "Error: Unable to open ", "", true},
      {"E0001.123", "/dev/zero", -1, "Error: Unable to open ", kEphemerisFailure, true},
      {"D0001.123", "fifo", 0, nullptr, nullptr, false},
      {"S0001.123", "/dev/urandom", 0, nullptr, nullptr, false},
      {"out.sta", "fifo", -1, "Could not open STA FILE ", " ", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " as " + c.kind);
    TempDir dir;
    WriteInputs(dir);
    const std::string path = dir.File(c.name);
    std::remove(path.c_str());
    if (std::string(c.kind) == "fifo") {
      ASSERT_EQ(0, mkfifo(path.c_str(), 0600));
    } else {
      ASSERT_EQ(0, symlink(c.kind, path.c_str()));
    }
    alarm(10);
    Abort();
    Abort();
    const ConversionRun run = RunConversion(dir.File("B0001.123"), dir.File("out.gpb"),
                                            [](ConvertOptions& o) { o.ReceiverType = 1; });
    // AutoDetect answers 0 (the 90-byte B file is too short) without blocking either.
    EXPECT_EQ(0, AutoDetect(dir.File("B0001.123").c_str()));
    alarm(0);
    EXPECT_EQ(c.result, run.result);
    if (c.before != nullptr) {
      const std::string text = c.before + path + c.after;
      EXPECT_EQ(text, run.errorText);
      ASSERT_EQ(1u, run.messages.size());
      EXPECT_EQ(text, run.messages[0].text);
      EXPECT_EQ(-1.0, run.messages[0].time);
    }
    for (const char* out : {"out.gpb", "out.epp", "out.sta"}) {
      struct stat st;
      EXPECT_TRUE(!c.nothingMade || lstat(dir.File(out).c_str(), &st) != 0) << out << " exists";
    }
  }
}

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
    EXPECT_EQ(1, out.run.CountMessages(trigger));
    ASSERT_FALSE(out.run.messages.empty());
    EXPECT_EQ("User Quit", out.run.messages.back().text);
    EXPECT_EQ(-1.0, out.run.messages.back().time);
    EXPECT_EQ(0, out.readStatus);
    EXPECT_EQ(c.epochs, out.epochs.size());
  }
}

}  // namespace
}  // namespace talverin
