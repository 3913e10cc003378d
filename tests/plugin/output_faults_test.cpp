// Faults on the three outputs of a conversion: a GPB, .sta or .epp file on a full device
// (a symbolic link to /dev/full), an output that cannot be created because a directory of
// that name is in the way, and an output directory that cannot hold files (tests run as
// root, for whom a read-only mode bit does not stop a write, so it is a path that leads
// through a regular file: ENOTDIR for everyone). Each fault gives -1, the exact text as
// the module error text and as the last message, and leaves exactly the files listed per
// case: outputs opened before the fault keep their header lines, outputs after it are
// never created, and a write failure is never reported as success. A device that fills up
// during the conversion leaves a GPB file of whole epochs, EpochsWritten of them.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "dataset/byte_builder.h"
#include "tests/support/conversion_fixtures.h"
#include "tests/support/station_file.h"

namespace talverin {
namespace {

using testing_support::ConversionRun;
using testing_support::OneChannelEpochs;
using testing_support::RunConversion;
using testing_support::TempDir;

constexpr char kEppHeader[] = "$EPHREC Ver7.0 TALVERIN Ashtech\n";
constexpr int kEpochCount = 3;

// Dual frequency one-channel epochs without a site name (no station records) and an empty
// ephemeris file; the B path.
std::string WriteSet(const TempDir& dir, int epochCount = kEpochCount) {
  EXPECT_TRUE(WriteObservationFile(dir.File("B0001A01.001"),
                                   OneChannelEpochs(epochCount, 86400.0, "????")));
  EXPECT_TRUE(WriteFileBytes(dir.File("E0001A01.001"), {}));
  return dir.File("B0001A01.001");
}

// What one output path holds after the conversion.
enum Left {
  kNothing,        // no file of that name
  kHeaderOnly,     // a regular file holding only its header line
  kLinkUntouched,  // still the link to /dev/full
  kDirUntouched,   // still the empty directory that was in the way
  kCompleteGpb,    // a GPB file that reads back with every epoch
};

void ExpectLeft(const std::string& path, Left left, const char* header) {
  struct stat st;
  const bool exists = lstat(path.c_str(), &st) == 0;
  std::vector<GpbReadEpoch> epochs;
  char target[64] = {};
  switch (left) {
    case kNothing:
      EXPECT_FALSE(exists) << path;
      break;
    case kHeaderOnly:
      EXPECT_TRUE(exists && S_ISREG(st.st_mode)) << path;
      EXPECT_EQ(header, ReadFileText(path)) << path;
      break;
    case kLinkUntouched:
      ASSERT_GT(readlink(path.c_str(), target, sizeof target - 1), 0) << path;
      EXPECT_STREQ("/dev/full", target);
      break;
    case kDirUntouched:
      EXPECT_TRUE(exists && S_ISDIR(st.st_mode)) << path;
      EXPECT_EQ(0, rmdir(path.c_str())) << path << " is no longer empty";
      break;
    case kCompleteGpb:
      EXPECT_EQ(0, testing_support::ReadGpb(path, &epochs)) << path;
      EXPECT_EQ(static_cast<size_t>(kEpochCount), epochs.size());
      break;
  }
}

enum How { kFull, kDirectory, kThroughFile };

TEST(OutputFaults, EachFaultFailsWithItsTextAndLeavesOnlyTheExpectedFiles) {
  struct stat st;
  if (stat("/dev/full", &st) != 0 || !S_ISCHR(st.st_mode)) GTEST_SKIP() << "no /dev/full";
  const struct {
    const char* name;
    const char* fault;  // the output name the fault is put at
    How how;
    Left gpb, sta, epp;
    bool pipelineRan;  // the result words were written
    std::string text;  // the exact module error text; {dir} stands for the directory
  } cases[] = {
      {"GPB file on a full device", "out.gpb", kFull, kLinkUntouched, kHeaderOnly, kHeaderOnly,
       false, "Failure to write to '{dir}/out.gpb' (disk full)"},
      {".sta file on a full device", "out.sta", kFull, kCompleteGpb, kLinkUntouched, kHeaderOnly,
       true, "Unable to write to '{dir}/out.sta' (disk full)"},
      {".epp file on a full device", "out.epp", kFull, kCompleteGpb, kHeaderOnly, kLinkUntouched,
       true, "Unable to write to '{dir}/out.epp' (disk full)"},
      {".epp cannot be created", "out.epp", kDirectory, kNothing, kNothing, kDirUntouched, false,
       "Error: Unable to open {dir}/out.epp"},
      {".sta cannot be created", "out.sta", kDirectory, kNothing, kDirUntouched, kHeaderOnly, false,
       "Could not open STA FILE {dir}/out.sta "},
      {"GPB file cannot be created", "out.gpb", kDirectory, kDirUntouched, kHeaderOnly, kHeaderOnly,
       false, "Unable to create GPB file {dir}/out.gpb--access denied"},
      {"an output directory that is a file", "plain", kThroughFile, kNothing, kNothing, kNothing,
       false, "Error: Unable to open {dir}/plain/out.epp"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string input = WriteSet(dir);
    std::string gpb = dir.File("out.gpb");
    if (c.how == kFull) {
      ASSERT_EQ(0, symlink("/dev/full", dir.File(c.fault).c_str()));
    } else if (c.how == kDirectory) {
      ASSERT_EQ(0, mkdir(dir.File(c.fault).c_str(), 0755));
    } else {
      ASSERT_TRUE(WriteFileBytes(dir.File(c.fault), {0x01, 0x02, 0x03}));
      gpb = dir.File(c.fault) + "/out.gpb";
    }
    const ConversionRun run = RunConversion(input, gpb);
    std::string text = c.text;
    text.replace(text.find("{dir}"), 5, dir.path());
    EXPECT_EQ(-1, run.result);
    EXPECT_EQ(text, run.errorText);
    ASSERT_FALSE(run.messages.empty());
    EXPECT_EQ(text, run.messages.back().text);
    EXPECT_EQ(-1.0, run.messages.back().time);
    // The counts are written only when the pipeline ran; every fault that lets it run
    // leaves the GPB file whole.
    EXPECT_EQ(c.pipelineRan ? static_cast<uint32_t>(kEpochCount) : 0u, run.request.EpochsWritten);
    ExpectLeft(dir.File("out.gpb"), c.gpb, nullptr);
    ExpectLeft(dir.File("out.sta"), c.sta, kStaHeader);
    ExpectLeft(dir.File("out.epp"), c.epp, kEppHeader);
    if (c.how == kThroughFile) {
      EXPECT_EQ((std::vector<uint8_t>{0x01, 0x02, 0x03}), ReadFileBytes(dir.File(c.fault)));
    }
  }
}

TEST(OutputFaults, ADeviceFillingUpLeavesWholeEpochsAndTheirExactCount) {
  // 300 epochs of one dual frequency satellite: 84 + 2 * 28 bytes each in the new file,
  // 68 + 44 in the version 1.02 file. With `freed`, space comes back right after the first
  // failed write: nothing written after it may count, or land behind a cut epoch.
  for (int32_t layout : {1, 0}) {
    for (uint64_t limit : {uint64_t{700}, uint64_t{2048}, uint64_t{5000}, uint64_t{12345}}) {
      const bool freed = limit == 5000;
      SCOPED_TRACE("variant " + std::to_string(layout) + " limit " + std::to_string(limit));
      TempDir dir;
      const std::string input = WriteSet(dir, 300);
      ConversionRun run;
      {
        testing_support::FileSizeLimit full(limit);
        ASSERT_TRUE(full.active());
        run = RunConversion(
            input, dir.File("out.gpb"), [layout](ConvertOptions& o) { o.GpbLayout = layout; },
            [&full, freed](const testing_support::Message& m) {
              if (freed && m.text.rfind("Unable to write", 0) == 0) full.Lift();
            });
      }
      EXPECT_EQ(-1, run.result);
      EXPECT_EQ("Unable to write to '" + dir.File("out.gpb") + "' (disk full)", run.errorText);
      const size_t header = layout != 0 ? 512 : 202;
      const size_t epochBytes = layout != 0 ? 140 : 112;
      const uint32_t fit = static_cast<uint32_t>((limit - header) / epochBytes);
      EXPECT_EQ(fit, run.request.EpochsWritten);
      EXPECT_EQ(header + epochBytes * fit, ReadFileBytes(dir.File("out.gpb")).size());
      std::vector<GpbReadEpoch> epochs;
      EXPECT_EQ(0, testing_support::ReadGpb(dir.File("out.gpb"), &epochs));
      ASSERT_EQ(fit, epochs.size());
      for (uint32_t i = 0; i < fit; ++i) EXPECT_EQ(86400.0 + i, epochs[i].epoch.gpsTime);
    }
  }
}

}  // namespace
}  // namespace talverin
