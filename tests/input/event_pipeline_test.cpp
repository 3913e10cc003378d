// Station marks and site records through the exported ConvertFile, checked in the .sta
// text and, for the moving flag, through the GPB reader.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "output/gpb_reader.h"
#include "output/gpb_types.h"
#include "tests/input/event_station_blocks.h"
#include "tests/support/test_support.h"
#include "tools/download_set/byte_builder.h"
#include "tools/download_set/site_event_writers.h"

namespace talverin {
namespace {

using testing_support::ConversionRun;
using testing_support::RunConversion;
using testing_support::TempDir;

struct EpochSpec {
  const char* site;
  double time_s;
};

// Observation file: the 90-byte header ("version:", model text at byte 11), then epochs of
// a 67-byte header each (site, time f64, position, clock, channel count) without channels.
std::vector<uint8_t> ObservationFile(const std::vector<EpochSpec>& epochs, int8_t lastCount = 0) {
  ByteBuilder b;
  b.Text("version:", 8);
  b.Zeros(3);
  b.Text("UZ-12    ", 9);
  b.Zeros(70);
  for (size_t i = 0; i < epochs.size(); ++i) {
    b.Text(epochs[i].site, 4);
    b.F64(epochs[i].time_s);
    b.F64(1113194.0);   // X, m
    b.F64(-4842853.0);  // Y, m
    b.F64(3985496.0);   // Z, m
    b.Zeros(12);
    b.F64(0.0);         // clock, m
    b.Zeros(10);
    b.I8(i + 1 == epochs.size() ? lastCount : 0);
  }
  return b.bytes();
}

struct Conversion {
  ConversionRun run;
  std::string sta;  // after the header line
  std::vector<uint16_t> flags;
};

Conversion Convert(const TempDir& dir, const std::vector<EpochSpec>& epochs,
                   const std::string& site, const std::string& events, int32_t markOption,
                   int32_t useEvents = 1, int8_t lastCount = 0) {
  Conversion out;
  EXPECT_TRUE(WriteFileBytes(dir.File("BAAAAA03.123"), ObservationFile(epochs, lastCount)));
  EXPECT_TRUE(WriteFileBytes(dir.File("EAAAAA03.123"), {}));
  if (!site.empty()) {
    EXPECT_TRUE(WriteFileText(dir.File("SAAAAA03.123"), site));
  }
  if (!events.empty()) {
    EXPECT_TRUE(WriteFileText(dir.File("DAAAAA03.123"), events));
  }
  out.run = RunConversion(dir.File("BAAAAA03.123"), dir.File("out.gpb"),
                          [&](ConvertOptions& o) {
                            o.ReceiverType = 1;
                            o.RecomputePosition = 0;
                            o.StationMarkOption = markOption;
                            o.UseEventFile = useEvents;
                          });
  out.sta = StaBody(ReadFileText(dir.File("out.sta")));
  GpbReader reader;
  if (reader.Open(dir.File("out.gpb").c_str()) == 0) {
    GpbReadEpoch epoch{};
    while (reader.ReadEpoch(&epoch) == 1) out.flags.push_back(epoch.epoch.flags);
  }
  return out;
}

const std::vector<EpochSpec> kOccupation = {
    {"????", 345600.0}, {"A101", 345601.0}, {"A101", 345602.0}, {"????", 345603.0}};

std::string SiteFile() { return SiteFileText(SiteFileLines{}); }  // ABCD, 345600 s, 1.543 m

TEST(StationPipeline, BlocksAndMovingFlagsReachTheStaAndGpbFiles) {
  // Mark records at one time and name: the second loads not at all.
  const std::string marks = EventFileBuilder()
                                .Time(345500).Mark("A101", "TRIPOD", "1.6000")
                                .Time(345500).Mark("A101", "AGAIN", "9.9")
                                .Text();
  const std::string features =
      EventFileBuilder()
          .Time(50).Feature("GEF", {"Lost"})  // before any feature: a zeroed slot, refused
          .Time(345613).Feature("GFN", {"A101", "a", "b", "c", "L", "1.1", "g", "hedge"})
          .Time(345700).Feature("GRP", {"NEXT", "A101"})
          .Text();
  const std::string lineBlocks = Block("A101", "hedge", "BEGIN_LINE", "345601.000000", "1.1000") +
                                 Block("A101", "hedge", "END_LINE", "345602.000000", "1.1000");
  const std::vector<uint16_t> allMoving(4, kEpochMoving);
  const std::string siteBlock = Block("ABCD", "Site file", "Before", "345600.000000", "1.5430");
  const struct {
    const char* what;
    std::vector<EpochSpec> epochs;
    std::string site, events;
    int32_t markOption, useEvents;
    int8_t lastCount;  // channel records the last epoch announces
    int32_t result;
    std::string sta;
    std::vector<uint16_t> flags;  // empty: not checked
  } cases[] = {
      {"occupation with a site file, marks on", kOccupation, SiteFile(), "", 1, 1, 0, 0,
       siteBlock + Block("A101", "BFILE", "BEGIN_STATIC", "345601.000000", "1.5430") +
           Block("A101", "BFILE", "END_STATIC", "345602.000000", "1.5430"),
       {kEpochMoving, 0, 0, kEpochMoving}},
      {"marks off: only site changes, no moving flags", kOccupation, "", "", 0, 1, 0, 0,
       Block("A101", "BFILE", "SITE CHANGE", "345601.000000", "0.0000"), {0, 0, 0, 0}},
      {"first named site and a one-epoch occupation",
       {{"A101", 10.0}, {"????", 11.0}, {"B202", 12.0}, {"????", 13.0}}, "", "", 1, 1, 0, 0,
       Block("A101", "BFILE", "????_STATIC", "10.000000", "0.0000") +
           Block("B202", "BFILE", "BEGIN_STATIC", "12.000000", "0.0000"),
       {0, kEpochMoving, 0, kEpochMoving}},
      {"mark records replace site file blocks", kOccupation, SiteFile(), marks, 1, 1, 0, 0,
       siteBlock + Block("A101", "TRIPOD  ", "BEGIN_STATIC", "345601.000000", "1.6000") +
           Block("A101", "TRIPOD  ", "END_STATIC", "345602.000000", "1.6000"),
       {}},
      {"without the event file option the marks are not read", kOccupation, "", marks, 1, 0, 0,
       0,
       Block("A101", "BFILE", "BEGIN_STATIC", "345601.000000", "0.0000") +
           Block("A101", "BFILE", "END_STATIC", "345602.000000", "0.0000"),
       {}},
      // Features go out after the epochs; 13 s come off the event times unless marks are
      // on, and the GRP's begin record lies 0.5 s after its time. "????" and an open line
      // feature both mean moving.
      {"features, marks off", kOccupation, "", features, 0, 1, 0, 0,
       lineBlocks + Block("NEXT-TimeErr", "hedge", "BEGIN_LINE", "345687.500000", "1.1000"),
       allMoving},
      {"features, marks on", kOccupation, "", features, 1, 1, 0, 0,
       lineBlocks + Block("NEXT-TimeErr", "hedge", "BEGIN_LINE", "345700.500000", "1.1000"),
       allMoving},
      {"a premature end still writes the feature blocks", {{"A101", 2000.0}, {"A101", 2001.0}},
       "",
       EventFileBuilder().Time(1000).Feature("GFN", {"A101", "a", "b", "c", "P", "2", "g", "pole"})
           .Text(),
       1, 1, 5, -1, Block("A101", "pole", "BEGIN_STATIC", "2000.000000", "2.0000"), {}},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.what);
    TempDir dir;
    const Conversion c =
        Convert(dir, k.epochs, k.site, k.events, k.markOption, k.useEvents, k.lastCount);
    EXPECT_EQ(k.result, c.run.result);
    EXPECT_EQ(k.sta, c.sta);
    if (!k.flags.empty()) {
      EXPECT_EQ(k.flags, c.flags);
    }
    EXPECT_EQ(static_cast<uint32_t>(CountBlocks(k.sta)), c.run.request.StationsWritten);
  }
}

}  // namespace
}  // namespace talverin
