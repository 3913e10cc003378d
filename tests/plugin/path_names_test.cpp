#include "job/path_names.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/text_buffer.h"
#include "job/conversion_job.h"

namespace talverin {
namespace {

TEST(ChangeExtension, ReplacesOrAppendsTheExtensionAfterTheLastSeparator) {
  const struct {
    const char* path;
    const char* expected;  // null: refused, the buffer unchanged
    size_t size;
  } cases[] = {
      {"D:\\out\\site.gpb", "D:\\out\\site.epp", 256},
      {"  D:\\x.gpb", "D:\\x.epp", 256},                          // leading blanks removed
      {"/data/site.tar.gpb", "/data/site.tar.epp", 256},          // only the last dot counts
      {"D:/mixed\\dir.x/name", "D:/mixed\\dir.x/name.epp", 256},  // the dot belongs to a directory
      {"abcdefghi", "abcdefghi.epp", 14},                         // exactly fits
      {"abcdefghij", nullptr, 14},
  };
  for (const auto& c : cases) {
    char buffer[256];
    std::strcpy(buffer, c.path);
    EXPECT_EQ(c.expected != nullptr ? 0 : -1, ChangeExtension(buffer, c.size, ".epp")) << c.path;
    EXPECT_STREQ(c.expected != nullptr ? c.expected : c.path, buffer);
  }
}

// Companion files differ from the B file in the first letter of the name only; the
// outputs take the GPB name's stem. An input without a file name, or an output whose
// ".epp" would not fit the 256-byte field, is refused.
TEST(DeriveNames, CompanionFilesDifferInTheFirstLetterOnly) {
  const struct {
    const char* input;
    const char* e;
    const char* s;
    const char* d;
  } cases[] = {
      {"D:\\raw\\BAAAAA03.123", "D:\\raw\\EAAAAA03.123", "D:\\raw\\SAAAAA03.123",
       "D:\\raw\\DAAAAA03.123"},
      {"BAAAAA03.123", "EAAAAA03.123", "SAAAAA03.123", "DAAAAA03.123"},
      {"/home/u/b0001.05o", "/home/u/E0001.05o", "/home/u/S0001.05o", "/home/u/D0001.05o"},
  };
  for (const auto& c : cases) {
    ConversionJob job;
    ASSERT_EQ(0, job.DeriveNames(c.input, "D:\\out\\site.gpb"));
    EXPECT_STREQ(c.e, job.ephemerisPath);
    EXPECT_STREQ(c.s, job.sitePath);
    EXPECT_STREQ(c.d, job.eventPath);
    EXPECT_STREQ("D:\\out\\site.gpb", job.gpbPath);
    EXPECT_STREQ("D:\\out\\site.epp", job.eppPath);
    EXPECT_STREQ("D:\\out\\site.sta", job.staPath);
  }
  ConversionJob withoutName;
  EXPECT_EQ(-1, withoutName.DeriveNames("/tmp/raw/", "/tmp/out.gpb"));
  EXPECT_NE(nullptr, std::strstr(ModuleErrorText(), "/tmp/raw/"));
  ConversionJob tooLong;
  EXPECT_EQ(-1, tooLong.DeriveNames("/tmp/B0001.123", std::string(253, 'x').c_str()));
}

}  // namespace
}  // namespace talverin
