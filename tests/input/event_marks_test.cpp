#include "input/event_marks.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "base/text_buffer.h"
#include "plugin/conversion_job.h"
#include "tests/support/test_support.h"
#include "tools/download_set/byte_builder.h"
#include "tools/download_set/site_event_writers.h"

namespace talverin {
namespace {

using testing_support::TempDir;

constexpr char kStaHeader[] = "$STAINFO Ver7.00 TALVERIN\n";

// A job with its station file open, driven epoch by epoch like the observation reader.
class MarkRun {
 public:
  explicit MarkRun(int32_t markOption, double antennaHeight_m = 1.5) {
    staPath_ = dir_.File("out.sta");
    job.staFile = std::fopen(staPath_.c_str(), "w");
    EXPECT_NE(nullptr, job.staFile);
    if (job.staFile != nullptr) std::fputs(kStaHeader, job.staFile);
    job.options.StationMarkOption = markOption;
    job.options.UseEventFile = 0;
    job.receiverType = 1;
    job.antennaHeight = antennaHeight_m;
  }

  // Loads an event file (times kept as written when marks are on).
  void Events(const std::string& text) {
    const std::string path = dir_.File("DAAAAA03.123");
    ASSERT_TRUE(WriteFileText(path, text));
    std::snprintf(job.eventPath, sizeof job.eventPath, "%s", path.c_str());
    job.options.UseEventFile = 1;
    ASSERT_EQ(0, LoadEventFile(job, job.events));
  }

  // One epoch: the 67-byte header with the site name and the time; returns the step's
  // result and records the moving state the epoch would carry.
  int32_t Epoch(const std::string& site, double time_s) {
    ByteBuilder header;
    header.Text(site, 4);
    header.F64(time_s);
    header.Zeros(kEpochHeaderSize - 12);
    lastHeader = header.bytes();
    const int32_t result = StationMarkStep(job, lastHeader.data(), job.events);
    flags.push_back(job.epochFlagBits);
    return result;
  }

  // The station file after its header line.
  std::string Blocks() {
    if (job.staFile != nullptr) std::fflush(job.staFile);
    const std::string text = ReadFileText(staPath_);
    EXPECT_EQ(0u, text.compare(0, sizeof kStaHeader - 1, kStaHeader));
    return text.size() >= sizeof kStaHeader - 1 ? text.substr(sizeof kStaHeader - 1) : text;
  }

  ConversionJob job;
  std::vector<uint16_t> flags;
  std::vector<uint8_t> lastHeader;

 private:
  TempDir dir_;
  std::string staPath_;
};

// A block as the station file holds it: vertical height, week 0.
std::string Block(const std::string& name, const std::string& desc, const std::string& remark,
                  const std::string& time, const std::string& height) {
  std::string text = "Sta {\n\tID: \"" + name + "\"\n";
  if (!desc.empty()) text += "\tDesc: \"" + desc + "\"\n";
  if (!remark.empty()) text += "\tRem: \"" + remark + "\"\n";
  return text + "\tGTim: " + time + " 0\n\tHi: " + height + " VERT\n}\n";
}

TEST(StationMarks, OccupationBetweenMovingEpochsWithMarksOn) {
  MarkRun run(1);
  run.Epoch("????", 100.0);
  run.Epoch("A101", 101.0);
  run.Epoch("A101", 102.0);
  run.Epoch("????", 103.0);
  EXPECT_EQ(
      "Sta {\n\tID: \"A101\"\n\tDesc: \"BFILE\"\n\tRem: \"BEGIN_STATIC\"\n"
      "\tGTim: 101.000000 0\n\tHi: 1.5000 VERT\n}\n"
      "Sta {\n\tID: \"A101\"\n\tDesc: \"BFILE\"\n\tRem: \"END_STATIC\"\n"
      "\tGTim: 102.000000 0\n\tHi: 1.5000 VERT\n}\n",
      run.Blocks());
  EXPECT_EQ((std::vector<uint16_t>{2, 0, 0, 2}), run.flags);
  EXPECT_EQ(2, run.job.stationsWritten);
  EXPECT_STREQ("????", run.job.currentSite);
}

TEST(StationMarks, WithoutMarksEachNewNameIsASiteChangeAndLeavingWritesNothing) {
  MarkRun run(0);
  run.Epoch("????", 100.0);
  run.Epoch("A101", 101.0);
  run.Epoch("A101", 102.0);
  run.Epoch("????", 103.0);
  run.Epoch("B202", 104.0);
  run.Epoch("A101", 105.0);
  EXPECT_EQ(Block("A101", "BFILE", "SITE CHANGE", "101.000000", "1.5000") +
                Block("B202", "BFILE", "SITE CHANGE", "104.000000", "1.5000") +
                Block("A101", "BFILE", "SITE CHANGE", "105.000000", "1.5000"),
            run.Blocks());
  EXPECT_EQ((std::vector<uint16_t>{0, 0, 0, 0, 0, 0}), run.flags);
  EXPECT_EQ(3, run.job.stationsWritten);
}

TEST(StationMarks, FirstNamedSiteOfTheFile) {
  struct Case {
    int32_t markOption;
    std::string blocks;
  };
  const Case cases[] = {
      {1, Block("A101", "BFILE", "????_STATIC", "50.000000", "0.0000") +
              Block("A101", "BFILE", "END_STATIC", "51.000000", "0.0000")},
      {0, Block("A101", "BFILE", "SITE CHANGE", "50.000000", "0.0000")},
  };
  for (const Case& c : cases) {
    MarkRun run(c.markOption, 0.0);
    run.Epoch("A101", 50.0);
    run.Epoch("A101", 51.0);
    run.Epoch("????", 52.0);
    EXPECT_EQ(c.blocks, run.Blocks()) << c.markOption;
  }
}

TEST(StationMarks, OneEpochOccupationGetsNoEndBlock) {
  MarkRun run(1);
  run.Epoch("????", 10.0);
  run.Epoch("A101", 11.0);
  run.Epoch("????", 12.0);
  EXPECT_EQ(Block("A101", "BFILE", "BEGIN_STATIC", "11.000000", "1.5000"), run.Blocks());
  EXPECT_EQ((std::vector<uint16_t>{2, 0, 2}), run.flags);
  EXPECT_EQ(1, run.job.stationsWritten);
}

TEST(StationMarks, NameBytesOutsideOneTo122SkipTheEpoch) {
  MarkRun run(1);
  ASSERT_EQ(0, run.Epoch("A101", 10.0));
  for (const char* bad : {"A\x7b" "01", "\x01\x02\x03\xff", "AB\0D"}) {
    const std::string site(bad, 4);
    EXPECT_EQ(-1, run.Epoch(site, 20.0));
    EXPECT_EQ(0, run.lastHeader[0]);
    EXPECT_STREQ("A101", run.job.currentSite);
    EXPECT_STREQ("A101", run.job.previousSite);
    EXPECT_EQ(10.0, run.job.markPreviousTime);
  }
  // 1 and 122 ('z') are the limits that still count as a name.
  EXPECT_EQ(0, run.Epoch(std::string("\x01zzz", 4), 30.0));
  EXPECT_EQ(std::string("\x01zzz"), run.job.currentSite);
  EXPECT_EQ(2, run.job.stationsWritten);
}

TEST(StationMarks, TimeThatIsNotANumberKeepsTheNameAndWritesNothing) {
  MarkRun run(1);
  run.Epoch("????", 10.0);
  EXPECT_EQ(-1, run.Epoch("A101", std::nan("")));
  EXPECT_EQ(-1, run.Epoch("A101", HUGE_VAL));
  EXPECT_STREQ("A101", run.job.currentSite);
  EXPECT_STREQ("????", run.job.previousSite);
  EXPECT_EQ("", run.Blocks());
  run.Epoch("A101", 12.0);
  EXPECT_EQ(Block("A101", "BFILE", "BEGIN_STATIC", "12.000000", "1.5000"), run.Blocks());
}

TEST(StationMarks, WithoutStationFileOnlyTheMovingStateIsKept) {
  MarkRun run(1);
  std::fclose(run.job.staFile);
  run.job.staFile = nullptr;
  run.Epoch("????", 1.0);
  run.Epoch("A101", 2.0);
  run.Epoch("????", 3.0);
  EXPECT_EQ((std::vector<uint16_t>{2, 0, 2}), run.flags);
  EXPECT_EQ(0, run.job.stationsWritten);
  EXPECT_STREQ("????", run.job.previousSite);
}

TEST(StationMarks, MarkRecordsReplaceTheSiteFileBlocks) {
  for (int32_t markOption : {1, 0}) {
    MarkRun run(markOption);
    // With marks off the times lose 13 s; they only order the matches here.
    run.Events(EventFileBuilder()
                   .Time(90).Mark("A101", "OCCUPY", "1.2345")
                   .Time(95).Mark("B202", "OTHER", "9.0")
                   .Text());
    run.Epoch("????", 100.0);
    run.Epoch("A101", 101.0);
    run.Epoch("A101", 102.0);
    run.Epoch("????", 103.0);
    EXPECT_EQ(Block("A101", "OCCUPY  ", "BEGIN_STATIC", "101.000000", "1.2345") +
                  Block("A101", "OCCUPY  ", "END_STATIC", "102.000000", "1.2345"),
              run.Blocks())
        << markOption;
    EXPECT_EQ(2, run.job.stationsWritten);
  }
}

TEST(StationMarks, MarkRecordsBeforeTheLastMatchAreNotUsed) {
  MarkRun run(1);
  run.Events(EventFileBuilder()
                 .Time(150).Mark("W303", "FIRST", "")
                 .Time(200).Mark("Y101", "YREC", "2.0")
                 .Time(100).Mark("Z202", "ZREC", "3.0")
                 .Text());
  run.Epoch("Y101", 1000.0);  // matches at 200
  run.Epoch("????", 1001.0);  // the one-epoch rule does not hold for mark blocks
  run.Epoch("Z202", 1002.0);  // 100 lies before 200: a site file block
  EXPECT_EQ(Block("Y101", "YREC    ", "BEGIN_STATIC", "1000.000000", "2.0000") +
                Block("Y101", "YREC    ", "END_STATIC", "1000.000000", "2.0000") +
                Block("Z202", "BFILE", "BEGIN_STATIC", "1002.000000", "1.5000"),
            run.Blocks());
  EXPECT_EQ(200.0, run.job.events.lastMatch);
}

// A last match more than half a week from the first record's time lies in the other
// week: the search starts one week earlier, so the earlier mark is used again.
TEST(StationMarks, WeekRolloverOpensTheSearchAgain) {
  MarkRun run(1);
  run.Events(EventFileBuilder()
                 .Time(604000).Mark("X000", "LATE", "")
                 .Time(200).Mark("Y101", "YREC", "2.0")
                 .Time(100).Mark("Z202", "ZREC", "3.0")
                 .Text());
  run.Epoch("Y101", 300.0);   // lastMatch 0: no shift; Y at 200 is used
  run.Epoch("Y101", 301.0);
  run.Epoch("????", 302.0);   // |604000 - 200| > 302400: lastMatch 200 - 604800
  run.Epoch("Z202", 303.0);   // shifted again: Z at 100 qualifies
  EXPECT_EQ(Block("Y101", "YREC    ", "BEGIN_STATIC", "300.000000", "2.0000") +
                Block("Y101", "YREC    ", "END_STATIC", "301.000000", "2.0000") +
                Block("Z202", "ZREC    ", "BEGIN_STATIC", "303.000000", "3.0000"),
            run.Blocks());
  EXPECT_EQ(100.0, run.job.events.lastMatch);
}

TEST(StationMarks, FeaturesFollowTheSiteNamesAndAreWrittenAtTheEnd) {
  MarkRun run(0);
  // Times lose 13 s (marks off, receiver type 1).
  run.Events(EventFileBuilder()
                 .Time(113).Feature("GEF", {"Ghost"})  // before any record: a zeroed slot
                 .Time(1013).Feature("GFN", {"TR01", "a", "b", "c", "P", "1.25", "g", "tree"})
                 .Time(1023).Feature("GFN", {"RD02", "a", "b", "c", "L", "0.5", "g", "road"})
                 .Time(1033).Feature("GEF", {"RD02"})
                 .Time(1043).Feature("GFN", {"NEVER", "a", "b", "c", "A", "2", "g", "lot"})
                 .Text());
  ASSERT_EQ(5, run.job.events.count);
  run.Epoch("????", 2000.0);
  run.Epoch("TR01", 2001.0);
  run.Epoch("TR01", 2002.0);
  run.Epoch("RD02", 2003.0);
  run.Epoch("RD02", 2004.0);
  run.Epoch("????", 2005.0);
  EXPECT_EQ((std::vector<uint16_t>{2, 0, 0, 2, 2, 2}), run.flags);
  EXPECT_EQ("", run.Blocks());  // no blocks during the epochs in feature mode

  WriteEventStations(run.job, run.job.events);
  EXPECT_EQ(Block("TR01", "tree", "BEGIN_STATIC", "2001.000000", "1.2500") +
                Block("RD02", "road", "BEGIN_LINE", "2003.000000", "0.5000") +
                Block("RD02", "road", "END_LINE", "2004.000000", "0.5000") +
                Block("NEVER-TimeErr", "lot", "BEGIN_AREA", "1030.000000", "2.0000"),
            run.Blocks());
  EXPECT_EQ(4, run.job.stationsWritten);  // the zeroed slot is refused, not counted
  EXPECT_STREQ("Missing station name", ModuleErrorText());
  FreeEventTable(run.job.events);
  EXPECT_EQ(nullptr, run.job.events.records);
  EXPECT_EQ(0, run.job.events.count);
}

TEST(StationMarks, FirstBeginRecordInFileOrderDecidesTheMovingState) {
  MarkRun run(1);
  run.Events(EventFileBuilder()
                 .Time(1).Feature("GFN", {"BBBB", "a", "b", "c", "P", "0", "g", "pole"})
                 .Time(2).Feature("GFN", {"AAAA", "a", "b", "c", "L", "0", "g", "line"})
                 .Time(3).Feature("GFN", {"BBBB", "a", "b", "c", "A", "0", "g", "area"})
                 .Time(4).Feature("GEF", {"BBBB"})
                 .Text());
  run.Epoch("AAAA", 10.0);
  run.Epoch("BBBB", 11.0);
  run.Epoch("BBBB", 12.0);
  run.Epoch("AAAA", 13.0);
  EXPECT_EQ((std::vector<uint16_t>{2, 0, 0, 2}), run.flags);
  const EventRecord* r = run.job.events.records;
  EXPECT_EQ(11.0, r[0].evSeen);  // begin: the first epoch showing the name
  EXPECT_EQ(10.0, r[1].evSeen);
  EXPECT_EQ(11.0, r[2].evSeen);
  EXPECT_EQ(12.0, r[3].evSeen);  // end: the last
}

TEST(StationMarks, TimeErrSuffixIsCutToTheNameField) {
  MarkRun run(1);
  const std::string name28(28, 'L');
  run.Events(EventFileBuilder()
                 .Time(5).Feature("GFN", {name28, "a", "b", "c", "P", "x", "g", "d"})
                 .Text());
  WriteEventStations(run.job, run.job.events);
  EXPECT_EQ(Block(name28 + "-Ti", "d", "BEGIN_STATIC", "5.000000", "0.0000"), run.Blocks());
}

}  // namespace
}  // namespace talverin
