#include "plugin/path_names.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/text_buffer.h"
#include "plugin/conversion_job.h"

namespace talverin {
namespace {

std::string Changed(const char* path, const char* extension) {
  char buffer[256];
  std::strcpy(buffer, path);
  EXPECT_EQ(0, ChangeExtension(buffer, sizeof buffer, extension));
  return buffer;
}

TEST(ChangeExtension, ReplacesOrAppendsTheExtensionAfterTheLastSeparator) {
  struct Case {
    const char* path;
    const char* expected;
  } cases[] = {
      {"D:\\out\\site.gpb", "D:\\out\\site.epp"},
      {"D:\\out.d\\site", "D:\\out.d\\site.epp"},   // the dot belongs to a directory
      {"  D:\\x.gpb", "D:\\x.epp"},                  // leading blanks removed
      {"/data/out.d/site", "/data/out.d/site.epp"},  // '/' separates as well
      {"/data/site.tar.gpb", "/data/site.tar.epp"},  // only the last dot counts
      {"site", "site.epp"},
      {"D:/mixed\\dir.x/name", "D:/mixed\\dir.x/name.epp"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.expected, Changed(c.path, ".epp")) << c.path;
}

TEST(ChangeExtension, RefusesAResultThatDoesNotFit) {
  char buffer[12] = "abcdefghij";  // 10 characters, no extension
  EXPECT_EQ(-1, ChangeExtension(buffer, sizeof buffer, ".epp"));
  EXPECT_STREQ("abcdefghij", buffer);
}

TEST(SplitPath, KeepsTheLastSeparatorWithTheDirectory) {
  char directory[256];
  char name[256];
  ASSERT_EQ(0, SplitPath("D:\\raw\\BAAAAA03.123", directory, name, 256));
  EXPECT_STREQ("D:\\raw\\", directory);
  EXPECT_STREQ("BAAAAA03.123", name);
  ASSERT_EQ(0, SplitPath("BAAAAA03.123", directory, name, 256));
  EXPECT_STREQ("", directory);
  EXPECT_STREQ("BAAAAA03.123", name);
  ASSERT_EQ(0, SplitPath("/tmp/x/", directory, name, 256));
  EXPECT_STREQ("/tmp/x/", directory);
  EXPECT_STREQ("", name);
}

TEST(DeriveNames, CompanionFilesDifferInTheFirstLetterOnly) {
  struct Case {
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
  for (const Case& c : cases) {
    ConversionJob job;
    ASSERT_EQ(0, job.DeriveNames(c.input, "D:\\out\\site.gpb"));
    EXPECT_STREQ(c.e, job.ephemerisPath);
    EXPECT_STREQ(c.s, job.sitePath);
    EXPECT_STREQ(c.d, job.eventPath);
    EXPECT_STREQ("D:\\out\\site.gpb", job.gpbPath);
    EXPECT_STREQ("D:\\out\\site.epp", job.eppPath);
    EXPECT_STREQ("D:\\out\\site.sta", job.staPath);
  }
}

TEST(DeriveNames, RefusesNamesThatCannotBeBuilt) {
  ConversionJob withoutName;
  EXPECT_EQ(-1, withoutName.DeriveNames("/tmp/raw/", "/tmp/out.gpb"));
  EXPECT_NE(nullptr, std::strstr(ModuleErrorText(), "/tmp/raw/"));

  // 253 characters without an extension: ".epp" would not fit the 256-byte field.
  const std::string longOutput(253, 'x');
  ConversionJob tooLong;
  EXPECT_EQ(-1, tooLong.DeriveNames("/tmp/B0001.123", longOutput.c_str()));
}

}  // namespace
}  // namespace talverin
