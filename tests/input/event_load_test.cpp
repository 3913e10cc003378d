#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "input/event_marks.h"
#include "plugin/conversion_job.h"
#include "tests/support/test_support.h"
#include "tools/download_set/byte_builder.h"
#include "tools/download_set/site_event_writers.h"

namespace talverin {
namespace {

using testing_support::TempDir;

// Loads the event file text into the job's table; StationMarkOption on unless stated,
// so that times are kept as written.
struct Loaded {
  int32_t result = -9;
  ConversionJob job;
  EventTable& table() { return job.events; }
  const EventRecord& at(int i) { return job.events.records[i]; }
};

void Load(Loaded& out, const TempDir& dir, const std::string& text, int32_t markOption = 1,
          int32_t receiverType = 1) {
  const std::string path = dir.File("DAAAAA03.123");
  ASSERT_TRUE(WriteFileText(path, text));
  std::snprintf(out.job.eventPath, sizeof out.job.eventPath, "%s", path.c_str());
  out.job.options.StationMarkOption = markOption;
  out.job.options.UseEventFile = 1;
  out.job.receiverType = receiverType;
  out.result = LoadEventFile(out.job, out.job.events);
}

std::vector<std::string> Fields(std::initializer_list<const char*> list) {
  return std::vector<std::string>(list.begin(), list.end());
}

// GFN fields 0..7: name, -, -, -, kind, height, -, description.
std::vector<std::string> Gfn(const char* name, const char* kind, const char* height,
                             const char* desc) {
  return Fields({name, "f1", "f2", "f3", kind, height, "f6", desc});
}

// One loaded record as expected; records that are loaded are not yet seen (evSeen -1).
struct Want {
  double time_s;
  const char* name;
  const char* desc;
  const char* height;
  const char* kind;
  int32_t end, moving;
};

void ExpectRecords(Loaded& loaded, const std::vector<Want>& wants) {
  ASSERT_EQ(0, loaded.result);
  ASSERT_EQ(static_cast<int32_t>(wants.size()), loaded.table().count);
  for (size_t i = 0; i < wants.size(); ++i) {
    const EventRecord& r = loaded.at(static_cast<int>(i));
    const Want& w = wants[i];
    EXPECT_EQ(w.time_s, r.evTime) << i;
    EXPECT_STREQ(w.name, r.evName) << i;
    EXPECT_STREQ(w.desc, r.evDesc) << i;
    EXPECT_STREQ(w.height, r.evHeight) << i;
    EXPECT_STREQ(w.kind, r.evKind) << i;
    EXPECT_EQ(w.end, r.evEnd) << i;
    EXPECT_EQ(w.moving, r.evMoving) << i;
    EXPECT_EQ(-1.0, r.evSeen) << i;
  }
}

class EventLoad : public testing::Test {
 protected:
  void LoadText(const std::string& text) { Load(loaded, dir, text); }
  TempDir dir;
  Loaded loaded;
};

TEST_F(EventLoad, MarkLinesAreCutAtTheirFixedColumns) {
  // Columns: 0-1 "MI", 2-5 site, 6-21 filler, 22-29 description, 30-35 height.
  const std::string text =
      "C1 1000.5\nMIA101xxxxxxxxxxxxxxxxDESCRIPT1.2345tail\n"
      "C2 1001\nMIB202xxxxxxxxxxxxxxxxDESCRIPT1.2\n"     // height runs past the line
      "C3 1002\nMIC303xxxxxxxxxxxxxxxxDESCRIPT\n"        // height is only the newline
      "C4 1003\nMID404xxxxxxxxxxxxxxxxDESC\n"            // height starts past the end
      "C5 1004\nMIE5\n"                                  // description starts past the end
      "C6 1005\nMIF606xxxxxxxxxxxxxxxxDESCRIPT";         // last line, no newline
  LoadText(text);
  ExpectRecords(loaded, {{1000.5, "A101", "DESCRIPT", "1.2345", "", 0, 0},
                         {1001.0, "B202", "DESCRIPT", "1.2\n", "", 0, 0},
                         {1002.0, "C303", "DESCRIPT", "\n", "", 0, 0}});
  EXPECT_EQ(0, loaded.table().hasFeatures);
}

TEST_F(EventLoad, SameTimeAndNameAsThePreviousRecordLoadsOnce) {
  EventFileBuilder d;
  d.Time(500).Mark("A101", "ONE", "1.0")
      .Time(500).Mark("A101", "TWO", "2.0")    // duplicate of the previous: dropped
      .Time(501).Mark("A101", "THREE", "3.0")  // new time
      .Time(501).Mark("B202", "FOUR", "4.0")   // new name
      .Time(501).Mark("A101", "FIVE", "5.0");  // duplicate, but not of the previous record
  LoadText(d.Text());
  ASSERT_EQ(0, loaded.result);
  ASSERT_EQ(4, loaded.table().count);
  const char* descs[] = {"ONE     ", "THREE   ", "FOUR    ", "FIVE    "};
  for (int i = 0; i < 4; ++i) EXPECT_STREQ(descs[i], loaded.at(i).evDesc) << i;
}

TEST_F(EventLoad, ThirteenSecondsComeOffUnlessMarksAreOnOrTheReceiverIsGlonass) {
  struct Case {
    int32_t markOption;
    int32_t receiverType;
    double stored_s;
  };
  const Case cases[] = {{0, 1, 87.0}, {0, 2, 87.0}, {0, 3, 87.0}, {0, 4, 100.0},
                        {1, 1, 100.0}, {1, 4, 100.0}};
  for (const Case& c : cases) {
    Loaded loaded;
    Load(loaded, dir, EventFileBuilder().Time(100.0).Mark("A101", "D", "1").Text(), c.markOption,
         c.receiverType);
    ASSERT_EQ(1, loaded.table().count);
    EXPECT_EQ(c.stored_s, loaded.at(0).evTime) << c.markOption << " " << c.receiverType;
  }
}

TEST_F(EventLoad, FeatureStartsTakeTheirFieldsAndKind) {
  EventFileBuilder d;
  d.Time(10).Feature("GFN", Gfn("Big Tree", "P", "1.75", "oak*old"))
      .Time(20).Feature("GFN", Gfn("Fence", "L", "2", "wire"))
      .Time(30).Feature("GFN", Gfn("Field", "Area", "0", "grass"))
      .Time(40).Feature("GFN", Gfn("Odd", "Q", "0", "x"))
      .Time(50).Feature("GFN", Gfn("Blank", "", "0", "y"))
      .Time(60).Feature("GFN", Fields({"Short", "1", "2", "3", "P", "1.0", "6"}));  // 7 fields
  LoadText(d.Text());
  ExpectRecords(loaded, {{10, "Big_Tree", "oak+old", "1.75", "STATIC", 0, 0},
                         {20, "Fence", "wire", "2", "LINE", 0, 1},
                         {30, "Field", "grass", "0", "AREA", 0, 1},
                         {40, "Odd", "x", "0", "UNKNOWN", 0, 1},
                         {50, "Blank", "y", "0", "UNKNOWN", 0, 1}});
  EXPECT_EQ(1, loaded.table().hasFeatures);
}

TEST_F(EventLoad, AttributesEndsAndRestartsBuildOnThePreviousRecord) {
  EventFileBuilder d;
  d.Time(100).Feature("GFN", Gfn("Road", "L", "1.5", "tar"))
      .Time(101).Feature("GAS", Fields({"a0", "surface", "a2", "gravel", "a4"}))
      .Time(102).Feature("GAS", Fields({"a0", "ignored", "a2", "four fields"}))
      .Time(103).Feature("GRP", Fields({"Road2", "Road"}))
      .Time(104).Feature("GEF", Fields({"Road2"}));
  LoadText(d.Text());
  // Every record carries the description the attributes built, the height and the kind.
  ExpectRecords(loaded, {{100, "Road", "surface=gravel", "1.5", "LINE", 0, 1},
                         {103, "Road", "surface=gravel", "1.5", "LINE", 1, 1},
                         {103.5, "Road2", "surface=gravel", "1.5", "LINE", 0, 1},
                         {104, "Road2", "surface=gravel", "1.5", "LINE", 1, 1}});
}

TEST_F(EventLoad, EndsWithoutAFeatureOrWithoutTheirNamesLeaveZeroedSlots) {
  EventFileBuilder d;
  d.Time(1).Feature("GEF", Fields({"Orphan"}))   // before any record: slot stays zeroed
      .Time(2).Feature("GRP", Fields({"A", "B"}))  // before any record: two zeroed slots
      .Time(3).Feature("GFN", Gfn("Well", "P", "0.5", "deep"))
      .Time(4).Line("GEF")                         // no field 0
      .Time(5).Feature("GRP", Fields({"OnlyOne"}))  // no field 1
      .Time(6).Feature("GEF", Fields({"Well"}));
  LoadText(d.Text());
  ASSERT_EQ(0, loaded.result);
  // Counted: 1 + 2 + 1 + 1 + 2 + 1 = 8 slots; filled: the GFN and the last GEF.
  ASSERT_EQ(8, loaded.table().count);
  EXPECT_STREQ("Well", loaded.at(0).evName);
  EXPECT_EQ(0, loaded.at(0).evEnd);
  EXPECT_STREQ("Well", loaded.at(1).evName);
  EXPECT_EQ(1, loaded.at(1).evEnd);
  EXPECT_EQ(6.0, loaded.at(1).evTime);
  for (int i = 2; i < 8; ++i) {
    const EventRecord& r = loaded.at(i);
    EXPECT_STREQ("", r.evName) << i;
    EXPECT_EQ(0.0, r.evTime) << i;
    EXPECT_EQ(0.0, r.evSeen) << i;
  }
}

TEST_F(EventLoad, LongTextsAreCutToTheirFields) {
  const std::string name40(40, 'N');
  const std::string desc70(70, 'D');
  EventFileBuilder d;
  d.Time(1).Feature("GFN", Fields({name40.c_str(), "1", "2", "3", "P", "123456789012",
                                   "6", desc70.c_str()}))
      .Time(2).Feature("GAS", Fields({"0", "attribute_name_of_twenty", "2",
                                      "a value that is longer than the field", "4"}))
      .Time(3).Feature("GFN", Fields({"cr", "1", "2", "3", "L", "1", "6", "last\r"}));
  LoadText(d.Text());
  ASSERT_EQ(2, loaded.table().count);
  EXPECT_EQ(std::string(31, 'N'), loaded.at(0).evName);
  EXPECT_STREQ("123456789", loaded.at(0).evHeight);
  EXPECT_STREQ("attribute_name_of_twenty=a_valu", loaded.at(0).evDesc);
  EXPECT_STREQ("last", loaded.at(1).evDesc);  // fields end at a carriage return
}

TEST_F(EventLoad, MalformedEntriesAreSkipped) {
  EventFileBuilder d;
  d.Line("MIA101xxxxxxxxxxxxxxxxNOTIME  1.0")  // mark without a time line
      .Time(5).Line("XYZ")                        // neither a mark nor a feature
      .Time(6).Time(7).Mark("B202", "AFTER", "1")  // a time line eats the next time line
      .Line("Cnotime").Mark("C303", "NOTIME", "1")
      .Time(1e300).Mark("D404", "NOWEEK", "1")   // no time of week: as unscanned
      .Time(8).Feature("GXX", Fields({"a", "b", "c", "d", "e", "f", "g", "h"}))
      .Time(9).Feature("GFN_", Gfn("Nope", "P", "1", "code must match"))
      .Time(10);  // time line at the end of the file
  LoadText(d.Text());
  ASSERT_EQ(0, loaded.result);
  ASSERT_EQ(2, loaded.table().count);
  EXPECT_STREQ("C303", loaded.at(0).evName);
  EXPECT_EQ(-1.0, loaded.at(0).evTime);  // an unscanned time line
  EXPECT_EQ(-1.0, loaded.at(1).evTime);
}

TEST_F(EventLoad, AFileBeyondWhatCanBeHeldIsRefused) {
  // 100 000 records are held; one more, or a file above 16 MB, is the allocation failure.
  const std::string entry = "C 1000\nMIA101xxxxxxxxxxxxxxxxDESCRIPT1.2345\n";
  struct Case {
    std::string text;
    int32_t result;
    int32_t count;
  };
  std::string many;
  for (int i = 0; i < 50000; ++i) many += entry + "C 1000\nMIB202xxxxxxxxxxxxxxxxDESCRIPT1.2345\n";
  const Case cases[] = {{many, 0, 100000},
                        {many + entry, -1, 0},
                        {std::string(16 * 1024 * 1024 + 1, '\n'), -1, 0}};
  for (const Case& c : cases) {
    Loaded loaded;
    Load(loaded, dir, c.text);
    EXPECT_EQ(c.result, loaded.result) << c.text.size();
    EXPECT_EQ(c.count, loaded.table().count);
  }
}

TEST_F(EventLoad, NoFileOrNothingUsableLeavesTheTableEmpty) {
  Loaded missing;
  std::snprintf(missing.job.eventPath, sizeof missing.job.eventPath, "%s",
                dir.File("DNONE.123").c_str());
  EXPECT_EQ(0, LoadEventFile(missing.job, missing.job.events));
  EXPECT_EQ(0, missing.table().count);
  EXPECT_EQ(nullptr, missing.table().records);

  for (const std::string& text : {std::string(""), std::string("C 1\nGAS,a,b,c,d,e\n"),
                                 std::string(3000, 'x'), std::string("C\n\n\n")}) {
    Loaded loaded;
    Load(loaded, dir, text);
    EXPECT_EQ(0, loaded.result);
    EXPECT_EQ(0, loaded.table().count);
    EXPECT_EQ(nullptr, loaded.table().records);
  }
}

}  // namespace
}  // namespace talverin
