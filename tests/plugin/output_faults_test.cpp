// Faults on the three outputs of a conversion: a GPB, .sta or .epp file on a full device
// (a symbolic link to /dev/full), an output that cannot be created because a directory of
// that name is in the way, and an output directory that cannot hold files. Tests run as
// root, for whom a read-only mode bit does not stop a write, so the unwritable directory is
// a path that leads through a regular file (ENOTDIR for everyone). Each fault gives -1, the
// exact text as the module error text and as the last message, and leaves exactly the
// files listed per case: outputs opened before the fault keep their header lines, outputs
// after it are never created, and a write failure is never reported as success. A device
// that fills up during the conversion leaves a GPB file of whole epochs, EpochsWritten of
// them.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "output/gpb_reader.h"
#include "tests/support/test_support.h"
#include "tools/download_set/byte_builder.h"
#include "tools/download_set/observation_file_writer.h"

namespace talverin {
namespace {

using testing_support::ConversionRun;
using testing_support::RunConversion;
using testing_support::TempDir;

constexpr char kEppHeader[] = "$EPHREC Ver7.0 TALVERIN Ashtech\n";
constexpr char kStaHeader[] = "$STAINFO Ver7.00 TALVERIN\n";
constexpr int kEpochCount = 3;

// A dual frequency file of one-channel epochs (three unless asked) and an empty ephemeris
// file.
std::string WriteSet(const TempDir& dir, int epochCount = kEpochCount) {
  ObsFile file;
  file.model = "Z-XII3";
  file.recordSize = 97;
  for (int i = 0; i < epochCount; ++i) {
    ObsEpoch epoch;
    epoch.site = "????";  // no site name: no station records
    epoch.time_s = 86400.0 + i;
    ObsChannel channel;
    channel.prn = 12;
    channel.caRange_s = 0.0705;
    epoch.channels.push_back(channel);
    file.epochs.push_back(epoch);
  }
  EXPECT_TRUE(WriteObservationFile(dir.File("B0001A01.001"), file));
  EXPECT_TRUE(WriteFileBytes(dir.File("E0001A01.001"), {}));
  return dir.File("B0001A01.001");
}

// What one output path holds after the conversion.
enum class Left {
  kNothing,        // no file of that name
  kHeaderOnly,     // a regular file holding only its header line
  kLinkUntouched,  // still the link to /dev/full
  kDirUntouched,   // still the empty directory that was in the way
  kCompleteGpb,    // a GPB file that reads back with every epoch
};

std::string Describe(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return "absent";
  if (S_ISLNK(st.st_mode)) return "link";
  if (S_ISDIR(st.st_mode)) return "directory";
  return "file of " + std::to_string(st.st_size) + " bytes";
}

void ExpectLeft(const std::string& path, Left left, const char* header) {
  struct stat st;
  switch (left) {
    case Left::kNothing:
      EXPECT_NE(0, lstat(path.c_str(), &st)) << path << " is " << Describe(path);
      break;
    case Left::kHeaderOnly:
      EXPECT_EQ(header, ReadFileText(path)) << path << " is " << Describe(path);
      break;
    case Left::kLinkUntouched: {
      char target[64] = {};
      ASSERT_GT(readlink(path.c_str(), target, sizeof target - 1), 0) << path;
      EXPECT_STREQ("/dev/full", target);
      break;
    }
    case Left::kDirUntouched:
      ASSERT_EQ(0, lstat(path.c_str(), &st));
      EXPECT_TRUE(S_ISDIR(st.st_mode)) << path << " is " << Describe(path);
      EXPECT_EQ(0, rmdir(path.c_str())) << path << " is no longer empty";
      break;
    case Left::kCompleteGpb: {
      GpbReader reader;
      ASSERT_EQ(0, reader.Open(path.c_str())) << reader.errorText();
      static GpbReadEpoch epoch;
      int epochs = 0;
      int32_t status = 0;
      while ((status = reader.ReadEpoch(&epoch)) == 1 && epochs < 100) ++epochs;
      EXPECT_EQ(0, status) << reader.errorText();
      EXPECT_EQ(kEpochCount, epochs);
      break;
    }
  }
}

struct FaultCase {
  const char* name;
  // Puts the fault in place; returns the GPB path to convert to.
  std::function<std::string(const TempDir&)> setUp;
  // The exact module error text, from the paths of the case.
  std::function<std::string(const TempDir&)> text;
  Left gpb;
  Left sta;
  Left epp;
  bool pipelineRan;  // the result words were written
};

std::string LinkToFull(const TempDir& dir, const char* name) {
  EXPECT_EQ(0, symlink("/dev/full", dir.File(name).c_str())) << name;
  return dir.File("out.gpb");
}

std::string DirectoryInTheWay(const TempDir& dir, const char* name) {
  EXPECT_EQ(0, mkdir(dir.File(name).c_str(), 0755)) << name;
  return dir.File("out.gpb");
}

TEST(OutputFaults, EachFaultFailsWithItsTextAndLeavesOnlyTheExpectedFiles) {
  struct stat st;
  if (stat("/dev/full", &st) != 0 || !S_ISCHR(st.st_mode)) GTEST_SKIP() << "no /dev/full";
  const FaultCase cases[] = {
      {"GPB file on a full device",
       [](const TempDir& d) { return LinkToFull(d, "out.gpb"); },
       [](const TempDir& d) { return "Failure to write to '" + d.File("out.gpb") + "' (disk full)"; },
       Left::kLinkUntouched, Left::kHeaderOnly, Left::kHeaderOnly, false},
      {".sta file on a full device",
       [](const TempDir& d) { return LinkToFull(d, "out.sta"); },
       [](const TempDir& d) { return "Unable to write to '" + d.File("out.sta") + "' (disk full)"; },
       Left::kCompleteGpb, Left::kLinkUntouched, Left::kHeaderOnly, true},
      {".epp file on a full device",
       [](const TempDir& d) { return LinkToFull(d, "out.epp"); },
       [](const TempDir& d) { return "Unable to write to '" + d.File("out.epp") + "' (disk full)"; },
       Left::kCompleteGpb, Left::kHeaderOnly, Left::kLinkUntouched, true},
      {".epp cannot be created",
       [](const TempDir& d) { return DirectoryInTheWay(d, "out.epp"); },
       [](const TempDir& d) { return "Error: Unable to open " + d.File("out.epp"); },
       Left::kNothing, Left::kNothing, Left::kDirUntouched, false},
      {".sta cannot be created",
       [](const TempDir& d) { return DirectoryInTheWay(d, "out.sta"); },
       [](const TempDir& d) { return "Could not open STA FILE " + d.File("out.sta") + " "; },
       Left::kNothing, Left::kDirUntouched, Left::kHeaderOnly, false},
      {"GPB file cannot be created",
       [](const TempDir& d) { return DirectoryInTheWay(d, "out.gpb"); },
       [](const TempDir& d) {
         return "Unable to create GPB file " + d.File("out.gpb") + "--access denied";
       },
       Left::kDirUntouched, Left::kHeaderOnly, Left::kHeaderOnly, false},
  };
  for (const FaultCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string input = WriteSet(dir);
    const std::string gpb = c.setUp(dir);
    const ConversionRun run = RunConversion(input, gpb);
    EXPECT_EQ(-1, run.result);
    EXPECT_EQ(c.text(dir), run.errorText);
    ASSERT_FALSE(run.messages.empty());
    EXPECT_EQ(c.text(dir), run.messages.back().text);
    EXPECT_EQ(-1.0, run.messages.back().time);
    // The counts are written only when the pipeline ran; every fault that lets it run
    // leaves the GPB file whole.
    EXPECT_EQ(c.pipelineRan ? static_cast<uint32_t>(kEpochCount) : 0u,
              run.request.EpochsWritten);
    ExpectLeft(dir.File("out.gpb"), c.gpb, nullptr);
    ExpectLeft(dir.File("out.sta"), c.sta, kStaHeader);
    ExpectLeft(dir.File("out.epp"), c.epp, kEppHeader);
  }
}

TEST(OutputFaults, AnOutputDirectoryThatCannotHoldFilesCreatesNothing) {
  // Root ignores mode bits, so the unwritable directory is a path through a regular file.
  TempDir dir;
  const std::string input = WriteSet(dir);
  ASSERT_TRUE(WriteFileBytes(dir.File("plain"), {0x01, 0x02, 0x03}));
  const std::string output = dir.File("plain") + "/out.gpb";
  const ConversionRun run = RunConversion(input, output);
  EXPECT_EQ(-1, run.result);
  const std::string text = "Error: Unable to open " + dir.File("plain") + "/out.epp";
  EXPECT_EQ(text, run.errorText);
  ASSERT_FALSE(run.messages.empty());
  EXPECT_EQ(text, run.messages.back().text);
  EXPECT_EQ(0u, run.request.EpochsWritten);
  // The file in the way is unchanged, and nothing was created beside the inputs.
  EXPECT_EQ((std::vector<uint8_t>{0x01, 0x02, 0x03}), ReadFileBytes(dir.File("plain")));
  for (const char* name : {"out.gpb", "out.sta", "out.epp"}) {
    struct stat st;
    EXPECT_NE(0, lstat(dir.File(name).c_str(), &st)) << name;
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
            true, [&full, freed](const testing_support::Message& m) {
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
      GpbReader reader;
      ASSERT_EQ(0, reader.Open(dir.File("out.gpb").c_str())) << reader.errorText();
      static GpbReadEpoch epoch;
      uint32_t epochs = 0;
      int32_t status = 0;
      while ((status = reader.ReadEpoch(&epoch)) == 1) {
        EXPECT_EQ(86400.0 + epochs, epoch.epoch.gpsTime);
        ++epochs;
      }
      EXPECT_EQ(0, status) << reader.errorText();
      EXPECT_EQ(run.request.EpochsWritten, epochs);
    }
  }
}

}  // namespace
}  // namespace talverin
