// Station marks epoch by epoch: moving state, blocks of occupations and site changes, mark
// records of the event file taking the place of site file blocks, and feature records
// written after the epochs.
#include "input/event_marks.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "base/text_buffer.h"
#include "plugin/conversion_job.h"
#include "tests/input/event_station_blocks.h"
#include "tests/support/test_support.h"
#include "tools/download_set/byte_builder.h"
#include "tools/download_set/site_event_writers.h"

namespace talverin {
namespace {

using testing_support::TempDir;

struct EpochSpec {
  const char* site;
  double time_s;
};

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
  void Epochs(const std::vector<EpochSpec>& epochs) {
    for (const EpochSpec& e : epochs) Epoch(e.site, e.time_s);
  }

  // The station file after its header line.
  std::string Blocks() {
    if (job.staFile != nullptr) std::fflush(job.staFile);
    return StaBody(ReadFileText(staPath_));
  }

  ConversionJob job;
  std::vector<uint16_t> flags;
  std::vector<uint8_t> lastHeader;

 private:
  TempDir dir_;
  std::string staPath_;
};

const std::vector<EpochSpec> kOccupation = {
    {"????", 100.0}, {"A101", 101.0}, {"A101", 102.0}, {"????", 103.0}};

TEST(StationMarks, EpochSequencesGiveTheirBlocksAndMovingFlags) {
  struct Case {
    const char* what;
    int32_t markOption;
    double height_m;
    bool staFile;
    std::string events;  // empty: no event file
    std::vector<EpochSpec> epochs;
    std::string blocks;
    std::vector<uint16_t> flags;  // empty: not checked
  };
  // Mark records: with marks off the times lose 13 s; they only order the matches here.
  const std::string occupy = EventFileBuilder()
                                 .Time(90).Mark("A101", "OCCUPY", "1.2345")
                                 .Time(95).Mark("B202", "OTHER", "9.0")
                                 .Text();
  const Case cases[] = {
      {"occupation between moving epochs, marks on", 1, 1.5, true, "", kOccupation,
       Block("A101", "BFILE", "BEGIN_STATIC", "101.000000", "1.5000") +
           Block("A101", "BFILE", "END_STATIC", "102.000000", "1.5000"),
       {2, 0, 0, 2}},
      {"marks off: each new name is a site change, leaving writes nothing", 0, 1.5, true, "",
       {{"????", 100.0}, {"A101", 101.0}, {"A101", 102.0}, {"????", 103.0}, {"B202", 104.0},
        {"A101", 105.0}},
       Block("A101", "BFILE", "SITE CHANGE", "101.000000", "1.5000") +
           Block("B202", "BFILE", "SITE CHANGE", "104.000000", "1.5000") +
           Block("A101", "BFILE", "SITE CHANGE", "105.000000", "1.5000"),
       {0, 0, 0, 0, 0, 0}},
      {"first named site of the file, marks on", 1, 0.0, true, "",
       {{"A101", 50.0}, {"A101", 51.0}, {"????", 52.0}},
       Block("A101", "BFILE", "????_STATIC", "50.000000", "0.0000") +
           Block("A101", "BFILE", "END_STATIC", "51.000000", "0.0000"),
       {}},
      {"first named site of the file, marks off", 0, 0.0, true, "",
       {{"A101", 50.0}, {"A101", 51.0}, {"????", 52.0}},
       Block("A101", "BFILE", "SITE CHANGE", "50.000000", "0.0000"), {}},
      {"one-epoch occupation gets no end block", 1, 1.5, true, "",
       {{"????", 10.0}, {"A101", 11.0}, {"????", 12.0}},
       Block("A101", "BFILE", "BEGIN_STATIC", "11.000000", "1.5000"), {2, 0, 2}},
      {"without a station file only the moving state is kept", 1, 1.5, false, "",
       {{"????", 1.0}, {"A101", 2.0}, {"????", 3.0}}, "", {2, 0, 2}},
      {"mark records replace the site file blocks, marks on", 1, 1.5, true, occupy, kOccupation,
       Block("A101", "OCCUPY  ", "BEGIN_STATIC", "101.000000", "1.2345") +
           Block("A101", "OCCUPY  ", "END_STATIC", "102.000000", "1.2345"),
       {}},
      {"mark records replace the site file blocks, marks off", 0, 1.5, true, occupy, kOccupation,
       Block("A101", "OCCUPY  ", "BEGIN_STATIC", "101.000000", "1.2345") +
           Block("A101", "OCCUPY  ", "END_STATIC", "102.000000", "1.2345"),
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MarkRun run(c.markOption, c.height_m);
    if (!c.staFile) {
      std::fclose(run.job.staFile);
      run.job.staFile = nullptr;
    }
    if (!c.events.empty()) run.Events(c.events);
    run.Epochs(c.epochs);
    EXPECT_EQ(c.blocks, run.Blocks());
    if (!c.flags.empty()) {
      EXPECT_EQ(c.flags, run.flags);
    }
    EXPECT_EQ(static_cast<int32_t>(CountBlocks(c.blocks)), run.job.stationsWritten);
    EXPECT_STREQ(c.epochs.back().site, run.job.currentSite);
    EXPECT_STREQ(c.epochs.back().site, run.job.previousSite);
  }
}

// Only records after the last match are searched; a last match more than half a week
// from the first record's time lies in the other week, so the search starts one week
// earlier and an earlier mark is used again.
TEST(StationMarks, MarkRecordsAfterTheLastMatchAreSearchedAcrossTheWeekRollover) {
  struct Case {
    const char* what;
    std::string events;
    std::vector<EpochSpec> epochs;
    std::string blocks;
    double lastMatch_s;
  };
  const Case cases[] = {
      // Y matches at 200; the one-epoch rule does not hold for mark blocks; Z at 100 lies
      // before 200 and gives a site file block.
      {"records before the last match are not used",
       EventFileBuilder().Time(150).Mark("W303", "FIRST", "")
           .Time(200).Mark("Y101", "YREC", "2.0")
           .Time(100).Mark("Z202", "ZREC", "3.0").Text(),
       {{"Y101", 1000.0}, {"????", 1001.0}, {"Z202", 1002.0}},
       Block("Y101", "YREC    ", "BEGIN_STATIC", "1000.000000", "2.0000") +
           Block("Y101", "YREC    ", "END_STATIC", "1000.000000", "2.0000") +
           Block("Z202", "BFILE", "BEGIN_STATIC", "1002.000000", "1.5000"),
       200.0},
      // lastMatch 0: no shift, Y at 200 is used; then |604000 - 200| > 302400 shifts
      // lastMatch to 200 - 604800, and Z at 100 qualifies.
      {"week rollover opens the search again",
       EventFileBuilder().Time(604000).Mark("X000", "LATE", "")
           .Time(200).Mark("Y101", "YREC", "2.0")
           .Time(100).Mark("Z202", "ZREC", "3.0").Text(),
       {{"Y101", 300.0}, {"Y101", 301.0}, {"????", 302.0}, {"Z202", 303.0}},
       Block("Y101", "YREC    ", "BEGIN_STATIC", "300.000000", "2.0000") +
           Block("Y101", "YREC    ", "END_STATIC", "301.000000", "2.0000") +
           Block("Z202", "ZREC    ", "BEGIN_STATIC", "303.000000", "3.0000"),
       100.0},
  };
  for (const Case& c : cases) {
    MarkRun run(1);
    run.Events(c.events);
    run.Epochs(c.epochs);
    EXPECT_EQ(c.blocks, run.Blocks()) << c.what;
    EXPECT_EQ(c.lastMatch_s, run.job.events.lastMatch) << c.what;
  }
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
  run.Epochs({{"????", 2000.0}, {"TR01", 2001.0}, {"TR01", 2002.0}, {"RD02", 2003.0},
              {"RD02", 2004.0}, {"????", 2005.0}});
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
  run.Epochs({{"AAAA", 10.0}, {"BBBB", 11.0}, {"BBBB", 12.0}, {"AAAA", 13.0}});
  EXPECT_EQ((std::vector<uint16_t>{2, 0, 0, 2}), run.flags);
  const EventRecord* r = run.job.events.records;
  // Begin records: the first epoch showing the name; the end record: the last.
  const double seen_s[] = {11.0, 10.0, 11.0, 12.0};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(seen_s[i], r[i].evSeen) << i;
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
