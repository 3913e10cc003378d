#include "output/station_writer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "base/text_buffer.h"
#include "dataset/byte_builder.h"
#include "tests/support/test_support.h"

namespace talverin {
namespace {

using testing_support::TempDir;

// Writes the records to a fresh file and returns its text, or "<open failed>".
std::string WrittenText(const TempDir& dir, const StationRecord& record, int32_t* result) {
  const std::string path = dir.File("out.sta");
  FILE* file = std::fopen(path.c_str(), "w");
  if (file == nullptr) return "<open failed>";
  *result = WriteStationRecord(file, record);
  std::fclose(file);
  return ReadFileText(path);
}

TEST(StationWriter, BlocksFollowTheGrammarByteForByte) {
  // Records: type 2, name, description, remark, GPS time, time of week, week, height kind
  // (2 slant, other non-zero vertical, 0 none), height.
  // A record without a name is refused with its text and leaves no trace.
  struct Case {
    StationRecord record;
    const char* text;
    int32_t result = 0;
    const char* error = "Disk full";  // the module error text (also after a success)
  };
  const Case cases[] = {
      {{2, "A101", "BFILE", "BEGIN_STATIC", 1, 345600.0, 0, 1, 1.5},
       "Sta {\n\tID: \"A101\"\n\tDesc: \"BFILE\"\n\tRem: \"BEGIN_STATIC\"\n"
       "\tGTim: 345600.000000 0\n\tHi: 1.5000 VERT\n}\n"},
      // An empty description or remark leaves its line out.
      {{2, "P7", "", "note", 1, 0.25, 1400, 2, 2.71828},
       "Sta {\n\tID: \"P7\"\n\tRem: \"note\"\n\tGTim: 0.250000 1400\n\tHi: 2.7183 SLANT\n}\n"},
      {{2, "Q", "only desc", "", 1, 604799.5, 0, 7, -2.25},
       "Sta {\n\tID: \"Q\"\n\tDesc: \"only desc\"\n\tGTim: 604799.500000 0\n"
       "\tHi: -2.2500 VERT\n}\n"},
      // No height kind: no Hi line at all.
      {{2, "N0", "d", "r", 1, 12.0, 0, 0, 9.0},
       "Sta {\n\tID: \"N0\"\n\tDesc: \"d\"\n\tRem: \"r\"\n\tGTim: 12.000000 0\n}\n"},
      // A double quote would end the field early; control characters would break the line.
      {{2, "A\"1", "x\"y\"", "tab\there\r", 1, 1.0, 0, 1, 0.0},
       "Sta {\n\tID: \"A'1\"\n\tDesc: \"x'y'\"\n\tRem: \"tab here \"\n\tGTim: 1.000000 0\n"
       "\tHi: 0.0000 VERT\n}\n"},
      {{2, "", "BFILE", "END_STATIC", 1, 5.0, 0, 1, 1.0}, "", 1, "Missing station name"},
  };
  TempDir dir;
  for (const Case& c : cases) {
    int32_t result = -7;
    FormatText(ModuleErrorText(), "%s", "an earlier error");
    EXPECT_EQ(c.text, WrittenText(dir, c.record, &result)) << c.record.name;
    EXPECT_EQ(c.result, result) << c.record.name;
    EXPECT_STREQ(c.error, ModuleErrorText()) << c.record.name;
  }
  // A name filling all 64 bytes without a NUL is cut to 63.
  StationRecord full{2, "", "", "", 1, 1.0, 0, 0, 0.0};
  std::memset(full.name, 'N', sizeof full.name);
  int32_t result = -7;
  EXPECT_EQ("Sta {\n\tID: \"" + std::string(63, 'N') + "\"\n\tGTim: 1.000000 0\n}\n",
            WrittenText(dir, full, &result));
  EXPECT_EQ(0, result);
}

// Unbuffered, the device refuses the first block. With the default buffer it refuses only
// when the buffer is flushed: blocks are accepted until then, and from the failing flush on
// every block reports "Disk full", even though a write into the emptied buffer would succeed.
TEST(StationWriter, FullDeviceFailsWhenTheBlockReachesItAndStaysFailed) {
  const StationRecord record{2, "A101", "BFILE", "BEGIN_STATIC", 1, 345600.0, 0, 1, 1.5};
  for (bool buffered : {false, true}) {
    FILE* file = std::fopen("/dev/full", "w");
    ASSERT_NE(nullptr, file);
    if (!buffered) std::setvbuf(file, nullptr, _IONBF, 0);
    FormatText(ModuleErrorText(), "%s", "an earlier error");
    int firstFailure = -1;
    for (int i = 0; i < 10000 && firstFailure < 0; ++i) {
      if (WriteStationRecord(file, record) != 0) firstFailure = i;
    }
    EXPECT_EQ(buffered, firstFailure > 0) << firstFailure;
    EXPECT_GE(firstFailure, 0);
    EXPECT_STREQ("Disk full", ModuleErrorText());
    for (int i = 0; i < 3; ++i) EXPECT_EQ(1, WriteStationRecord(file, record));
    std::fclose(file);
  }
}

}  // namespace
}  // namespace talverin
