// Station metadata: the site table read from CSV (quotes keep an antenna name's blanks),
// refused rows naming file, line and reason, the field limits, and the command line over the
// table.
#include "rinex/rinex_metadata.h"

#include <gtest/gtest.h>

#include <string>

#include "dataset/byte_builder.h"
#include "tests/support/test_support.h"

namespace talverin {
namespace {

using testing_support::TempDir;

TEST(SiteTable, RowsByFourCharacterSiteAndTheCommandLineOverTheTable) {
  TempDir dir;
  const std::string path = dir.File("sites.csv");
  ASSERT_TRUE(WriteFileText(path,
                            "site,marker_name,antenna_type,antenna_delta,agency,country\n"
                            "\n"
                            "bahr, BAHRAIN ,\"ASH700936D_M    SNOW\",1.5;0.1;-0.2,Office,BHR\n"
                            "USNO,USNO,,0.2,,\n"));
  SiteTable table;
  std::string error;
  ASSERT_TRUE(ReadSiteTable(path, &table, &error)) << error;
  const RinexMetadata* bahr = FindSite(table, "BAHRA04");
  ASSERT_NE(nullptr, bahr);
  EXPECT_EQ("BAHRAIN", bahr->markerName);
  EXPECT_EQ("ASH700936D_M    SNOW", bahr->antennaType);
  EXPECT_EQ("BHR", bahr->country);
  EXPECT_TRUE(bahr->hasAntennaDelta);
  EXPECT_EQ(1.5, bahr->antennaDelta_m[0]);
  EXPECT_EQ(0.1, bahr->antennaDelta_m[1]);
  EXPECT_EQ(-0.2, bahr->antennaDelta_m[2]);
  const RinexMetadata* usno = FindSite(table, "usno");
  ASSERT_NE(nullptr, usno);
  EXPECT_EQ("", usno->antennaType);
  EXPECT_EQ(0.2, usno->antennaDelta_m[0]);
  EXPECT_EQ(nullptr, FindSite(table, "ARL1"));

  RinexMetadata commandLine;
  commandLine.agency = "Crew 2";
  const RinexMetadata merged = MergeMetadata(*bahr, commandLine);
  EXPECT_EQ("Crew 2", merged.agency);
  EXPECT_EQ("BAHRAIN", merged.markerName);
  EXPECT_EQ(1.5, merged.antennaDelta_m[0]);
}

TEST(SiteTable, RefusedTablesNameTheLineAndTheReason) {
  const struct {
    const char* text;
    const char* error;  // after "PATH:"
  } cases[] = {
      {"marker_name,site\n", "1: the first column of the header row must be 'site'"},
      {"site,observer\nBAHR,A,B\n", "2: 3 fields, the header row names 2"},
      {"site,observer\nBAHR,123456789012345678901\n", "2: observer: 21 characters, at most 20"},
      {"site,agency\nBAHR,12345678901234567890123456789012345678901\n",
       "2: agency: 41 characters, at most 40"},
      {"site,country\nBAHR,BHRN\n", "2: country: 4 characters, at most 3"},
      {"site,country\nBAHR,bhr\n",
       "2: country: 'bhr' is not three capital letters (ISO 3166 "
       "alpha-3)"},
      {"site,antenna_delta\nBAHR,1.5;x\n",
       "2: antenna delta '1.5,x' is not H, H,E or H,E,N in "
       "metres"},
      {"site,colour\nBAHR,red\n", "2: unknown column 'colour'"},
      {"site,observer\nBAHR,\"open\n", "2: unclosed quote"},
  };
  TempDir dir;
  const std::string path = dir.File("sites.csv");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    ASSERT_TRUE(WriteFileText(path, c.text));
    SiteTable table;
    std::string error;
    EXPECT_FALSE(ReadSiteTable(path, &table, &error));
    EXPECT_EQ(path + ":" + c.error, error);
  }
}

}  // namespace
}  // namespace talverin
