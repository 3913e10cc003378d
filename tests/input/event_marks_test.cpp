// The event file and the station marks: entries loaded into the job's table, the
// station-mark step epoch by epoch (moving state, blocks of occupations and site changes,
// mark records taking the place of site file blocks, feature records written after the
// epochs), and the same through ConvertFile into the .sta and GPB files. (Corrupt site and
// event files are the fuzz stage's: every field ends inside it, every counted block is
// written.)
#include "input/event_marks.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "base/text_buffer.h"
#include "dataset/byte_builder.h"
#include "dataset/site_event_writers.h"
#include "input/input_source.h"
#include "job/conversion_job.h"
#include "tests/support/conversion_fixtures.h"
#include "tests/support/station_file.h"

namespace talverin {
namespace {

using testing_support::ConvertDownloadSet;
using testing_support::ConvertedSet;
using testing_support::CountOf;
using testing_support::TempDir;

// GFN fields 0..7: name, -, -, -, kind, height, -, description.
std::vector<std::string> Gfn(const char* name, const char* kind, const char* height,
                             const char* desc) {
  return {name, "f1", "f2", "f3", kind, height, "f6", desc};
}

// One entry of an event file: its time line, then a mark line ("MI": site, description,
// height) or a feature line (the code and its fields).
struct Entry {
  double time_s;
  std::string code;
  std::vector<std::string> fields;
};
std::string EventText(const std::vector<Entry>& entries) {
  EventFileBuilder text;
  for (const Entry& e : entries) {
    text.Time(e.time_s);
    if (e.code == "MI") {
      text.Mark(e.fields[0], e.fields[1], e.fields[2]);
    } else {
      text.Feature(e.code, e.fields);
    }
  }
  return text.Text();
}

// One loaded record as expected; a loaded record is not yet seen (evSeen -1), a slot that
// no entry filled stays zeroed.
struct Want {
  double time_s;
  std::string name, desc, height, kind;
  int32_t end, moving;
  double seen = -1.0;
};

Want Zeroed() { return {0.0, "", "", "", "", 0, 0, 0.0}; }

// Loads the event text (no file when noFile) into a job and checks every record of its
// table against wants; the load's result, and hasFeatures unless it is -1. Marks on keep
// the times as written.
void ExpectLoad(const char* what, const std::string& text, const std::vector<Want>& wants,
                int32_t hasFeatures = -1, int32_t markOption = 1, int32_t receiverType = 1,
                int32_t result = 0, bool noFile = false) {
  SCOPED_TRACE(what);
  TempDir dir;
  ConversionJob job;
  const std::string path = dir.File(noFile ? "DNONE.123" : "DAAAAA03.123");
  if (!noFile) {
    ASSERT_TRUE(WriteFileText(path, text));
  }
  std::snprintf(job.eventPath, sizeof job.eventPath, "%s", path.c_str());
  job.options.StationMarkOption = markOption;
  job.options.UseEventFile = 1;
  job.receiverType = receiverType;
  ASSERT_EQ(result, LoadEventFile(job, job.events));
  // The decode-only entry on the same bytes loads the same table.
  EventTable fromBytes{};
  InputSource bytes;
  bytes.AttachBytes(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  const bool lag = EventTimesLag(markOption != 0, receiverType);
  ASSERT_EQ(noFile ? 0 : result, DecodeEvents(bytes, lag, fromBytes));
  for (const EventTable* table : {&job.events, noFile ? &job.events : &fromBytes}) {
    ASSERT_EQ(static_cast<int32_t>(wants.size()), table->count);
    EXPECT_EQ(!wants.empty(), table->records != nullptr);
    if (hasFeatures >= 0) {
      EXPECT_EQ(hasFeatures, table->hasFeatures);
    }
    for (size_t i = 0; i < wants.size(); ++i) {
      const EventRecord& r = table->records[i];
      const Want& w = wants[i];
      SCOPED_TRACE(i);
      EXPECT_FIELDS(FIELD_IS(r.evTime, w.time_s), FIELD_IS(r.evEnd, w.end),
                    FIELD_IS(r.evMoving, w.moving), FIELD_IS(r.evSeen, w.seen));
      EXPECT_EQ(w.name, r.evName);
      EXPECT_EQ(w.desc, r.evDesc);
      EXPECT_EQ(w.height, r.evHeight);
      EXPECT_EQ(w.kind, r.evKind);
    }
  }
  FreeEventTable(fromBytes);
}

TEST(EventLoad, EntriesBecomeTheRecordsOfTheTable) {
  const std::string entry = "C 1000\nMIA101xxxxxxxxxxxxxxxxDESCRIPT1.2345\n";
  std::string many;  // 100 000 records are held: one more, or a file above 16 MB, is refused
  for (int i = 0; i < 50000; ++i) many += entry + "C 1000\nMIB202xxxxxxxxxxxxxxxxDESCRIPT1.2345\n";
  const std::string mark100 = EventText({{100.0, "MI", {"A101", "D", "1"}}});
  const Want at87 = {87.0, "A101", "D       ", "1     ", "", 0, 0};
  const Want at100 = {100.0, "A101", "D       ", "1     ", "", 0, 0};
  const std::string name40(40, 'N');
  // Columns: 0-1 "MI", 2-5 site, 6-21 filler, 22-29 description, 30-35 height.
  ExpectLoad("mark lines are cut at their fixed columns",
             "C1 1000.5\nMIA101xxxxxxxxxxxxxxxxDESCRIPT1.2345tail\n"
             "C2 1001\nMIB202xxxxxxxxxxxxxxxxDESCRIPT1.2\n"  // height runs past the line
             "C3 1002\nMIC303xxxxxxxxxxxxxxxxDESCRIPT\n"     // height is only the newline
             "C4 1003\nMID404xxxxxxxxxxxxxxxxDESC\n"         // height starts past the end
             "C5 1004\nMIE5\n"                               // description starts past the end
             "C6 1005\nMIF606xxxxxxxxxxxxxxxxDESCRIPT",      // last line, no newline
             {{1000.5, "A101", "DESCRIPT", "1.2345", "", 0, 0},
              {1001.0, "B202", "DESCRIPT", "1.2\n", "", 0, 0},
              {1002.0, "C303", "DESCRIPT", "\n", "", 0, 0}},
             0);
  ExpectLoad(
      "a mark of the previous record's time and name loads once",
      EventText({{500, "MI", {"A101", "ONE", "1.0"}},
                 {500, "MI", {"A101", "TWO", "2.0"}},     // duplicate of the previous: dropped
                 {501, "MI", {"A101", "THREE", "3.0"}},   // new time
                 {501, "MI", {"B202", "FOUR", "4.0"}},    // new name
                 {501, "MI", {"A101", "FIVE", "5.0"}}}),  // duplicate, but not of the previous
      {{500, "A101", "ONE     ", "1.0   ", "", 0, 0},
       {501, "A101", "THREE   ", "3.0   ", "", 0, 0},
       {501, "B202", "FOUR    ", "4.0   ", "", 0, 0},
       {501, "A101", "FIVE    ", "5.0   ", "", 0, 0}});
  // 13 s come off unless marks are on or the receiver is GLONASS.
  ExpectLoad("lag, marks off, C/A", mark100, {at87}, -1, 0, 1);
  ExpectLoad("lag, marks off, GLONASS", mark100, {at100}, -1, 0, 4);
  ExpectLoad("lag, marks on, C/A", mark100, {at100}, -1, 1, 1);
  ExpectLoad("feature starts take their fields and kind",
             EventText({{10, "GFN", Gfn("Big Tree", "P", "1.75", "oak*old")},
                        {20, "GFN", Gfn("Fence", "L", "2", "wire")},
                        {30, "GFN", Gfn("Field", "Area", "0", "grass")},
                        {40, "GFN", Gfn("Odd", "Q", "0", "x")},
                        {60, "GFN", {"Short", "1", "2", "3", "P", "1.0", "6"}}}),  // 7 fields
             {{10, "Big_Tree", "oak+old", "1.75", "STATIC", 0, 0},
              {20, "Fence", "wire", "2", "LINE", 0, 1},
              {30, "Field", "grass", "0", "AREA", 0, 1},
              {40, "Odd", "x", "0", "UNKNOWN", 0, 1}},
             1);
  // Every record carries the description the attributes built, the height and the kind;
  // a restart's begin record lies 0.5 s after its end record.
  ExpectLoad("attributes, ends and restarts build on the previous record",
             EventText({{100, "GFN", Gfn("Road", "L", "1.5", "tar")},
                        {101, "GAS", {"a0", "surface", "a2", "gravel", "a4"}},
                        {102, "GAS", {"a0", "ignored", "a2", "four fields"}},
                        {103, "GRP", {"Road2", "Road"}},
                        {104, "GEF", {"Road2"}}}),
             {{100, "Road", "surface=gravel", "1.5", "LINE", 0, 1},
              {103, "Road", "surface=gravel", "1.5", "LINE", 1, 1},
              {103.5, "Road2", "surface=gravel", "1.5", "LINE", 0, 1},
              {104, "Road2", "surface=gravel", "1.5", "LINE", 1, 1}});
  // Counted: 1 + 1 + 1 + 1 = 4 slots; filled: the GFN and the last GEF.
  ExpectLoad("ends without a feature or without a name leave zeroed slots",
             EventText({{1, "GEF", {"Orphan"}},  // before any record
                        {3, "GFN", Gfn("Well", "P", "0.5", "deep")},
                        {4, "GEF", {}},  // no field 0
                        {6, "GEF", {"Well"}}}),
             {{3, "Well", "deep", "0.5", "STATIC", 0, 0},
              {6, "Well", "deep", "0.5", "STATIC", 1, 0},
              Zeroed(),
              Zeroed()});
  ExpectLoad("long texts are cut to their fields, fields end at a carriage return",
             EventText({{1, "GFN", Gfn(name40.c_str(), "P", "123456789012", "last\r")}}),
             {{1, std::string(31, 'N'), "last", "123456789", "STATIC", 0, 0}});
  ExpectLoad(
      "malformed entries are skipped",
      EventFileBuilder()
          .Line("MIA101xxxxxxxxxxxxxxxxNOTIME  1.0\n"               // mark without a time line
                "C 5\nXYZ\n"                                        // neither a mark nor a feature
                "C 6\nC 7\nMIB202                AFTER   1     \n"  // a time line eats the next
                "Cnotime\nMIC303                NOTIME  1     \n")  // an unscanned time line
          .Time(1e300)
          .Line("MID404                NOWEEK  1     \n"  // no time of week: as unscanned
                "C 8\nGXX,a,b,c,d,e,f,g,h\n"
                "C 9\nGFN_,Nope,f1,f2,f3,P,1,f6,code must match\n"
                "C 10\n")  // time line at the end of the file
          .Text(),
      {{-1.0, "C303", "NOTIME  ", "1     ", "", 0, 0},
       {-1.0, "D404", "NOWEEK  ", "1     ", "", 0, 0}});
  ExpectLoad("100 001 records", many + entry, {}, -1, 1, 1, -1);
  ExpectLoad("a file of 16 MB", std::string(16 * 1024 * 1024, '\n'), {});
  ExpectLoad("a file above 16 MB", std::string(16 * 1024 * 1024 + 1, '\n'), {}, -1, 1, 1, -1);
  ExpectLoad("no event file", "", {}, -1, 1, 1, 0, true);
  ExpectLoad("an empty file", "", {});
}

struct EpochSpec {
  const char* site;
  double time_s;
};

// A job with its station file open, driven epoch by epoch like the observation reader.
class MarkRun {
 public:
  explicit MarkRun(int32_t markOption, double antennaHeight_m = 1.5) {
    job.options.StationMarkOption = markOption;  // every other option 0: no event file
    job.receiverType = 1;
    job.antennaHeight = antennaHeight_m;
  }

  // Loads an event file (times kept as written when marks are on).
  void Events(const std::string& text) {
    const std::string path = sta.dir.File("DAAAAA03.123");
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

  StaJob sta;
  ConversionJob& job = sta.job;
  std::vector<uint16_t> flags;
  std::vector<uint8_t> lastHeader;
};

// Runs the epochs through the station-mark step set up with the station-mark option, the
// antenna height and the station file open or not (staFile), with these events loaded (none
// when empty), and checks the station file's blocks, the time of the last mark record used
// (0: none), the moving flags (when given) and the site names kept.
void ExpectMarkRun(const char* what, int32_t markOption, double height_m, bool staFile,
                   const std::string& events, const std::vector<EpochSpec>& epochs,
                   const std::string& blocks, double lastMatch_s,
                   const std::vector<uint16_t>& flags = {}) {
  SCOPED_TRACE(what);
  MarkRun run(markOption, height_m);
  if (!staFile) {
    std::fclose(run.job.staFile);
    run.job.staFile = nullptr;
  }
  if (!events.empty()) run.Events(events);
  for (const EpochSpec& e : epochs) run.Epoch(e.site, e.time_s);
  EXPECT_EQ(blocks, run.sta.Blocks());
  if (!flags.empty()) {
    EXPECT_EQ(flags, run.flags);
  }
  EXPECT_EQ(lastMatch_s, run.job.events.lastMatch);
  EXPECT_EQ(static_cast<int32_t>(CountOf(blocks, "Sta {\n")), run.job.stationsWritten);
  EXPECT_STREQ(epochs.back().site, run.job.currentSite);
  EXPECT_STREQ(epochs.back().site, run.job.previousSite);
}

TEST(StationMarks, EpochSequencesGiveTheirBlocksAndMovingFlags) {
  // Mark records: with marks off the times lose 13 s. Only records from the last match on
  // are searched; a last match more than half a week from the first record's time lies in
  // the other week, so the search starts one week earlier and an earlier mark is used again.
  const std::string occupy =
      EventText({{90, "MI", {"A101", "OCCUPY", "1.2345"}}, {95, "MI", {"B202", "OTHER", "9.0"}}});
  const std::string features = EventText({{1, "GFN", Gfn("BBBB", "P", "0", "pole")},
                                          {2, "GFN", Gfn("AAAA", "L", "0", "line")},
                                          {3, "GFN", Gfn("BBBB", "A", "0", "area")},
                                          {4, "GEF", {"BBBB"}}});
  const std::vector<EpochSpec> siteChanges = {{"????", 100.0}, {"A101", 101.0}, {"A101", 102.0},
                                              {"????", 103.0}, {"B202", 104.0}, {"A101", 105.0}};
  ExpectMarkRun("marks off: each new name is a site change, leaving writes nothing", 0, 1.5, true,
                "", siteChanges,
                Block("A101", "BFILE", "SITE CHANGE", "101.000000", "1.5000") +
                    Block("B202", "BFILE", "SITE CHANGE", "104.000000", "1.5000") +
                    Block("A101", "BFILE", "SITE CHANGE", "105.000000", "1.5000"),
                0.0, {0, 0, 0, 0, 0, 0});
  ExpectMarkRun("first named site of the file, marks on", 1, 0.0, true, "",
                {{"A101", 50.0}, {"A101", 51.0}, {"????", 52.0}},
                Block("A101", "BFILE", "????_STATIC", "50.000000", "0.0000") +
                    Block("A101", "BFILE", "END_STATIC", "51.000000", "0.0000"),
                0.0);
  ExpectMarkRun("one-epoch occupation gets no end block", 1, 1.5, true, "",
                {{"????", 10.0}, {"A101", 11.0}, {"????", 12.0}},
                Block("A101", "BFILE", "BEGIN_STATIC", "11.000000", "1.5000"), 0.0, {2, 0, 2});
  ExpectMarkRun("without a station file only the moving state is kept", 1, 1.5, false, "",
                {{"????", 1.0}, {"A101", 2.0}, {"????", 3.0}}, "", 0.0, {2, 0, 2});
  ExpectMarkRun("mark records replace the site file blocks, marks off", 0, 1.5, true, occupy,
                {{"????", 100.0}, {"A101", 101.0}, {"A101", 102.0}, {"????", 103.0}},
                Block("A101", "OCCUPY  ", "BEGIN_STATIC", "101.000000", "1.2345") +
                    Block("A101", "OCCUPY  ", "END_STATIC", "102.000000", "1.2345"),
                77.0);
  // Y matches at 200; the one-epoch rule does not hold for mark blocks; Z at 100 lies
  // before 200 and gives a site file block.
  ExpectMarkRun("records before the last match are not used", 1, 1.5, true,
                EventText({{150, "MI", {"W303", "FIRST", ""}},
                           {200, "MI", {"Y101", "YREC", "2.0"}},
                           {100, "MI", {"Z202", "ZREC", "3.0"}}}),
                {{"Y101", 1000.0}, {"????", 1001.0}, {"Z202", 1002.0}},
                Block("Y101", "YREC    ", "BEGIN_STATIC", "1000.000000", "2.0000") +
                    Block("Y101", "YREC    ", "END_STATIC", "1000.000000", "2.0000") +
                    Block("Z202", "BFILE", "BEGIN_STATIC", "1002.000000", "1.5000"),
                200.0);
  // lastMatch 0: no shift, Y at 200 is used; then |604000 - 200| > 302400 shifts
  // lastMatch to 200 - 604800, and Z at 100 qualifies.
  ExpectMarkRun("week rollover opens the search again", 1, 1.5, true,
                EventText({{604000, "MI", {"X000", "LATE", ""}},
                           {200, "MI", {"Y101", "YREC", "2.0"}},
                           {100, "MI", {"Z202", "ZREC", "3.0"}}}),
                {{"Y101", 300.0}, {"Y101", 301.0}, {"????", 302.0}, {"Z202", 303.0}},
                Block("Y101", "YREC    ", "BEGIN_STATIC", "300.000000", "2.0000") +
                    Block("Y101", "YREC    ", "END_STATIC", "301.000000", "2.0000") +
                    Block("Z202", "ZREC    ", "BEGIN_STATIC", "303.000000", "3.0000"),
                100.0);
  ExpectMarkRun("the first begin record in file order decides the moving state", 1, 1.5, true,
                features, {{"AAAA", 10.0}, {"BBBB", 11.0}, {"BBBB", 12.0}, {"AAAA", 13.0}}, "", 0.0,
                {2, 0, 0, 2});
  ExpectMarkRun("a time that is not a number keeps the name and writes nothing", 1, 1.5, true, "",
                {{"????", 10.0}, {"A101", std::nan("")}, {"A101", HUGE_VAL}, {"A101", 12.0}},
                Block("A101", "BFILE", "BEGIN_STATIC", "12.000000", "1.5000"), 0.0, {2, 2, 2, 0});
}

// A name byte outside 1..122 skips the epoch (the header's first byte becomes 0).
TEST(StationMarks, UnusableHeadersSkipTheStep) {
  MarkRun run(1);
  ASSERT_EQ(0, run.Epoch("A101", 10.0));
  for (const char* bad : {"A{01", "\x01\x02\x03\xff", "AB\0D"}) {  // '{' is 123
    EXPECT_EQ(-1, run.Epoch(std::string(bad, 4), 20.0));
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

// A feature the epochs never showed keeps its event-file time and the "-TimeErr" marker,
// whole also after the longest name a record holds (31 characters).
TEST(StationMarks, FeaturesFollowTheSiteNamesAndAreWrittenAtTheEnd) {
  const std::string name31(31, 'L');
  MarkRun run(0);
  // Times lose 13 s (marks off, receiver type 1).
  run.Events(EventText({{113, "GEF", {"Ghost"}},  // before any record: a zeroed slot
                        {1013, "GFN", Gfn("TR01", "P", "1.25", "tree")},
                        {1023, "GFN", Gfn("RD02", "L", "0.5", "road")},
                        {1033, "GEF", {"RD02"}},
                        {1043, "GFN", Gfn((name31 + "xyz").c_str(), "A", "2", "lot")}}));
  ASSERT_EQ(5, run.job.events.count);
  const std::vector<EpochSpec> epochs = {{"????", 2000.0}, {"TR01", 2001.0}, {"TR01", 2002.0},
                                         {"RD02", 2003.0}, {"RD02", 2004.0}, {"????", 2005.0}};
  for (const EpochSpec& e : epochs) run.Epoch(e.site, e.time_s);
  EXPECT_EQ((std::vector<uint16_t>{2, 0, 0, 2, 2, 2}), run.flags);
  EXPECT_EQ("", run.sta.Blocks());  // no blocks during the epochs in feature mode

  WriteEventStations(run.job, run.job.events);
  EXPECT_EQ(Block("TR01", "tree", "BEGIN_STATIC", "2001.000000", "1.2500") +
                Block("RD02", "road", "BEGIN_LINE", "2003.000000", "0.5000") +
                Block("RD02", "road", "END_LINE", "2004.000000", "0.5000") +
                Block(name31 + "-TimeErr", "lot", "BEGIN_AREA", "1030.000000", "2.0000"),
            run.sta.Blocks());
  EXPECT_EQ(4, run.job.stationsWritten);  // the zeroed slot is refused, not counted
  EXPECT_STREQ("Missing station name", ModuleErrorText());
  FreeEventTable(run.job.events);
  EXPECT_EQ(nullptr, run.job.events.records);
  EXPECT_EQ(0, run.job.events.count);
}

// Station marks and site records through ConvertFile: the site file block, then mark
// records (the second at the same time and name loads not at all) in the place of the
// site file blocks, and the moving flags of an occupation between moving epochs.
TEST(StationPipeline, BlocksAndMovingFlagsReachTheStaAndGpbFiles) {
  ObsFile file = testing_support::OneChannelEpochs(4, 345600.0, "????");
  file.recordSize = 35;
  file.epochs[1].site = file.epochs[2].site = "A101";
  TempDir dir;
  EXPECT_TRUE(WriteFileText(dir.File("S0001A01.001"), SiteFileText(SiteFileLines{})));
  const std::string marks = EventText(
      {{345500, "MI", {"A101", "TRIPOD", "1.6000"}}, {345500, "MI", {"A101", "AGAIN", "9.9"}}});
  EXPECT_TRUE(WriteFileText(dir.File("D0001A01.001"), marks));
  const ConvertedSet c =
      ConvertDownloadSet(dir, ObservationFileBytes(file), {}, [](ConvertOptions& o) {
        o.ReceiverType = 1;
        o.RecomputePosition = 0;
        o.StationMarkOption = 1;
        o.UseEventFile = 1;
      });
  EXPECT_EQ(0, c.run.result);
  // The site file: ABCD, 345600 s, 1.543 m.
  const std::string sta = Block("ABCD", "Site file", "Before", "345600.000000", "1.5430") +
                          Block("A101", "TRIPOD  ", "BEGIN_STATIC", "345601.000000", "1.6000") +
                          Block("A101", "TRIPOD  ", "END_STATIC", "345602.000000", "1.6000");
  EXPECT_EQ(sta, StaBody(c.sta));
  const uint16_t flags[] = {kEpochMoving, 0, 0, kEpochMoving};
  ASSERT_EQ(std::size(flags), c.epochs.size());
  for (size_t i = 0; i < std::size(flags); ++i) EXPECT_EQ(flags[i], c.epochs[i].epoch.flags) << i;
  EXPECT_EQ(3u, c.run.request.StationsWritten);
}

}  // namespace
}  // namespace talverin
